// Hostile and malformed requests get a clear 4xx with a JSON "error" text and cannot hold the
// service up; the flags that make an instance fail or slow down; public routes; the command line.

#include "ServiceTest.h"

#include <chrono>
#include <fstream>
#include <thread>

#include <arpa/inet.h>
#include <sys/socket.h>
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

std::string headerOf(const Reply &reply, const char *name)
{
    const auto found = reply.headers.find(name);
    return found == reply.headers.end() ? "" : found->second;
}

TEST_F(ServiceTest, MalformedOrUndeclaredBodiesAreRefusedOnEveryPathAndChangeNothing)
{
    Client client = signedIn(admin);
    const std::string deep = std::string(5000, '[') + std::string(5000, ']');
    const std::string bodies[] = {"{", "[]", "42", "{\"a\":1}x", deep, "{\"message\":\"\xff\xfe\"}", std::string("{\"k\":\"a\0b", 9)};
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
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM users"), 4);
    EXPECT_EQ(queryNumber("SELECT (SELECT COUNT(*) FROM deploy_runs) + (SELECT COUNT(*) FROM password_reset_requests)"), 0);
}

TEST_F(ServiceTest, BodiesOverTheLimitOrWithoutALengthAreRefused)
{
    Client client = signedIn(demo);
    const std::string huge = "{\"message\":\"" + std::string(1024 * 1024, 'a') + "\"}";
    EXPECT_TRUE(refused(client.send("POST", "/api/chat/orc", huge), 413, "The request body is larger than 1 MiB."));
    const std::string justUnder = "{\"message\":\"hi\",\"pad\":\"" + std::string(1024 * 1024 - 40, 'a') + "\"}";
    EXPECT_EQ(client.send("POST", "/api/chat/orc", justUnder).status, 200);
    EXPECT_EQ(balanceOf(client), 1199);
    httplib::Client raw("127.0.0.1", service->port());
    const auto chunked = raw.Post(
        "/api/auth/forgot-password",
        [](size_t offset, httplib::DataSink &sink) { return offset == 0 ? sink.write("{\"email\":\"a@b.c\"}", 17) : (sink.done(), true); },
        "application/json");
    ASSERT_TRUE(chunked);
    EXPECT_EQ(chunked->status, 411);
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM password_reset_requests"), 0);
}

TEST_F(ServiceTest, UnknownPathsAre404AndWrongMethodsAre405)
{
    Client client = signedIn(demo);
    for (const char *path : {"/", "/api/auth/me/extra", "/api/v1/learning-sources/calendar", "/models", "/api/superadmin/deploy/status/1"})
        EXPECT_TRUE(refused(client.get(path), 404)) << path;
    const Reply getLogin = client.get("/api/auth/local-login");
    EXPECT_TRUE(refused(getLogin, 405));
    EXPECT_EQ(headerOf(getLogin, "Allow"), "POST");
    for (const auto &[method, path] : {std::pair("DELETE", "/api/auth/me"), {"PUT", "/api/chat/orc"}, {"POST", "/api/v1/credits/balance"}})
        EXPECT_TRUE(refused(client.send(method, path, "{}"), 405)) << method << " " << path;
    EXPECT_TRUE(refused(client.send("BREW", "/api/auth/me"), 400));
    EXPECT_TRUE(refused(client.get("/" + std::string(9000, 'a')), 414));
}

// Request text reaches the log escaped: it cannot forge lines or send terminal commands.
TEST_F(ServiceTest, TheLogEscapesWhatTheRequestSent)
{
    Client client(service->port());
    EXPECT_TRUE(refused(client.send("GE\x1b[31mT", "/api/health"), 400));
    EXPECT_EQ(client.get("/api/health").status, 200);
    const std::string log = service->output();
    EXPECT_EQ(log.find('\x1b'), std::string::npos);
    EXPECT_NE(log.find("GE\\x1B[31mT "), std::string::npos) << log;
}

