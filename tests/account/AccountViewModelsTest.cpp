// The sign-in, sign-up and password-reset view models against scripted servers.
#include "account/AccountErrors.h"
#include "account/ForgotPasswordViewModel.h"
#include "account/LoginViewModel.h"
#include "account/SignupViewModel.h"
#include "api/Json.h"
#include "app/session/SessionStore.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

using namespace nimbo;
using namespace std::chrono_literals;
using test::ScriptedResponse;

namespace {

const QString kNetworkText = QString::fromUtf8("Network error \u2014 check your connection and try again.");

class AccountScreens : public ::testing::Test {
protected:
    void SetUp() override { test::resetServers(); }
    template <class Vm> void waitIdle(Vm& vm) { ASSERT_TRUE(test::waitUntil([&] { return !vm.isBusy(); })); }
    std::vector<api::Json> bodies() {
        std::vector<api::Json> all;
        for (const auto& r : production.requests()) all.push_back(api::Json::parse(r.body));
        return all;
    }
    test::ScriptedServer& production = test::productionServer();
    SessionStore session;
};

struct SignupFields {
    QString name = "Ann Lee", company = "Acme", email = "ann@acme.io", password = "password1", confirm = "password1";
};
void fill(SignupViewModel& vm, const SignupFields& f) {
    vm.setName(f.name), vm.setCompany(f.company), vm.setEmail(f.email), vm.setPassword(f.password), vm.setConfirm(f.confirm);
}
void fill(LoginViewModel& vm, const QString& email, const QString& password) { vm.setEmail(email), vm.setPassword(password); }

TEST_F(AccountScreens, SignInNeedsBothFieldsSendsTheTrimmedEmailAndOneRequestAtATime) {
    LoginViewModel vm;
    vm.setSession(&session);
    fill(vm, "   ", "pw");
    vm.doLogin();
    EXPECT_EQ(vm.errorMessage(), "Enter your email and password.");
    EXPECT_EQ(production.requestCount(), 0u);

    production.on("POST", "/api/auth/local-login", ScriptedResponse{200, "{}", "application/json", {}, 200ms});
    fill(vm, "  Ann@Example.COM \n", "   ");
    vm.doLogin();
    vm.doLogin();  // e.g. Return pressed while the first request runs
    EXPECT_TRUE(vm.isBusy());
    EXPECT_TRUE(vm.errorMessage().isEmpty());  // cleared as the request starts
    ASSERT_TRUE(test::waitUntil([&] { return session.isLoggedIn(); }));
    EXPECT_FALSE(vm.isBusy());
    EXPECT_EQ(bodies(), (std::vector<api::Json>{{{"email", "Ann@Example.COM"}, {"password", "   "}}}));
}

TEST_F(AccountScreens, SignInWordsEveryFailure) {
    test::ScriptedServer& testing = test::testServer();
    const std::pair<ScriptedResponse, QString> cases[] = {
        {{401, ""}, "Invalid email or password."},
        {{403, R"({"error":"Account disabled"})"}, "Account disabled"},
        {{503, ""}, QString::fromStdString("503 from " + testing.base())},
        {{200, std::string(1000, 'x'), "application/json", {}, 0ms, true}, kNetworkText},
    };
    for (const auto& [answer, expected] : cases) {
        test::resetServers();
        production.onAnything(ScriptedResponse{answer.status >= 500 ? 500 : answer});
        testing.onAnything(answer);
        LoginViewModel vm;
        vm.setSession(&session);
        fill(vm, "a@b.c", "pw");
        vm.doLogin();
        waitIdle(vm);
        EXPECT_EQ(vm.errorMessage(), expected);
    }
    EXPECT_FALSE(session.isLoggedIn());
    EXPECT_EQ(account::friendlyError(std::make_exception_ptr(api::NimboApiError::empty("/x"))), "Sign-in failed.");
}

// Nothing cancels a sign-in or a trial sign-up: leaving the screen must not lose it.
TEST_F(AccountScreens, SignInAndTrialSignupCompleteAfterTheScreenIsGone) {
    production.on("POST", "/api/clients/signup", ScriptedResponse{201, R"({"enrollmentToken":"t"})", "application/json", {}, 300ms});
    production.on("POST", "/api/auth/local-login", ScriptedResponse{200, "{}", "application/json", {}, 300ms});
    auto signup = std::make_unique<SignupViewModel>();
    signup->setSession(&session);
    fill(*signup, {});
    signup->doSignup();
    auto login = std::make_unique<LoginViewModel>();
    SessionStore other;
    login->setSession(&other);
    fill(*login, "a@b.c", "pw");
    login->doLogin();
    ASSERT_TRUE(production.waitForRequests(2));
    signup.reset();
    login.reset();
    ASSERT_TRUE(test::waitUntil([&] { return session.isLoggedIn() && other.isLoggedIn(); }));
    EXPECT_EQ(production.requests().back().path, "/api/auth/local-login");  // the automatic sign-in after sign-up
}

TEST_F(AccountScreens, SignupValidationOrderAndDomain) {
    const std::pair<SignupFields, QString> cases[] = {
        {{.name = " \n "}, "All fields are required."},
        {{.password = ""}, "All fields are required."},
        {{.email = "ann.acme.io", .password = "short"}, "Enter a valid email address."},
        {{.password = "1234567", .confirm = "1234567"}, "Password must be at least 8 characters."},
        {{.password = "e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301", .confirm = ""},
         "Password must be at least 8 characters."},  // 14 code points, 7 characters
        {{.confirm = ""}, "Passwords do not match."},
        {{.confirm = "Password1"}, "Passwords do not match."},
        {{.email = "@"}, "Enter a valid email address."},
    };
    for (const auto& [fields, expected] : cases) {
        SignupViewModel vm;
        fill(vm, fields);
        vm.doSignup();
        EXPECT_EQ(vm.errorMessage(), expected) << fields.email.toStdString() << " " << fields.password.toStdString();
        EXPECT_FALSE(vm.isBusy());
    }
    EXPECT_EQ(production.requestCount(), 0u);
    EXPECT_EQ(SignupViewModel::primaryDomain("a@b@c.io"), "c.io");
    EXPECT_EQ(SignupViewModel::primaryDomain("ann@"), "ann");
}

TEST_F(AccountScreens, SignupOutcomes) {
    const struct { ScriptedResponse signup; int login; QString info, error; } cases[] = {
        {{201, R"({"enrollmentToken":"t"})"}, 200, "", ""},
        {{201, R"({"enrollmentToken":"t","companyId":4})"}, 401, "Account created \u2014 please sign in.", ""},
        {{200, R"({"plan":"pro_trial"})"}, 200, "Request received \u2014 check your email for an approval link, then sign in.", ""},
        {{409, R"({"error":"That email is already registered."})"}, 200, "", "That email is already registered."},
    };
    for (const auto& c : cases) {
        test::resetServers();
        production.on("POST", "/api/clients/signup", c.signup);
        production.on("POST", "/api/auth/local-login", ScriptedResponse{c.login, "{}"});
        SessionStore store;
        SignupViewModel vm;
        vm.setSession(&store);
        fill(vm, {.name = " Ann ", .company = " Acme ", .email = "  ANN@ACME.IO "});
        vm.doSignup();
        waitIdle(vm);
        EXPECT_EQ(vm.infoMessage(), c.info);
        EXPECT_EQ(vm.errorMessage(), c.error);
        EXPECT_EQ(store.isLoggedIn(), c.info.isEmpty() && c.error.isEmpty());
        const api::Json sent = bodies().at(0), expected{{"signupName", "Ann"}, {"companyName", "Acme"},
                                                        {"primaryDomain", "acme.io"}, {"signupEmail", "ann@acme.io"}};
        for (const auto& [key, value] : expected.items()) EXPECT_EQ(sent[key], value) << key;
        if (c.signup.status == 201) { EXPECT_EQ(bodies().at(1), (api::Json{{"email", "ann@acme.io"}, {"password", "password1"}})); }
    }
}

TEST_F(AccountScreens, PasswordResetMessages) {
    ForgotPasswordViewModel vm;
    vm.setEmail(QStringLiteral(" \n\t "));
    vm.doSend();
    EXPECT_EQ(vm.infoMessage(), "Enter your account email.");
    EXPECT_EQ(production.requestCount(), 0u);

    production.on("POST", "/api/auth/forgot-password", ScriptedResponse{200, ""});
    vm.setEmail(QStringLiteral("  no-at-sign "));
    vm.doSend();
    EXPECT_EQ(vm.infoMessage(), "Enter your account email.");  // kept while the request runs
    waitIdle(vm);
    EXPECT_EQ(vm.infoMessage(), QString::fromUtf8("If that email exists, we sent a reset link \u2014 check your inbox "
                                                  "and open the link on this phone to set a new password."));
    EXPECT_EQ(bodies().back()["email"], "no-at-sign");

    production.on("POST", "/api/auth/forgot-password", ScriptedResponse{422, R"({"error":"nope"})"});
    vm.doSend();
    waitIdle(vm);
    EXPECT_EQ(vm.infoMessage(), kNetworkText);
}

}  // namespace
