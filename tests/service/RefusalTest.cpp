// Every refusal of the service as a table: who asks, the request, the status and error text;
// refused requests change nothing.

#include "ServiceTest.h"

#include <map>

namespace nimbo::service_test {
namespace {

struct Refusal {
    const Account *as; // nullptr: not signed in
    const char *method;
    const char *path;
    const char *body;
    int status;
    const char *error = ""; // "": any non-empty text
    const char *idempotencyKey = nullptr; // the header, when given
};

const Account eve{"eve@evil.test", "trial-password-1"};
const std::string longKey(256, 'k');
const char *const badKey = "The Idempotency-Key header must be 1 to 255 printable ASCII characters.";

const Refusal refusals[] = {
    {nullptr, "POST", "/api/auth/local-login", R"({"email":"demo@nimbo.test","password":"nope-nope-1"})", 401, "Invalid email or password."},
    {nullptr, "POST", "/api/auth/local-login", R"({"email":"who@nimbo.test","password":"demo-password-1"})", 401, "Invalid email or password."},
    {nullptr, "POST", "/api/auth/forgot-password", R"({"email":"   "})", 400},
    {nullptr, "POST", "/api/clients/signup", R"({"companyName":"Demo","primaryDomain":"nimbo.test","signupName":"D","signupEmail":" DEMO@Nimbo.Test","password":"long-enough","plan":"pro_trial","servicesRequested":["chat"]})", 409, "An account with this email already exists."},
    {&demo, "GET", "/api/v1/credits/balance?companyId=2", "", 403},
    {&demo, "GET", "/api/v1/credits/balance?email=eve@evil.test", "", 403},
    {&eve, "GET", "/api/v1/credits/balance?email=nobody@nimbo.test", "", 403},
    {&eve, "GET", "/api/v1/credits/balance?companyId=12abc", "", 400},
    {&broke, "POST", "/api/chat/orc", R"({"message":"hello"})", 402, "You're out of credits for orchestrator chat — add credits on the billing page."},
    {&demo, "POST", "/api/chat/orc", R"({"message":" \n\t"})", 400},
    {&demo, "POST", "/api/chat/orc", R"({"message":"hi","mode":"other"})", 400},
    {&demo, "POST", "/api/chat/orc", R"({"message":"hi","history":[{"role":"robot","content":"x"}]})", 400},
    {&demo, "POST", "/api/chat/orc", R"({"message":"hi","conversationId":"conv_nope"})", 404},
    {&demo, "POST", "/api/chat/orc", R"({"message":"hi"})", 400, badKey, longKey.c_str()},
    {&demo, "POST", "/api/chat/orc", R"({"message":"hi"})", 400, badKey, "caf\xC3\xA9"},
    {&demo, "POST", "/api/chat/orc", R"({"message":"hi"})", 400, badKey, "a\x7F"},
    {&demo, "POST", "/api/chat/orc", R"({"message":"hi"})", 409, "A request with this Idempotency-Key is still being answered.", "pending"},
    {&demo, "POST", "/api/chat/orc", R"({"message":"hi"})", 422, "This Idempotency-Key was already used for a different request.", "answered"},
    {&broke, "POST", "/api/chat/orc", R"({"message":"hello"})", 402, "", "broke"}, // a refused first request keeps no key
    {&demo, "POST", "/api/v1/learning-sources/Calendar/connect", "{}", 404},
    {&demo, "POST", "/api/v1/learning-sources/calendar/disconnect?purge=yes", "{}", 400},
    {&demo, "POST", "/api/v1/learning-sources/calendar/sync", R"({"items":"e1"})", 400},
    {&demo, "POST", "/api/superadmin/deploy", R"({"environment":"test"})", 403, "Super-admin access required."},
    {&demo, "GET", "/api/superadmin/deploy/status?take=1", "", 403},
    {&demo, "GET", "/api/superadmin/deploy/runs/1", "", 403},
    {&demo, "POST", "/api/superadmin/signup-requests/1/approve", "{}", 403},
    {&admin, "POST", "/api/superadmin/deploy", R"({"environment":"PROD"})", 400},
    {&admin, "GET", "/api/superadmin/deploy/status?since=2026-13-01T00:00:00Z", "", 400},
    {&admin, "GET", "/api/superadmin/deploy/status?take=21", "", 400},
    {&admin, "GET", "/api/superadmin/deploy/runs/999", "", 404},
    {&admin, "GET", "/api/superadmin/deploy/runs/x", "", 400},
    {&demo, "GET", "/api/auth/me/extra", "", 404},
    {&demo, "POST", "/api/v1/credits/balance", "{}", 405},
    {&demo, "GET", "/api/auth/local-login", "", 405},
    {&demo, "BREW", "/api/auth/me", "", 400},
};

TEST_F(ServiceTest, EveryRefusalHasItsStatusAndTextAndChangesNothingAndEverySignedInPathNeedsASession)
{
    ASSERT_EQ(Client(service->port()).post("/api/clients/signup", signupBody(eve.email)).status, 201);
    // Two keys of demo's: one whose request is being answered, one answered for another body.
    queryDatabase(databaseFile(), "INSERT INTO idempotency_keys (user_id, key, request_digest, status, body, created_at) "
        "SELECT id, key, 'x', status, '{}', CAST((julianday('now') - 2440587.5) * 86400000 AS INTEGER) FROM users, "
        "(SELECT 'pending' AS key, NULL AS status UNION SELECT 'answered', 200) WHERE email = 'demo@nimbo.test'");
    std::map<const Account *, Client> clients;
    for (const Refusal &r : refusals) {
        if (!clients.count(r.as))
            clients.emplace(r.as, r.as ? signedIn(*r.as) : Client(service->port()));
        httplib::Headers headers;
        if (r.idempotencyKey)
            headers.emplace("Idempotency-Key", r.idempotencyKey);
        EXPECT_TRUE(refused(clients.at(r.as).send(r.method, r.path, r.body, "application/json", headers), r.status, r.error))
            << r.method << " " << r.path << " " << r.body << " " << (r.idempotencyKey ? r.idempotencyKey : "");
    }
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM idempotency_keys"), 2);
    EXPECT_EQ(header(clients.at(&demo).get("/api/auth/local-login"), "Allow"), "POST");
    EXPECT_TRUE(refused(clients.at(&demo).get("/" + std::string(9000, 'a')), 414));
    // Each of the seven sign-up keys missing, mistyped or invalid.
    Client &anonymous = clients.at(nullptr);
    const Json valid = signupBody("bob@bobco.test");
    std::vector<std::pair<std::string, Json>> bad = {{"password", "ééééééé"}, {"signupEmail", "bob@@bobco.test"},
        {"signupEmail", "bob smith@bobco.test"}, {"primaryDomain", "other.test"}, {"primaryDomain", "bob co.test"}, {"companyName", "   "},
        {"plan", "enterprise"}, {"servicesRequested", Json::array()}, {"servicesRequested", Json::array({7})}};
    for (const auto &[key, value] : valid.items()) {
        for (const Json &wrong : {Json(), Json(42), Json::object()})
            bad.emplace_back(key, wrong);
    }
    for (const auto &[key, value] : bad) {
        Json body = valid;
        body.erase(key);
        if (!value.is_null())
            body[key] = value;
        EXPECT_TRUE(refused(anonymous.post("/api/clients/signup", body), 400)) << key << " = " << value;
    }
    EXPECT_TRUE(refused(anonymous.post("/api/clients/signup", signupBody("b@b.test", "seven-7")), 400, "Password must be at least 8 characters."));
    for (const char *table : {"turns", "learning_items", "learning_sources", "deploy_runs", "password_reset_requests", "signup_requests"})
        EXPECT_EQ(queryNumber(std::string("SELECT COUNT(*) FROM ") + table), 0) << table;
    EXPECT_EQ(queryDatabase(databaseFile(), "SELECT COUNT(*) || ' users, ' || SUM(balance) || ' credits' FROM users"), "5 users, 1500 credits");
    // Every signed-in path answers 401 without a valid session.
    const std::pair<const char *, const char *> calls[] = {
        {"GET", "/api/auth/me"}, {"GET", "/api/v1/credits/balance?companyId=1&email=demo@nimbo.test"}, {"POST", "/api/chat/orc"},
        {"GET", "/api/v1/learning-sources"}, {"POST", "/api/v1/learning-sources/calendar/connect"},
        {"POST", "/api/v1/learning-sources/calendar/disconnect?purge=true"}, {"POST", "/api/v1/learning-sources/calendar/sync"},
        {"POST", "/api/superadmin/deploy"}, {"GET", "/api/superadmin/deploy/status?take=1"}, {"GET", "/api/superadmin/deploy/runs/1"},
        {"POST", "/api/superadmin/signup-requests/1/approve"},
    };
    for (const std::string &cookie : {std::string(), "nimbo_session=" + std::string(64, 'a'), std::string("other=1; nimbo_session=../x")}) {
        Client client(service->port());
        client.setCookie(cookie);
        for (const auto &[method, path] : calls)
            EXPECT_TRUE(refused(client.send(method, path, "{}"), 401, "Sign in first.")) << path << " " << cookie;
    }
}

} // namespace
} // namespace nimbo::service_test
