// The deploy screen's view model against scripted servers: the trigger, and the
// status-poll loop with its ending, cancellation and restart.
#include "deploy/SuperAdminDeployViewModel.h"

#include "api/Json.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace nimbo;
using namespace std::chrono_literals;
using test::ScriptedResponse;

namespace {

constexpr const char* kTriggerPath = "/api/superadmin/deploy";
constexpr const char* kStatusPath = "/api/superadmin/deploy/status";

class DeployScreenModel : public ::testing::Test {
protected:
    void SetUp() override {
        test::resetServers();
        // Each trigger is dispatched at D1, D2, …; the status answers come from `runs` in turn, the last repeating.
        production.on("POST", kTriggerPath, [this](const test::RecordedRequest&) {
            return ScriptedResponse{200, R"({"triggered":true,"dispatchedAtUtc":"D)" + std::to_string(++triggers) + "\"}"};
        });
        production.on("GET", kStatusPath, [this](const test::RecordedRequest&) {
            const std::size_t i = std::min<std::size_t>(polls++, runs.size() - 1);
            return ScriptedResponse{200, R"({"runs":)" + runs[i] + "}"};
        });
        vm.setPollInterval(100ms);
    }
    std::vector<std::string> statusTargets() const {
        std::vector<std::string> found;
        for (const auto& r : production.requests()) if (r.path == kStatusPath) found.push_back(r.target);
        return found;
    }
    void tap() {
        vm.onDeployTapped();
        EXPECT_TRUE(vm.isTriggering());
        EXPECT_TRUE(vm.runs().empty());  // cleared at the tap
        ASSERT_TRUE(test::waitUntil([&] { return !vm.isTriggering(); }));
    }
    QString badge(int run, int job = -1) const {
        const QVariantMap card = vm.runCards()[run].toMap();
        return (job < 0 ? card : card["jobs"].toList()[job].toMap())["badge"].toString();
    }
    test::ScriptedServer& production = test::productionServer();
    std::atomic<int> triggers = 0, polls = 0;
    std::vector<std::string> runs{"[]"};
    SuperAdminDeployViewModel vm;
};

TEST_F(DeployScreenModel, PollsUntilTheFirstRunConcludesThroughEmptyAndFailedReads) {
    runs = {"[]", R"([{"runId":-5,"jobs":[{"name":"a","status":"queued","steps":[{"name":"Build"}]},{"name":"b"}]}])",
            "garbage", R"([{"runId":8},{"runId":7,"conclusion":"success"}])",
            R"([{"runId":8,"status":"completed","conclusion":""}])"};
    EXPECT_EQ(vm.triggerLabel(), "Deploy to test");
    tap();
    EXPECT_EQ(api::Json::parse(production.requests()[0].body), (api::Json{{"environment", "test"}}));
    EXPECT_TRUE(vm.isWaitingForRun());
    ASSERT_TRUE(test::waitUntil([&] { return !vm.runs().empty(); }));
    EXPECT_EQ(vm.runCards()[0].toMap()["title"].toString(), "Run -5");
    EXPECT_EQ(badge(0), "unknown");
    EXPECT_EQ(badge(0, 0), "queued");
    EXPECT_EQ(badge(0, 1), "pending");
    EXPECT_EQ(vm.runCards()[0].toMap()["jobs"].toList()[0].toMap()["steps"].toStringList(), QStringList{"Build"});
    ASSERT_TRUE(test::waitUntil([&] { return vm.runs().empty(); }));  // a failed read clears the cards
    ASSERT_TRUE(test::waitUntil([&] { return !vm.isPolling(); }));
    EXPECT_EQ(badge(0), "");  // an empty conclusion is still one; later runs do not count
    test::spinFor(200ms);
    EXPECT_EQ(statusTargets(), std::vector<std::string>(5, std::string(kStatusPath) + "?since=D1&take=3"));
}

TEST_F(DeployScreenModel, ARefusedTriggerShowsTheErrorAndLeavesTheEarlierLoop) {
    runs = {R"([{"runId":1,"status":"queued"}])"};
    vm.setEnvironment("prod");
    EXPECT_EQ(vm.triggerLabel(), "Deploy to prod");
    tap();
    ASSERT_TRUE(test::waitUntil([&] { return !vm.runs().empty(); }));
    for (const ScriptedResponse& refusal : {ScriptedResponse{200, R"({"triggered":false})"}, ScriptedResponse{403, ""}}) {
        production.on("POST", kTriggerPath, refusal);
        tap();
        EXPECT_EQ(vm.errorMessage(), "Deploy trigger failed");
        EXPECT_EQ(*vm.dispatchedAt(), "D1");
        EXPECT_TRUE(vm.isWaitingForRun());
        EXPECT_TRUE(vm.isPolling());  // the earlier loop goes on
    }
    EXPECT_EQ(api::Json::parse(production.requests()[0].body), (api::Json{{"environment", "prod"}}));
    vm.onDeployTapped();
    EXPECT_TRUE(vm.errorMessage().isEmpty());  // cleared by the next tap
}

TEST_F(DeployScreenModel, ANewTriggerReplacesTheLoopAndLeavingEndsIt) {
    vm.setPollInterval(150ms);
    vm.setActive(true);
    tap();
    ASSERT_TRUE(test::waitUntil([&] { return statusTargets().size() == 1; }));
    tap();
    EXPECT_EQ(*vm.dispatchedAt(), "D2");
    ASSERT_TRUE(test::waitUntil([&] { return statusTargets().size() >= 4; }));
    const auto targets = statusTargets();
    for (std::size_t i = 1; i < targets.size(); ++i) EXPECT_NE(targets[i].find("since=D2&take=3"), std::string::npos) << i;
    vm.setActive(false);
    EXPECT_FALSE(vm.isPolling());
    test::spinFor(50ms);  // a request started before leaving may still arrive
    const std::size_t afterLeaving = statusTargets().size();
    test::spinFor(500ms);
    EXPECT_EQ(statusTargets().size(), afterLeaving);
}

}  // namespace
