// The deploy client against scripted servers: wire paths and bodies, and how every
// answer is read, including the failures that become neutral results.
#include "deploy/SuperAdminDeployApi.h"

#include "api/Json.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

using namespace nimbo;
using test::ScriptedResponse;

namespace {

constexpr const char* kStatusPath = "/api/superadmin/deploy/status";

class DeployApi : public ::testing::Test {
protected:
    void SetUp() override { test::resetServers(); }
    test::ScriptedServer& production = test::productionServer();

    std::vector<DeployRun> statusAnswering(const std::string& body) {
        production.on("GET", kStatusPath, ScriptedResponse{200, body});
        return SuperAdminDeployApi::status(std::nullopt);
    }
};

TEST_F(DeployApi, MeReadsTheSuperAdminFlagStrictly) {
    production.on("GET", "/api/auth/me", ScriptedResponse{200, R"({"email":"root@nimbo.test","isSuperAdmin":true})"});
    auto me = SuperAdminDeployApi::me();
    ASSERT_TRUE(me);
    EXPECT_EQ(me->email, "root@nimbo.test");
    EXPECT_TRUE(me->isSuperAdmin);

    production.on("GET", "/api/auth/me", ScriptedResponse{200, R"({"email":"ann@acme.io"})"});
    me = SuperAdminDeployApi::me();
    ASSERT_TRUE(me);
    EXPECT_FALSE(me->isSuperAdmin);

    production.on("GET", "/api/auth/me", ScriptedResponse{200, R"({"email":7,"isSuperAdmin":"true"})"});
    me = SuperAdminDeployApi::me();
    ASSERT_TRUE(me);
    EXPECT_EQ(me->email, "");
    EXPECT_FALSE(me->isSuperAdmin);
}

TEST_F(DeployApi, MeFailuresAreNothing) {
    for (const ScriptedResponse& answer : {ScriptedResponse{401, ""}, ScriptedResponse{403, R"({"error":"no"})"},
                                           ScriptedResponse{200, "[]"}, ScriptedResponse{200, ""}}) {
        production.on("GET", "/api/auth/me", answer);
        EXPECT_FALSE(SuperAdminDeployApi::me()) << answer.status << " " << answer.body;
    }
    production.reset();
    test::productionServer().onAnything(ScriptedResponse{502, ""});
    test::testServer().onAnything(ScriptedResponse{503, ""});
    EXPECT_FALSE(SuperAdminDeployApi::me());
}

TEST_F(DeployApi, TriggerSendsOnlyTheEnvironmentAndReadsWithFallbacks) {
    production.on("POST", "/api/superadmin/deploy", ScriptedResponse{200, R"({"triggered":true})"});
    const auto result = SuperAdminDeployApi::trigger("prod");
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->triggered);
    EXPECT_EQ(result->environment, "prod");
    EXPECT_EQ(result->dispatchedAtUtc, "");
    const auto request = production.requests().back();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/api/superadmin/deploy");
    EXPECT_EQ(api::Json::parse(request.body), (api::Json{{"environment", "prod"}}));

    production.on("POST", "/api/superadmin/deploy",
                  ScriptedResponse{200, R"({"triggered":"yes","environment":"test","dispatchedAtUtc":"2025-01-02T03:04:05Z"})"});
    const auto odd = SuperAdminDeployApi::trigger("prod");
    ASSERT_TRUE(odd);
    EXPECT_FALSE(odd->triggered);
    EXPECT_EQ(odd->environment, "test");
    EXPECT_EQ(odd->dispatchedAtUtc, "2025-01-02T03:04:05Z");

    production.on("POST", "/api/superadmin/deploy", ScriptedResponse{401, ""});
    EXPECT_FALSE(SuperAdminDeployApi::trigger("test"));
    production.on("POST", "/api/superadmin/deploy", ScriptedResponse{200, "not json"});
    EXPECT_FALSE(SuperAdminDeployApi::trigger("test"));
}

TEST_F(DeployApi, StatusPathsWithAndWithoutSince) {
    production.on("GET", kStatusPath, ScriptedResponse{200, R"({"runs":[]})"});
    SuperAdminDeployApi::status(std::nullopt);
    SuperAdminDeployApi::status(std::string());
    SuperAdminDeployApi::status(std::string("2025-01-02T03:04:05.120+01:00"));
    const auto requests = production.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].target, "/api/superadmin/deploy/status?take=1");
    EXPECT_EQ(requests[1].target, "/api/superadmin/deploy/status?since=&take=3");
    EXPECT_EQ(requests[2].target, "/api/superadmin/deploy/status?since=2025-01-02T03:04:05.120+01:00&take=3");
}

