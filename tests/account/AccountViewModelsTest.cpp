// The sign-in, sign-up and password-reset view models against scripted servers.
#include "account/AccountErrors.h"
#include "account/ForgotPasswordViewModel.h"
#include "account/LoginViewModel.h"
#include "account/SignupViewModel.h"
#include "api/Json.h"
#include "api/NimboApiError.h"
#include "app/session/SessionStore.h"

#include "TestEnvironment.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace nimbo;
using namespace std::chrono_literals;
using test::ScriptedResponse;

namespace {

const QString kNetworkText = QString::fromUtf8("Network error \u2014 check your connection and try again.");

class AccountScreens : public ::testing::Test {
protected:
    void SetUp() override { test::resetServers(); }
    test::ScriptedServer& production = test::productionServer();
    test::ScriptedServer& testing = test::testServer();
    SessionStore session;

    api::Json lastBody(const test::ScriptedServer& server) { return api::Json::parse(server.requests().back().body); }
};

// ---- sign-in ---------------------------------------------------------------------

TEST_F(AccountScreens, SignInNeedsBothFieldsAndSendsTheTrimmedEmail) {
    LoginViewModel vm;
    vm.setSession(&session);
    vm.setEmail(QStringLiteral("   "));
    vm.setPassword(QStringLiteral("pw"));
    vm.doLogin();
    EXPECT_EQ(vm.errorMessage(), "Enter your email and password.");
    EXPECT_FALSE(vm.isBusy());
    EXPECT_EQ(production.requestCount(), 0u);

    production.on("POST", "/api/auth/local-login", ScriptedResponse{200, "{}"});
    vm.setEmail(QStringLiteral("  Ann@Example.COM \n"));
    vm.setPassword(QStringLiteral("  spaced pw "));
    vm.doLogin();
    EXPECT_TRUE(vm.isBusy());
    EXPECT_TRUE(vm.errorMessage().isEmpty());  // cleared as the request starts
    ASSERT_TRUE(test::waitUntil([&] { return session.isLoggedIn(); }));
    EXPECT_FALSE(vm.isBusy());
    EXPECT_EQ(lastBody(production), (api::Json{{"email", "Ann@Example.COM"}, {"password", "  spaced pw "}}));
    EXPECT_EQ(vm.email(), "  Ann@Example.COM \n");  // the field keeps what was typed
}

TEST_F(AccountScreens, SignInPasswordOfSpacesCountsAsFilledIn) {
    LoginViewModel vm;
    vm.setEmail(QStringLiteral("a@b.c"));
    vm.setPassword(QStringLiteral("   "));
    production.onAnything(ScriptedResponse{401, R"({"error":"bad"})"});
    vm.doLogin();
    ASSERT_TRUE(test::waitUntil([&] { return !vm.isBusy(); }));
    EXPECT_EQ(vm.errorMessage(), "Invalid email or password.");
}

TEST_F(AccountScreens, SignInWordsEveryFailure) {
    struct Case {
        std::function<void()> script;
        QString expected;
    } cases[] = {
        {[&] { production.onAnything(ScriptedResponse{401, ""}); }, "Invalid email or password."},
        {[&] { production.onAnything(ScriptedResponse{403, R"({"error":"Account disabled"})"}); }, "Account disabled"},
        {[&] { production.onAnything(ScriptedResponse{418, "teapot"}); }, "418 teapot"},
        {[&] {
             production.onAnything(ScriptedResponse{500, ""});
             testing.onAnything(ScriptedResponse{503, ""});
         },
         QString::fromStdString("503 from " + testing.base())},
        {[&] {
             production.onAnything(ScriptedResponse{500, ""});
             testing.onAnything(ScriptedResponse{200, std::string(1000, 'x'), "application/json", {}, 0ms, true});
         },
         kNetworkText},
    };
    for (auto& c : cases) {
        test::resetServers();
        c.script();
        LoginViewModel vm;
        vm.setSession(&session);
        vm.setEmail(QStringLiteral("a@b.c"));
        vm.setPassword(QStringLiteral("pw"));
        vm.doLogin();
        ASSERT_TRUE(test::waitUntil([&] { return !vm.isBusy(); }));
        EXPECT_EQ(vm.errorMessage(), c.expected);
        EXPECT_FALSE(session.isLoggedIn());
    }
}

TEST_F(AccountScreens, OneSignInAtATimeAlsoFromTheReturnKey) {
    production.on("POST", "/api/auth/local-login", ScriptedResponse{401, "", "application/json", {}, 200ms});
    LoginViewModel vm;
    vm.setEmail(QStringLiteral("a@b.c"));
    vm.setPassword(QStringLiteral("pw"));
    vm.doLogin();
    vm.doLogin();  // e.g. Return pressed while the first request runs
    ASSERT_TRUE(test::waitUntil([&] { return !vm.isBusy(); }));
    test::spinFor(300ms);
    EXPECT_EQ(production.requestCount(), 1u);
}

TEST_F(AccountScreens, FriendlyErrorForEmptyAndForeignErrors) {
    EXPECT_EQ(account::friendlyError(std::make_exception_ptr(api::NimboApiError::empty("/x"))), "Sign-in failed.");
    EXPECT_EQ(account::friendlyError(std::make_exception_ptr(std::runtime_error("other"))), kNetworkText);
}

TEST_F(AccountScreens, AResultForAScreenThatIsGoneIsDropped) {
    production.onAnything(ScriptedResponse{200, "{}", "application/json", {}, 300ms});
    auto* vm = new LoginViewModel;
    vm->setSession(&session);
    vm->setEmail(QStringLiteral("a@b.c"));
    vm->setPassword(QStringLiteral("pw"));
    vm->doLogin();
    delete vm;
    test::spinFor(600ms);
    EXPECT_FALSE(session.isLoggedIn());
}

// ---- sign-up ---------------------------------------------------------------------

struct SignupFields {
    QString name = "Ann Lee", company = "Acme", email = "ann@acme.io", password = "password1", confirm = "password1";
};

void fill(SignupViewModel& vm, const SignupFields& f) {
    vm.setName(f.name);
    vm.setCompany(f.company);
    vm.setEmail(f.email);
    vm.setPassword(f.password);
    vm.setConfirm(f.confirm);
}

TEST_F(AccountScreens, SignupValidationOrder) {
    struct Case {
        SignupFields fields;
        QString expected;
    };
    const Case cases[] = {
        {{.name = "   "}, "All fields are required."},
        {{.password = ""}, "All fields are required."},
        {{.email = "ann.acme.io", .password = "short"}, "Enter a valid email address."},
        {{.password = "1234567", .confirm = "1234567"}, "Password must be at least 8 characters."},
        {{.password = "e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301", .confirm = ""},
         "Password must be at least 8 characters."},  // 14 code points, 7 characters
        {{.confirm = ""}, "Passwords do not match."},
        {{.confirm = "Password1"}, "Passwords do not match."},
        {{.email = "@"}, "Enter a valid email address."},
    };
    for (const Case& c : cases) {
        SignupViewModel vm;
        fill(vm, c.fields);
        vm.doSignup();
        EXPECT_EQ(vm.errorMessage(), c.expected) << c.fields.email.toStdString() << " " << c.fields.password.toStdString();
        EXPECT_FALSE(vm.isBusy());
    }
    EXPECT_EQ(production.requestCount(), 0u);
}

TEST_F(AccountScreens, SignupDomainRule) {
    EXPECT_EQ(SignupViewModel::primaryDomain("a@b@c.io"), "c.io");
    EXPECT_EQ(SignupViewModel::primaryDomain("ann@"), "ann");
    EXPECT_EQ(SignupViewModel::primaryDomain("@"), "");
}

TEST_F(AccountScreens, TrialSignupSignsInWithTheLowerCasedEmail) {
    production.on("POST", "/api/clients/signup", ScriptedResponse{201, R"({"enrollmentToken":"t","companyId":4})"});
    production.on("POST", "/api/auth/local-login", ScriptedResponse{200, "{}"});
    SignupViewModel vm;
    vm.setSession(&session);
    fill(vm, {.name = " Ann ", .company = " Acme ", .email = "  ANN@ACME.IO "});
    vm.doSignup();
    ASSERT_TRUE(test::waitUntil([&] { return session.isLoggedIn(); }));
    const auto requests = production.requests();
    ASSERT_EQ(requests.size(), 2u);
    const auto signup = api::Json::parse(requests[0].body);
    EXPECT_EQ(signup["signupEmail"], "ann@acme.io");
    EXPECT_EQ(signup["primaryDomain"], "acme.io");
    EXPECT_EQ(signup["signupName"], "Ann");
    EXPECT_EQ(signup["companyName"], "Acme");
    EXPECT_EQ(api::Json::parse(requests[1].body), (api::Json{{"email", "ann@acme.io"}, {"password", "password1"}}));
}

TEST_F(AccountScreens, SignupOutcomesWithoutSignIn) {
    // Trial created but the automatic sign-in fails.
    production.on("POST", "/api/clients/signup", ScriptedResponse{201, R"({"enrollmentToken":"t"})"});
    production.on("POST", "/api/auth/local-login", ScriptedResponse{401, ""});
    SignupViewModel vm;
    vm.setSession(&session);
    fill(vm, {});
    vm.doSignup();
    ASSERT_TRUE(test::waitUntil([&] { return !vm.isBusy(); }));
    EXPECT_EQ(vm.infoMessage(), QString::fromUtf8("Account created \u2014 please sign in."));
    EXPECT_TRUE(vm.errorMessage().isEmpty());

    // Pending approval; the earlier info line stays until replaced, also under a validation error.
    production.on("POST", "/api/clients/signup", ScriptedResponse{200, R"({"plan":"pro_trial"})"});
    vm.doSignup();
    ASSERT_TRUE(test::waitUntil([&] { return !vm.isBusy(); }));
    EXPECT_EQ(vm.infoMessage(),
              QString::fromUtf8("Request received \u2014 check your email for an approval link, then sign in."));
    vm.setConfirm(QStringLiteral("different"));
    vm.doSignup();
    EXPECT_EQ(vm.errorMessage(), "Passwords do not match.");
    EXPECT_FALSE(vm.infoMessage().isEmpty());

    // A refusal shows the server's text.
    production.on("POST", "/api/clients/signup", ScriptedResponse{409, R"({"error":"That email is already registered."})"});
    vm.setConfirm(QStringLiteral("password1"));
    vm.doSignup();
    ASSERT_TRUE(test::waitUntil([&] { return !vm.isBusy(); }));
    EXPECT_EQ(vm.errorMessage(), "That email is already registered.");
    EXPECT_FALSE(session.isLoggedIn());
}

// ---- password reset --------------------------------------------------------------

TEST_F(AccountScreens, PasswordResetMessages) {
    ForgotPasswordViewModel vm;
    vm.setEmail(QStringLiteral(" \n\t "));
    vm.doSend();
    EXPECT_EQ(vm.infoMessage(), "Enter your account email.");
    EXPECT_EQ(production.requestCount(), 0u);

    production.on("POST", "/api/auth/forgot-password", ScriptedResponse{200, ""});
    vm.setEmail(QStringLiteral("  no-at-sign "));
    vm.doSend();
    EXPECT_TRUE(vm.isBusy());
    EXPECT_EQ(vm.infoMessage(), "Enter your account email.");  // kept while the request runs
    ASSERT_TRUE(test::waitUntil([&] { return !vm.isBusy(); }));
    EXPECT_EQ(vm.infoMessage(), QString::fromUtf8("If that email exists, we sent a reset link \u2014 check your inbox "
                                                  "and open the link on this phone to set a new password."));
    EXPECT_EQ(api::Json::parse(production.requests().back().body)["email"], "no-at-sign");

    production.on("POST", "/api/auth/forgot-password", ScriptedResponse{422, R"({"error":"nope"})"});
    vm.doSend();
    ASSERT_TRUE(test::waitUntil([&] { return !vm.isBusy(); }));
    EXPECT_EQ(vm.infoMessage(), kNetworkText);
}

TEST_F(AccountScreens, SettersNotifyOnlyOnChange) {
    LoginViewModel vm;
    QSignalSpy spy(&vm, &LoginViewModel::emailChanged);
    vm.setEmail("a");
    vm.setEmail("a");
    EXPECT_EQ(spy.count(), 1);
}

}  // namespace
