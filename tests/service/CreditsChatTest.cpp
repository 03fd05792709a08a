// The credit balance and the chat orchestrator round trip, which costs credits.

#include "ServiceTest.h"

#include <future>

namespace nimbo::service_test {
namespace {

int64_t userBalance(Client &client)
{
    return client.get("/api/v1/credits/balance").json["user"]["balance"].get<int64_t>();
}

TEST_F(ServiceTest, BalanceGivesTheCompanyPoolAndTheUsersOwnBalance)
{
    Client client = signedIn(demo);
    const Reply reply = client.get("/api/v1/credits/balance");
    ASSERT_EQ(reply.status, 200);
    EXPECT_TRUE(reply.json["companyId"].is_number_integer());
    EXPECT_EQ(reply.json["companyBalance"], 1200);
    EXPECT_EQ(reply.json["companyPoolExists"], true);
    EXPECT_EQ(reply.json["user"]["balance"], 1200);
    EXPECT_EQ(reply.json["user"]["lifetimeTokens"], 0);
    EXPECT_EQ(signedIn(low).get("/api/v1/credits/balance").json["user"]["balance"], 300);
    EXPECT_EQ(signedIn(broke).get("/api/v1/credits/balance").json["user"]["balance"], 0);
}

TEST_F(ServiceTest, BalanceHonoursCompanyIdAndEmailOfTheCallersOwnCompany)
{
    Client client = signedIn(demo);
    const std::string company = client.get("/api/auth/me").json["companyId"].dump();
    const Reply own = client.get("/api/v1/credits/balance?companyId=" + company + "&email=demo@nimbo.test");
    EXPECT_EQ(own.status, 200);
    EXPECT_EQ(own.json["user"]["balance"], 1200);
    const Reply colleague = client.get("/api/v1/credits/balance?companyId=" + company + "&email=LOW@nimbo.test");
    EXPECT_EQ(colleague.status, 200);
    EXPECT_EQ(colleague.json["user"]["balance"], 300);
}

TEST_F(ServiceTest, BalanceRefusesOtherCompaniesWith403)
{
    const std::string demoCompany = signedIn(demo).get("/api/auth/me").json["companyId"].dump();
    signUpTrial("eve@evil.test");
    Client outsider = signedIn({"eve@evil.test", "trial-password-1"});
    EXPECT_TRUE(refused(outsider.get("/api/v1/credits/balance?companyId=" + demoCompany), 403));
    EXPECT_TRUE(refused(outsider.get("/api/v1/credits/balance?email=demo@nimbo.test"), 403));
    EXPECT_TRUE(refused(outsider.get("/api/v1/credits/balance?email=nobody@nimbo.test"), 403));
    EXPECT_TRUE(refused(outsider.get("/api/v1/credits/balance?companyId=12abc"), 400));
    EXPECT_TRUE(refused(outsider.get("/api/v1/credits/balance?companyId="), 400));
    EXPECT_EQ(outsider.get("/api/v1/credits/balance?email=eve@evil.test").status, 200);
}

TEST_F(ServiceTest, ChatStartsAConversationAndKeepsItsTurns)
{
    Client client = signedIn(demo);
    const Reply first = client.post("/api/chat/orc", Json{{"message", "hello"}, {"mode", "orc"}, {"history", Json::array()}});
    ASSERT_EQ(first.status, 200) << first.body;
    const std::string id = first.json["conversationId"];
    EXPECT_FALSE(id.empty());
    EXPECT_EQ(first.json["routedTo"], "local-responder");
    EXPECT_EQ(first.json["node"], "127.0.0.1:" + std::to_string(service->port()));
    EXPECT_TRUE(first.json["note"].is_string());

    const Reply second = client.post("/api/chat/orc", Json{{"message", "again"},
                                                           {"mode", "orc"},
                                                           {"history", Json::array({Json{{"role", "user"}, {"content", "hello"}},
                                                                                    Json{{"role", "assistant"}, {"content", first.json["reply"]}}})},
                                                           {"conversationId", id}});
    ASSERT_EQ(second.status, 200) << second.body;
    EXPECT_EQ(second.json["conversationId"], id);
    EXPECT_NE(second.json["note"].get<std::string>().find("4 stored turns"), std::string::npos);
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM turns WHERE conversation_id = '" + id + "'"), 4);
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM conversations"), 1);
}

TEST_F(ServiceTest, TheResponderReadsTheMessageAndTheHistory)
{
    Client client = signedIn(demo);
    const Json history = Json::array({Json{{"role", "assistant"}, {"content", "Hi! I'm Nimbo."}},
                                      Json{{"role", "user"}, {"content", "What is the capital of Peru?"}},
                                      Json{{"role", "assistant"}, {"content", "Lima."}}});
    const Reply reply = client.post("/api/chat/orc", Json{{"message", "  And of Chile?  "}, {"history", history}});
    const std::string text = reply.json["reply"];
    EXPECT_NE(text.find("And of Chile?"), std::string::npos) << text;
    EXPECT_NE(text.find("3 earlier turns"), std::string::npos) << text;
    EXPECT_NE(text.find("What is the capital of Peru?"), std::string::npos) << text;
    const Reply single = client.post("/api/chat/orc", Json{{"message", "x"}, {"history", Json::array({history[0]})}});
    EXPECT_NE(single.json["reply"].get<std::string>().find("1 earlier turn)"), std::string::npos);
}

TEST_F(ServiceTest, EachReplyCostsOneCreditFromTheUserOrElseTheCompanyPool)
{
    Client client = signedIn(demo);
    client.post("/api/chat/orc", Json{{"message", "one"}});
    client.post("/api/chat/orc", Json{{"message", "two"}});
    const Reply balance = client.get("/api/v1/credits/balance");
    EXPECT_EQ(balance.json["user"]["balance"], 1198);
    EXPECT_GT(balance.json["user"]["lifetimeTokens"].get<int64_t>(), 0);
    EXPECT_EQ(balance.json["companyBalance"], 1200);

    signUpTrial("tia@trial.test");
    Client trial = signedIn({"tia@trial.test", "trial-password-1"});
    trial.post("/api/chat/orc", Json{{"message", "pool"}});
    EXPECT_EQ(trial.get("/api/v1/credits/balance").json["companyBalance"], 999);
}

TEST_F(ServiceTest, AnEmptyBalanceRefusesChatWith402AndStoresNothing)
{
    Client client = signedIn(broke);
    EXPECT_TRUE(refused(client.post("/api/chat/orc", Json{{"message", "hello"}}), 402));
    EXPECT_EQ(userBalance(client), 0);
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM turns"), 0);
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM conversations"), 0);
}

TEST_F(ServiceTest, ConcurrentChatsNeverSpendMoreThanTheBalance)
{
    execute("UPDATE users SET balance = 5 WHERE email = 'low@nimbo.test'");
    const std::string cookie = signedIn(low).cookie();
    std::vector<std::future<int>> statuses;
    for (int i = 0; i < 12; ++i) {
        statuses.push_back(std::async(std::launch::async, [&] {
            Client client(service->port());
            client.setCookie(cookie);
            return client.post("/api/chat/orc", Json{{"message", "race"}}).status;
        }));
    }
    int ok = 0;
    int refusedCount = 0;
    for (auto &status : statuses) {
        const int value = status.get();
        ok += value == 200;
        refusedCount += value == 402;
    }
    EXPECT_EQ(ok, 5);
    EXPECT_EQ(refusedCount, 7);
    EXPECT_EQ(queryNumber("SELECT balance FROM users WHERE email = 'low@nimbo.test'"), 0);
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM turns"), 10);
}

TEST_F(ServiceTest, ChatRefusesAConversationOfAnotherUser)
{
    const std::string id = signedIn(demo).post("/api/chat/orc", Json{{"message", "mine"}}).json["conversationId"];
    Client other = signedIn(low);
    EXPECT_TRUE(refused(other.post("/api/chat/orc", Json{{"message", "yours?"}, {"conversationId", id}}), 404));
    EXPECT_TRUE(refused(other.post("/api/chat/orc", Json{{"message", "made up"}, {"conversationId", "conv_nope"}}), 404));
    EXPECT_EQ(userBalance(other), 300);
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM turns"), 2);
}

TEST_F(ServiceTest, ChatRefusesMalformedRequestsWithoutCharging)
{
    Client client = signedIn(demo);
    const Json turn{{"role", "user"}, {"content", "x"}};
    const Json bodies[] = {
        Json::object(),
        Json{{"message", 7}},
        Json{{"message", ""}},
        Json{{"message", " \n\t"}},
        Json{{"message", "hi"}, {"mode", "other"}},
        Json{{"message", "hi"}, {"mode", 1}},
        Json{{"message", "hi"}, {"history", "none"}},
        Json{{"message", "hi"}, {"history", Json::array({"text"})}},
        Json{{"message", "hi"}, {"history", Json::array({Json{{"role", "user"}}})}},
        Json{{"message", "hi"}, {"history", Json::array({Json{{"role", 1}, {"content", "x"}}})}},
        Json{{"message", "hi"}, {"history", Json::array({Json{{"role", "robot"}, {"content", "x"}}})}},
        Json{{"message", "hi"}, {"history", Json(std::vector<Json>(101, turn))}},
        Json{{"message", "hi"}, {"conversationId", 12}},
        Json{{"message", std::string(33 * 1024, 'a')}},
    };
    for (const Json &body : bodies)
        EXPECT_TRUE(refused(client.post("/api/chat/orc", body), 400)) << body.dump().substr(0, 120);
    EXPECT_EQ(userBalance(client), 1200);
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM turns"), 0);
}

} // namespace
} // namespace nimbo::service_test
