#pragma once
// The process-wide cookie store: one jar under one lock, fed to every transfer and
// filled from every answer. Follows the usual cookie rules (RFC 6265): host-only and
// domain cookies, path matching, expiry by Max-Age or Expires, Secure cookies only
// over https. Kept in memory only, so no sign-in survives a restart.

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace nimbo::platform::http {

class CookieJar {
public:
    static CookieJar& shared();

    // The value for a "Cookie" header for `url`, or "" when no cookie applies.
    std::string cookieHeaderFor(std::string_view url);
    // Takes one "Set-Cookie" header value received from `url`.
    void storeFromHeader(std::string_view url, std::string_view setCookie);
    void clear();
    std::size_t size();

    CookieJar() = default;
    CookieJar(const CookieJar&) = delete;
    CookieJar& operator=(const CookieJar&) = delete;

private:
    struct Cookie {
        std::string name;
        std::string value;
        std::string domain;  // lower case, no leading dot
        std::string path;
        bool hostOnly = true;
        bool secure = false;
        bool persistent = false;
        std::chrono::system_clock::time_point expires{};
        std::chrono::system_clock::time_point created{};
    };
    void removeExpiredLocked(std::chrono::system_clock::time_point now);

    std::mutex mutex_;
    std::vector<Cookie> cookies_;
};

}  // namespace nimbo::platform::http
