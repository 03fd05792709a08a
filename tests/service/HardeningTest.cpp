// Bad input of every kind gets a 4xx with a JSON "error" text; the flags that make an
// instance fail or slow down on purpose; the public routes; the command line.

#include "ServiceTest.h"

#include <chrono>
#include <fstream>

#include <sys/stat.h>

namespace nimbo::service_test {
namespace {

// Every POST path with a body the service reads, as a super-admin may call it.
const char *const postPaths[] = {
    "/api/auth/local-login",
    "/api/auth/forgot-password",
    "/api/clients/signup",
    "/api/chat/orc",
    "/api/v1/learning-sources/calendar/connect",
    "/api/v1/learning-sources/calendar/disconnect?purge=false",
    "/api/v1/learning-sources/calendar/sync",
    "/api/superadmin/deploy",
};

TEST_F(ServiceTest, MalformedBodiesAreRefusedOnEveryPathAndNothingIsLost)
{
    Client client = signedIn(admin);
    const std::string deep = std::string(5000, '[') + std::string(5000, ']');
    const std::string bodies[] = {"{", "{\"message\": }", "[]", "\"text\"", "42", "null", "{\"a\":1}x",
                                  deep, std::string("{\"message\":\"\xff\xfe\"}"), std::string("{\"k\":\"a\0b", 9)};
    for (const char *path : postPaths) {
        for (const std::string &body : bodies) {
            const Reply reply = client.send("POST", path, body);
            EXPECT_TRUE(refused(reply, 400)) << path << " with " << body.substr(0, 40);
        }
        EXPECT_TRUE(refused(client.send("POST", path, "{}", "text/plain"), 415)) << path;
    }
    EXPECT_EQ(client.get("/api/auth/me").json["email"], "admin@nimbo.test");
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM users"), 4);
    EXPECT_EQ(queryNumber("SELECT SUM(balance) FROM users"), 1500);
}

TEST_F(ServiceTest, BodiesOverOneMebibyteAreRefusedWith413)
{
    Client client = signedIn(demo);
    const std::string huge = "{\"message\":\"" + std::string(1024 * 1024, 'a') + "\"}";
    EXPECT_TRUE(refused(client.send("POST", "/api/chat/orc", huge), 413));
    const std::string justUnder = "{\"message\":\"hi\",\"pad\":\"" + std::string(1024 * 1024 - 40, 'a') + "\"}";
    EXPECT_EQ(client.send("POST", "/api/chat/orc", justUnder).status, 200);
    EXPECT_EQ(client.get("/api/v1/credits/balance").json["user"]["balance"], 1199);
}

TEST_F(ServiceTest, ChunkedBodiesAreRefusedWith411)
{
    httplib::Client raw("127.0.0.1", service->port());
    const auto result = raw.Post(
        "/api/auth/forgot-password",
        [](size_t offset, httplib::DataSink &sink) {
            if (offset == 0)
                sink.write("{\"email\":\"a@b.c\"}", 17);
            else
                sink.done();
            return true;
        },
        "application/json");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 411);
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM password_reset_requests"), 0);
    EXPECT_EQ(Client(service->port()).get("/api/health").status, 200);
}

TEST_F(ServiceTest, UnknownPathsAre404AndWrongMethodsAre405)
{
    Client client = signedIn(demo);
    for (const char *path : {"/", "/api", "/api/auth/me/extra", "/api/v1/learning-sources/calendar", "/models",
                             "/api/superadmin/deploy/status/1"})
        EXPECT_TRUE(refused(client.get(path), 404)) << path;
    const Reply getLogin = client.get("/api/auth/local-login");
    EXPECT_TRUE(refused(getLogin, 405));
    EXPECT_EQ(getLogin.headers.find("Allow")->second, "POST");
    EXPECT_TRUE(refused(client.send("DELETE", "/api/auth/me"), 405));
    EXPECT_TRUE(refused(client.send("PUT", "/api/chat/orc", "{}"), 405));
    EXPECT_TRUE(refused(client.send("PATCH", "/api/v1/learning-sources/calendar/sync", "{}"), 405));
    EXPECT_TRUE(refused(client.post("/api/v1/credits/balance", Json::object()), 405));
    EXPECT_TRUE(refused(client.send("BREW", "/api/auth/me"), 400));
    EXPECT_TRUE(refused(client.get("/" + std::string(9000, 'a')), 414));
}

TEST_F(ServiceTest, FailStatusAnswersEveryRequestWithThatStatus)
{
    TempFolder other;
    ServiceInstance failing(other.path(), {"--demo", "--fail-status", "503"});
    Client client(failing.port());
    client.setKeepAlive(true);
    EXPECT_FALSE(client.signIn(demo.email, demo.password));
    for (const char *path : {"/api/health", "/api/auth/me", "/models/phi3-mini-int4.mlpackage.zip", "/nowhere"})
        EXPECT_TRUE(refused(client.get(path), 503)) << path;
    // The same kept-alive connection stays in step after refused bodies.
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(refused(client.post("/api/chat/orc", Json{{"message", "hi"}}), 503));
}

TEST_F(ServiceTest, DelayHoldsEveryAnswerBack)
{
    TempFolder other;
    ServiceInstance slow(other.path(), {"--delay-ms", "300"});
    Client client(slow.port());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.get("/api/health").status, 200);
    EXPECT_TRUE(refused(client.get("/nowhere"), 404));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(600));
}

