// The deploy client against scripted servers: wire paths and bodies, and how every
// answer is read, including the failures that become neutral results.
#include "deploy/SuperAdminDeployApi.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

using namespace nimbo;
using test::ScriptedResponse;

namespace {

constexpr const char* kStatusPath = "/api/superadmin/deploy/status";

TEST(DeployApi, MeAndTriggerReadStrictlyAndFailToNothing) {
    test::resetServers();
    test::ScriptedServer& production = test::productionServer();
    production.on("GET", "/api/auth/me", ScriptedResponse{200, R"({"email":7,"isSuperAdmin":"true"})"});
    EXPECT_FALSE(SuperAdminDeployApi::me()->isSuperAdmin);
    production.on("POST", "/api/superadmin/deploy", ScriptedResponse{200, R"({"triggered":true,"dispatchedAtUtc":"T"})"});
    EXPECT_EQ(SuperAdminDeployApi::trigger("prod")->environment, "prod");
    for (const ScriptedResponse& answer : {ScriptedResponse{200, "[]"}, ScriptedResponse{200, ""}}) {
        production.on("GET", "/api/auth/me", answer);
        production.on("POST", "/api/superadmin/deploy", answer);
        EXPECT_FALSE(SuperAdminDeployApi::me()) << answer.body;
        EXPECT_FALSE(SuperAdminDeployApi::trigger("test")) << answer.body;
    }
}

TEST(DeployApi, StatusAsksForTheDispatchedRunAndReadsWhatItCan) {
    test::resetServers();
    test::ScriptedServer& production = test::productionServer();
    production.on("GET", kStatusPath, ScriptedResponse{200, R"({"runs":[
        {"runId":12,"status":"in_progress","jobs":[{"name":"Deploy secondary","conclusion":"success",
            "steps":[{"name":"Build"},{"name":"Roll out","status":"in_progress"}]},{"name":5}]},
        {"runId":"9","conclusion":"failure","jobs":{"name":"x"}}]})"});
    const auto runs = SuperAdminDeployApi::status(std::string("2025-01-02T03:04:05.120+01:00"));
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].id, 12);
    EXPECT_EQ(runs[0].status, "in_progress");
    EXPECT_FALSE(runs[0].conclusion);
    ASSERT_EQ(runs[0].jobs.size(), 2u);
    EXPECT_EQ(runs[0].jobs[0].conclusion, "success");
    EXPECT_EQ(runs[0].jobs[0].steps.size(), 2u);
    EXPECT_EQ(runs[0].jobs[0].steps[1].name, "Roll out");
    EXPECT_EQ(runs[0].jobs[1].name, "");
    EXPECT_EQ(runs[1].id, 0);
    EXPECT_EQ(runs[1].conclusion, "failure");
    EXPECT_TRUE(runs[1].jobs.empty());
    SuperAdminDeployApi::status(std::nullopt);
    EXPECT_EQ(production.requests()[0].target, std::string(kStatusPath) + "?since=2025-01-02T03:04:05.120+01:00&take=3");
    EXPECT_EQ(production.requests()[1].target, std::string(kStatusPath) + "?take=1");

    for (const char* body : {R"({"runs":{"runId":1}})", R"({"runs":[{"runId":1},2]})", "[]", ""}) {
        production.on("GET", kStatusPath, ScriptedResponse{200, body});
        EXPECT_TRUE(SuperAdminDeployApi::status(std::string("x")).empty()) << body;
    }
    production.on("GET", kStatusPath, ScriptedResponse{400, R"({"error":"bad since"})"});
    EXPECT_TRUE(SuperAdminDeployApi::status(std::string("x")).empty());
    EXPECT_TRUE(SuperAdminDeployApi::status(std::string("a b\n")).empty());  // cannot travel in a URL: no crash
}

}  // namespace
