#include "platform/http/HttpClient.h"

#include "platform/http/CookieJar.h"

#include <curl/curl.h>

#include <arpa/inet.h>

#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>

namespace nimbo::platform::http {
namespace {

std::atomic<bool> abortRequested{false};

void initialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Writes to a closed socket must fail with EPIPE rather than kill the process.
        std::signal(SIGPIPE, SIG_IGN);
        curl_global_init(CURL_GLOBAL_DEFAULT);
    });
}

// What a transfer collects while it runs.
struct Sink {
    std::string url;
    std::string body;
    std::ofstream* file = nullptr;
    std::size_t received = 0;
    std::size_t maxBytes = kMaxBodyBytes;
    bool tooLarge = false;
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const size_t n = size * count;
    if (sink->received + n > sink->maxBytes) {
        sink->tooLarge = true;
        return 0;  // abandons the transfer
    }
    sink->received += n;
    if (sink->file) {
        sink->file->write(data, static_cast<std::streamsize>(n));
        if (!*sink->file) return 0;
    } else {
        sink->body.append(data, n);
    }
    return n;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const size_t n = size * count;
    std::string_view line(data, n);
    constexpr std::string_view prefix = "set-cookie:";
    if (line.size() > prefix.size()) {
        bool match = true;
        for (size_t i = 0; i < prefix.size() && match; ++i)
            match = std::tolower(static_cast<unsigned char>(line[i])) == prefix[i];
        if (match) {
            std::string_view value = line.substr(prefix.size());
            while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.remove_suffix(1);
            CookieJar::shared().storeFromHeader(sink->url, value);
        }
    }
    return n;
}

int onProgress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return abortRequested.load() ? 1 : 0;
}

struct UrlParts {
    std::string scheme;  // lower case
    std::string host;    // as libcurl normalised it; IPv6 in brackets
};

// The scheme and host of an absolute http or https URL.
std::optional<UrlParts> parseUrl(const std::string& url) {
    CURLU* handle = curl_url();
    if (!handle) return std::nullopt;
    std::optional<UrlParts> parts;
    char* scheme = nullptr;
    char* host = nullptr;
    if (curl_url_set(handle, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl_url_get(handle, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(handle, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
        (std::string_view(scheme) == "http" || std::string_view(scheme) == "https"))
        parts = UrlParts{scheme, host};
    curl_free(scheme);
    curl_free(host);
    curl_url_cleanup(handle);
    return parts;
}

bool isLoopbackHost(std::string host) {
    for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (host == "localhost" || host.ends_with(".localhost")) return true;
    in_addr v4{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    in6_addr v6{};
    if (::inet_pton(AF_INET6, host.c_str(), &v6) != 1) return false;
    return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
}

// A proxy named by the environment (http_proxy, all_proxy, ...) is used only where it
// sees nothing but TLS: https to a host beyond this machine. Plain http and anything
// for a loopback host always go direct, so a password never passes through a proxy
// in clear text and the local service stays reachable.
bool mayUseEnvironmentProxy(const UrlParts& url) { return url.scheme == "https" && !isLoopbackHost(url.host); }

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

// Runs one transfer into `sink`; returns the HTTP status or throws TransportError.
long perform(const Request& request, Sink& sink) {
    initialiseOnce();
    if (abortRequested.load()) throw TransportError(CURLE_ABORTED_BY_CALLBACK, "transfer aborted");
    const std::optional<UrlParts> url = parseUrl(request.url);
    if (!url) throw TransportError(CURLE_URL_MALFORMAT, "not an http or https URL");
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) throw TransportError(CURLE_FAILED_INIT, "could not start a transfer");
    CURL* c = curl.get();
    sink.url = request.url;

    std::unique_ptr<curl_slist, SlistDeleter> headers;
    auto addHeader = [&](const std::string& line) {
        headers.reset(curl_slist_append(headers.release(), line.c_str()));
    };
    for (const auto& [name, value] : request.headers) addHeader(name + ": " + value);
    const std::string cookie = CookieJar::shared().cookieHeaderFor(request.url);
    if (!cookie.empty()) addHeader("Cookie: " + cookie);
    addHeader("Expect:");
    const bool bodyless = request.method == "GET" || request.method == "HEAD";
    // A POST without a body still says "Content-Length: 0", and carries no content type.
    if (!request.body && !bodyless) addHeader("Content-Type:");

    char errorText[CURL_ERROR_SIZE] = {0};
    curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    if (!mayUseEnvironmentProxy(*url)) curl_easy_setopt(c, CURLOPT_PROXY, "");  // "" means no proxy at all
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.timeout.count()));
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &sink);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onProgress);
    if (request.method == "GET") {
        curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    } else if (request.method == "HEAD") {
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    if (request.body || !bodyless) {
        const std::string_view body = request.body ? std::string_view(*request.body) : std::string_view("");
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
    }

    const CURLcode rc = curl_easy_perform(c);
    if (sink.tooLarge) throw TransportError(CURLE_WRITE_ERROR, "response body too large");
    if (rc != CURLE_OK) {
        const std::string text = errorText[0] ? errorText : curl_easy_strerror(rc);
        throw TransportError(rc, text);
    }
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

}  // namespace

void initialise() { initialiseOnce(); }

bool isValidUrl(const std::string& url) { return parseUrl(url).has_value(); }

Response send(const Request& request) {
    Sink sink;
    Response response;
    response.status = perform(request, sink);
    response.body = std::move(sink.body);
    return response;
}

long download(const std::string& url, const std::filesystem::path& destination,
              std::chrono::milliseconds timeout, std::size_t maxBytes) {
    std::ofstream file(destination, std::ios::binary | std::ios::trunc);
    if (!file)
        throw std::filesystem::filesystem_error("cannot write download", destination,
                                                std::make_error_code(std::errc::io_error));
    Sink sink;
    sink.file = &file;
    sink.maxBytes = maxBytes;
    Request request;
    request.url = url;
    request.timeout = timeout;
    const long status = perform(request, sink);
    file.close();
    if (!file)
        throw std::filesystem::filesystem_error("cannot write download", destination,
                                                std::make_error_code(std::errc::io_error));
    return status;
}

void abortAllTransfers() { abortRequested.store(true); }

}  // namespace nimbo::platform::http
