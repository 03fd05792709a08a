#include "Files.h"

#include "Options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
    ~OpenFile() { ::close(fd); }
    const int fd;
};

// Streams <data>/models/<name>. Only plain names are served, and only regular files that are
// not symbolic links, so nothing outside the folder can be reached.
void serveModel(const std::filesystem::path &folder, const std::string &name, httplib::Response &response)
{
    if (!isPlainFileName(name))
        throw HttpError(404, "No such model archive.");
    const int fd = ::open((folder / name).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        throw HttpError(404, "No such model archive.");
    auto file = std::make_shared<OpenFile>(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        throw HttpError(404, "No such model archive.");
    const bool zip = name.size() > 4 && name.compare(name.size() - 4, 4, ".zip") == 0;
    response.set_content_provider(
        static_cast<size_t>(info.st_size), zip ? "application/zip" : "application/octet-stream",
        [file](size_t offset, size_t length, httplib::DataSink &sink) {
            std::string buffer(std::min(length, chunkBytes), '\0');
            const ssize_t got = ::pread(file->fd, buffer.data(), buffer.size(), static_cast<off_t>(offset));
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
    const std::filesystem::path models = options.dataDir / "models";
    router.add("GET", "/api/health", [baseUrl](const auto &, auto &response, const Captures &) {
        sendJson(response, 200, Json{{"ok", true}, {"service", "nimbo-service"}, {"node", baseUrl}});
    });
    router.add("GET", "/api/agent/latest-version", [&options, storeUrl](const auto &request, auto &response, const Captures &) {
        latestVersion(options, storeUrl, request, response);
    });
    router.add("GET", "/models/{}", [models](const auto &, auto &response, const Captures &name) {
        serveModel(models, name[0], response);
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