TEST_F(DeployApi, StatusReadsRunsJobsAndStepsInOrder) {
    const auto runs = statusAnswering(R"({"runs":[
        {"runId":12,"status":"in_progress","htmlUrl":"https://ci/12","jobs":[
            {"name":"Deploy secondary","status":"completed","conclusion":"success",
             "steps":[{"name":"Build","conclusion":"success"},{"name":"Roll out","status":"in_progress"}]},
            {"name":"Verify secondary"}]},
        {"runId":9,"status":"completed","conclusion":"failure","jobs":[]}]})");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].id, 12);
    EXPECT_EQ(runs[0].status, "in_progress");
    EXPECT_FALSE(runs[0].conclusion);
    EXPECT_EQ(runs[0].htmlUrl, "https://ci/12");
    ASSERT_EQ(runs[0].jobs.size(), 2u);
    const DeployJob& first = runs[0].jobs[0];
    EXPECT_EQ(first.name, "Deploy secondary");
    EXPECT_EQ(first.conclusion, "success");
    ASSERT_EQ(first.steps.size(), 2u);
    EXPECT_EQ(first.steps[0].name, "Build");
    EXPECT_EQ(first.steps[0].conclusion, "success");
    EXPECT_FALSE(first.steps[0].status);
    EXPECT_EQ(first.steps[1].status, "in_progress");
    const DeployJob& second = runs[0].jobs[1];
    EXPECT_FALSE(second.status);
    EXPECT_FALSE(second.conclusion);
    EXPECT_TRUE(second.steps.empty());
    EXPECT_EQ(runs[1].id, 9);
    EXPECT_EQ(runs[1].conclusion, "failure");
    EXPECT_EQ(runs[1].htmlUrl, "");
}

TEST_F(DeployApi, StatusFieldFallbacks) {
    const auto runs = statusAnswering(R"({"runs":[
        {},
        {"runId":"7","status":3,"conclusion":null,"htmlUrl":false,"jobs":{"name":"x"}},
        {"runId":-4,"jobs":[{"name":5,"status":"queued","steps":[{},{"name":"s","status":1}]}]},
        {"runId":5,"jobs":[{"name":"a"},"not an object"]},
        {"runId":6,"jobs":[{"name":"b","steps":[{"name":"ok"},[1]]}]}]})");
    ASSERT_EQ(runs.size(), 5u);
    EXPECT_EQ(runs[0].id, 0);
    EXPECT_FALSE(runs[0].status);
    EXPECT_TRUE(runs[0].jobs.empty());
    EXPECT_EQ(runs[1].id, 0);
    EXPECT_FALSE(runs[1].status);
    EXPECT_FALSE(runs[1].conclusion);
    EXPECT_EQ(runs[1].htmlUrl, "");
    EXPECT_TRUE(runs[1].jobs.empty());
    EXPECT_EQ(runs[2].id, -4);
    ASSERT_EQ(runs[2].jobs.size(), 1u);
    EXPECT_EQ(runs[2].jobs[0].name, "");
    EXPECT_EQ(runs[2].jobs[0].status, "queued");
    ASSERT_EQ(runs[2].jobs[0].steps.size(), 2u);
    EXPECT_EQ(runs[2].jobs[0].steps[0].name, "");
    EXPECT_FALSE(runs[2].jobs[0].steps[1].status);
    EXPECT_TRUE(runs[3].jobs.empty());           // one element is not an object: no jobs
    ASSERT_EQ(runs[4].jobs.size(), 1u);
    EXPECT_TRUE(runs[4].jobs[0].steps.empty());  // likewise for steps
}

TEST_F(DeployApi, UnreadableStatusIsAnEmptyList) {
    for (const char* body : {R"({"runs":[]})", R"({"runs":{"runId":1}})", R"({"runs":[{"runId":1},2]})",
                             R"({"other":[]})", "[]", ""}) {
        EXPECT_TRUE(statusAnswering(body).empty()) << body;
    }
    production.on("GET", kStatusPath, ScriptedResponse{401, ""});
    EXPECT_TRUE(SuperAdminDeployApi::status(std::string("x")).empty());
    production.on("GET", kStatusPath, ScriptedResponse{400, R"({"error":"bad since"})"});
    EXPECT_TRUE(SuperAdminDeployApi::status(std::string("x")).empty());
    // A since that cannot travel in a URL is a failed read, not a crash.
    EXPECT_TRUE(SuperAdminDeployApi::status(std::string("a b\n")).empty());
}

}  // namespace
