// NimboApi's transport against scripted loopback servers: fail-over, the error that
// escapes, status handling, headers, cookies and limits.
#include "api/NimboApi.h"
#include "platform/http/CookieJar.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace nimbo;
using namespace nimbo::api;
using namespace std::chrono_literals;
using test::failureOf;
using test::ScriptedResponse;

namespace {

class Transport : public ::testing::Test {
protected:
    void SetUp() override { test::resetServers(); }

    test::ScriptedServer& production = test::productionServer();
    test::ScriptedServer& testing = test::testServer();
    NimboApi client{{production.base(), testing.base()}, 2s};
};

TEST_F(Transport, BelowFiveHundredIsFinalAndTheTestBaseIsNotAsked) {
    production.on("GET", "/api/x", ScriptedResponse{404, ""});
    const auto error = failureOf([&] { client.getJson("/api/x"); });
    EXPECT_EQ(error.kind(), NimboApiError::Kind::Api);
    EXPECT_EQ(error.httpStatus(), 404);
    EXPECT_EQ(error.errorDescription(), "404 ");
    EXPECT_EQ(testing.requestCount(), 0u);
}

TEST_F(Transport, FiveHundredMovesOnToTheTestBase) {
    production.on("GET", "/api/x", ScriptedResponse{500, R"({"error":"boom"})"});
    testing.on("GET", "/api/x", ScriptedResponse{200, R"({"from":"test"})"});
    const auto result = client.getJson("/api/x");
    ASSERT_TRUE(result);
    EXPECT_EQ((*result)["from"], "test");
    EXPECT_EQ(production.requestCount(), 1u);
}

TEST_F(Transport, TheLastBaseDecidesWhichErrorEscapes) {
    // 503 on production, nothing listening on test: a network error.
    NimboApi refusedTest({production.base(), test::refusingBase()}, 2s);
    production.onAnything(ScriptedResponse{503, ""});
    auto error = failureOf([&] { refusedTest.getJson("/api/x"); });
    EXPECT_EQ(error.kind(), NimboApiError::Kind::Network);
    EXPECT_EQ(error.errorDescription(), "Network error \u2014 check your connection and try again.");

    // Nothing on production, 502 on test: an api error naming the test base.
    NimboApi refusedProduction({test::refusingBase(), testing.base()}, 2s);
    testing.onAnything(ScriptedResponse{502, "bad gateway"});
    error = failureOf([&] { refusedProduction.getJson("/api/x"); });
    EXPECT_EQ(error.kind(), NimboApiError::Kind::Api);
    EXPECT_EQ(error.httpStatus(), 502);
    EXPECT_EQ(error.message(), "502 from " + testing.base());

    // Both answer >= 500: the test base's status.
    production.onAnything(ScriptedResponse{500, ""});
    testing.onAnything(ScriptedResponse{503, ""});
    error = failureOf([&] { client.getJson("/api/x"); });
    EXPECT_EQ(error.httpStatus(), 503);
    EXPECT_EQ(error.message(), "503 from " + testing.base());
}

TEST_F(Transport, NoBasesAtAll) {
    NimboApi none({}, 1s);
    const auto error = failureOf([&] { none.getJson("/api/x"); });
    EXPECT_EQ(error.message(), "all bases failed");
    EXPECT_EQ(error.httpStatus(), -1);
}

TEST_F(Transport, AnInvalidUrlIsANetworkErrorAfterEveryBase) {
    const auto error = failureOf([&] { client.getJson("/api/has space"); });
    EXPECT_EQ(error.kind(), NimboApiError::Kind::Network);
    EXPECT_EQ(production.requestCount() + testing.requestCount(), 0u);
}

TEST_F(Transport, StatusHandling) {
    production.on("GET", "/401", ScriptedResponse{401, R"({"error":"nope"})"});
    production.on("GET", "/403", ScriptedResponse{403, R"({"error":"forbidden here"})"});
    production.on("GET", "/422n", ScriptedResponse{422, R"({"error":7})"});
    production.on("GET", "/302", ScriptedResponse{302, "moved"});
    EXPECT_EQ(failureOf([&] { client.getJson("/401"); }).kind(), NimboApiError::Kind::Unauthorized);
    EXPECT_EQ(failureOf([&] { client.getJson("/401"); }).errorDescription(), "Invalid email or password.");
    EXPECT_EQ(failureOf([&] { client.getJson("/403"); }).message(), "forbidden here");
    EXPECT_EQ(failureOf([&] { client.getJson("/422n"); }).message(), R"(422 {"error":7})");
    const auto redirect = failureOf([&] { client.getJson("/302"); });
    EXPECT_EQ(redirect.httpStatus(), 302);  // never followed
    EXPECT_EQ(testing.requestCount(), 0u);
}

TEST_F(Transport, SuccessfulAnswersWithoutAUsableObjectAreAbsent) {
    production.on("GET", "/204", ScriptedResponse{204, ""});
    production.on("GET", "/empty", ScriptedResponse{200, ""});
    production.on("GET", "/array", ScriptedResponse{200, "[1,2]"});
    production.on("GET", "/text", ScriptedResponse{200, "hello", "text/plain"});
    production.on("GET", "/latin1", ScriptedResponse{200, "{\"a\":\"caf\xE9\"}"});
    production.on("GET", "/deep", ScriptedResponse{200, std::string(600, '[') + std::string(600, ']')});
    for (const char* path : {"/204", "/empty", "/array", "/text", "/latin1", "/deep"})
        EXPECT_FALSE(client.getJson(path)) << path;
}

TEST_F(Transport, NonUtf8ErrorBodyGivesTheStatusAndASpace) {
    production.on("GET", "/bad", ScriptedResponse{400, "\xFF\xFE"});
    EXPECT_EQ(failureOf([&] { client.getJson("/bad"); }).message(), "400 ");
}

TEST_F(Transport, HeaderRules) {
    production.onAnything(ScriptedResponse{200, "{}"});
    client.getJson("/get");
    client.postJson("/post", Json{{"b", 1}, {"a", "x"}});
    client.postJson("/post-no-body", std::nullopt);
    const auto requests = production.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].header("accept"), "application/json");
    EXPECT_FALSE(requests[0].hasHeader("content-type"));
    EXPECT_FALSE(requests[0].hasHeader("authorization"));
    EXPECT_EQ(requests[1].method, "POST");
    EXPECT_EQ(requests[1].header("accept"), "application/json");
    EXPECT_EQ(requests[1].header("content-type"), "application/json");
    EXPECT_EQ(requests[1].body, R"({"a":"x","b":1})");
    EXPECT_EQ(requests[2].method, "POST");
    EXPECT_FALSE(requests[2].hasHeader("content-type"));
    EXPECT_EQ(requests[2].body, "");
}

