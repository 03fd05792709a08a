// Sign-in, the session cookie, the user record and the password-reset request.

#include "ServiceTest.h"

#include <regex>

namespace nimbo::service_test {
namespace {

TEST_F(ServiceTest, SignInSetsAnHttpOnlySessionCookieThatIdentifiesTheUser)
{
    Client client(service->port());
    const Reply reply = client.post("/api/auth/local-login", Json{{"email", demo.email}, {"password", demo.password}});
    ASSERT_EQ(reply.status, 200) << reply.body;
    const std::string setCookie = reply.headers.find("Set-Cookie")->second;
    EXPECT_TRUE(std::regex_search(setCookie, std::regex("^nimbo_session=[0-9a-f]{64};")));
    EXPECT_NE(setCookie.find("HttpOnly"), std::string::npos);
    EXPECT_NE(setCookie.find("SameSite=Lax"), std::string::npos);
    EXPECT_NE(setCookie.find("Path=/"), std::string::npos);

    client.setCookie(setCookie.substr(0, setCookie.find(';')));
    const Reply me = client.get("/api/auth/me");
    ASSERT_EQ(me.status, 200);
    EXPECT_EQ(me.json["email"], "demo@nimbo.test");
    EXPECT_EQ(me.json["name"], "Demo User");
    EXPECT_EQ(me.json["role"], "member");
    EXPECT_EQ(me.json["canChat"], true);
    EXPECT_TRUE(me.json["companyId"].is_number_integer());
    EXPECT_EQ(me.json["isSuperAdmin"], false);
}

TEST_F(ServiceTest, EmailIsMatchedWithoutCaseAndSurroundingSpace)
{
    Client client(service->port());
    EXPECT_TRUE(client.signIn("  Admin@Nimbo.TEST ", admin.password));
    const Reply me = client.get("/api/auth/me");
    EXPECT_EQ(me.json["email"], "admin@nimbo.test");
    EXPECT_EQ(me.json["isSuperAdmin"], true);
}

TEST_F(ServiceTest, WrongPasswordAndUnknownEmailAreRefusedAlikeWith401)
{
    Client client(service->port());
    const Reply wrongPassword = client.post("/api/auth/local-login", Json{{"email", demo.email}, {"password", "nope-nope-1"}});
    const Reply unknownEmail = client.post("/api/auth/local-login", Json{{"email", "who@nimbo.test"}, {"password", demo.password}});
    const Reply passwordOfAnother = client.post("/api/auth/local-login", Json{{"email", demo.email}, {"password", low.password}});
    for (const Reply &reply : {wrongPassword, unknownEmail, passwordOfAnother}) {
        EXPECT_TRUE(refused(reply, 401));
        EXPECT_EQ(reply.headers.count("Set-Cookie"), 0u);
        EXPECT_EQ(reply.body, wrongPassword.body);
    }
}

TEST_F(ServiceTest, SignInRefusesBodiesWithoutTheTwoStrings)
{
    Client client(service->port());
    for (const Json &body : {Json::object(), Json{{"email", demo.email}}, Json{{"password", demo.password}},
                             Json{{"email", 5}, {"password", demo.password}},
                             Json{{"email", demo.email}, {"password", Json::array()}},
                             Json{{"email", nullptr}, {"password", nullptr}}})
        EXPECT_TRUE(refused(client.post("/api/auth/local-login", body), 400)) << body;
}

TEST_F(ServiceTest, EverySignedInPathAnswers401WithoutAValidSession)
{
    struct Call {
        const char *method;
        const char *path;
        const char *body;
    };
    const Call calls[] = {
        {"GET", "/api/auth/me", ""},
        {"GET", "/api/v1/credits/balance", ""},
        {"GET", "/api/v1/credits/balance?companyId=1&email=demo@nimbo.test", ""},
        {"POST", "/api/chat/orc", R"({"message":"hi","mode":"orc","history":[]})"},
        {"GET", "/api/v1/learning-sources", ""},
        {"POST", "/api/v1/learning-sources/calendar/connect", "{}"},
        {"POST", "/api/v1/learning-sources/calendar/disconnect?purge=true", "{}"},
        {"POST", "/api/v1/learning-sources/calendar/sync", R"({"items":[]})"},
        {"POST", "/api/superadmin/deploy", R"({"environment":"test"})"},
        {"GET", "/api/superadmin/deploy/status?take=1", ""},
        {"GET", "/api/superadmin/deploy/runs/1", ""},
        {"POST", "/api/superadmin/signup-requests/1/approve", "{}"},
    };
    const std::string forged = "nimbo_session=" + std::string(64, 'a');
    for (const std::string &cookie : {std::string(), forged, std::string("nimbo_session=../../x"),
                                      std::string("other=1; nimbo_session=")}) {
        Client client(service->port());
        client.setCookie(cookie);
        for (const Call &call : calls)
            EXPECT_TRUE(refused(client.send(call.method, call.path, call.body), 401)) << call.path << " " << cookie;
    }
}

TEST_F(ServiceTest, SessionsOfOneUserAreIndependentOfAnother)
{
    Client first = signedIn(demo);
    Client second = signedIn(low);
    EXPECT_NE(first.cookie(), second.cookie());
    EXPECT_EQ(first.get("/api/auth/me").json["email"], "demo@nimbo.test");
    EXPECT_EQ(second.get("/api/auth/me").json["email"], "low@nimbo.test");
}

TEST_F(ServiceTest, ForgotPasswordAnswersAlikeForKnownAndUnknownAddressesAndRecordsBoth)
{
    Client client(service->port());
    const Reply known = client.post("/api/auth/forgot-password", Json{{"email", demo.email}});
    const Reply unknown = client.post("/api/auth/forgot-password", Json{{"email", "nobody@nimbo.test"}});
    EXPECT_EQ(known.status, 200);
    EXPECT_EQ(known.status, unknown.status);
    EXPECT_EQ(known.body, unknown.body);
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM password_reset_requests"), 2);
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM password_reset_requests WHERE user_id IS NOT NULL"), 1);
}

TEST_F(ServiceTest, ForgotPasswordRefusesAMissingOrBlankAddress)
{
    Client client(service->port());
    for (const Json &body : {Json::object(), Json{{"email", ""}}, Json{{"email", "   "}}, Json{{"email", true}}})
        EXPECT_TRUE(refused(client.post("/api/auth/forgot-password", body), 400)) << body;
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM password_reset_requests"), 0);
}

TEST_F(ServiceTest, DemoAccountsAreCreatedOnceAndKeptAcrossRestarts)
{
    Client client = signedIn(demo);
    ASSERT_EQ(client.post("/api/chat/orc", Json{{"message", "spend one"}}).status, 200);
    service.reset();
    service = std::make_unique<ServiceInstance>(data.path(), std::vector<std::string>{"--demo"});
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM users"), 4);
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM companies"), 1);
    Client again = signedIn(demo);
    EXPECT_EQ(again.get("/api/v1/credits/balance").json["user"]["balance"], 1199);
}

TEST_F(ServiceTest, WithoutDemoNoAccountExists)
{
    TempFolder empty;
    ServiceInstance plain(empty.path(), {});
    Client client(plain.port());
    EXPECT_FALSE(client.signIn(demo.email, demo.password));
}

} // namespace
} // namespace nimbo::service_test
