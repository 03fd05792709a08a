// The deploy screen's view model against scripted servers: the access check, the
// trigger, and the status-poll loop with its ending, cancellation and restart.
#include "deploy/SuperAdminDeployViewModel.h"

#include "api/Json.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

using namespace nimbo;
using namespace std::chrono_literals;
using test::ScriptedResponse;
using Access = SuperAdminDeployViewModel::AccessState;

namespace {

constexpr const char* kTriggerPath = "/api/superadmin/deploy";
constexpr const char* kStatusPath = "/api/superadmin/deploy/status";

std::string triggerAnswer(const std::string& dispatchedAt) {
    return R"({"triggered":true,"environment":"test","dispatchedAtUtc":")" + dispatchedAt + R"("})";
}

// Status answers handed out in turn; the last one repeats.
class StatusScript {
public:
    explicit StatusScript(std::vector<std::string> bodies, std::chrono::milliseconds delay = {})
        : bodies_(std::move(bodies)), delay_(delay) {}
    test::ScriptedServer::Handler handler() {
        return [this](const test::RecordedRequest&) {
            std::lock_guard lock(mutex_);
            const std::string& body = bodies_[std::min(next_++, bodies_.size() - 1)];
            return ScriptedResponse{200, body, "application/json", {}, delay_};
        };
    }

private:
    std::mutex mutex_;
    std::vector<std::string> bodies_;
    std::size_t next_ = 0;
    std::chrono::milliseconds delay_;
};

class DeployScreenModel : public ::testing::Test {
protected:
    void SetUp() override { test::resetServers(); }
    test::ScriptedServer& production = test::productionServer();

