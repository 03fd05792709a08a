// The process-wide cookie store: cookie rules, and many concurrent transfers sharing it.
#include "api/NimboApi.h"
#include "platform/http/CookieJar.h"

#include "ScriptedServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using nimbo::platform::http::CookieJar;

TEST(CookieRules, HostPathExpiryAndSecure) {
    CookieJar jar;
    jar.storeFromHeader("http://api.example.test/auth/login", "sid=1; Path=/");
    jar.storeFromHeader("http://api.example.test/auth/login", "scoped=2");  // default path /auth
    jar.storeFromHeader("http://api.example.test/", "gone=3; Max-Age=0");
    jar.storeFromHeader("http://api.example.test/", "old=4; Expires=Thu, 01 Jan 1970 00:00:00 GMT");
    jar.storeFromHeader("http://api.example.test/", "sec=5; Secure");  // refused over http
    jar.storeFromHeader("http://api.example.test/", "other=6; Domain=evil.test");  // not ours
    jar.storeFromHeader("https://api.example.test/", "wide=7; Domain=.example.test");
    EXPECT_EQ(jar.cookieHeaderFor("http://api.example.test/auth/me"), "scoped=2; sid=1; wide=7");
    EXPECT_EQ(jar.cookieHeaderFor("http://api.example.test/authx"), "sid=1; wide=7");
    EXPECT_EQ(jar.cookieHeaderFor("http://www.example.test/"), "wide=7");
    EXPECT_EQ(jar.cookieHeaderFor("http://other.test/"), "");
    jar.storeFromHeader("http://api.example.test/", "sid=8; Path=/");  // replaces
    EXPECT_EQ(jar.cookieHeaderFor("http://api.example.test/"), "sid=8; wide=7");
    jar.storeFromHeader("http://api.example.test/", "sid=x; Path=/; Max-Age=-1");  // deletes
    EXPECT_EQ(jar.cookieHeaderFor("http://api.example.test/"), "wide=7");
}

TEST(CookieRules, MalformedHeadersAreIgnored) {
    CookieJar jar;
    for (const char* header : {"", "novalue", "=v", ";;;", "a=b; Max-Age=abc; Expires=garbage; Path"})
        jar.storeFromHeader("http://h.test/", header);
    jar.storeFromHeader("not a url", "a=b");
    jar.storeFromHeader("http://h.test/", std::string(10'000, 'x') + "=y");
    EXPECT_EQ(jar.cookieHeaderFor("http://h.test/"), "a=b");
}

// Many transfers at once, each setting and sending cookies through the one shared
// store. Run under a sanitizer (label "sanitize") to catch data races and misuse.
TEST(CookieConcurrency, ManyConcurrentRequestsShareTheStore) {
    nimbo::test::ScriptedServer server;
    std::atomic<int> counter{0};
    server.on("GET", "/set", [&](const nimbo::test::RecordedRequest&) {
        const int n = counter++;
        return nimbo::test::ScriptedResponse{
            200, R"({"ok":true})", "application/json", {"c" + std::to_string(n % 8) + "=" + std::to_string(n) + "; Path=/"}};
    });
    nimbo::api::NimboApi client({server.base()}, std::chrono::seconds(10));
    constexpr int kThreads = 16;
    constexpr int kRequestsEach = 25;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRequestsEach; ++i) {
                try {
                    if (!client.getJson("/set")) ++failures;
                } catch (...) {
                    ++failures;
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(server.requestCount(), static_cast<size_t>(kThreads * kRequestsEach));
    EXPECT_EQ(CookieJar::shared().size(), 8u);
    for (const auto& request : server.requests()) {
        const std::string cookie = request.header("cookie");
        EXPECT_TRUE(cookie.empty() || cookie.find("c") == 0) << cookie;
    }
}
