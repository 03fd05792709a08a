#include "platform/files/AppPaths.h"

#include <charconv>
#include <cstdlib>
#include <system_error>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nimbo::platform {
namespace {
namespace fs = std::filesystem;

fs::path xdgDir(const char* variable, const char* fallbackUnderHome) {
    if (const char* value = std::getenv(variable); value && *value == '/') return fs::path(value);
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / fallbackUnderHome;
}

[[noreturn]] void fail(const char* what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

fs::path folderOf(const fs::path& file) { return file.has_parent_path() ? file.parent_path() : fs::path("."); }

void makeDirectories(const fs::path& dir) {
    std::error_code ec;
    if (fs::is_directory(dir, ec)) return;
    if (dir.has_parent_path() && dir.parent_path() != dir) makeDirectories(dir.parent_path());
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) fail("cannot create directory", dir, errno);
}

// Makes a rename or removal in `dir` survive a crash. Returns 0 or the error.
int syncFolder(const fs::path& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    const int error = ::fsync(fd) != 0 ? errno : 0;
    ::close(fd);
    return error;
}

// Temporary files are named "<target>.tmp.<pid>.<six random characters>"; earlier
// versions of the app used "<target>.tmp<digits>". One is stale once the process
// that wrote it is gone (the old names always are).
constexpr std::string_view kTemporaryMarker = ".tmp";

bool isStaleTemporary(std::string_view name) {
    const std::size_t at = name.rfind(kTemporaryMarker);
    if (at == std::string_view::npos || at == 0) return false;
    std::string_view rest = name.substr(at + kTemporaryMarker.size());
    const auto allDigits = [](std::string_view s) { return !s.empty() && s.find_first_not_of("0123456789") == s.npos; };
    if (allDigits(rest)) return true;
    constexpr std::size_t kRandomLength = 6;
    if (rest.size() < kRandomLength + 3 || rest.front() != '.' || rest[rest.size() - kRandomLength - 1] != '.')
        return false;
    const std::string_view pidText = rest.substr(1, rest.size() - kRandomLength - 2);
    pid_t pid = 0;
    if (!allDigits(pidText) || std::from_chars(pidText.begin(), pidText.end(), pid).ec != std::errc()) return false;
    const bool running = pid == ::getpid() || ::kill(pid, 0) == 0 || errno == EPERM;
    return !running;
}

void removeStaleTemporaries(const fs::path& dir) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ignored;
        if (it->is_regular_file(ignored) && isStaleTemporary(it->path().filename().native()))
            fs::remove(it->path(), ignored);
    }
}
}  // namespace

fs::path applicationSupportDir() { return xdgDir("XDG_DATA_HOME", ".local/share") / "NimboChat"; }

fs::path configDir() { return xdgDir("XDG_CONFIG_HOME", ".config") / "NimboChat"; }

void createPrivateDirectories(const fs::path& dir) {
    makeDirectories(dir);
    struct stat info {};
    if (::stat(dir.c_str(), &info) != 0) fail("cannot open directory", dir, errno);
    if ((info.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0) fail("cannot make directory private", dir, errno);
    removeStaleTemporaries(dir);
}

PendingFile::PendingFile(fs::path target) : target_(std::move(target)) {
    createPrivateDirectories(folderOf(target_));
    std::string pattern = target_.string() + std::string(kTemporaryMarker) + "." + std::to_string(::getpid()) + ".XXXXXX";
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);  // owner-only (0600)
    if (fd_ < 0) fail("cannot create file", pattern, errno);
    temporary_ = pattern;
}

PendingFile::~PendingFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

void PendingFile::write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail("cannot write file", temporary_, errno);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void PendingFile::commit() {
    // fsync flushes the file's data whichever descriptor wrote it.
    if (::fsync(fd_) != 0) fail("cannot write file", temporary_, errno);
    const int closeError = ::close(fd_) != 0 ? errno : 0;
    fd_ = -1;
    if (closeError) fail("cannot write file", temporary_, closeError);
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) fail("cannot replace file", target_, errno);
    temporary_.clear();
    if (const int error = syncFolder(folderOf(target_))) fail("cannot write directory", folderOf(target_), error);
}

void writeFileAtomically(const fs::path& target, const std::string& bytes) {
    PendingFile file(target);
    file.write(bytes);
    file.commit();
}

void keepUnreadableCopy(const fs::path& file) {
    for (int n = 1;; ++n) {
        const fs::path copy = file.string() + ".unreadable" + (n == 1 ? std::string() : "." + std::to_string(n));
        // link() refuses to replace an existing copy, unlike rename().
        if (::link(file.c_str(), copy.c_str()) == 0) {
            ::unlink(file.c_str());
            break;
        }
        if (errno == EEXIST) continue;
        // A file system without hard links: a rename to the free name moves it all the same.
        std::error_code ec;
        if (fs::exists(copy, ec) || ec || ::rename(file.c_str(), copy.c_str()) != 0) return;
        break;
    }
    (void)syncFolder(folderOf(file));  // the copy is made; a failure here only risks it after a crash
}

}  // namespace nimbo::platform