    std::vector<test::RecordedRequest> statusRequests() const {
        std::vector<test::RecordedRequest> found;
        for (auto& request : production.requests())
            if (request.path == kStatusPath) found.push_back(request);
        return found;
    }
    // Taps the trigger and waits for its answer to be handled.
    static void tap(SuperAdminDeployViewModel& vm) {
        vm.onDeployTapped();
        EXPECT_TRUE(vm.isTriggering());
        EXPECT_TRUE(test::waitUntil([&] { return !vm.isTriggering(); }));
    }
};

TEST_F(DeployScreenModel, AccessFollowsTheSuperAdminFlag) {
    struct Case {
        ScriptedResponse me;
        Access expected;
    } cases[] = {
        {ScriptedResponse{200, R"({"email":"root@nimbo.test","isSuperAdmin":true})"}, Access::Allowed},
        {ScriptedResponse{200, R"({"email":"ann@acme.io","isSuperAdmin":false})"}, Access::Denied},
        {ScriptedResponse{200, R"({"email":"ann@acme.io","isSuperAdmin":"true"})"}, Access::Denied},
        {ScriptedResponse{401, ""}, Access::Denied},
    };
    for (const Case& c : cases) {
        production.on("GET", "/api/auth/me", c.me);
        SuperAdminDeployViewModel vm;
        EXPECT_EQ(vm.access(), Access::Checking);
        vm.setActive(true);
        ASSERT_TRUE(test::waitUntil([&] { return vm.access() != Access::Checking; }));
        EXPECT_EQ(vm.access(), c.expected) << c.me.body;
    }
}

TEST_F(DeployScreenModel, DefaultsToTestAndLabelsTheChoice) {
    SuperAdminDeployViewModel vm;
    EXPECT_EQ(vm.environment(), "test");
    EXPECT_EQ(vm.triggerLabel(), "Deploy to test");
    EXPECT_FALSE(vm.isProd());
    EXPECT_EQ(vm.environments(), (QStringList{"test", "prod"}));
    vm.setEnvironment("prod");
    EXPECT_EQ(vm.triggerLabel(), "Deploy to prod");
    EXPECT_TRUE(vm.isProd());
    EXPECT_FALSE(vm.isWaitingForRun());
    EXPECT_TRUE(vm.runCards().isEmpty());
}

TEST_F(DeployScreenModel, FirstTapSendsTheSelectedEnvironment) {
    production.on("POST", kTriggerPath, ScriptedResponse{200, triggerAnswer("T1")});
    production.on("GET", kStatusPath, ScriptedResponse{200, R"({"runs":[{"runId":1,"conclusion":"success"}]})"});
    SuperAdminDeployViewModel vm;
    tap(vm);
    const auto requests = production.requests();
    ASSERT_GE(requests.size(), 1u);
    EXPECT_EQ(api::Json::parse(requests[0].body), (api::Json{{"environment", "test"}}));
}

TEST_F(DeployScreenModel, RefusedOrFailedTriggerShowsTheErrorAndDoesNotPoll) {
    for (const ScriptedResponse& answer : {ScriptedResponse{200, R"({"triggered":false})"},
                                           ScriptedResponse{403, R"({"error":"no"})"}}) {
        test::resetServers();
        production.on("POST", kTriggerPath, answer);
        SuperAdminDeployViewModel vm;
        vm.setEnvironment("prod");
        tap(vm);
        EXPECT_EQ(vm.errorMessage(), "Deploy trigger failed");
        EXPECT_FALSE(vm.dispatchedAt());
        EXPECT_FALSE(vm.isWaitingForRun());
        test::spinFor(100ms);
        EXPECT_TRUE(statusRequests().empty());
        EXPECT_EQ(api::Json::parse(production.requests()[0].body), (api::Json{{"environment", "prod"}}));
    }
}

TEST_F(DeployScreenModel, PollsUntilTheFirstRunConcludes) {
    StatusScript script({
        R"({"runs":[]})",
        R"({"runs":[{"runId":5,"status":"in_progress","jobs":[{"name":"Deploy secondary","steps":[{"name":"Build"}]}]}]})",
        R"({"runs":[{"runId":5,"status":"completed","conclusion":"success","jobs":[{"name":"Deploy secondary","status":"completed","conclusion":"success","steps":[{"name":"Build"}]}]}]})",
        R"({"runs":[]})",
    });
    production.on("POST", kTriggerPath, ScriptedResponse{200, triggerAnswer("2025-01-02T03:04:05.000Z")});
    production.on("GET", kStatusPath, script.handler());
    SuperAdminDeployViewModel vm;
    vm.setPollInterval(50ms);
    vm.onDeployTapped();
    ASSERT_TRUE(test::waitUntil([&] { return vm.dispatchedAt().has_value(); }));
    EXPECT_EQ(*vm.dispatchedAt(), "2025-01-02T03:04:05.000Z");
    EXPECT_TRUE(vm.isPolling());

    ASSERT_TRUE(test::waitUntil([&] { return !vm.runs().empty(); }));
    QVariantMap card = vm.runCards()[0].toMap();
    EXPECT_EQ(card["title"].toString(), "Run 5");
    EXPECT_EQ(card["badge"].toString(), "in_progress");
    QVariantMap job = card["jobs"].toList()[0].toMap();
    EXPECT_EQ(job["name"].toString(), "Deploy secondary");
    EXPECT_EQ(job["badge"].toString(), "pending");
    EXPECT_EQ(job["steps"].toStringList(), QStringList{"Build"});

    ASSERT_TRUE(test::waitUntil([&] { return !vm.isPolling(); }));
    card = vm.runCards()[0].toMap();
    EXPECT_EQ(card["badge"].toString(), "success");
    EXPECT_EQ(card["jobs"].toList()[0].toMap()["badge"].toString(), "success");
    test::spinFor(300ms);
    const auto requests = statusRequests();
    ASSERT_EQ(requests.size(), 3u);  // empty, in progress, concluded: then no more
    for (const auto& request : requests)
        EXPECT_EQ(request.target, std::string(kStatusPath) + "?since=2025-01-02T03:04:05.000Z&take=3");
    EXPECT_FALSE(vm.runs().empty());  // the last list stays
}

TEST_F(DeployScreenModel, OnlyTheFirstRunsConclusionEndsPolling) {
    StatusScript script({
        R"({"runs":[{"runId":8},{"runId":7,"conclusion":"success"}]})",
        R"({"runs":[{"runId":8},{"runId":7,"conclusion":"success"}]})",
        R"({"runs":[{"runId":8,"conclusion":""},{"runId":7,"conclusion":"success"}]})",
    });
    production.on("POST", kTriggerPath, ScriptedResponse{200, triggerAnswer("T")});
    production.on("GET", kStatusPath, script.handler());
    SuperAdminDeployViewModel vm;
    vm.setPollInterval(30ms);
    tap(vm);
    ASSERT_TRUE(test::waitUntil([&] { return !vm.isPolling(); }));
    EXPECT_EQ(statusRequests().size(), 3u);
    EXPECT_EQ(vm.runCards()[0].toMap()["badge"].toString(), "");  // an empty conclusion is still one
    EXPECT_EQ(vm.runCards()[1].toMap()["badge"].toString(), "success");
}

TEST_F(DeployScreenModel, BadgeFallbacks) {
    production.on("POST", kTriggerPath, ScriptedResponse{200, triggerAnswer("T")});
    production.on("GET", kStatusPath,
                  ScriptedResponse{200, R"({"runs":[{"runId":-3,"jobs":[{"name":"a","status":"queued"},{"name":"b"}]}]})"});
    SuperAdminDeployViewModel vm;
    vm.setPollInterval(10s);
    tap(vm);
    ASSERT_TRUE(test::waitUntil([&] { return !vm.runs().empty(); }));
    const QVariantMap card = vm.runCards()[0].toMap();
    EXPECT_EQ(card["title"].toString(), "Run -3");
    EXPECT_EQ(card["badge"].toString(), "unknown");
    EXPECT_EQ(card["jobs"].toList()[0].toMap()["badge"].toString(), "queued");
    EXPECT_EQ(card["jobs"].toList()[1].toMap()["badge"].toString(), "pending");
}

TEST_F(DeployScreenModel, AFailedReadClearsTheCardsAndKeepsPolling) {
    StatusScript script({R"({"runs":[{"runId":1,"status":"queued"}]})", "garbage",
                         R"({"runs":[{"runId":1,"conclusion":"success"}]})"});
    production.on("POST", kTriggerPath, ScriptedResponse{200, triggerAnswer("T")});
    production.on("GET", kStatusPath, script.handler());
    SuperAdminDeployViewModel vm;
    vm.setPollInterval(150ms);
    tap(vm);
    ASSERT_TRUE(test::waitUntil([&] { return !vm.runs().empty(); }));
    ASSERT_TRUE(test::waitUntil([&] { return vm.runs().empty(); }));
    EXPECT_TRUE(vm.isWaitingForRun());
    ASSERT_TRUE(test::waitUntil([&] { return !vm.isPolling(); }));
    EXPECT_EQ(vm.runs().size(), 1u);
}

TEST_F(DeployScreenModel, LeavingTheScreenEndsAWaitingLoop) {
    production.on("GET", "/api/auth/me", ScriptedResponse{200, R"({"isSuperAdmin":true})"});
    production.on("POST", kTriggerPath, ScriptedResponse{200, triggerAnswer("T")});
    production.on("GET", kStatusPath, ScriptedResponse{200, R"({"runs":[]})"});
    SuperAdminDeployViewModel vm;
    vm.setPollInterval(200ms);
    vm.setActive(true);
    tap(vm);
    ASSERT_TRUE(test::waitUntil([&] { return statusRequests().size() == 1; }));
    test::spinFor(50ms);  // the answer is in; the loop waits
    vm.setActive(false);
    EXPECT_FALSE(vm.isPolling());
    test::spinFor(500ms);
    EXPECT_EQ(statusRequests().size(), 1u);
}

TEST_F(DeployScreenModel, AnAnswerArrivingAfterLeavingIsDropped) {
    production.on("POST", kTriggerPath, ScriptedResponse{200, triggerAnswer("T")});
    production.on("GET", kStatusPath,
                  ScriptedResponse{200, R"({"runs":[{"runId":1,"status":"queued"}]})", "application/json", {}, 200ms});
    SuperAdminDeployViewModel vm;
    vm.setPollInterval(50ms);
    vm.setActive(true);
    tap(vm);
    ASSERT_TRUE(production.waitForRequests(2));
    vm.setActive(false);
    test::spinFor(500ms);
    EXPECT_TRUE(vm.runs().empty());
    EXPECT_EQ(statusRequests().size(), 1u);
}

TEST_F(DeployScreenModel, ATriggerAfterAConcludedRunClearsAndRestarts) {
    production.on("POST", kTriggerPath, [n = std::make_shared<std::atomic<int>>(0)](const test::RecordedRequest&) {
        return ScriptedResponse{200, triggerAnswer("D" + std::to_string(++*n))};
    });
    production.on("GET", kStatusPath, [](const test::RecordedRequest& request) {
        const bool second = request.target.find("since=D2") != std::string::npos;
        return ScriptedResponse{200, second ? R"({"runs":[]})" : R"({"runs":[{"runId":1,"conclusion":"success"}]})"};
    });
    SuperAdminDeployViewModel vm;
    vm.setPollInterval(100ms);
    tap(vm);
    ASSERT_TRUE(test::waitUntil([&] { return !vm.isPolling() && !vm.runs().empty(); }));
    vm.onDeployTapped();
    EXPECT_TRUE(vm.runs().empty());  // cleared at the tap
    ASSERT_TRUE(test::waitUntil([&] { return !vm.isTriggering(); }));
    EXPECT_EQ(*vm.dispatchedAt(), "D2");
    EXPECT_TRUE(vm.isPolling());
    ASSERT_TRUE(test::waitUntil([&] { return statusRequests().size() >= 3; }));
    EXPECT_NE(statusRequests().back().target.find("since=D2&take=3"), std::string::npos);
    EXPECT_TRUE(vm.isWaitingForRun());
}

TEST_F(DeployScreenModel, ATriggerWhilePollingReplacesTheLoop) {
    production.on("POST", kTriggerPath, [n = std::make_shared<std::atomic<int>>(0)](const test::RecordedRequest&) {
        return ScriptedResponse{200, triggerAnswer("D" + std::to_string(++*n))};
    });
    production.on("GET", kStatusPath, ScriptedResponse{200, R"({"runs":[]})"});
    SuperAdminDeployViewModel vm;
    vm.setPollInterval(150ms);
    tap(vm);
    ASSERT_TRUE(test::waitUntil([&] { return statusRequests().size() == 1; }));
    tap(vm);
    const auto sinceOf = [&] {
        std::vector<std::string> since;
        for (const auto& request : statusRequests())
            since.push_back(request.target.substr(request.target.find("since=") + 6, 2));
        return since;
    };
    ASSERT_TRUE(test::waitUntil([&] {
        const auto since = sinceOf();
        return std::count(since.begin(), since.end(), "D2") >= 3;
    }));
    // Once the new loop has asked, the old one never asks again.
    const auto since = sinceOf();
    const auto firstNew = std::find(since.begin(), since.end(), "D2");
    EXPECT_EQ(std::find(firstNew, since.end(), "D1"), since.end());
}

TEST_F(DeployScreenModel, AFailedTriggerAfterAnAcceptedOneKeepsWaiting) {
    production.on("POST", kTriggerPath, ScriptedResponse{200, triggerAnswer("D1")});
    production.on("GET", kStatusPath, ScriptedResponse{200, R"({"runs":[{"runId":1,"status":"queued"}]})"});
    SuperAdminDeployViewModel vm;
    vm.setPollInterval(10s);
    tap(vm);
    ASSERT_TRUE(test::waitUntil([&] { return !vm.runs().empty(); }));
    production.on("POST", kTriggerPath, ScriptedResponse{500, ""});
    test::testServer().on("POST", kTriggerPath, ScriptedResponse{500, ""});
    tap(vm);
    EXPECT_EQ(vm.errorMessage(), "Deploy trigger failed");
    EXPECT_EQ(*vm.dispatchedAt(), "D1");
    EXPECT_TRUE(vm.runs().empty());
    EXPECT_TRUE(vm.isWaitingForRun());
    EXPECT_TRUE(vm.isPolling());  // the earlier loop goes on
    production.on("POST", kTriggerPath, ScriptedResponse{200, triggerAnswer("D2")});
    vm.onDeployTapped();
    EXPECT_TRUE(vm.errorMessage().isEmpty());  // cleared by the next tap
}

}  // namespace
