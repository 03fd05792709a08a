#pragma once
// Where the app keeps its files: the per-user application-support (data) and
// configuration folders, made on demand and readable by their owner only.

#include <filesystem>
#include <string>

namespace nimbo::platform {

// The application-support folder (XDG data home + "/NimboChat").
std::filesystem::path applicationSupportDir();
// The configuration folder (XDG config home + "/NimboChat").
std::filesystem::path configDir();
// Creates `dir` and any missing parents with owner-only permissions. Throws
// std::filesystem::filesystem_error on failure.
void createPrivateDirectories(const std::filesystem::path& dir);
// Writes `bytes` to `target` atomically (temporary file, then rename) with
// owner-only permissions. Throws std::filesystem::filesystem_error on failure.
void writeFileAtomically(const std::filesystem::path& target, const std::string& bytes);

}  // namespace nimbo::platform
