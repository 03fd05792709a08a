#pragma once
// HTTP over libcurl for the whole process, with one shared cookie store.
//
// Every transfer follows the same rules: http and https only, no redirects followed
// (a 3xx is a final answer), no signals, a per-request time-out that bounds both the
// wait for data and the whole transfer, a cap on the size of a body kept in memory,
// and a proxy named by the environment only for https to a host beyond this machine.
// Cookies come from and go to CookieJar::shared().

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace nimbo::platform::http {

struct Request {
    std::string method = "GET";
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<std::string> body;  // sent only when present
    std::chrono::milliseconds timeout{10'000};
};

struct Response {
    long status = 0;
    std::string body;
};

// A transfer that did not yield a complete HTTP answer: no connection, name
// resolution, TLS, time-out, a cut-off or oversized body, an aborted transfer.
class TransportError : public std::runtime_error {
public:
    TransportError(int curlCode, const std::string& what) : std::runtime_error(what), curlCode_(curlCode) {}
    int curlCode() const { return curlCode_; }

private:
    int curlCode_;
};

inline constexpr std::size_t kMaxBodyBytes = 16u * 1024u * 1024u;

// Process-wide set-up (libcurl, SIGPIPE ignored). Call once before any other thread
// starts; the first transfer does it too when a program never called it.
void initialise();

// True when `url` parses as an absolute http or https URL.
bool isValidUrl(const std::string& url);

// Sends one request and waits for the whole answer. Throws TransportError.
Response send(const Request& request);

// Streams the answer's body into `destination` (created or truncated) and returns
// the HTTP status. The caller decides what to do with the file for a non-2xx status.
// Throws TransportError, or std::filesystem::filesystem_error when the file cannot be written.
long download(const std::string& url, const std::filesystem::path& destination,
              std::chrono::milliseconds timeout, std::size_t maxBytes);

// Makes every running and later transfer fail at once. Used only at process exit.
void abortAllTransfers();

}  // namespace nimbo::platform::http
