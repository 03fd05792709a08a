// Hostile and malformed requests get a clear 4xx with a JSON "error" text and cannot hold the
// service up; the command line; public routes; model archives; two instances on one data
// folder, and an instance killed in the middle of writes.

#include "ServiceTest.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <numeric>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace nimbo::service_test {
namespace {

// Every POST path with a body the service reads, as a super-admin may call it.
const char *const postPaths[] = {
    "/api/auth/local-login", "/api/auth/forgot-password", "/api/clients/signup", "/api/chat/orc",
    "/api/v1/learning-sources/calendar/connect", "/api/v1/learning-sources/calendar/disconnect?purge=true",
    "/api/v1/learning-sources/calendar/sync", "/api/superadmin/deploy", "/api/superadmin/signup-requests/1/approve",
};

TEST_F(ServiceTest, MalformedUndeclaredOrOversizedRequestsAreRefusedChangeNothingAndAreLoggedEscaped)
{
    Client client = signedIn(admin);
    const std::string bodies[] = {"{", "[]", "42", "{\"a\":1}x", std::string(5000, '[') + std::string(5000, ']'),
                                  "{\"message\":\"\xff\xfe\"}", std::string("{\"k\":\"a\0b", 9),
                                  std::string("{\"a\":1}\0garbage", 15)};
    for (const char *path : postPaths) {
        for (const std::string &body : bodies)
            EXPECT_TRUE(refused(client.send("POST", path, body), 400)) << path << " with " << body.substr(0, 40);
        // A web form can send these without asking first; only JSON changes state.
        for (const auto &[body, type] : {std::pair("", ""), {"", "text/plain"}, {"{}", "text/plain"}, {"{}", "application/json-patch+json"}})
            EXPECT_TRUE(refused(client.send("POST", path, body, type), 415, "Send the request as application/json.")) << path << " as " << type;
        const Reply packed = client.send("POST", path, std::string(100000, '\0'), "application/json", {{"Content-Encoding", "gzip"}});
        EXPECT_TRUE(refused(packed, 415, "Send the body without a content coding.")) << path;
    }
    EXPECT_EQ(client.send("POST", "/api/v1/learning-sources/calendar/connect", "", "Application/JSON; charset=utf-8").json["connected"], true);
    EXPECT_TRUE(refused(client.send("POST", "/api/chat/orc", "{\"message\":\"" + std::string(1 << 20, 'a') + "\"}"), 413,
                        "The request body is larger than 1 MiB."));
    EXPECT_EQ(client.send("POST", "/api/chat/orc", "{\"message\":\"hi\",\"pad\":\"" + std::string((1 << 20) - 25, 'a') + "\"}").status, 200);
    EXPECT_TRUE(refused(client.send("POST", "/api/auth/forgot-password", "{}", "application/json", {{"Transfer-Encoding", "chunked"}}), 411));
    // Request text reaches the log escaped: it cannot forge lines or send terminal commands.
    EXPECT_TRUE(refused(client.send("GE\x1b[31mT", "/api/health"), 400));
    const auto logged = [&] { return service->output().find("GE\\x1B[31mT ") != std::string::npos; };
    for (int i = 0; i < 100 && !logged(); ++i) // the line is written just after the answer
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(logged()) << service->output();
    EXPECT_EQ(service->output().find('\x1b'), std::string::npos);
    EXPECT_EQ(queryNumber("SELECT (SELECT COUNT(*) FROM users) + (SELECT COUNT(*) FROM deploy_runs) + (SELECT COUNT(*) FROM password_reset_requests)"), 4);
}

// The command line sets the offered version, makes an instance fail and delay every answer,
// and is refused when it is not whole or valid.
TEST_F(ServiceTest, TheCommandLineSetsTheOfferedVersionOrFailureAndDelayAndRefusesBadFlags)
{
    Client client(service->port());
    EXPECT_EQ(client.get("/api/agent/latest-version?app=nimbo-ios&os=ios").json,
              (Json{{"version", NIMBO_PROJECT_VERSION}, {"url", service->base() + "/store/nimbochat"}}));
    EXPECT_EQ(client.get("/store/nimbochat").status + client.get("/account/billing").status, 400);
    EXPECT_TRUE(refused(client.get("/api/agent/latest-version"), 400));
    EXPECT_TRUE(refused(client.get("/api/agent/latest-version?app=other&os=ios"), 404));
    TempFolder other;
    ServiceInstance newer(other.path(), {"--latest-version", "9.1.0", "--store-url", "https://store.example/nimbo"});
    EXPECT_EQ(Client(newer.port()).get("/api/agent/latest-version?app=nimbo-ios&os=ios").json,
              (Json{{"version", "9.1.0"}, {"url", "https://store.example/nimbo"}}));
    EXPECT_FALSE(Client(newer.port()).signIn(demo.email, demo.password)); // the demo accounts come only with --demo
    ServiceInstance failing(data.path(), {"--demo", "--fail-status", "503", "--delay-ms", "300"});
    Client failed(failing.port());
    failed.setKeepAlive(true);
    const auto start = std::chrono::steady_clock::now();
    for (const char *path : {"/api/health", "/models/phi3-mini-int4.mlpackage.zip", "/nowhere"})
        EXPECT_TRUE(refused(failed.get(path), 503)) << path;
    for (int i = 0; i < 3; ++i) // the kept-alive connection stays in step after refused bodies
        EXPECT_TRUE(refused(failed.post("/api/chat/orc", Json{{"message", "hi"}}), 503));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1800));

    std::string errors;
    std::string output;
    EXPECT_EQ(runProgram({"--help"}, 10, &errors, &output), 0);
    EXPECT_EQ(output.rfind("usage: nimbo-service --listen HOST:PORT --data DIR", 0), 0u) << output << errors;
    const std::string dir = (other.path() / "not-made").string();
    EXPECT_EQ(runProgram({"--listen", "0.0.0.0:0", "--data", dir}, 10, &errors), 2);
    EXPECT_NE(errors.find("--allow-remote"), std::string::npos) << errors;
    const std::vector<std::vector<std::string>> bad = {
        {"--data", dir}, {"--listen", "127.0.0.1:0"}, {"--listen", "127.0.0.1", "--data", dir}, {"--listen", "127.0.0.1:70000", "--data", dir},
        {"--listen", "127.0.0.1:0", "--data", dir, "--fail-status", "200"}, {"--listen", "127.0.0.1:0", "--data", dir, "--delay-ms", "-1"},
        {"--listen", "127.0.0.1:0", "--data", dir, "--store-url", "ftp://x"}, {"--listen", "127.0.0.1:0", "--data", dir, "--verbose"}};
    for (const auto &args : bad)
        EXPECT_EQ(runProgram(args, 10), 2) << args.back();
    EXPECT_FALSE(std::filesystem::exists(dir));
    // A port in use is refused, never shared with the instance that has it.
    EXPECT_EQ(runProgram({"--listen", "127.0.0.1:" + std::to_string(service->port()), "--data", (other.path() / "second").string()}, 10, &errors), 1);
    EXPECT_NE(errors.find("cannot listen"), std::string::npos) << errors;
}