TEST_F(ServiceTest, LatestVersionAnswersTheConfiguredVersionAndStoreUrl)
{
    Client client(service->port());
    const Reply reply = client.get("/api/agent/latest-version?app=nimbo-ios&os=ios");
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(reply.json["version"], NIMBO_PROJECT_VERSION);
    EXPECT_EQ(reply.json["url"], service->base() + "/store/nimbochat");
    EXPECT_EQ(client.get("/store/nimbochat").status, 200);
    EXPECT_EQ(client.get("/account/billing").status, 200);
    EXPECT_TRUE(refused(client.get("/api/agent/latest-version"), 400));
    EXPECT_TRUE(refused(client.get("/api/agent/latest-version?app=other&os=ios"), 404));

    TempFolder other;
    ServiceInstance newer(other.path(), {"--latest-version", "9.1.0", "--store-url", "https://store.example/nimbo"});
    const Reply offered = Client(newer.port()).get("/api/agent/latest-version?app=nimbo-ios&os=ios");
    EXPECT_EQ(offered.json["version"], "9.1.0");
    EXPECT_EQ(offered.json["url"], "https://store.example/nimbo");
}

TEST_F(ServiceTest, ModelArchivesAreServedFromTheDataFolderOnly)
{
    Client client(service->port());
    const char *path = "/models/phi3-mini-int4.mlpackage.zip";
    EXPECT_TRUE(refused(client.get(path), 404));
    std::string bytes(300 * 1024, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7);
    std::ofstream(data.path() / "models" / "phi3-mini-int4.mlpackage.zip", std::ios::binary) << bytes;
    const Reply archive = client.get(path);
    EXPECT_EQ(archive.status, 200);
    EXPECT_TRUE(archive.body == bytes) << archive.body.size() << " bytes";
    EXPECT_EQ(archive.headers.find("Content-Type")->second, "application/zip");

    std::filesystem::create_symlink(databaseFile(), data.path() / "models" / "db.zip");
    std::filesystem::create_directory(data.path() / "models" / "folder");
    for (const char *escape : {"/models/db.zip", "/models/..%2Fnimbo-service.db", "/models/%2e%2e/nimbo-service.db",
                               "/models/../nimbo-service.db", "/models/.hidden", "/models/folder", "/models/nimbo-service.db"})
        EXPECT_TRUE(refused(client.get(escape), 404)) << escape;
}

TEST(ServiceFiles, DataFolderAndDatabaseAreReadableByTheOwnerOnly)
{
    TempFolder parent;
    const auto folder = parent.path() / "data";
    std::filesystem::create_directory(folder);
    std::filesystem::permissions(folder, std::filesystem::perms::all);
    ServiceInstance instance(folder, {"--demo"});
    Client client(instance.port());
    ASSERT_TRUE(client.signIn(demo.email, demo.password));
    const auto modeOf = [](const std::filesystem::path &path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0u;
    };
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(folder / "models"), 0700u);
    for (const char *file : {"nimbo-service.db", "nimbo-service.db-wal", "nimbo-service.db-shm"})
        EXPECT_EQ(modeOf(folder / file), 0600u) << file;
}

TEST(ServiceCommandLine, RefusesNonLoopbackAddressesAndBadFlags)
{
    TempFolder data;
    const std::string dir = data.path().string();
    std::string errors;
    EXPECT_EQ(runProgram({"--listen", "0.0.0.0:0", "--data", dir}, 10, &errors), 2);
    EXPECT_NE(errors.find("--allow-remote"), std::string::npos) << errors;
    const std::vector<std::vector<std::string>> bad = {
        {"--data", dir},
        {"--listen", "127.0.0.1:0"},
        {"--listen", "127.0.0.1", "--data", dir},
        {"--listen", "127.0.0.1:70000", "--data", dir},
        {"--listen", "127.0.0.1:0", "--data", dir, "--fail-status", "200"},
        {"--listen", "127.0.0.1:0", "--data", dir, "--delay-ms", "-1"},
        {"--listen", "127.0.0.1:0", "--data", dir, "--deploy-step-seconds", "x"},
        {"--listen", "127.0.0.1:0", "--data", dir, "--store-url", "ftp://x"},
        {"--listen", "127.0.0.1:0", "--data", dir, "--latest-version"},
        {"--listen", "127.0.0.1:0", "--data", dir, "--verbose"},
    };
    for (const auto &args : bad)
        EXPECT_EQ(runProgram(args, 10), 2) << args.back();
    EXPECT_FALSE(std::filesystem::exists(data.path() / "nimbo-service.db"));
}

} // namespace
} // namespace nimbo::service_test
