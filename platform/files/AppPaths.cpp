#include "platform/files/AppPaths.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <system_error>

#include <fcntl.h>
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
}  // namespace

fs::path applicationSupportDir() { return xdgDir("XDG_DATA_HOME", ".local/share") / "NimboChat"; }

fs::path configDir() { return xdgDir("XDG_CONFIG_HOME", ".config") / "NimboChat"; }

void createPrivateDirectories(const fs::path& dir) {
    std::error_code ec;
    if (fs::is_directory(dir, ec)) return;
    if (dir.has_parent_path() && dir.parent_path() != dir) createPrivateDirectories(dir.parent_path());
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) fail("cannot create directory", dir, errno);
}

void writeFileAtomically(const fs::path& target, const std::string& bytes) {
    std::random_device random;
    const fs::path temporary = target.string() + ".tmp" + std::to_string(random());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) fail("cannot create file", temporary, errno);
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            ::unlink(temporary.c_str());
            fail("cannot write file", temporary, error);
        }
        written += static_cast<size_t>(n);
    }
    const int syncError = ::fsync(fd) != 0 ? errno : 0;
    const int closeError = ::close(fd) != 0 ? errno : 0;
    if (syncError || closeError) {
        ::unlink(temporary.c_str());
        fail("cannot write file", temporary, syncError ? syncError : closeError);
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        fail("cannot replace file", target, error);
    }
}

}  // namespace nimbo::platform