TEST_F(ServiceTest, ModelArchivesAreRegularFilesOfTheModelsFolderServedInRanges)
{
    Client client(service->port(), 5);
    const char *path = "/models/phi3-mini-int4.mlpackage.zip";
    EXPECT_TRUE(refused(client.get(path), 404));
    std::string bytes(200000, '\0');
    std::iota(bytes.begin(), bytes.end(), 0);
    const auto models = data.path() / "models";
    std::ofstream(models / "phi3-mini-int4.mlpackage.zip", std::ios::binary) << bytes;
    struct Case { const char *range; int status; const char *contentRange; size_t first, length; };
    for (const Case &c : {Case{"", 200, "", 0, 200000}, {"bytes=0-99", 206, "bytes 0-99/200000", 0, 100},
                          {"bytes=199990-", 206, "bytes 199990-199999/200000", 199990, 10},
                          {"bytes=-10", 206, "bytes 199990-199999/200000", 199990, 10},
                          {"bytes=100-300000", 206, "bytes 100-199999/200000", 100, 199900},
                          {"bytes=0-9,20-29", 200, "", 0, 200000}, {"items=0-1", 200, "", 0, 200000},
                          {"bytes=300000-", 416, "bytes */200000", 0, 0}}) {
        const Reply reply = client.send("GET", path, "", "", c.range[0] ? httplib::Headers{{"Range", c.range}} : httplib::Headers{});
        EXPECT_EQ(reply.status, c.status) << c.range;
        EXPECT_EQ(header(reply, "Content-Range"), c.contentRange) << c.range;
        EXPECT_TRUE(c.status == 416 || reply.body == bytes.substr(c.first, c.length)) << c.range << ": " << reply.body.size();
    }
    EXPECT_EQ(header(client.get(path), "Content-Type"), "application/zip");

    ASSERT_EQ(::mkfifo((models / "pipe.zip").c_str(), 0600), 0);
    std::ofstream(data.path() / "outside") << "not for download";
    std::filesystem::create_hard_link(data.path() / "outside", models / "linked.zip");
    std::filesystem::create_symlink(models / "phi3-mini-int4.mlpackage.zip", models / "symlink.zip");
    std::filesystem::create_directory(models / "folder");
    for (const char *file : {"pipe.zip", "linked.zip", "symlink.zip", "..%2Fnimbo-service.db", "%2e%2e/nimbo-service.db", ".hidden", "folder"})
        EXPECT_TRUE(refused(client.get(std::string("/models/") + file), 404)) << file;
    std::filesystem::remove_all(models); // the models folder made a link to the data folder itself
    std::filesystem::create_directory_symlink(data.path(), models);
    for (const char *file : {"/models/nimbo-service.db", "/models/nimbo-service.db-wal"})
        EXPECT_TRUE(refused(client.get(file), 404)) << file;
}

