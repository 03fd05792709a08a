// The account screens against the real stand-in service.
#include "account/ForgotPasswordViewModel.h"
#include "account/LoginViewModel.h"
#include "account/SignupViewModel.h"
#include "api/NimboApi.h"
#include "app/session/SessionStore.h"

#include "TestEnvironment.h"

#include <QDateTime>
#include <gtest/gtest.h>

using namespace nimbo;

namespace {

TEST(AccountEndToEnd, SignInWithTheDemoAccountAndAskForAReset) {
    test::resetServers();
    SessionStore session;
    LoginViewModel vm;
    vm.setSession(&session);
    vm.setEmail(" demo@nimbo.test ");
    vm.setPassword("not-the-password");
    vm.doLogin();
    ASSERT_TRUE(test::waitUntil([&] { return !vm.isBusy(); }));
    EXPECT_EQ(vm.errorMessage(), "Invalid email or password.");
    vm.setPassword("demo-password-1");
    vm.doLogin();
    ASSERT_TRUE(test::waitUntil([&] { return session.isLoggedIn(); }));
    EXPECT_EQ(api::NimboApi::shared().fetchMe().email, "demo@nimbo.test");  // the session cookie works

    // Password reset answers the same for any address.
    ForgotPasswordViewModel known, unknown;
    known.setEmail("demo@nimbo.test");
    unknown.setEmail("nobody@nowhere.test");
    known.doSend();
    unknown.doSend();
    ASSERT_TRUE(test::waitUntil([&] { return !known.isBusy() && !unknown.isBusy(); }));
    EXPECT_EQ(known.infoMessage(), unknown.infoMessage());
    EXPECT_TRUE(known.infoMessage().startsWith("If that email exists"));
}

TEST(AccountEndToEnd, TrialSignupSignsInAtOnceAndTheSameEmailIsRefused) {
    test::resetServers();
    const QString email = QStringLiteral("tess@trial%1.test").arg(QDateTime::currentMSecsSinceEpoch());
    for (bool first : {true, false}) {
        SessionStore session;
        SignupViewModel vm;
        vm.setSession(&session);
        vm.setName("Tess Trial");
        vm.setCompany("Trial Co");
        vm.setEmail(first ? " " + email.toUpper() + " " : email);
        vm.setPassword("trial-password");
        vm.setConfirm("trial-password");
        vm.doSignup();
        ASSERT_TRUE(test::waitUntil([&] { return !vm.isBusy(); }, std::chrono::seconds(15)));
        EXPECT_EQ(session.isLoggedIn(), first) << vm.errorMessage().toStdString();
        EXPECT_EQ(vm.errorMessage().isEmpty(), first);  // the service's own words the second time
    }
    EXPECT_EQ(api::NimboApi::shared().fetchMe().email, email.toStdString());
}

}  // namespace
