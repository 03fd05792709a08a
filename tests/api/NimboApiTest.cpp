// NimboApi against scripted loopback servers: fail-over and the error that escapes,
// status handling, proxies, limits, and the wire formats and records of the endpoints.
#include "api/NimboApi.h"
#include "platform/http/HttpClient.h"

#include "TestEnvironment.h"

#include <chrono>

using namespace nimbo;
using namespace nimbo::api;
using namespace std::chrono_literals;
using test::failureOf;
using test::ScriptedResponse;

namespace {

class Api : public ::testing::Test {
protected:
    void SetUp() override { test::resetServers(); }

    test::ScriptedServer& production = test::productionServer();
    test::ScriptedServer& testing = test::testServer();
    NimboApi client{{production.base(), testing.base()}, 2s};
};

// What a caller of getJson() sees: "absent", the object, or the error's kind, status and text.
std::string outcome(NimboApi& client, const std::string& path = "/api/x") {
    try {
        const auto result = client.getJson(path);
        return result ? toCompactJson(*result) : "absent";
    } catch (const NimboApiError& e) {
        const char* kinds[] = {"api", "network", "empty", "unauthorized"};
        return std::string(kinds[static_cast<int>(e.kind())]) + " " + std::to_string(e.httpStatus()) + ": " +
               e.errorDescription();
    }
}

TEST_F(Api, WhichAnswerDecidesAndWhichErrorEscapes) {
    using R = ScriptedResponse;
    const std::string network = "network -1: Network error \u2014 check your connection and try again.";
    const std::string big(17u * 1024u * 1024u, ' '), deep = std::string(600, '[') + std::string(600, ']');
    const struct {
        std::optional<R> production, test;  // nullopt: connections refused
        std::string expected;
        std::size_t testRequests;
    } cases[] = {
        {R{404, ""}, R{200, "{}"}, "api 404: 404 ", 0}, {R{302, "moved"}, R{200, "{}"}, "api 302: 302 moved", 0},
        {R{500, R"({"error":"boom"})"}, R{200, R"({"from":"test"})"}, R"({"from":"test"})", 1},
        {R{503, ""}, {}, network, 0}, {{}, {}, network, 0},
        {{}, R{502, "bad gateway"}, "api 502: 502 from " + testing.base(), 1},
        {R{500, ""}, R{503, ""}, "api 503: 503 from " + testing.base(), 1},
        {R{200, big, "application/json", {}, 0ms, /*cutBodyMidway=*/true}, R{200, "{}"}, "{}", 1},
        {R{200, big}, R{200, R"({"small":true})"}, R"({"small":true})", 1},  // over the 16 MiB cap
        {R{401, R"({"error":"nope"})"}, {}, "unauthorized -1: Invalid email or password.", 0},
        {R{403, R"({"error":"forbidden here"})"}, {}, "api 403: forbidden here", 0},
        {R{422, R"({"error":7})"}, {}, R"(api 422: 422 {"error":7})", 0}, {R{400, "\xFF\xFE"}, {}, "api 400: 400 ", 0},
        {R{204, ""}, {}, "absent", 0}, {R{200, ""}, {}, "absent", 0}, {R{200, "[1,2]"}, {}, "absent", 0},
        {R{200, "hello", "text/plain"}, {}, "absent", 0}, {R{200, "{\"a\":\"caf\xE9\"}"}, {}, "absent", 0},
        {R{200, deep}, {}, "absent", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        test::resetServers();
        if (c.production) production.onAnything(*c.production);
        if (c.test) testing.onAnything(*c.test);
        NimboApi api({c.production ? production.base() : test::refusingBase(), c.test ? testing.base() : test::refusingBase()}, 2s);
        EXPECT_EQ(outcome(api), c.expected);
        EXPECT_EQ(testing.requestCount(), c.testRequests);
    }
}

TEST_F(Api, NoBaseOrAnInvalidUrl) {
    NimboApi none({}, 1s);
    EXPECT_EQ(outcome(none), "api -1: all bases failed");
    EXPECT_EQ(outcome(client, "/api/has space").substr(0, 11), "network -1:");
    EXPECT_EQ(production.requestCount() + testing.requestCount(), 0u);
}

TEST_F(Api, LoopbackTrafficNeverGoesThroughAProxyFromTheEnvironment) {
    const char* variables[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "all_proxy", "ALL_PROXY"};
    for (const char* name : variables) ::setenv(name, test::refusingBase().c_str(), 1);
    production.onAnything(ScriptedResponse{200, R"({"direct":true})"});
    const std::string viaClient = outcome(client);  // the update check sends through the same layer
    const std::filesystem::path file = test::scratchDir() / "download.zip";
    long status = -1;  // the variables must go even when the download throws
    try { status = platform::http::download(production.base() + "/models/m.zip", file, 2s, 1024); } catch (...) {}
    for (const char* name : variables) ::unsetenv(name);
    EXPECT_EQ(viaClient + " " + std::to_string(status) + " " + std::to_string(std::filesystem::file_size(file)),
              R"({"direct":true} 200 15)");
}

TEST_F(Api, TheSharedClientWaitsTenSecondsThenAsksTheTestBase) {
    production.on("GET", "/slow", ScriptedResponse{200, R"({"from":"production"})", "application/json", {}, 12s});
    testing.on("GET", "/slow", ScriptedResponse{200, R"({"from":"test"})"});
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(outcome(NimboApi::shared(), "/slow"), R"({"from":"test"})");
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_TRUE(elapsed >= 9500ms && elapsed < 12s);
}

// ---- endpoints ----------------------------------------------------------------------

TEST_F(Api, RequestsCarryTheArgumentsUnchangedTheRightHeadersAndTheSessionCookie) {
    production.onAnything(ScriptedResponse{200, R"({"reply":"hi"})"});
    production.on("POST", "/api/auth/local-login",
                  ScriptedResponse{200, "not json", "text/plain", {"sid=abc123; Path=/; HttpOnly; SameSite=Lax"}});
    client.login(" A@B.c ", " pw ");
    client.forgotPassword("x@y");
    client.signup("Ann", "Acme", "acme.io", "ann@acme.io", "secret-pw");
    client.sendChat("hello", {{"assistant", "greeting"}, {"user", "q"}}, std::nullopt);
    client.sendChat("again", {}, std::string("c-1"), std::string("k-1"));
    client.fetchMe();
    client.postJson("/api/x", std::nullopt);
    std::vector<std::string> seen;
    for (const auto& r : production.requests())
        seen.push_back(r.method + " " + r.target + " accept=" + r.header("accept") + " type=" + r.header("content-type") +
                       (r.hasHeader("authorization") ? " AUTHORIZATION" : "") + " cookie=" + r.header("cookie") +
                       (r.hasHeader("idempotency-key") ? " key=" + r.header("idempotency-key") : "") +
                       (r.body.empty() ? "" : " " + Json::parse(r.body).dump()));  // keys sorted for comparison
    const std::string json = " accept=application/json type=application/json cookie=sid=abc123 ";
    EXPECT_EQ(seen, (std::vector<std::string>{
        R"(POST /api/auth/local-login accept=application/json type=application/json cookie= {"email":" A@B.c ","password":" pw "})",
        "POST /api/auth/forgot-password" + json + R"({"email":"x@y"})",
        "POST /api/clients/signup" + json + R"({"companyName":"Acme","password":"secret-pw","plan":"pro_trial",)"
            R"("primaryDomain":"acme.io","servicesRequested":["chat"],"signupEmail":"ann@acme.io","signupName":"Ann"})",
        "POST /api/chat/orc" + json + R"({"history":[{"content":"greeting","role":"assistant"},{"content":"q",)"
            R"("role":"user"}],"message":"hello","mode":"orc"})",
        "POST /api/chat/orc" + json.substr(0, json.size() - 1) + R"( key=k-1 {"conversationId":"c-1","history":[],"message":"again","mode":"orc"})",
        "GET /api/auth/me accept=application/json type= cookie=sid=abc123",
        "POST /api/x accept=application/json type= cookie=sid=abc123",
    }));
}

TEST_F(Api, BalanceQueryEncodesTheAddressSoThatTheServerReadsItBack) {
    production.onAnything(ScriptedResponse{200, "{}"});
    const struct { std::optional<std::int64_t> companyId; std::optional<std::string> email; std::string query; } cases[] = {
        {12, "ann@x.io", "?companyId=12&email=ann@x.io"}, {std::nullopt, std::nullopt, ""}, {std::nullopt, "", "?email="},
        {7, "a+b&c=d e\xC3\xA9@x.io", "?companyId=7&email=a%2Bb%26c%3Dd%20e%C3%A9@x.io"},
        {std::nullopt, "o'k!*(x);:,$/~_.-@y", "?email=o'k!*(x);:,$/~_.-@y"},
    };
    for (const auto& c : cases) {
        client.fetchCreditBalance(c.companyId, c.email);
        const test::RecordedRequest request = test::lastRequest(production);
        EXPECT_EQ(request.target, "/api/v1/credits/balance" + c.query);
        const auto email = request.query.find("email");  // as the server decodes it
        EXPECT_EQ(email == request.query.end() ? std::nullopt : std::optional(email->second), c.email);
    }
}

TEST_F(Api, RecordsTakeEachKeyByItsRuleOrTheDefault) {
    production.on("GET", "/api/v1/credits/balance", ScriptedResponse{200, R"({"companyId":3,"companyBalance":12.9,)"
                  R"("companyPoolExists":true,"user":{"balance":true,"lifetimeTokens":40}})"});
    auto balance = client.fetchCreditBalance(std::nullopt, std::nullopt);
    EXPECT_TRUE(balance.companyId == 3 && balance.companyBalance == 12 && balance.companyPoolExists);
    EXPECT_TRUE(balance.userBalance == 1 && balance.userLifetimeTokens == 40);
    production.on("GET", "/api/v1/credits/balance", ScriptedResponse{200, R"({"user":null})"});
    balance = client.fetchCreditBalance(std::nullopt, std::nullopt);
    EXPECT_FALSE(balance.companyId || balance.companyBalance || balance.companyPoolExists || balance.userBalance ||
                 balance.userLifetimeTokens);
    production.on("GET", "/api/auth/me", ScriptedResponse{200, R"({"email":"e@x","name":5,"companyId":"12","canChat":1})"});
    const NimboMe me = client.fetchMe();
    EXPECT_EQ(me.email + "|" + me.role, "e@x|");
    EXPECT_FALSE(me.companyId || me.canChat || me.name);
    production.on("POST", "/api/chat/orc", ScriptedResponse{200, R"({"reply":"hi"})"});
    const NimboChatResponse chat = client.sendChat("x", {}, std::nullopt);
    EXPECT_EQ(chat.reply + "|" + chat.routedTo + "|" + chat.node, "hi|orc|");
    EXPECT_FALSE(chat.note || chat.conversationId);
    production.on("POST", "/api/clients/signup", ScriptedResponse{200, R"({"companyId":7,"enrollmentToken":"tok",)"
                  R"("plan":"pro_trial","trialExpiresAt":"2027-01-01"})"});
    const NimboSignupResult trial = client.signup("Ann", "Acme", "acme.io", "ann@acme.io", "secret-pw");
    EXPECT_TRUE(trial.ok && trial.isTrial() && trial.companyId == 7 && trial.plan == "pro_trial" &&
                trial.trialExpiresAt == "2027-01-01");
}

TEST_F(Api, A2xxWithoutAnObjectIsEmptyExceptForSignup) {
    production.onAnything(ScriptedResponse{201, ""});
    EXPECT_EQ(failureOf([&] { client.fetchMe(); }).errorDescription(), "Empty response from /api/auth/me.");
    EXPECT_EQ(failureOf([&] { client.fetchCreditBalance(1, "a@b"); }).errorDescription(),
              "Empty response from /api/v1/credits/balance.");  // the bare path
    EXPECT_EQ(failureOf([&] { client.sendChat("x", {}, std::nullopt); }).errorDescription(),
              "Empty response from /api/chat/orc.");
    const NimboSignupResult pending = client.signup("Ann", "Acme", "acme.io", "ann@acme.io", "secret-pw");
    EXPECT_TRUE(pending.ok && !(pending.isTrial() || pending.companyId || pending.enrollmentToken || pending.plan ||
                                pending.trialExpiresAt));
}

TEST_F(Api, SignupRefusalsAreApiErrorsEvenFor401) {
    const struct { int status; std::string body, message; } cases[] = {
        {409, R"({"error":"Email already registered"})", "Email already registered"}, {409, "", "signup failed (409)"},
        {401, "", "signup failed (401)"}, {401, R"({"error":"closed"})", "closed"}, {400, R"({"error":7})", "signup failed (400)"},
    };
    for (const auto& c : cases) {
        production.on("POST", "/api/clients/signup", ScriptedResponse{c.status, c.body});
        const auto error = failureOf([&] { client.signup("a", "b", "c", "d", "e"); });
        EXPECT_EQ(std::make_tuple(error.kind(), error.httpStatus(), error.message()),
                  std::make_tuple(NimboApiError::Kind::Api, c.status, c.message));
    }
}

}  // namespace
