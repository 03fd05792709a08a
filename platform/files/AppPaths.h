#pragma once
// Where the app keeps its files, and the one way it writes them.
//
// The app's folders are owner-only (0700). Every file is written as a private
// temporary file beside its target (0600), flushed to disk, renamed over the target,
// and the rename flushed too, so that a crash leaves either the old or the new file
// whole. Temporary files a crashed writer left behind are removed when the folder is
// next opened.

#include <filesystem>
#include <string>
#include <string_view>

namespace nimbo::platform {

// The application-support folder (XDG data home + "/NimboChat").
std::filesystem::path applicationSupportDir();
// The configuration folder (XDG config home + "/NimboChat").
std::filesystem::path configDir();

// Opens the private folder `dir`: creates it and any missing parents owner-only,
// takes group and other permissions off an existing one, and removes temporary files
// that a writer of this app left there when its process ended mid-write. Throws
// std::filesystem::filesystem_error on failure.
void createPrivateDirectories(const std::filesystem::path& dir);

// A new version of `target`, being written. The constructor opens the target's folder
// (as createPrivateDirectories) and creates an empty owner-only temporary file beside
// the target; write() or any other writer of path() fills it; commit() puts it in
// place. Without a commit the temporary file is removed when the object goes away.
class PendingFile {
public:
    explicit PendingFile(std::filesystem::path target);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // The temporary file.
    const std::filesystem::path& path() const { return temporary_; }
    void write(std::string_view bytes);
    // Flushes the file to disk, renames it over the target and flushes the folder.
    void commit();

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    int fd_ = -1;
};

// Writes `bytes` to `target` through a PendingFile. Throws std::filesystem::filesystem_error.
void writeFileAtomically(const std::filesystem::path& target, const std::string& bytes);

// Moves a file the app cannot read out of the way, to "<name>.unreadable" or, when
// that is taken, "<name>.unreadable.2", ".3", …, never over an earlier copy. Best
// effort: a file that cannot be moved stays where it is.
void keepUnreadableCopy(const std::filesystem::path& file);

}  // namespace nimbo::platform
