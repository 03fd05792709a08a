// Two instances on one data folder, and an instance killed in the middle of writes.

#include "ServiceTest.h"

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

namespace nimbo::service_test {
namespace {

// Two instances start together on a fresh folder, create the demo once and share every record.
TEST_F(ServiceTest, TwoInstancesOnOneDataFolderServeTheSameAccounts)
{
    TempFolder fresh;
    std::unique_ptr<ServiceInstance> second;
    std::thread starter([&] { second = std::make_unique<ServiceInstance>(fresh.path(), std::vector<std::string>{"--demo"}); });
    service = std::make_unique<ServiceInstance>(fresh.path(), std::vector<std::string>{"--demo"});
    starter.join();
    EXPECT_EQ(queryDatabase(fresh.path() / "nimbo-service.db", "SELECT COUNT(*) FROM users"), "4");
    Client onFirst = signedIn(demo);
    Client onSecond(second->port());
    onSecond.setCookie(onFirst.cookie());
    const std::string id = onFirst.post("/api/chat/orc", Json{{"message", "started here"}}).json["conversationId"];
    const Reply continued = onSecond.post("/api/chat/orc", Json{{"message", "went on there"}, {"conversationId", id}});
    ASSERT_EQ(continued.status, 200) << continued.body;
    EXPECT_EQ(continued.json["node"], "127.0.0.1:" + std::to_string(second->port()));
    EXPECT_NE(continued.json["note"].get<std::string>().find("4 stored turns"), std::string::npos);
    EXPECT_EQ(balanceOf(onFirst), 1198);
    Client adminFirst = signedIn(admin);
    Client adminSecond = signedIn(admin, second->port());
    const std::string since = adminFirst.post("/api/superadmin/deploy", Json{{"environment", "test"}}).json["dispatchedAtUtc"];
    const std::string status = "/api/superadmin/deploy/status?since=" + since + "&take=3";
    EXPECT_EQ(adminSecond.get(status).json, adminFirst.get(status).json);
}

// Writers keep chatting and syncing on both instances while one of them is killed with
// SIGKILL. Every write that was acknowledged must be there afterwards.
TEST_F(ServiceTest, AnInstanceKilledMidWriteLosesNoAcknowledgedWrite)
{
    auto survivor = std::make_unique<ServiceInstance>(data.path(), std::vector<std::string>{"--demo"});
    Client setup = signedIn(demo);
    ASSERT_EQ(setup.post("/api/v1/learning-sources/files/connect", Json::object()).status, 200);
    std::mutex mutex;
    std::map<std::string, int> acknowledgedReplies; // conversation id → acknowledged replies
    std::vector<std::string> acknowledgedItems;
    std::atomic<int> acknowledgements{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int w = 0; w < 6; ++w) {
        writers.emplace_back([&, w, port = w % 2 ? survivor->port() : service->port()] {
            Client client(port, 5);
            client.setCookie(setup.cookie());
            std::string conversation;
            for (int i = 0; i < 400 && !stop; ++i) {
                const std::string id = "w" + std::to_string(w) + "-" + std::to_string(i);
                Json chat{{"message", id}};
                if (!conversation.empty())
                    chat["conversationId"] = conversation;
                const Reply reply = w < 4 ? client.post("/api/chat/orc", chat)
                                          : client.post("/api/v1/learning-sources/files/sync",
                                                        Json{{"items", {Json{{"itemId", id}, {"title", id}, {"content", "x"}}}}});
                if (reply.status != 200)
                    continue;
                std::lock_guard lock(mutex);
                if (w < 4)
                    ++acknowledgedReplies[conversation = reply.json["conversationId"].get<std::string>()];
                else
                    acknowledgedItems.push_back(id);
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

    EXPECT_EQ(queryDatabase(databaseFile(), "PRAGMA integrity_check"), "ok");
    service = std::make_unique<ServiceInstance>(data.path(), std::vector<std::string>{"--demo"});
    for (const auto &[id, count] : acknowledgedReplies) {
        // The kill may also have cut off the answer to one committed request per writer.
        const int64_t stored = queryNumber("SELECT COUNT(*) FROM turns WHERE conversation_id = '" + id + "'").value_or(0);
        EXPECT_TRUE(stored >= 2 * count && stored <= 2 * (count + 1)) << id << ": " << stored << " turns, " << count << " replies";
    }
    for (const std::string &id : acknowledgedItems)
        EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM learning_items WHERE item_id = '" + id + "'"), 1) << id;
    // Every stored reply was paid for, and nothing else was.
    const int64_t replies = queryNumber("SELECT COUNT(*) FROM turns WHERE role = 'assistant'").value_or(-1);
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM turns WHERE role = 'user'"), replies);
    Client check = signedIn(demo);
    EXPECT_EQ(balanceOf(check), 1200 - replies);
}

} // namespace
} // namespace nimbo::service_test
