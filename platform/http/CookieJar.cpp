#include "platform/http/CookieJar.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>
#include <optional>

namespace nimbo::platform::http {
namespace {

using Clock = std::chrono::system_clock;

// Bounds what a misbehaving server can make the store hold.
constexpr std::size_t kMaxCookieBytes = 4096;
constexpr std::size_t kMaxCookies = 1000;

struct UrlParts {
    std::string scheme;
    std::string host;  // lower case
    std::string path;  // "/" when empty
};

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

std::optional<UrlParts> splitUrl(std::string_view url) {
    CURLU* handle = curl_url();
    if (!handle) return std::nullopt;
    std::optional<UrlParts> parts;
    if (curl_url_set(handle, CURLUPART_URL, std::string(url).c_str(), 0) == CURLUE_OK) {
        char* scheme = nullptr;
        char* host = nullptr;
        char* path = nullptr;
        if (curl_url_get(handle, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
            curl_url_get(handle, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
            curl_url_get(handle, CURLUPART_PATH, &path, 0) == CURLUE_OK) {
            parts = UrlParts{lower(scheme), lower(host), path && *path ? path : "/"};
        }
        curl_free(scheme);
        curl_free(host);
        curl_free(path);
    }
    curl_url_cleanup(handle);
    return parts;
}

bool isIpAddress(const std::string& host) {
    if (!host.empty() && host.front() == '[') return true;
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || c == '.'; });
}

bool domainMatches(const std::string& host, const std::string& domain) {
    if (host == domain) return true;
    return !isIpAddress(host) && host.size() > domain.size() &&
           host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
           host[host.size() - domain.size() - 1] == '.';
}

bool pathMatches(const std::string& requestPath, const std::string& cookiePath) {
    if (requestPath == cookiePath) return true;
    if (requestPath.rfind(cookiePath, 0) != 0) return false;
    return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

std::string defaultPath(const std::string& requestPath) {
    if (requestPath.empty() || requestPath.front() != '/') return "/";
    const auto slash = requestPath.rfind('/');
    return slash == 0 ? "/" : requestPath.substr(0, slash);
}

}  // namespace

CookieJar& CookieJar::shared() {
    static CookieJar jar;
    return jar;
}

void CookieJar::storeFromHeader(std::string_view url, std::string_view setCookie) {
    if (setCookie.size() > kMaxCookieBytes) return;
    const auto origin = splitUrl(url);
    if (!origin) return;

    std::string_view rest = setCookie;
    const auto firstSemi = rest.find(';');
    std::string_view pair = trim(rest.substr(0, firstSemi));
    rest = firstSemi == std::string_view::npos ? std::string_view() : rest.substr(firstSemi + 1);
    const auto eq = pair.find('=');
    if (eq == std::string_view::npos) return;
    Cookie cookie;
    cookie.name = std::string(trim(pair.substr(0, eq)));
    cookie.value = std::string(trim(pair.substr(eq + 1)));
    if (cookie.name.empty()) return;
    cookie.domain = origin->host;
    cookie.path = defaultPath(origin->path);

    const auto now = Clock::now();
    std::optional<Clock::time_point> expires;
    bool maxAgeSeen = false;
    while (!rest.empty()) {
        const auto semi = rest.find(';');
        std::string_view attribute = trim(rest.substr(0, semi));
        rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
        const auto aeq = attribute.find('=');
        const std::string name = lower(trim(attribute.substr(0, aeq)));
        const std::string_view value = aeq == std::string_view::npos ? std::string_view() : trim(attribute.substr(aeq + 1));
        if (name == "max-age") {
            long long seconds = 0;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
            if (ec == std::errc() && end == value.data() + value.size()) {
                maxAgeSeen = true;
                constexpr long long kTenYears = 10LL * 365 * 24 * 3600;
                expires = seconds <= 0 ? Clock::time_point::min() : now + std::chrono::seconds(std::min(seconds, kTenYears));
            }
        } else if (name == "expires" && !maxAgeSeen) {
            const time_t when = curl_getdate(std::string(value).c_str(), nullptr);
            if (when != -1) expires = Clock::from_time_t(when);
        } else if (name == "domain" && !value.empty()) {
            std::string domain = lower(value);
            if (domain.front() == '.') domain.erase(0, 1);
            if (domain.empty() || !domainMatches(origin->host, domain)) return;  // not ours to set
            cookie.domain = domain;
            cookie.hostOnly = domain == origin->host;
        } else if (name == "path" && !value.empty() && value.front() == '/') {
            cookie.path = std::string(value);
        } else if (name == "secure") {
            cookie.secure = true;
        }
    }
    if (cookie.secure && origin->scheme != "https") return;
    cookie.persistent = expires.has_value();
    if (expires) cookie.expires = *expires;

    std::lock_guard lock(mutex_);
    removeExpiredLocked(now);
    auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const Cookie& c) {
        return c.name == cookie.name && c.domain == cookie.domain && c.path == cookie.path;
    });
    cookie.created = same != cookies_.end() ? same->created : now;
    if (same != cookies_.end()) cookies_.erase(same);
    if (cookie.persistent && cookie.expires <= now) return;  // a deletion
    if (cookies_.size() >= kMaxCookies) cookies_.erase(cookies_.begin());
    cookies_.push_back(std::move(cookie));
}

std::string CookieJar::cookieHeaderFor(std::string_view url) {
    const auto target = splitUrl(url);
    if (!target) return {};
    std::lock_guard lock(mutex_);
    removeExpiredLocked(Clock::now());
    std::vector<const Cookie*> matching;
    for (const Cookie& c : cookies_) {
        const bool hostOk = c.hostOnly ? target->host == c.domain : domainMatches(target->host, c.domain);
        if (hostOk && pathMatches(target->path, c.path) && (!c.secure || target->scheme == "https"))
            matching.push_back(&c);
    }
    std::stable_sort(matching.begin(), matching.end(), [](const Cookie* a, const Cookie* b) {
        if (a->path.size() != b->path.size()) return a->path.size() > b->path.size();
        return a->created < b->created;
    });
    std::string header;
    for (const Cookie* c : matching) {
        if (!header.empty()) header += "; ";
        header += c->name + "=" + c->value;
    }
    return header;
}

void CookieJar::clear() {
    std::lock_guard lock(mutex_);
    cookies_.clear();
}

std::size_t CookieJar::size() {
    std::lock_guard lock(mutex_);
    removeExpiredLocked(Clock::now());
    return cookies_.size();
}

void CookieJar::removeExpiredLocked(Clock::time_point now) {
    std::erase_if(cookies_, [now](const Cookie& c) { return c.persistent && c.expires <= now; });
}

}  // namespace nimbo::platform::http
