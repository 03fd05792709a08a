// Company sign-up: trials for new domains, pending requests for known ones, validation.

#include "ServiceTest.h"

#include <chrono>
#include <ctime>

namespace nimbo::service_test {
namespace {

// Seconds since the epoch of "YYYY-MM-DDTHH:MM:SS…Z".
int64_t epochSeconds(const std::string &iso)
{
    std::tm parts{};
    if (!strptime(iso.c_str(), "%Y-%m-%dT%H:%M:%S", &parts))
        return 0;
    return static_cast<int64_t>(timegm(&parts));
}

TEST_F(ServiceTest, ANewDomainGetsATrialWhoseAccountCanSignInAtOnce)
{
    const Json trial = signUpTrial("ada@acme.test");
    ASSERT_TRUE(trial["companyId"].is_number_integer());
    ASSERT_TRUE(trial["enrollmentToken"].is_string());
    EXPECT_FALSE(trial["enrollmentToken"].get<std::string>().empty());
    EXPECT_EQ(trial["plan"], "pro_trial");
    const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    EXPECT_NEAR(epochSeconds(trial["trialExpiresAt"]), now + 14 * 24 * 3600, 120);

    Client client = signedIn({"ada@acme.test", "trial-password-1"});
    const Reply me = client.get("/api/auth/me");
    EXPECT_EQ(me.json["companyId"], trial["companyId"]);
    EXPECT_EQ(me.json["name"], "Ada Acme");
    EXPECT_EQ(me.json["canChat"], true);
    const Reply balance = client.get("/api/v1/credits/balance");
    EXPECT_EQ(balance.json["companyPoolExists"], true);
    EXPECT_TRUE(balance.json["user"]["balance"].is_null());
}

TEST_F(ServiceTest, AKnownDomainGetsAPendingRequestThatAnApprovalCompletes)
{
    Client anonymous(service->port());
    const Reply pending = anonymous.post("/api/clients/signup", signupBody("new@nimbo.test"));
    ASSERT_EQ(pending.status, 202) << pending.body;
    EXPECT_FALSE(pending.json.contains("enrollmentToken"));
    EXPECT_FALSE(anonymous.signIn("new@nimbo.test", "trial-password-1"));

    const std::string approve = "/api/superadmin/signup-requests/" + pending.json["requestId"].dump() + "/approve";
    EXPECT_TRUE(refused(signedIn(demo).post(approve, Json::object()), 403));
    Client superAdmin = signedIn(admin);
    ASSERT_EQ(superAdmin.post(approve, Json::object()).status, 200);
    EXPECT_TRUE(refused(superAdmin.post(approve, Json::object()), 404));

    Client member = signedIn({"new@nimbo.test", "trial-password-1"});
    EXPECT_EQ(member.get("/api/auth/me").json["companyId"], signedIn(demo).get("/api/auth/me").json["companyId"]);
}

TEST_F(ServiceTest, ARegisteredOrPendingEmailIsRefusedWith409)
{
    Client client(service->port());
    EXPECT_TRUE(refused(client.post("/api/clients/signup", signupBody("demo@nimbo.test")), 409));
    EXPECT_TRUE(refused(client.post("/api/clients/signup", signupBody(" DEMO@Nimbo.Test")), 409));
    ASSERT_EQ(client.post("/api/clients/signup", signupBody("wait@nimbo.test")).status, 202);
    EXPECT_TRUE(refused(client.post("/api/clients/signup", signupBody("wait@nimbo.test")), 409));
    signUpTrial("first@fresh.test");
    EXPECT_TRUE(refused(client.post("/api/clients/signup", signupBody("first@fresh.test")), 409));
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM companies"), 2);
}

TEST_F(ServiceTest, SignupRefusesEachMissingOrMistypedKeyAndStoresNothing)
{
    Client client(service->port());
    const Json valid = signupBody("bob@bobco.test");
    for (const auto &[key, value] : valid.items()) {
        Json missing = valid;
        missing.erase(key);
        EXPECT_TRUE(refused(client.post("/api/clients/signup", missing), 400)) << "without " << key;
        for (const Json &wrong : {Json(42), Json(nullptr), Json::object(), Json(true)}) {
            Json mistyped = valid;
            mistyped[key] = wrong;
            EXPECT_TRUE(refused(client.post("/api/clients/signup", mistyped), 400)) << key << " = " << wrong;
        }
    }
    const std::pair<const char *, Json> badValues[] = {
        {"password", "seven-7"},             // 7 characters
        {"password", "ééééééé"},             // 7 characters in 14 bytes
        {"signupEmail", "bob.bobco.test"},   // no @
        {"signupEmail", "bob@@bobco.test"},  //
        {"signupEmail", "bob smith@bobco.test"},
        {"primaryDomain", "other.test"},     // not the e-mail's domain
        {"primaryDomain", "bob co.test"},
        {"companyName", "   "},
        {"signupName", ""},
        {"plan", "enterprise"},
        {"servicesRequested", Json::array()},
        {"servicesRequested", Json::array({7})},
        {"servicesRequested", "chat"},
    };
    for (const auto &[key, value] : badValues) {
        Json bad = valid;
        bad[key] = value;
        EXPECT_TRUE(refused(client.post("/api/clients/signup", bad), 400)) << key << " = " << value;
    }
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM companies"), 1);
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM users"), 4);
    EXPECT_EQ(client.post("/api/clients/signup", valid).status, 201);
}

TEST_F(ServiceTest, APasswordOfEightCharactersInAnyScriptIsAccepted)
{
    Client client(service->port());
    EXPECT_EQ(client.post("/api/clients/signup", signupBody("kim@kimco.test", "비밀번호비밀번호")).status, 201);
    EXPECT_TRUE(client.signIn("kim@kimco.test", "비밀번호비밀번호"));
}

} // namespace
} // namespace nimbo::service_test
