#include "Files.h"

#include "Database.h"
#include "Options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <memory>

namespace service {

namespace {

constexpr size_t chunkBytes = 64 * 1024;

bool isPlainFileName(const std::string &name)
{
    return !name.empty() && name.size() <= 255 && name.front() != '.' &&
           name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-") ==
               std::string::npos;
}

// An open file descriptor that closes itself.
struct OpenFile {
    explicit OpenFile(int descriptor) : fd(descriptor) {}
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;
    ~OpenFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
    const int fd;
};

HttpError noSuchArchive()
{
    return HttpError(404, "No such model archive.");
}

// True when `file` is the database or one of its companion files.
bool isDatabaseFile(const std::filesystem::path &dataDir, const struct stat &file)
{
    for (const char *suffix : {"", "-wal", "-shm", "-journal"}) {
        struct stat database {};
        if (::stat((dataDir / (std::string(databaseFileName) + suffix)).c_str(), &database) == 0 &&
            database.st_dev == file.st_dev && database.st_ino == file.st_ino)
            return true;
    }
    return false;
}

// Opens <data>/models/<name> for reading. Only plain names are served, and only regular files
// with one name: no symbolic or hard link (nothing outside the folder can be reached), no FIFO
// or device (which could block a thread), never the database. The checks are made on a
// path-only descriptor, which opens nothing: closing a real descriptor of the database would
// drop this process's SQLite locks on it.
std::shared_ptr<OpenFile> openArchive(const std::filesystem::path &dataDir, const std::string &name, struct stat &info)
{
    if (!isPlainFileName(name))
        throw noSuchArchive();
    const OpenFile path(::open((dataDir / "models" / name).c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (path.fd < 0 || ::fstat(path.fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 ||
        isDatabaseFile(dataDir, info))
        throw noSuchArchive();
    auto file = std::make_shared<OpenFile>(
        ::open(("/proc/self/fd/" + std::to_string(path.fd)).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file->fd < 0)
        throw noSuchArchive();
    return file;
}

struct ByteRange {
    size_t first = 0;
    size_t length = 0;
};

std::optional<size_t> wholeNumber(const std::string &text)
{
    size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// The part of a file of `size` bytes that "Range: bytes=…" asks for: the whole file when there
// is no such header or it names several ranges; nothing when no byte of the file is in it.
std::optional<ByteRange> requestedRange(const std::string &header, size_t size)
{
    const std::string prefix = "bytes=";
    const size_t dash = header.find('-');
    if (header.rfind(prefix, 0) != 0 || header.find(',') != std::string::npos || dash == std::string::npos)
        return ByteRange{0, size};
    const auto first = wholeNumber(header.substr(prefix.size(), dash - prefix.size()));
    const size_t last = wholeNumber(header.substr(dash + 1)).value_or(SIZE_MAX);
    if (!first) { // "-N": the last N bytes
        if (last == 0 || last == SIZE_MAX || size == 0)
            return std::nullopt;
        return ByteRange{size - std::min(last, size), std::min(last, size)};
    }
    if (*first >= size || last < *first)
        return std::nullopt;
    return ByteRange{*first, std::min(last, size - 1) - *first + 1};
}

// Streams a model archive, or the one range of it that the request asks for.
void serveModel(const std::filesystem::path &dataDir, const std::string &name, const httplib::Request &request,
                httplib::Response &response)
{
    struct stat info {};
    auto file = openArchive(dataDir, name, info);
    const auto size = static_cast<size_t>(info.st_size);
    response.set_header("Accept-Ranges", "bytes");
    const auto range = requestedRange(request.get_header_value("Range"), size);
    if (!range) {
        response.set_header("Content-Range", "bytes */" + std::to_string(size));
        sendError(response, 416, "The range is outside the file.");
        return;
    }
    if (range->length != size) {
        response.status = 206;
        response.set_header("Content-Range", "bytes " + std::to_string(range->first) + "-" +
                                                 std::to_string(range->first + range->length - 1) + "/" +
                                                 std::to_string(size));
    }
    const bool zip = name.size() > 4 && name.compare(name.size() - 4, 4, ".zip") == 0;
    response.set_content_provider(
        range->length, zip ? "application/zip" : "application/octet-stream",
        [file, start = range->first](size_t offset, size_t length, httplib::DataSink &sink) {
            std::string buffer(std::min(length, chunkBytes), '\0');
            const ssize_t got = ::pread(file->fd, buffer.data(), buffer.size(), static_cast<off_t>(start + offset));
            return got > 0 && sink.write(buffer.data(), static_cast<size_t>(got));
        });
}

void latestVersion(const Options &options, const std::string &storeUrl, const httplib::Request &request,
                   httplib::Response &response)
{
    const auto app = queryParam(request, "app");
    const auto os = queryParam(request, "os");
    if (!app || !os)
        throw HttpError(400, "Name the \"app\" and its \"os\".");
    if (*app != "nimbo-ios" || *os != "ios")
        throw HttpError(404, "No release is published for that app.");
    sendJson(response, 200, Json{{"version", options.latestVersion}, {"url", storeUrl}});
}

std::string escapedHtml(const std::string &text)
{
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '&': escaped += "&amp;"; break;
        case '"': escaped += "&quot;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

void sendPage(httplib::Response &response, const std::string &title, const std::string &text)
{
    response.set_content("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + title +
                             "</title></head><body><h1>" + title + "</h1><p>" + text + "</p></body></html>",
                         "text/html; charset=utf-8");
}

} // namespace

void addPublicRoutes(Router &router, const Options &options, const std::string &baseUrl)
{
    const std::string storeUrl = options.storeUrl.empty() ? baseUrl + "/store/nimbochat" : options.storeUrl;
    router.add("GET", "/api/health", [baseUrl](const auto &, auto &response, const Captures &) {
        sendJson(response, 200, Json{{"ok", true}, {"service", "nimbo-service"}, {"node", baseUrl}});
    });
    router.add("GET", "/api/agent/latest-version", [&options, storeUrl](const auto &request, auto &response, const Captures &) {
        latestVersion(options, storeUrl, request, response);
    });
    router.add("GET", "/models/{}", [dataDir = options.dataDir](const auto &request, auto &response, const Captures &name) {
        serveModel(dataDir, name[0], request, response);
    });
    router.add("GET", "/store/nimbochat", [&options](const auto &, auto &response, const Captures &) {
        sendPage(response, "NimboChat",
                 "NimboChat " + escapedHtml(options.latestVersion) + " is the latest version served by this local service.");
    });
    router.add("GET", "/account/billing", [](const auto &, auto &response, const Captures &) {
        sendPage(response, "Billing",
                 "This local stand-in of the Nimbo service has no billing. Credits of the demo accounts are set "
                 "when the service creates them.");
    });
}

} // namespace service
