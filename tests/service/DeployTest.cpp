// The super-admin deploy workflow: trigger, runs that appear and walk to success, status.

#include "ServiceTest.h"

#include <chrono>
#include <thread>

namespace nimbo::service_test {
namespace {

class DeployTest : public ServiceTest {
protected:
    // Instances whose runs take `stepSeconds` per step.
    void useStepSeconds(int stepSeconds)
    {
        service.reset();
        service = std::make_unique<ServiceInstance>(
            data.path(), std::vector<std::string>{"--demo", "--deploy-step-seconds", std::to_string(stepSeconds)});
    }

    // Polls the status after `since` until `done` holds for the runs (at most 30 s).
    Json waitForRuns(Client &client, const std::string &since, const std::function<bool(const Json &)> &done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        Json runs;
        do {
            runs = client.get("/api/superadmin/deploy/status?since=" + since + "&take=3").json["runs"];
            if (done(runs))
                return runs;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        } while (std::chrono::steady_clock::now() < deadline);
        ADD_FAILURE() << "runs never reached the expected state: " << runs;
        return runs;
    }
};

TEST_F(DeployTest, EveryDeployPathIsForSuperAdminsOnly)
{
    Client member = signedIn(demo);
    EXPECT_TRUE(refused(member.post("/api/superadmin/deploy", Json{{"environment", "test"}}), 403));
    EXPECT_TRUE(refused(member.get("/api/superadmin/deploy/status?take=1"), 403));
    EXPECT_TRUE(refused(member.get("/api/superadmin/deploy/runs/1"), 403));
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM deploy_runs"), 0);
}

TEST_F(DeployTest, TriggerRefusesAnUnknownEnvironment)
{
    Client client = signedIn(admin);
    for (const Json &body : {Json::object(), Json{{"environment", "staging"}}, Json{{"environment", 1}},
                             Json{{"environment", "PROD"}}})
        EXPECT_TRUE(refused(client.post("/api/superadmin/deploy", body), 400)) << body;
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM deploy_runs"), 0);
}

TEST_F(DeployTest, ARunAppearsAfterOneStepAndWalksItsJobsToSuccess)
{
    useStepSeconds(1);
    Client client = signedIn(admin);
    const Reply trigger = client.post("/api/superadmin/deploy", Json{{"environment", "prod"}});
    ASSERT_EQ(trigger.status, 200) << trigger.body;
    EXPECT_EQ(trigger.json["triggered"], true);
    EXPECT_EQ(trigger.json["environment"], "prod");
    const std::string since = trigger.json["dispatchedAtUtc"];
    EXPECT_EQ(client.get("/api/superadmin/deploy/status?since=" + since + "&take=3").json["runs"], Json::array());

    const Json walking = waitForRuns(client, since, [](const Json &runs) {
        return !runs.empty() && runs[0]["jobs"][0]["status"] == "in_progress";
    });
    ASSERT_EQ(walking.size(), 1u);
    EXPECT_EQ(walking[0]["status"], "in_progress");
    EXPECT_FALSE(walking[0].contains("conclusion"));
    std::vector<std::string> jobs;
    for (const Json &job : walking[0]["jobs"])
        jobs.push_back(job["name"]);
    EXPECT_EQ(jobs, (std::vector<std::string>{"Deploy secondary", "Verify secondary", "Deploy primary", "Re-check both"}));
    EXPECT_EQ(walking[0]["jobs"][3]["status"], "queued");

    const Json done = waitForRuns(client, since, [](const Json &runs) { return !runs.empty() && runs[0].contains("conclusion"); });
    EXPECT_EQ(done[0]["conclusion"], "success");
    for (const Json &job : done[0]["jobs"]) {
        EXPECT_EQ(job["conclusion"], "success");
        for (const Json &step : job["steps"])
            EXPECT_EQ(step["status"], "completed");
    }
    const std::string htmlUrl = done[0]["htmlUrl"];
    const Reply page = client.get(htmlUrl.substr(htmlUrl.find("/api/")));
    EXPECT_EQ(page.json["runId"], done[0]["runId"]);
}

TEST_F(DeployTest, StatusHonoursSinceAndTakeNewestFirst)
{
    useStepSeconds(0);
    Client client = signedIn(admin);
    const std::string first = client.post("/api/superadmin/deploy", Json{{"environment", "test"}}).json["dispatchedAtUtc"];
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const std::string second = client.post("/api/superadmin/deploy", Json{{"environment", "prod"}}).json["dispatchedAtUtc"];

    const Json latest = client.get("/api/superadmin/deploy/status?take=1").json["runs"];
    ASSERT_EQ(latest.size(), 1u);
    EXPECT_EQ(latest[0]["environment"], "prod");
    EXPECT_EQ(latest[0]["conclusion"], "success");
    const Json both = client.get("/api/superadmin/deploy/status?since=" + first + "&take=3").json["runs"];
    ASSERT_EQ(both.size(), 2u);
    EXPECT_GT(both[0]["runId"].get<int64_t>(), both[1]["runId"].get<int64_t>());
    EXPECT_EQ(client.get("/api/superadmin/deploy/status?since=" + second + "&take=3").json["runs"].size(), 1u);
    EXPECT_EQ(client.get("/api/superadmin/deploy/status?since=&take=3").json["runs"].size(), 2u);

    for (const char *query : {"since=yesterday&take=3", "since=2026-13-01T00:00:00Z", "take=0", "take=abc", "take=21"})
        EXPECT_TRUE(refused(client.get(std::string("/api/superadmin/deploy/status?") + query), 400)) << query;
    EXPECT_TRUE(refused(client.get("/api/superadmin/deploy/runs/999"), 404));
    EXPECT_TRUE(refused(client.get("/api/superadmin/deploy/runs/x"), 400));
}

} // namespace
} // namespace nimbo::service_test