TEST_F(Transport, CookiesSetAtSignInGoWithLaterRequests) {
    production.on("POST", "/api/auth/local-login",
                  ScriptedResponse{200, "{}", "application/json", {"sid=abc123; Path=/; HttpOnly; SameSite=Lax"}});
    production.on("GET", "/api/auth/me", ScriptedResponse{200, R"({"email":"a@b.c"})"});
    client.login("a@b.c", "pw");
    EXPECT_EQ(client.fetchMe().email, "a@b.c");
    EXPECT_EQ(production.requests().at(1).header("cookie"), "sid=abc123");
    // The session cookie belongs to the production host only.
    testing.onAnything(ScriptedResponse{200, "{}"});
    NimboApi onlyTest({testing.base()}, 1s);
    onlyTest.getJson("/x");
    EXPECT_EQ(testing.requests().at(0).header("cookie"), "sid=abc123");  // same host, 127.0.0.1: cookies ignore ports
}

TEST_F(Transport, ACutOffBodyOrAResetConnectionFailsOverLikeATransportError) {
    production.on("GET", "/cut", ScriptedResponse{200, std::string(100'000, 'x'), "application/json", {}, 0ms, true});
    testing.on("GET", "/cut", ScriptedResponse{200, R"({"ok":true})"});
    EXPECT_TRUE(client.getJson("/cut"));

    test::ResettingServer resetting;
    NimboApi viaReset({resetting.base(), testing.base()}, 2s);
    testing.on("GET", "/r", ScriptedResponse{200, R"({"ok":true})"});
    EXPECT_TRUE(viaReset.getJson("/r"));
    NimboApi onlyReset({resetting.base()}, 2s);
    EXPECT_EQ(failureOf([&] { onlyReset.getJson("/r"); }).kind(), NimboApiError::Kind::Network);
}

TEST_F(Transport, AnOversizedBodyIsAbandonedAndTheNextBaseAsked) {
    production.on("GET", "/big", ScriptedResponse{200, std::string(17u * 1024u * 1024u, ' ')});
    testing.on("GET", "/big", ScriptedResponse{200, R"({"small":true})"});
    const auto result = client.getJson("/big");
    ASSERT_TRUE(result);
    EXPECT_EQ((*result)["small"], true);
}

TEST_F(Transport, TheSharedClientWaitsTenSecondsThenAsksTheTestBase) {
    production.on("GET", "/slow", ScriptedResponse{200, R"({"from":"production"})", "application/json", {}, 12s});
    testing.on("GET", "/slow", ScriptedResponse{200, R"({"from":"test"})"});
    const auto started = std::chrono::steady_clock::now();
    const auto result = NimboApi::shared().getJson("/slow");
    const auto elapsed = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(result);
    EXPECT_EQ((*result)["from"], "test");
    EXPECT_GE(elapsed, 9500ms);
    EXPECT_LT(elapsed, 12s);
}

}  // namespace