// Clients that send their request head a byte a second are cut off after a bounded time, and
// other clients are served all the while.
TEST_F(ServiceTest, SlowClientsAreCutOffWhileOthersAreServed)
{
    const std::string head = "GET /api/health HTTP/1.1\r\nX-Slow: " + std::string(100, 'a');
    std::vector<int> slow(40);
    std::generate(slow.begin(), slow.end(), [this] { return connectToLoopback(service->port()); });
    const auto start = std::chrono::steady_clock::now();
    auto open = slow.size();
    for (size_t sent = 0; open > 0 && sent < 25; ++sent) {
        open = std::count_if(slow.begin(), slow.end(), [&](int fd) { return sendSlowly(fd, head[sent]); });
        EXPECT_EQ(Client(service->port(), 3).get("/api/health").status, 200) << sent << " s";
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    EXPECT_EQ(open, 0u);
    EXPECT_LE(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    std::for_each(slow.begin(), slow.end(), ::close);
}

// Two instances start together on a fresh folder open to all, create the demo once, make the
// folder owner-only and share every record.
TEST_F(ServiceTest, TwoInstancesOnOneDataFolderServeTheSameAccounts)
{
    TempFolder fresh;
    std::filesystem::permissions(fresh.path(), std::filesystem::perms::all);
    auto starting = std::async(std::launch::async, [&] { return std::make_unique<ServiceInstance>(fresh.path()); });
    service = std::make_unique<ServiceInstance>(fresh.path());
    const auto second = starting.get();
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
    std::vector<std::vector<std::string>> acknowledged(6); // by writer
    std::atomic<int> acknowledgements{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < 6; ++w) {
        writers.emplace_back([&, w, port = w % 2 ? survivor->port() : service->port()] {
            Client client(port, 5);
            client.setCookie(cookie);
            for (int i = 0; i < 200; ++i) {
                const std::string message = "w" + std::to_string(w) + "-" + std::to_string(i);
                if (client.post("/api/chat/orc", Json{{"message", message}}).status == 200) {
                    acknowledged[w].push_back(message);
                    ++acknowledgements;
                }
            }
        });
    }
    for (int i = 0; i < 6000 && acknowledgements < 150; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    service->kill();
    for (auto &writer : writers)
        writer.join();
    survivor.reset();

    EXPECT_EQ(queryDatabase(databaseFile(), "PRAGMA integrity_check"), "ok");
    EXPECT_GE(acknowledgements.load(), 150);
    for (const auto &messages : acknowledged) {
        for (const std::string &message : messages)
            EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM turns WHERE role = 'user' AND content = '" + message + "'"), 1) << message;
    }
    service = std::make_unique<ServiceInstance>(data.path());
    const int64_t replies = queryNumber("SELECT COUNT(*) FROM turns WHERE role = 'assistant'").value_or(-1);
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM turns WHERE role = 'user'"), replies);
    EXPECT_EQ(signedIn(demo).get("/api/v1/credits/balance").json["user"]["balance"], 1200 - replies);
}

} // namespace
} // namespace nimbo::service_test
