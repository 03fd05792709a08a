// The deploy client against scripted servers: how every answer is read, including the
// failures that become neutral results. The request paths are checked through the
// screen's view model (DeployViewModelTest).
#include "deploy/SuperAdminDeployApi.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

using namespace nimbo;
using test::ScriptedResponse;

namespace {

constexpr const char* kStatusPath = "/api/superadmin/deploy/status";

TEST(DeployApi, ReadsWhatItCanStrictlyAndTurnsEveryFailureIntoNothing) {
    test::resetServers();
    test::ScriptedServer& production = test::productionServer();
    production.on("GET", "/api/auth/me", ScriptedResponse{200, R"({"email":7,"isSuperAdmin":"true"})"});
    EXPECT_FALSE(SuperAdminDeployApi::me()->isSuperAdmin);
    production.on("GET", kStatusPath, ScriptedResponse{200, R"({"runs":[
        {"runId":12,"jobs":[{"name":"Deploy","steps":[{"name":"Build"},{"name":"Roll out"}]},{"name":5}]},
        {"runId":"9","conclusion":"failure","jobs":{"name":"x"}}]})"});
    const auto runs = SuperAdminDeployApi::status(std::string("x"));
    ASSERT_EQ(runs.size(), 2u);
    ASSERT_EQ(runs[0].jobs.size(), 2u);
    EXPECT_EQ(runs[0].jobs[1].name, "");
    EXPECT_EQ(runs[1].id, 0);
    EXPECT_TRUE(runs[1].jobs.empty());

    // Anything else reads as "not allowed", "not triggered" and "no runs".
    const ScriptedResponse answers[] = {{200, R"({"runs":{"runId":1}})"}, {200, R"({"runs":[{"runId":1},2]})"},
                                        {200, "[]"}, {200, ""}, {403, ""}};
    for (const ScriptedResponse& answer : answers) {
        production.on("GET", "/api/auth/me", answer);
        production.on("POST", "/api/superadmin/deploy", answer);
        production.on("GET", kStatusPath, answer);
        const auto me = SuperAdminDeployApi::me();
        const auto trigger = SuperAdminDeployApi::trigger("test");
        EXPECT_FALSE((me && me->isSuperAdmin) || (trigger && trigger->triggered)) << answer.body;
        EXPECT_TRUE(SuperAdminDeployApi::status(std::string("x")).empty()) << answer.body;
    }
    EXPECT_TRUE(SuperAdminDeployApi::status(std::string("a b\n")).empty());  // cannot travel in a URL: no crash
}

}  // namespace
