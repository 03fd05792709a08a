// The sign-in, sign-up and password-reset view models against scripted servers, and
// the sign-in screen walked by keyboard.
#include "account/ForgotPasswordViewModel.h"
#include "account/LoginViewModel.h"
#include "account/SignupViewModel.h"
#include "api/Json.h"
#include "app/session/SessionStore.h"

#include "KeyboardFocus.h"
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
    api::Json body(std::size_t i) const { return api::Json::parse(production.requests().at(i).body); }
    test::ScriptedServer& production = test::productionServer();
    SessionStore session;
};

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

// Nothing cancels a sign-in: leaving the screen must not lose it.
TEST_F(AccountScreens, SignInNeedsBothFieldsWordsEveryFailureSendsOnceAndOutlivesTheScreen) {
    auto vm = std::make_unique<LoginViewModel>();
    vm->setSession(&session);
    vm->setEmail("   ");
    vm->setPassword("pw");
    vm->doLogin();
    EXPECT_EQ(vm->errorMessage(), "Enter your email and password.");
    EXPECT_EQ(production.requestCount(), 0u);

    const std::pair<ScriptedResponse, QString> failures[] = {
        {{403, R"({"error":"Account disabled"})"}, "Account disabled"},
        {{503, ""}, QString::fromStdString("503 from " + test::testServer().base())},
        {{200, std::string(1000, 'x'), "application/json", {}, 0ms, true}, kNetworkText},
    };
    vm->setEmail("  Ann@Example.COM \n");
    for (const auto& [answer, expected] : failures) {
        production.onAnything(ScriptedResponse{answer.status >= 500 ? 500 : answer});
        test::testServer().onAnything(answer);
        vm->doLogin();
        waitIdle(*vm);
        EXPECT_EQ(vm->errorMessage(), expected);
    }
    EXPECT_FALSE(session.isLoggedIn());

    test::resetServers();
    production.on("POST", "/api/auth/local-login", ScriptedResponse{200, "{}", "application/json", {}, 200ms});
    vm->setPassword("   ");
    vm->doLogin();
    vm->doLogin();  // e.g. Return pressed while the first request runs
    EXPECT_TRUE(vm->errorMessage().isEmpty());  // cleared as the request starts
    vm.reset();
    ASSERT_TRUE(test::waitUntil([&] { return session.isLoggedIn(); }));
    EXPECT_EQ(production.requestCount(), 1u);
    EXPECT_EQ(body(0), (api::Json{{"email", "Ann@Example.COM"}, {"password", "   "}}));
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
    SignupViewModel vm;
    for (const auto& [fields, expected] : cases) {
        fill(vm, fields);
        vm.doSignup();
        EXPECT_EQ(vm.errorMessage(), expected) << fields.email.toStdString() << " " << fields.password.toStdString();
    }
    EXPECT_EQ(production.requestCount(), 0u);
    EXPECT_EQ(SignupViewModel::primaryDomain("a@b@c.io"), "c.io");
}

TEST_F(AccountScreens, SignupOutcomes) {
    // A refusal in the service's own words is checked end to end.
    const struct { ScriptedResponse signup; int login; QString info; } cases[] = {
        {{201, R"({"enrollmentToken":"t"})", "application/json", {}, 200ms}, 200, ""},
        {{201, R"({"enrollmentToken":"t","companyId":4})"}, 401, "Account created \u2014 please sign in."},
        {{200, R"({"plan":"pro_trial"})"}, 200, "Request received \u2014 check your email for an approval link, then sign in."},
    };
    for (const auto& c : cases) {
        test::resetServers();
        production.on("POST", "/api/clients/signup", c.signup);
        production.on("POST", "/api/auth/local-login", ScriptedResponse{c.login, "{}"});
        SessionStore store;
        auto vm = std::make_unique<SignupViewModel>();
        vm->setSession(&store);
        fill(*vm, {.name = " Ann ", .company = " Acme ", .email = "  ANN@ACME.IO "});
        vm->doSignup();
        if (c.signup.delay > 0ms) vm.reset();  // leaving at once: the trial still signs in
        ASSERT_TRUE(test::waitUntil([&] { return vm ? !vm->isBusy() : store.isLoggedIn(); }));
        EXPECT_EQ(store.isLoggedIn(), !vm);
        EXPECT_EQ(vm ? vm->infoMessage() : QString(), c.info);
        EXPECT_TRUE(!vm || vm->errorMessage().isEmpty());
        const api::Json sent = body(0), expected{{"signupName", "Ann"}, {"companyName", "Acme"},
                                                 {"primaryDomain", "acme.io"}, {"signupEmail", "ann@acme.io"}};
        for (const auto& [key, value] : expected.items()) EXPECT_EQ(sent[key], value) << key;
        if (c.signup.status == 201) { EXPECT_EQ(body(1), (api::Json{{"email", "ann@acme.io"}, {"password", "password1"}})); }
    }
}

TEST_F(AccountScreens, PasswordResetMessages) {
    ForgotPasswordViewModel vm;
    vm.setEmail(QStringLiteral(" \n\t "));
    vm.doSend();
    EXPECT_EQ(vm.infoMessage(), "Enter your account email.");
    EXPECT_EQ(production.requestCount(), 0u);

    // The success text is checked end to end; any refusal reads as a network failure.
    production.on("POST", "/api/auth/forgot-password", ScriptedResponse{422, R"({"error":"nope"})"});
    vm.setEmail(QStringLiteral("  no-at-sign "));
    vm.doSend();
    waitIdle(vm);
    EXPECT_EQ(vm.infoMessage(), kNetworkText);
    EXPECT_EQ(body(0)["email"], "no-at-sign");
}

// Every stop shows where the keyboard is; "Sign In", disabled while busy, hands it back to the password.
TEST_F(AccountScreens, SignInByKeyboardShowsTheFocusAndHandsItBackWhileBusy) {
    production.on("POST", "/api/auth/local-login", ScriptedResponse{401, "{}", "application/json", {}, 600ms});
    test::QmlScreen screen("import QtQuick\nimport Nimbo.Account\nItem { LoginView { anchors.fill: parent } }");
    qobject_cast<QQuickItem*>(screen.find("emailField"))->forceActiveFocus(Qt::TabFocusReason);
    test::type(screen, "ann@acme.io");
    EXPECT_EQ(test::press(screen, Qt::Key_Tab), "passwordField");
    test::type(screen, "pw");
    for (const char* stop : {"signInButton", "forgotLink", "signupLink"}) {
        EXPECT_EQ(test::press(screen, Qt::Key_Tab), stop);
        EXPECT_TRUE(test::showsFocusRing(screen)) << stop;
    }
    test::press(screen, Qt::Key_Backtab);
    EXPECT_EQ(test::press(screen, Qt::Key_Backtab), "signInButton");
    screen.render("sign-in-keyboard");
    EXPECT_EQ(test::press(screen, Qt::Key_Space), "passwordField");  // busy now
    EXPECT_FALSE(qobject_cast<QQuickItem*>(screen.find("signInButton"))->isEnabled());
    ASSERT_TRUE(test::waitUntil([&] { return screen.isShown("errorLine"); }));
    EXPECT_EQ(test::focusedName(screen), "passwordField");
    EXPECT_EQ(production.requestCount(), 1u);
    EXPECT_EQ(test::press(screen, Qt::Key_Tab), "signInButton");
    test::press(screen, Qt::Key_Space);  // the next attempt
    ASSERT_TRUE(test::waitUntil([&] { return production.requestCount() == 2; }));
}

}  // namespace
