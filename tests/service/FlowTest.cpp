// One test per flow of the service: sign-in and password reset, sign-up, credits and chat,
// learning sources, deploy.

#include "ServiceTest.h"

#include <chrono>
#include <ctime>
#include <regex>
#include <set>
#include <thread>

namespace nimbo::service_test {
namespace {

// A session cookie that is HttpOnly, kept as a digest, and identifies the user. Five failed
// tries per account and minute; other accounts are not held up. Password-reset requests are
// answered alike for every address, recorded and bounded.
TEST_F(ServiceTest, SignInGivesAnHttpOnlySessionAndFailedSignInsAndPasswordResetsAreThrottled)
{
    Client client(service->port());
    const auto tryPassword = [&](const char *email, const char *password) {
        return client.post("/api/auth/local-login", Json{{"email", email}, {"password", password}});
    };
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(tryPassword(demo.email, "wrong-password").status, 401);
    const Reply reply = tryPassword("  Demo@Nimbo.TEST ", demo.password); // a success forgets the failures
    ASSERT_EQ(reply.status, 200) << reply.body;
    const std::string setCookie = header(reply, "Set-Cookie");
    std::smatch token;
    ASSERT_TRUE(std::regex_search(setCookie, token, std::regex("^nimbo_session=([0-9a-f]{64}); Path=/; HttpOnly; SameSite=Lax;")));
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM sessions WHERE token_hash = '" + token[1].str() + "'"), 0);
    client.setCookie(setCookie.substr(0, setCookie.find(';')));
    EXPECT_EQ(client.get("/api/auth/me").json, (Json{{"email", "demo@nimbo.test"}, {"name", "Demo User"}, {"role", "member"},
                                                     {"canChat", true}, {"companyId", 1}, {"isSuperAdmin", false}}));
    EXPECT_EQ(signedIn(admin).get("/api/auth/me").json["isSuperAdmin"], true);
    const auto flood = statusesAtOnce(12, "", "/api/auth/local-login", Json{{"email", "DEMO@nimbo.test"}, {"password", "wrong-password"}});
    EXPECT_EQ(flood, (std::map<int, int>{{401, 5}, {429, 7}}));
    EXPECT_TRUE(refused(tryPassword(demo.email, demo.password), 429, "Too many sign-in attempts. Try again in a minute."));
    EXPECT_EQ(tryPassword(low.email, low.password).status, 200);
    const auto forgot = [&](const std::string &email) { return client.post("/api/auth/forgot-password", Json{{"email", email}}); };
    EXPECT_EQ(forgot("nobody@nimbo.test").body, forgot(demo.email).body);
    EXPECT_EQ(forgot(demo.email).status + forgot(demo.email).status, 400);
    EXPECT_TRUE(refused(forgot(" Demo@nimbo.test"), 429, "Too many password-reset requests. Try again later."));
    for (int i = 0; i < 5; ++i) // 10 requests a minute from one client address, refused ones included
        EXPECT_EQ(forgot("u" + std::to_string(i) + "@x.test").status, 200) << i;
    EXPECT_TRUE(refused(forgot("one-more@x.test"), 429, "Too many password-reset requests. Try again later."));
    client.setSourceAddress("127.0.0.2");
    EXPECT_EQ(forgot("one-more@x.test").status, 200);
    EXPECT_EQ(queryDatabase(databaseFile(), "SELECT COUNT(*) || ' for ' || COUNT(user_id) FROM password_reset_requests"), "10 for 3");
}

TEST_F(ServiceTest, ANewDomainGetsATrialAndAKnownOneAPendingRequestThatAnApprovalCompletes)
{
    const Account owner{"ada@acme.test", "비밀번호비밀번호"}; // eight characters are enough
    const Reply trial = Client(service->port()).post("/api/clients/signup", signupBody(owner.email, owner.password));
    ASSERT_EQ(trial.status, 201) << trial.body;
    std::tm expires{};
    ASSERT_TRUE(strptime(trial.json["trialExpiresAt"].get<std::string>().c_str(), "%Y-%m-%dT%H:%M:%S", &expires));
    EXPECT_NEAR(static_cast<double>(timegm(&expires)), std::time(nullptr) + 14 * 24 * 3600, 120);
    // The enrollment token is kept as a digest, not as the token.
    EXPECT_EQ(queryDatabase(databaseFile(), "SELECT LENGTH(enrollment_token_hash) FROM companies WHERE domain = 'acme.test'"), "64");
    Client ownerClient = signedIn(owner); // without a balance of their own, they draw on the pool
    EXPECT_EQ(ownerClient.post("/api/chat/orc", Json{{"message", "pool"}}).status, 200);
    const Json pool = ownerClient.get("/api/v1/credits/balance").json;
    EXPECT_TRUE(pool["companyId"] == trial.json["companyId"] && pool["companyBalance"] == 999 && pool["user"]["balance"] == nullptr) << pool;

    Client anonymous(service->port());
    const Reply pending = anonymous.post("/api/clients/signup", signupBody("new@nimbo.test"));
    ASSERT_EQ(pending.status, 202) << pending.body;
    EXPECT_FALSE(anonymous.signIn("new@nimbo.test", "trial-password-1"));
    EXPECT_TRUE(refused(anonymous.post("/api/clients/signup", signupBody("new@nimbo.test")), 409));
    const std::string approve = "/api/superadmin/signup-requests/" + pending.json["requestId"].dump() + "/approve";
    Client superAdmin = signedIn(admin);
    ASSERT_EQ(superAdmin.send("POST", approve).status, 200);
    EXPECT_TRUE(refused(superAdmin.post(approve, Json::object()), 404));
    EXPECT_EQ(signedIn({"new@nimbo.test", "trial-password-1"}).get("/api/auth/me").json["companyId"], 1);
}

TEST_F(ServiceTest, ChatKeepsTheConversationAndEachReplyCostsOneCreditEvenUnderConcurrency)
{
    Client client = signedIn(demo);
    EXPECT_EQ(client.get("/api/v1/credits/balance?companyId=1&email=LOW@nimbo.test").json,
              (Json{{"companyId", 1}, {"companyBalance", 1200}, {"companyPoolExists", true}, {"user", {{"balance", 300}, {"email", "low@nimbo.test"}, {"lifetimeTokens", 0}}}}));
    const Json history = Json::array({Json{{"role", "assistant"}, {"content", "Hi! I'm Nimbo."}},
                                      Json{{"role", "user"}, {"content", "What is the capital of Peru?"}}});
    const Reply first = client.post("/api/chat/orc", Json{{"message", "  And of Chile?  "}, {"mode", "orc"}, {"history", history}});
    ASSERT_EQ(first.status, 200) << first.body;
    const std::string id = first.json["conversationId"];
    for (const char *part : {"And of Chile?", "2 earlier turns", "What is the capital of Peru?"})
        EXPECT_NE(first.json["reply"].get<std::string>().find(part), std::string::npos) << first.json["reply"];
    const Json longHistory(std::vector<Json>(100, history[1]));
    const Reply second = client.post("/api/chat/orc", Json{{"message", "x"}, {"history", longHistory}, {"conversationId", id}});
    EXPECT_TRUE(second.json["conversationId"] == id && second.json["note"].get<std::string>().find("4 stored turns") != std::string::npos)
        << second.body;
    Client other = signedIn(low);
    EXPECT_TRUE(refused(other.post("/api/chat/orc", Json{{"message", "yours?"}, {"conversationId", id}}), 404));
    const Json balance = client.get("/api/v1/credits/balance").json;
    EXPECT_TRUE(balance["user"]["balance"] == 1198 && balance["user"]["lifetimeTokens"] > 0 && balance["companyBalance"] == 1200) << balance;
    // Concurrent chats never spend more than the balance.
    queryDatabase(databaseFile(), "UPDATE users SET balance = 5 WHERE email = 'low@nimbo.test'");
    EXPECT_EQ(statusesAtOnce(12, other.cookie(), "/api/chat/orc", Json{{"message", "race"}}), (std::map<int, int>{{200, 5}, {402, 7}}));
}

Json item(const std::string &id, const std::string &title, const std::string &content = "notes")
{
    return Json{{"itemId", id}, {"title", title}, {"content", content}};
}

TEST_F(ServiceTest, ALearningSourceIsConnectedSyncedAndDisconnectedPerUser)
{
    Client client = signedIn(demo);
    const auto calendar = [](Client &of) { return of.get("/api/v1/learning-sources").json["categories"][2]; };
    const auto sync = [](Client &by, const Json &items) {
        const Reply reply = by.post("/api/v1/learning-sources/calendar/sync", Json{{"items", items}});
        return reply.json["imported"].dump() + " imported, " + reply.json["skipped"].dump() + " skipped";
    };
    const Json unused{{"category", "calendar"}, {"connected", false}, {"lastSyncAt", nullptr}, {"itemCount", 0}};
    EXPECT_EQ(calendar(client), unused);
    ASSERT_EQ(client.post("/api/v1/learning-sources/calendar/connect", Json::object()).status, 200);
    const Json timed{{"itemId", "e1"}, {"title", "Standup"}, {"content", "notes"}, {"at", "2026-12-07T09:00:00Z"}};
    EXPECT_EQ(sync(client, Json::array({timed, item("e2", "Review"), item("e3", "Lunch")})), "3 imported, 0 skipped");
    // e2 retitled, e3 with new notes, e4 new; e1 unchanged and e4 repeated are skipped
    EXPECT_EQ(sync(client, Json::array({timed, item("e2", "Design"), item("e3", "Lunch", "x"), item("e4", "Gym"), item("e4", "Gym")})),
              "3 imported, 2 skipped");
    // A hundred events with long notes go in one request; invalid items and those past the
    // first thousand are skipped, not fatal.
    Json batch = Json::array({Json(7), Json{{"itemId", "a"}, {"title", "No content"}}, item("", "Empty id"), item("big", "t", std::string(65537, 'x')),
                              Json{{"itemId", 1}, {"title", "t"}, {"content", "c"}}, Json{{"itemId", "b"}, {"title", "t"}, {"content", "c"}, {"at", 5}}});
    for (int i = 0; i < 100; ++i)
        batch.push_back(item("event-" + std::to_string(i), "Meeting", std::string(i ? 20 * 1024 : 65536, 'n')));
    while (batch.size() < 1001)
        batch.push_back(item("short-" + std::to_string(batch.size()), "Meeting"));
    EXPECT_EQ(sync(client, batch), "994 imported, 7 skipped");
    EXPECT_TRUE(refused(client.post("/api/v1/learning-sources/calendar/sync", Json{{"items", {item("huge", "t", std::string(8 << 20, 'x'))}}}), 413,
                        "The request body is larger than 8 MiB."));

    Client other = signedIn(low);
    EXPECT_EQ(calendar(other), unused);
    EXPECT_TRUE(refused(other.post("/api/v1/learning-sources/calendar/sync", Json{{"items", {item("e1", "Mine")}}}), 409,
                        "Connect this learning source before syncing it."));
    const Json kept = client.post("/api/v1/learning-sources/calendar/disconnect?purge=false", Json::object()).json;
    EXPECT_TRUE(kept["connected"] == false && kept["itemCount"] == 998 && kept["lastSyncAt"].is_string()) << kept;
    EXPECT_EQ(client.post("/api/v1/learning-sources/calendar/disconnect?purge=true", Json::object()).json["purged"], 998);
    EXPECT_EQ(calendar(client), unused);
}

// A run appears after one step and walks its jobs to success; the status honours since and take.
TEST_F(ServiceTest, ADeployRunWalksItsJobsToSuccess)
{
    service = std::make_unique<ServiceInstance>(data.path(), std::vector<std::string>{"--demo", "--deploy-step-seconds", "1"});
    Client client = signedIn(admin);
    const auto runsSince = [&](const std::string &from) { return client.get("/api/superadmin/deploy/status?since=" + from + "&take=3").json["runs"]; };
    const std::string first = client.post("/api/superadmin/deploy", Json{{"environment", "test"}}).json["dispatchedAtUtc"];
    const Reply trigger = client.post("/api/superadmin/deploy", Json{{"environment", "prod"}});
    EXPECT_EQ(runsSince(trigger.json["dispatchedAtUtc"]), Json::array());
    Json runs;
    std::set<std::string> states;
    for (int i = 0; i < 300 && (runs.empty() || !runs[0].contains("conclusion")); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        runs = runsSince(trigger.json["dispatchedAtUtc"]);
        states.insert(runs.dump());
    }
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0]["conclusion"], "success");
    EXPECT_GE(states.size(), 5u); // nothing, then each job in turn
    for (const Json &job : runs[0]["jobs"])
        EXPECT_EQ(job["conclusion"], "success") << job;
    const std::string htmlUrl = runs[0]["htmlUrl"];
    EXPECT_EQ(client.get(htmlUrl.substr(htmlUrl.find("/api/"))).json["runId"], runs[0]["runId"]);
    const Json both = runsSince(first); // newest first
    EXPECT_TRUE(both.size() == 2 && both[0]["environment"] == "prod" && both[1]["environment"] == "test") << both;
    EXPECT_EQ(client.get("/api/superadmin/deploy/status?take=1").json["runs"].size(), 1u);
}

} // namespace
} // namespace nimbo::service_test