TEST_F(ServiceTest, FlagsFailOrDelayEveryAnswerOnPurpose)
{
    TempFolder other;
    ServiceInstance failing(other.path(), {"--demo", "--fail-status", "503", "--delay-ms", "300"});
    Client client(failing.port());
    client.setKeepAlive(true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.signIn(demo.email, demo.password));
    for (const char *path : {"/api/health", "/models/phi3-mini-int4.mlpackage.zip", "/nowhere"})
        EXPECT_TRUE(refused(client.get(path), 503)) << path;
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1200));
    for (int i = 0; i < 3; ++i) // the kept-alive connection stays in step after refused bodies
        EXPECT_TRUE(refused(client.post("/api/chat/orc", Json{{"message", "hi"}}), 503));
}

TEST_F(ServiceTest, LatestVersionAnswersTheConfiguredVersionAndStoreUrl)
{
    Client client(service->port());
    const Reply reply = client.get("/api/agent/latest-version?app=nimbo-ios&os=ios");
    EXPECT_EQ(reply.json, (Json{{"version", NIMBO_PROJECT_VERSION}, {"url", service->base() + "/store/nimbochat"}}));
    EXPECT_EQ(client.get("/store/nimbochat").status + client.get("/account/billing").status, 400);
    EXPECT_TRUE(refused(client.get("/api/agent/latest-version"), 400));
    EXPECT_TRUE(refused(client.get("/api/agent/latest-version?app=other&os=ios"), 404));
    TempFolder other;
    ServiceInstance newer(other.path(), {"--latest-version", "9.1.0", "--store-url", "https://store.example/nimbo"});
    EXPECT_EQ(Client(newer.port()).get("/api/agent/latest-version?app=nimbo-ios&os=ios").json,
              (Json{{"version", "9.1.0"}, {"url", "https://store.example/nimbo"}}));
}

TEST_F(ServiceTest, ModelArchivesAreRegularFilesOfTheModelsFolderServedInRanges)
{
    Client client(service->port(), 5);
    const char *path = "/models/phi3-mini-int4.mlpackage.zip";
    EXPECT_TRUE(refused(client.get(path), 404));
    std::string bytes(200000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7);
    const auto models = data.path() / "models";
    std::ofstream(models / "phi3-mini-int4.mlpackage.zip", std::ios::binary) << bytes;
    struct Case {
        const char *range;
        int status;
        const char *contentRange;
        size_t first, length;
    };
    for (const Case &c : {Case{"", 200, "", 0, 200000}, {"bytes=0-99", 206, "bytes 0-99/200000", 0, 100},
                          {"bytes=199990-", 206, "bytes 199990-199999/200000", 199990, 10},
                          {"bytes=-10", 206, "bytes 199990-199999/200000", 199990, 10},
                          {"bytes=100-300000", 206, "bytes 100-199999/200000", 100, 199900},
                          {"bytes=0-9,20-29", 200, "", 0, 200000}, {"bytes=300000-", 416, "bytes */200000", 0, 0}}) {
        const Reply reply = client.send("GET", path, "", "", c.range[0] ? httplib::Headers{{"Range", c.range}} : httplib::Headers{});
        EXPECT_EQ(reply.status, c.status) << c.range;
        EXPECT_EQ(headerOf(reply, "Content-Range"), c.contentRange) << c.range;
        EXPECT_TRUE(c.status == 416 || reply.body == bytes.substr(c.first, c.length)) << c.range << ": " << reply.body.size();
    }
    EXPECT_EQ(headerOf(client.get(path), "Content-Type"), "application/zip");

    ASSERT_EQ(::mkfifo((models / "pipe.zip").c_str(), 0600), 0);
    std::filesystem::create_hard_link(databaseFile(), models / "linked.zip");
    std::filesystem::create_symlink(databaseFile(), models / "db.zip");
    std::filesystem::create_directory(models / "folder");
    for (const char *refusedPath : {"/models/pipe.zip", "/models/linked.zip", "/models/db.zip", "/models/..%2Fnimbo-service.db",
                                    "/models/%2e%2e/nimbo-service.db", "/models/.hidden", "/models/folder", "/models/nimbo-service.db"})
        EXPECT_TRUE(refused(client.get(refusedPath), 404)) << refusedPath;
    std::filesystem::remove_all(models); // the models folder made a link to the data folder itself
    std::filesystem::create_directory_symlink(data.path(), models);
    for (const char *file : {"/models/nimbo-service.db", "/models/nimbo-service.db-wal"})
        EXPECT_TRUE(refused(client.get(file), 404)) << file;
    EXPECT_EQ(signedIn(demo).get("/api/auth/me").status, 200);
}

int connectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    return fd;
}

// Clients that send their request head a byte a second are cut off after a bounded time, and
// other clients are served all the while.
TEST_F(ServiceTest, SlowClientsAreCutOffWhileOthersAreServed)
{
    const std::string head = "GET /api/health HTTP/1.1\r\nX-Slow: " + std::string(100, 'a');
    std::vector<int> slow(40);
    std::generate(slow.begin(), slow.end(), [this] { return connectTo(service->port()); });
    std::vector<bool> cut(slow.size(), false);
    const auto start = std::chrono::steady_clock::now();
    for (size_t sent = 0; std::count(cut.begin(), cut.end(), false) > 0 && sent < 25; ++sent) {
        for (size_t i = 0; i < slow.size(); ++i) {
            char answer[256];
            const ssize_t got = ::recv(slow[i], answer, sizeof answer, MSG_DONTWAIT);
            cut[i] = cut[i] || got >= 0 || errno != EAGAIN || ::send(slow[i], &head[sent], 1, MSG_NOSIGNAL) != 1;
        }
        EXPECT_EQ(Client(service->port(), 3).get("/api/health").status, 200) << sent << " s";
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    EXPECT_EQ(std::count(cut.begin(), cut.end(), true), 40);
    EXPECT_LE(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    std::for_each(slow.begin(), slow.end(), ::close);
}

TEST(ServiceFiles, DataFolderAndDatabaseAreReadableByTheOwnerOnly)
{
    TempFolder parent;
    const auto folder = parent.path() / "data";
    std::filesystem::create_directory(folder);
    std::filesystem::permissions(folder, std::filesystem::perms::all);
    ServiceInstance instance(folder, {"--demo"});
    ASSERT_TRUE(Client(instance.port()).signIn(demo.email, demo.password));
    for (const char *file : {"", "models", "nimbo-service.db", "nimbo-service.db-wal", "nimbo-service.db-shm"}) {
        struct stat info {};
        EXPECT_EQ(::stat((folder / file).c_str(), &info) == 0 ? info.st_mode & 0777 : 0u, file[0] && file[0] != 'm' ? 0600u : 0700u) << file;
    }
}

TEST(ServiceCommandLine, PrintsItsUsageAndRefusesNonLoopbackAddressesAndBadFlags)
{
    std::string errors;
    std::string output;
    EXPECT_EQ(runProgram({"--help"}, 10, &errors, &output), 0);
    EXPECT_EQ(output.rfind("usage: nimbo-service --listen HOST:PORT --data DIR", 0), 0u) << output << errors;
    TempFolder data;
    const std::string dir = data.path().string();
    EXPECT_EQ(runProgram({"--listen", "0.0.0.0:0", "--data", dir}, 10, &errors), 2);
    EXPECT_NE(errors.find("--allow-remote"), std::string::npos) << errors;
    const std::vector<std::vector<std::string>> bad = {
        {"--data", dir}, {"--listen", "127.0.0.1:0"}, {"--listen", "127.0.0.1", "--data", dir}, {"--listen", "127.0.0.1:70000", "--data", dir},
        {"--listen", "127.0.0.1:0", "--data", dir, "--fail-status", "200"}, {"--listen", "127.0.0.1:0", "--data", dir, "--delay-ms", "-1"},
        {"--listen", "127.0.0.1:0", "--data", dir, "--store-url", "ftp://x"}, {"--listen", "127.0.0.1:0", "--data", dir, "--latest-version"},
        {"--listen", "127.0.0.1:0", "--data", dir, "--verbose"},
    };
    for (const auto &args : bad)
        EXPECT_EQ(runProgram(args, 10), 2) << args.back();
    EXPECT_FALSE(std::filesystem::exists(data.path() / "nimbo-service.db"));
}

} // namespace
} // namespace nimbo::service_test
