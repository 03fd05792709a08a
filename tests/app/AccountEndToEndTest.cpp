// The account screens against the real stand-in service.
#include "account/ForgotPasswordViewModel.h"
#include "account/LoginViewModel.h"
#include "account/SignupViewModel.h"
#include "app/session/SessionStore.h"

#include "TestEnvironment.h"

#include <QDateTime>
#include <gtest/gtest.h>

using namespace nimbo;

namespace {

// Signing in, a reset link, and a trial sign-up: the trial signs in at once,
// and the same email again is refused in the service's words.
TEST(AccountEndToEnd, SignInAskForAResetAndSignUpForATrial) {
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

    ForgotPasswordViewModel reset;
    reset.setEmail("demo@nimbo.test");
    reset.doSend();
    ASSERT_TRUE(test::waitUntil([&] { return !reset.isBusy(); }));
    EXPECT_EQ(reset.infoMessage(), QString::fromUtf8("If that email exists, we sent a reset link \u2014 check your inbox "
                                                     "and open the link on this phone to set a new password."));

    const QString email = QStringLiteral("tess@trial%1.test").arg(QDateTime::currentMSecsSinceEpoch());
    for (const QString& typed : {" " + email.toUpper() + " ", email}) {
        SessionStore trial;
        SignupViewModel signup;
        signup.setSession(&trial);
        signup.setName("Tess Trial");
        signup.setCompany("Trial Co");
        signup.setEmail(typed);
        signup.setPassword("trial-password");
        signup.setConfirm("trial-password");
        signup.doSignup();
        ASSERT_TRUE(test::waitUntil([&] { return !signup.isBusy(); }, std::chrono::seconds(15)));
        EXPECT_EQ(trial.isLoggedIn(), typed != email) << signup.errorMessage().toStdString();
        EXPECT_EQ(signup.errorMessage(), typed != email ? "" : "An account with this email already exists.");
    }
}

}  // namespace
