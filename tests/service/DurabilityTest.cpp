// Two instances on one data folder, and an instance killed in the middle of writes.

#include "ServiceTest.h"

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

namespace nimbo::service_test {
namespace {

std::string integrityOf(const std::filesystem::path &file)
{
    return queryDatabase(file, "PRAGMA integrity_check").value_or("no answer");
}

TEST_F(ServiceTest, TwoInstancesOnOneDataFolderServeTheSameAccounts)
{
    ServiceInstance second(data.path(), {"--demo"});
    Client onFirst = signedIn(demo);
    Client onSecond(second.port());
    onSecond.setCookie(onFirst.cookie());
    EXPECT_EQ(onSecond.get("/api/auth/me").json["email"], "demo@nimbo.test");

    const std::string id = onFirst.post("/api/chat/orc", Json{{"message", "started here"}}).json["conversationId"];
    const Reply continued = onSecond.post("/api/chat/orc", Json{{"message", "went on there"}, {"conversationId", id}});
    ASSERT_EQ(continued.status, 200) << continued.body;
    EXPECT_EQ(continued.json["node"], "127.0.0.1:" + std::to_string(second.port()));
    EXPECT_NE(continued.json["note"].get<std::string>().find("4 stored turns"), std::string::npos);
    EXPECT_EQ(onFirst.get("/api/v1/credits/balance").json["user"]["balance"], 1198);

    Client adminFirst = signedIn(admin);
    const std::string since = adminFirst.post("/api/superadmin/deploy", Json{{"environment", "test"}}).json["dispatchedAtUtc"];
    Client adminSecond(second.port());
    adminSecond.setCookie(adminFirst.cookie());
    EXPECT_EQ(adminSecond.get("/api/superadmin/deploy/status?since=" + since + "&take=3").json,
              adminFirst.get("/api/superadmin/deploy/status?since=" + since + "&take=3").json);
}

TEST(ServiceStart, TwoInstancesStartingTogetherOnAFreshFolderCreateTheDemoOnce)
{
    TempFolder data;
    std::unique_ptr<ServiceInstance> first;
    std::unique_ptr<ServiceInstance> second;
    std::thread starter([&] { second = std::make_unique<ServiceInstance>(data.path(), std::vector<std::string>{"--demo"}); });
    first = std::make_unique<ServiceInstance>(data.path(), std::vector<std::string>{"--demo"});
    starter.join();
    for (const ServiceInstance *instance : {first.get(), second.get()}) {
        Client client(instance->port());
        EXPECT_TRUE(client.signIn(demo.email, demo.password));
        EXPECT_TRUE(client.signIn(admin.email, admin.password));
    }
    EXPECT_EQ(integrityOf(data.path() / "nimbo-service.db"), "ok");
}

// Writers keep chatting and syncing on both instances while one of them is killed with
// SIGKILL. Every write that was acknowledged must be there afterwards.
TEST_F(ServiceTest, AnInstanceKilledMidWriteLosesNoAcknowledgedWrite)
{
    auto survivor = std::make_unique<ServiceInstance>(data.path(), std::vector<std::string>{"--demo"});
    const std::string cookie = signedIn(demo).cookie();
    Client setup(service->port());
    setup.setCookie(cookie);
    ASSERT_EQ(setup.post("/api/v1/learning-sources/files/connect", Json::object()).status, 200);

    std::mutex mutex;
    std::map<std::string, int> acknowledgedReplies; // conversation id → acknowledged replies
    std::vector<std::string> acknowledgedItems;
    std::atomic<int> acknowledgements{0};
    std::atomic<bool> stop{false};
    const int victimPort = service->port();
    const int survivorPort = survivor->port();
    std::vector<std::thread> writers;
    for (int w = 0; w < 6; ++w) {
        writers.emplace_back([&, w] {
            Client client(w % 2 ? survivorPort : victimPort, 5);
            client.setCookie(cookie);
            std::optional<std::string> conversation;
            for (int i = 0; i < 400 && !stop; ++i) {
                if (w < 4) {
                    Json body{{"message", "write " + std::to_string(i)}};
                    if (conversation)
                        body["conversationId"] = *conversation;
                    const Reply reply = client.post("/api/chat/orc", body);
                    if (reply.status != 200)
                        continue;
                    conversation = reply.json["conversationId"].get<std::string>();
                    std::lock_guard lock(mutex);
                    ++acknowledgedReplies[*conversation];
                } else {
                    const std::string id = "w" + std::to_string(w) + "-" + std::to_string(i);
                    const Json items = Json::array({Json{{"itemId", id}, {"title", id}, {"content", "x"}}});
                    if (client.post("/api/v1/learning-sources/files/sync", Json{{"items", items}}).status != 200)
                        continue;
                    std::lock_guard lock(mutex);
                    acknowledgedItems.push_back(id);
                }
                ++acknowledgements;
            }
        });
    }
    while (acknowledgements < 150)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    service->kill();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
    for (auto &writer : writers)
        writer.join();
    survivor.reset();

    EXPECT_EQ(integrityOf(databaseFile()), "ok");
    service = std::make_unique<ServiceInstance>(data.path(), std::vector<std::string>{"--demo"});
    for (const auto &[id, count] : acknowledgedReplies) {
        const auto stored = queryNumber("SELECT COUNT(*) FROM turns WHERE conversation_id = '" + id + "'");
        // The kill may also have cut off the answer to one committed request per writer.
        EXPECT_GE(stored.value_or(0), 2 * count) << id;
        EXPECT_LE(stored.value_or(0), 2 * (count + 1)) << id;
    }
    for (const std::string &id : acknowledgedItems)
        EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM learning_items WHERE item_id = '" + id + "'"), 1) << id;
    // Every stored reply was paid for, and nothing else was.
    const int64_t replies = queryNumber("SELECT COUNT(*) FROM turns WHERE role = 'assistant'").value_or(-1);
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM turns WHERE role = 'user'"), replies);
    Client check = signedIn(demo);
    EXPECT_EQ(check.get("/api/v1/credits/balance").json["user"]["balance"], 1200 - replies);
}

} // namespace
} // namespace nimbo::service_test
