// The latest-version check against the two scripted bases.
#include "chat/UpdateChecker.h"
#include "platform/async/Async.h"
#include "platform/http/HttpClient.h"

#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QThread>

namespace nimbo {
struct UpdateCheckerAccess {
    static bool isNewer(const std::string& a, const std::string& b) { return UpdateChecker::isNewer(a, b); }
};
}  // namespace nimbo

using namespace nimbo;
using namespace std::chrono_literals;
using test::ScriptedResponse;

namespace {

constexpr const char* kPath = "/api/agent/latest-version";

std::string answer(const std::string& version, const std::string& url = "https://store.example/nimbo") {
    return R"({"version":")" + version + R"(","url":")" + url + R"("})";
}

// One check's completion: how often it ran, its value, and whether on the UI thread.
struct CheckResult { int calls = 0; bool found = false; bool onUiThread = false; };

CheckResult runCheck(std::chrono::milliseconds timeout = 5s) {
    auto result = std::make_shared<CheckResult>();
    UpdateChecker::shared().checkOnLaunch([result](bool found) {
        *result = {result->calls + 1, found, QThread::currentThread() == QCoreApplication::instance()->thread()};
    });
    EXPECT_TRUE(test::waitUntil([&] { return result->calls > 0; }, timeout));
    test::spinFor(50ms);  // a second call would show up here
    return *result;
}

class UpdateCheckerTest : public ::testing::Test {
protected:
    void SetUp() override { test::resetServers(); }
    test::ScriptedServer& production = test::productionServer();
    test::ScriptedServer& testing = test::testServer();
};

TEST(UpdateCheckerVersions, ComparesNumericPiecesPaddedWithZeros) {
    const struct { const char* a; const char* b; bool newer; } cases[] = {
        {"1.2.10", "1.2.9", true}, {"1.2.9", "1.2.10", false}, {"1.10", "1.9.9", true}, {"1.2", "1.2.0", false},
        {"1.2.0", "1.2", false},   {"", "", false},            {"2.0-beta", "1.9", true}, {"1.2.3-beta", "1.2.2", false},
        {"1..3", "1.2", true},     {"1..2", "1.2", false},     {".1.", "1", false},       {"0.0.1", "0.0.0", true},
        {"0", "0.0.0", false},     {"0.0", "0.0.0", false},    {"+2", "1", true},         {"-1", "0", false},
        {"0", "-1", true},         {"+-2", "0", false},        {"1 ", "0.9", false},      {"x", "0", false},
        {"99999999999999999999", "0", false},  // out of range counts as 0
    };
    for (const auto& c : cases) EXPECT_EQ(UpdateCheckerAccess::isNewer(c.a, c.b), c.newer) << c.a << " vs " << c.b;
}

TEST_F(UpdateCheckerTest, AnErrorOrAnyUnusableAnswerMovesOnToTheTestBase) {
    const ScriptedResponse unusable[] = {
        {500, "{}"}, {200, R"({"version":"9.9.9"})"}, {200, R"({"url":"https://s.example"})"},
        {200, answer("", "https://s.example")}, {200, answer("9.9.9", "")}, {200, R"({"version":9,"url":"https://s.x"})"},
        {200, R"(["9.9.9"])"}, {200, "not json"}, {200, ""}, {204, ""}, {302, answer("9.9.9")}, {404, answer("9.9.9")},
        {200, answer("9.9.9"), "application/json", {}, {}, true},  // cut off midway
    };
    for (const ScriptedResponse& response : unusable) {
        SCOPED_TRACE(std::to_string(response.status) + " " + response.body);
        test::resetServers();
        production.on("GET", kPath, response);
        testing.on("GET", kPath, ScriptedResponse{200, answer("7.0.0", "https://store.example/test")});
        const CheckResult result = runCheck();
        EXPECT_TRUE(result.calls == 1 && result.found && result.onUiThread && testing.requestCount() == 1u);
        EXPECT_EQ(UpdateChecker::shared().available(), (AvailableUpdate{"7.0.0", "https://store.example/test"}));
    }
    const test::RecordedRequest request = production.requests().at(0);
    EXPECT_EQ(request.method + " " + request.target + " accept=" + request.header("accept") + " body=" + request.body,
              "GET /api/agent/latest-version?app=nimbo-ios&os=ios accept=application/json body=");
}

TEST_F(UpdateCheckerTest, TheFirstUsableAnswerDecidesAndNoneKeepsTheEarlierResult) {
    production.on("GET", kPath, ScriptedResponse{200, answer("6.1", "https://store.example/held")});
    ASSERT_TRUE(runCheck().found);
    production.on("GET", kPath, ScriptedResponse{503, ""});  // both bases down
    testing.on("GET", kPath, ScriptedResponse{200, answer("9.9.9"), "application/json", {}, {}, true});
    const CheckResult result = runCheck();
    EXPECT_TRUE(result.calls == 1 && !result.found && result.onUiThread);
    EXPECT_EQ(UpdateChecker::shared().available(), (AvailableUpdate{"6.1", "https://store.example/held"}));
    test::resetServers();
    production.on("GET", kPath, ScriptedResponse{200, answer("1.0.0")});  // the installed version
    testing.on("GET", kPath, ScriptedResponse{200, answer("9.9.9")});
    EXPECT_FALSE(runCheck().found || UpdateChecker::shared().available() || testing.requestCount() > 0);
}

TEST_F(UpdateCheckerTest, OverlappingChecksEachCompleteOnce) {
    production.on("GET", kPath, ScriptedResponse{200, answer("3.0.0"), "application/json", {}, 200ms});
    int calls = 0;
    for (int i = 0; i < 3; ++i) UpdateChecker::shared().checkOnLaunch([&](bool found) { calls += found ? 1 : 100; });
    EXPECT_TRUE(test::waitUntil([&] { return calls >= 3; }));
    test::spinFor(100ms);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(production.requestCount(), 3u);
}

TEST_F(UpdateCheckerTest, FindsTheUpdateWhileEveryWorkerWaitsOnSlowRequests) {
    test::ScriptedServer slow;
    slow.onAnything(ScriptedResponse{200, "{}", "application/json", {}, 20s});
    const platform::http::Request chatSend{"POST", slow.base() + "/api/chat/orc", {}, "{}", 30s};
    for (int i = 0; i < 80; ++i)  // more than the shared pool's workers
        detail::startOnWorker([chatSend] { try { platform::http::send(chatSend); } catch (const std::exception&) {} });
    ASSERT_TRUE(slow.waitForRequests(64, 30s));
    production.on("GET", kPath, ScriptedResponse{200, answer("8.0.0")});
    EXPECT_TRUE(runCheck(3s).found);
}

}  // namespace
