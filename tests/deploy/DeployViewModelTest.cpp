// The deploy screen's view model against scripted servers: the status-poll loop with its
// ending, its replacement by a newer trigger, and its end on leaving. A refused trigger
// is driven on the screen (DeployScreenTest).
#include "deploy/SuperAdminDeployViewModel.h"

#include "api/Json.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace nimbo;
using namespace std::chrono_literals;
using test::ScriptedResponse;

namespace {

constexpr const char* kStatusPath = "/api/superadmin/deploy/status";

TEST(DeployScreenModel, PollsTheNewestTriggerUntilItsFirstRunConcludesAndStopsOnLeaving) {
    test::resetServers();
    test::ScriptedServer& production = test::productionServer();
    // Each trigger is dispatched at D1, D2, …; the status answers come from `runs` in turn, the last repeating.
    std::atomic<int> triggers = 0, polls = 0;
    std::vector<std::string> runs{"[]", R"([{"runId":-5,"jobs":[{"name":"a","status":"queued","steps":[{"name":"Build"}]},{"name":"b"}]}])",
                                  "garbage", R"([{"runId":8},{"runId":7,"conclusion":"success"}])",
                                  R"([{"runId":8,"status":"completed","conclusion":""}])"};
    production.on("POST", "/api/superadmin/deploy", [&](const test::RecordedRequest&) {
        return ScriptedResponse{200, R"({"triggered":true,"dispatchedAtUtc":"D)" + std::to_string(++triggers) + "\"}"};
    });
    production.on("GET", kStatusPath, [&](const test::RecordedRequest&) {
        return ScriptedResponse{200, R"({"runs":)" + runs[std::min<std::size_t>(polls++, runs.size() - 1)] + "}"};
    });
    auto statusTargets = [&] {
        std::vector<std::string> found;
        for (const auto& r : production.requests()) if (r.path == kStatusPath) found.push_back(r.target);
        return found;
    };
    SuperAdminDeployViewModel vm;
    vm.setPollInterval(150ms);
    auto tap = [&] {
        vm.onDeployTapped();
        EXPECT_TRUE(vm.runs().empty());  // cleared at the tap
        ASSERT_TRUE(test::waitUntil([&] { return !vm.isTriggering(); }));
    };
    EXPECT_EQ(vm.triggerLabel(), "Deploy to test");
    tap();
    ASSERT_TRUE(test::waitUntil([&] { return statusTargets().size() == 1; }));
    tap();
    EXPECT_EQ(api::Json::parse(production.requests()[0].body), (api::Json{{"environment", "test"}}));

    ASSERT_TRUE(test::waitUntil([&] { return !vm.runs().empty(); }));
    const QVariantMap card = vm.runCards()[0].toMap();
    const QVariantList jobs = card["jobs"].toList();
    EXPECT_EQ(card["title"].toString(), "Run -5");
    EXPECT_EQ(card["badge"].toString(), "unknown");
    EXPECT_EQ(jobs[0].toMap()["badge"].toString(), "queued");
    EXPECT_EQ(jobs[1].toMap()["badge"].toString(), "pending");
    EXPECT_EQ(jobs[0].toMap()["steps"].toStringList(), QStringList{"Build"});
    ASSERT_TRUE(test::waitUntil([&] { return vm.runs().empty(); }));  // a failed read clears the cards
    ASSERT_TRUE(test::waitUntil([&] { return !vm.isPolling(); }));
    EXPECT_EQ(vm.runCards()[0].toMap()["badge"].toString(), "");  // an empty conclusion is still one; later runs do not count
    test::spinFor(300ms);
    const auto targets = statusTargets();
    EXPECT_EQ(std::vector<std::string>(targets.begin() + 1, targets.end()),
              std::vector<std::string>(4, std::string(kStatusPath) + "?since=D2&take=3"));

    runs.push_back("[]");  // no request is in flight now
    vm.setActive(true);
    tap();
    ASSERT_TRUE(test::waitUntil([&] { return statusTargets().size() == 6; }));
    vm.setActive(false);
    EXPECT_FALSE(vm.isPolling());
    test::spinFor(500ms);
    EXPECT_LE(statusTargets().size(), 7u);  // a request started before leaving may still arrive
}

}  // namespace
