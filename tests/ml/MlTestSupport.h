#pragma once
// Model packages made for the tests, and the scratch folders they live in.

#include <filesystem>
#include <string>

namespace nimbo::test {

// The folder that XDG_DATA_HOME and TMPDIR point into for this test program.
std::filesystem::path scratchDir();

// A fresh folder under the scratch folder, removed with this object.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The committed model package and the archive the build makes of it.
std::filesystem::path committedPackage();
std::string committedArchiveBytes();

// Writes a package at `packageDir` whose TorchScript module has the methods in
// `source` (TorchScript, e.g. "def forward(self, prompt: str) -> Dict[str, str]: ...").
void writePackage(const std::filesystem::path& packageDir, const std::string& source);
// Copies the committed package to `packageDir`.
void copyCommittedPackage(const std::filesystem::path& packageDir);
void writeFile(const std::filesystem::path& path, const std::string& bytes);
std::string readFile(const std::filesystem::path& path);
// Names of the entries directly in `dir`, sorted.
std::string listing(const std::filesystem::path& dir);

}  // namespace nimbo::test
