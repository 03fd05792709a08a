// Two instances on one data folder, and an instance killed in the middle of writes.

#include "ServiceTest.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace nimbo::service_test {
namespace {

// Two instances start together on a fresh folder open to all, create the demo once, make the
// folder owner-only and share every record.
TEST_F(ServiceTest, TwoInstancesOnOneDataFolderServeTheSameAccounts)
{
    TempFolder fresh;
    std::filesystem::permissions(fresh.path(), std::filesystem::perms::all);
    std::unique_ptr<ServiceInstance> second;
    std::thread starter([&] { second = std::make_unique<ServiceInstance>(fresh.path()); });
    service = std::make_unique<ServiceInstance>(fresh.path());
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
    using std::filesystem::perms;
    for (const auto &folder : {fresh.path(), fresh.path() / "models"})
        EXPECT_EQ(std::filesystem::status(folder).permissions(), perms::owner_all) << folder;
    for (const char *file : {"nimbo-service.db", "nimbo-service.db-wal", "nimbo-service.db-shm"})
        EXPECT_EQ(std::filesystem::status(fresh.path() / file).permissions(), perms::owner_read | perms::owner_write) << file;
}

// Writers keep chatting on both instances while one of them is killed with SIGKILL. Every
// message whose reply came back must be stored afterwards, and every stored reply paid for.
TEST_F(ServiceTest, AnInstanceKilledMidWriteLosesNoAcknowledgedWrite)
{
    auto survivor = std::make_unique<ServiceInstance>(data.path());
    const std::string cookie = signedIn(demo).cookie();
    std::mutex mutex;
    std::vector<std::string> acknowledged;
    std::atomic<int> acknowledgements{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int w = 0; w < 6; ++w) {
        writers.emplace_back([&, w, port = w % 2 ? survivor->port() : service->port()] {
            Client client(port, 5);
            client.setCookie(cookie);
            for (int i = 0; i < 400 && !stop; ++i) {
                const std::string message = "w" + std::to_string(w) + "-" + std::to_string(i);
                if (client.post("/api/chat/orc", Json{{"message", message}}).status != 200)
                    continue;
                std::lock_guard lock(mutex);
                acknowledged.push_back(message);
                ++acknowledgements;
            }
        });
    }
    for (int i = 0; i < 6000 && acknowledgements < 150; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    service->kill();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
    for (auto &writer : writers)
        writer.join();
    survivor.reset();

    EXPECT_EQ(queryDatabase(databaseFile(), "PRAGMA integrity_check"), "ok");
    ASSERT_GE(acknowledged.size(), 150u);
    for (const std::string &message : acknowledged)
        EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM turns WHERE role = 'user' AND content = '" + message + "'"), 1) << message;
    service = std::make_unique<ServiceInstance>(data.path());
    const int64_t replies = queryNumber("SELECT COUNT(*) FROM turns WHERE role = 'assistant'").value_or(-1);
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM turns WHERE role = 'user'"), replies);
    EXPECT_EQ(signedIn(demo).get("/api/v1/credits/balance").json["user"]["balance"], 1200 - replies);
}

} // namespace
} // namespace nimbo::service_test
