// The latest-version check against the two scripted bases.
#include "chat/UpdateChecker.h"

#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

#include <optional>

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

// The result of one check: its completion value and whether it ran on the UI thread.
struct CheckResult {
    int calls = 0;
    bool found = false;
    bool onUiThread = false;
};

CheckResult runCheck(std::chrono::milliseconds timeout = 5s) {
    auto result = std::make_shared<CheckResult>();
    UpdateChecker::shared().checkOnLaunch([result](bool found) {
        ++result->calls;
        result->found = found;
        result->onUiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
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

    // Leaves the checker holding `version` (a newer one) as its known update.
    void holdUpdate(const std::string& version) {
        production.on("GET", kPath, ScriptedResponse{200, answer(version, "https://store.example/held")});
        ASSERT_TRUE(runCheck().found);
        test::resetServers();
    }
};

TEST(UpdateCheckerVersions, ComparesPiecesAsNumbers) {
    using A = UpdateCheckerAccess;
    EXPECT_TRUE(A::isNewer("1.2.10", "1.2.9"));
    EXPECT_FALSE(A::isNewer("1.2.9", "1.2.10"));
    EXPECT_TRUE(A::isNewer("1.10", "1.9.9"));
    EXPECT_FALSE(A::isNewer("1.2", "1.2.0"));
    EXPECT_FALSE(A::isNewer("1.2.0", "1.2"));
    EXPECT_FALSE(A::isNewer("", ""));
}

TEST(UpdateCheckerVersions, ReadsOddPiecesAsZeroOrSkipsThem) {
    using A = UpdateCheckerAccess;
    EXPECT_TRUE(A::isNewer("2.0-beta", "1.9"));
    EXPECT_FALSE(A::isNewer("1.2.3-beta", "1.2.2"));
    EXPECT_TRUE(A::isNewer("1..3", "1.2"));   // "1..3" is 1.3
    EXPECT_FALSE(A::isNewer("1..2", "1.2"));  // and "1..2" is 1.2
    EXPECT_FALSE(A::isNewer(".1.", "1"));
    EXPECT_TRUE(A::isNewer("0.0.1", "0.0.0"));
    EXPECT_FALSE(A::isNewer("0", "0.0.0"));
    EXPECT_FALSE(A::isNewer("0.0", "0.0.0"));
    EXPECT_TRUE(A::isNewer("+2", "1"));
    EXPECT_FALSE(A::isNewer("-1", "0"));
    EXPECT_TRUE(A::isNewer("0", "-1"));
    EXPECT_FALSE(A::isNewer("+-2", "0"));
    EXPECT_FALSE(A::isNewer("99999999999999999999", "0"));  // out of range counts as 0
    EXPECT_FALSE(A::isNewer("1 ", "0.9"));
    EXPECT_FALSE(A::isNewer("x", "0"));
}

TEST_F(UpdateCheckerTest, FailsOverToTheTestBaseWhenProductionErrs) {
    production.on("GET", kPath, ScriptedResponse{500, "{}"});
    testing.on("GET", kPath, ScriptedResponse{200, answer("9.9.9", "https://store.example/test")});
    const CheckResult result = runCheck();
    EXPECT_EQ(result.calls, 1);
    EXPECT_TRUE(result.found);
    EXPECT_TRUE(result.onUiThread);
    EXPECT_EQ(UpdateChecker::shared().available(), (AvailableUpdate{"9.9.9", "https://store.example/test"}));

    const test::RecordedRequest request = production.requests().at(0);
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, "/api/agent/latest-version?app=nimbo-ios&os=ios");
    EXPECT_EQ(request.header("accept"), "application/json");
    EXPECT_TRUE(request.body.empty());
}

TEST_F(UpdateCheckerTest, AnyUnusableAnswerMovesOnToTheTestBase) {
    const ScriptedResponse unusable[] = {
        {200, R"({"version":"9.9.9"})"},
        {200, R"({"url":"https://store.example"})"},
        {200, R"({"version":"","url":"https://store.example"})"},
        {200, R"({"version":"9.9.9","url":""})"},
        {200, R"({"version":9,"url":"https://store.example"})"},
        {200, R"(["9.9.9"])"},
        {200, "not json"},
        {200, ""},
        {204, ""},
        {302, answer("9.9.9")},
        {404, answer("9.9.9")},
        {200, answer("9.9.9"), "application/json", {}, {}, true},  // cut off midway
    };
    for (const ScriptedResponse& response : unusable) {
        SCOPED_TRACE(response.status);
        SCOPED_TRACE(response.body);
        test::resetServers();
        production.on("GET", kPath, response);
        testing.on("GET", kPath, ScriptedResponse{200, answer("7.0.0")});
        EXPECT_TRUE(runCheck().found);
        EXPECT_EQ(testing.requestCount(), 1u);
        EXPECT_EQ(UpdateChecker::shared().available()->version, "7.0.0");
    }
}

TEST_F(UpdateCheckerTest, TheFirstUsableAnswerDecidesEvenWithoutAnUpdate) {
    holdUpdate("5.0.0");
    production.on("GET", kPath, ScriptedResponse{200, answer("1.0.0")});  // the installed version
    testing.on("GET", kPath, ScriptedResponse{200, answer("9.9.9")});
    const CheckResult result = runCheck();
    EXPECT_FALSE(result.found);
    EXPECT_FALSE(UpdateChecker::shared().available().has_value());
    EXPECT_EQ(testing.requestCount(), 0u);

    production.on("GET", kPath, ScriptedResponse{200, answer("0.9.12")});  // older: nothing to offer
    EXPECT_FALSE(runCheck().found);
    EXPECT_FALSE(UpdateChecker::shared().available().has_value());
}

TEST_F(UpdateCheckerTest, BothBasesDownKeepsWhatAnEarlierCheckFound) {
    holdUpdate("6.1");
    production.on("GET", kPath, ScriptedResponse{200, answer("9.9.9"), "application/json", {}, {}, true});
    testing.on("GET", kPath, ScriptedResponse{200, answer("9.9.9"), "application/json", {}, {}, true});
    const CheckResult result = runCheck();
    EXPECT_EQ(result.calls, 1);
    EXPECT_FALSE(result.found);
    EXPECT_TRUE(result.onUiThread);
    EXPECT_EQ(UpdateChecker::shared().available(), (AvailableUpdate{"6.1", "https://store.example/held"}));
    EXPECT_EQ(production.requestCount(), 1u);
    EXPECT_EQ(testing.requestCount(), 1u);
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

}  // namespace
