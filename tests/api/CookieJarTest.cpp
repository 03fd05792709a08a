// The process-wide cookie store: cookie rules, and many concurrent transfers sharing it.
#include "api/NimboApi.h"
#include "platform/http/CookieJar.h"

#include "ScriptedServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using nimbo::platform::http::CookieJar;

TEST(CookieRules, HostPathExpirySecureAndMalformedHeaders) {
    CookieJar jar;
    const char* api = "http://api.example.test/";
    const std::pair<std::string, std::string> received[] = {
        {"http://api.example.test/auth/login", "sid=1; Path=/"}, {"http://api.example.test/auth/login", "scoped=2"},
        {api, "gone=3; Max-Age=0"}, {api, "old=4; Expires=Thu, 01 Jan 1970 00:00:00 GMT"},
        {api, "sec=5; Secure"} /* refused over http */, {api, "other=6; Domain=evil.test"},
        {"https://api.example.test/", "wide=7; Domain=.example.test"}, {"http://h.test/", "a=b; Max-Age=abc; Path"},
        {"http://h.test/", ""}, {"http://h.test/", "novalue"}, {"http://h.test/", "=v"}, {"http://h.test/", ";;;"},
        {"not a url", "c=d"}, {"http://h.test/", std::string(10'000, 'x') + "=y"}, {"http://127.0.0.1:8780/", "sid=9"},
    };
    for (const auto& [url, header] : received) jar.storeFromHeader(url, header);
    const std::pair<const char*, const char*> sent[] = {
        {"http://api.example.test/auth/me", "scoped=2; sid=1; wide=7"}, {"http://api.example.test/authx", "sid=1; wide=7"},
        {"http://www.example.test/", "wide=7"}, {"http://other.test/", ""}, {"http://h.test/", "a=b"},
        {"http://127.0.0.1:8781/api", "sid=9"},  // cookies ignore ports: the test base on the same host gets them
    };
    for (const auto& [url, header] : sent) EXPECT_EQ(jar.cookieHeaderFor(url), header) << url;
    jar.storeFromHeader(api, "sid=8; Path=/");  // replaces
    EXPECT_EQ(jar.cookieHeaderFor(api), "sid=8; wide=7");
    jar.storeFromHeader(api, "sid=x; Path=/; Max-Age=-1");  // deletes
    EXPECT_EQ(jar.cookieHeaderFor(api), "wide=7");
}

// Many transfers at once, each setting and sending cookies through the one shared
// store. Run under a sanitizer (label "sanitize") to catch data races and misuse.
TEST(CookieConcurrency, ManyConcurrentRequestsShareTheStore) {
    nimbo::test::ScriptedServer server;
    std::atomic<int> counter{0};
    server.on("GET", "/set", [&](const nimbo::test::RecordedRequest&) {
        const int n = counter++;
        return nimbo::test::ScriptedResponse{200, "{}", "application/json", {"c" + std::to_string(n % 8) + "=" + std::to_string(n)}};
    });
    nimbo::api::NimboApi client({server.base()}, std::chrono::seconds(10));
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    const auto fails = [&] { try { return client.getJson("/set") ? 0 : 1; } catch (...) { return 1; } };
    for (int t = 0; t < 16; ++t) threads.emplace_back([&] { for (int i = 0; i < 25; ++i) failures += fails(); });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(server.requestCount(), 16u * 25u);
    EXPECT_EQ(CookieJar::shared().size(), 8u);
    for (const auto& request : server.requests())  // only whole cookies of ours, never a torn one
        EXPECT_EQ(request.header("cookie").find_first_not_of("c0123456789=; "), std::string::npos);
}
