// The session store, the root view's switch, and the account screens as a person sees them.
#include "app/session/SessionStore.h"

#include "QmlScreen.h"
#include "TestEnvironment.h"

#include <QQuickItem>
#include <QSignalSpy>
#include <QVariant>
#include <gtest/gtest.h>

using namespace nimbo;
using namespace std::chrono_literals;

namespace {

TEST(SessionStore, StartsSignedOutAndNotifiesEveryAssignment) {
    SessionStore store;
    EXPECT_FALSE(store.isLoggedIn());
    QSignalSpy spy(&store, &SessionStore::isLoggedInChanged);
    store.setIsLoggedIn(false);
    store.setIsLoggedIn(true);
    store.setIsLoggedIn(true);
    EXPECT_EQ(spy.count(), 3);
    EXPECT_TRUE(store.isLoggedIn());
}

TEST(RootView, FollowsTheSessionAndDiscardsWhatWasPushed) {
    test::resetServers();
    SessionStore session;
    test::QmlScreen screen(R"(
        import QtQuick
        import Nimbo.App
        RootView { }
    )", {{"session", QVariant::fromValue(&session)}});
    ASSERT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join("\n").toStdString();
    EXPECT_TRUE(screen.isShown("loginPage"));

    // Push the sign-up screen, then sign in: the whole sign-in navigation goes.
    QMetaObject::invokeMethod(screen.find("signupLink"), "clicked");
    ASSERT_TRUE(test::waitUntil([&] { return screen.find("signUpButton") != nullptr; }));
    session.setIsLoggedIn(true);
    test::spinFor(50ms);
    EXPECT_EQ(screen.find("loginPage"), nullptr);
    EXPECT_EQ(screen.find("signUpButton"), nullptr);

    // Signing out builds a fresh sign-in screen with empty fields.
    session.setIsLoggedIn(false);
    test::spinFor(50ms);
    EXPECT_TRUE(screen.isShown("loginPage"));
    EXPECT_EQ(screen.find("emailField")->property("text").toString(), "");
    EXPECT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join("\n").toStdString();
}

void type(test::QmlScreen& screen, const char* field, const QString& text) {
    QObject* item = screen.find(field);
    ASSERT_NE(item, nullptr) << field;
    item->setProperty("text", text);
    QMetaObject::invokeMethod(item, "textEdited");
}

TEST(AccountScreens, RenderWithoutWarnings) {
    test::resetServers();
    test::productionServer().on("POST", "/api/auth/local-login",
                                test::ScriptedResponse{401, R"({"error":"nope"})"});
    SessionStore session;
    test::QmlScreen login(R"(
        import QtQuick
        import Nimbo.Account
        LoginView { }
    )", {{"session", QVariant::fromValue(&session)}});
    ASSERT_TRUE(login.warnings().isEmpty()) << login.warnings().join("\n").toStdString();
    EXPECT_FALSE(login.render("sign-in").isEmpty());
    type(login, "emailField", "ann@example.com");
    type(login, "passwordField", "wrong-password");
    QMetaObject::invokeMethod(login.find("signInButton"), "clicked");
    ASSERT_TRUE(test::waitUntil([&] { return login.find("errorLine")->property("visible").toBool(); }));
    EXPECT_EQ(login.find("errorLine")->property("text").toString(), "Invalid email or password.");
    login.render("sign-in-error");

    QMetaObject::invokeMethod(login.find("signupLink"), "clicked");
    ASSERT_TRUE(test::waitUntil([&] { return login.find("signUpButton") != nullptr; }));
    test::spinFor(400ms);  // the push transition
    type(login, "nameField", "Ann Lee");
    type(login, "companyField", "Acme");
    type(login, "signupEmailField", "ann@acme.io");
    QMetaObject::invokeMethod(login.find("signUpButton"), "clicked");
    EXPECT_EQ(login.find("signupErrorLine")->property("text").toString(), "All fields are required.");
    login.render("sign-up");
    QMetaObject::invokeMethod(login.find("signupBackLink"), "clicked");
    ASSERT_TRUE(test::waitUntil([&] { return login.find("signUpButton") == nullptr; }));

    QMetaObject::invokeMethod(login.find("forgotLink"), "clicked");
    ASSERT_TRUE(test::waitUntil([&] { return login.find("sendButton") != nullptr; }));
    test::spinFor(400ms);
    QMetaObject::invokeMethod(login.find("sendButton"), "clicked");
    EXPECT_EQ(login.find("resetInfoLine")->property("text").toString(), "Enter your account email.");
    login.render("forgot-password");
    EXPECT_TRUE(login.warnings().isEmpty()) << login.warnings().join("\n").toStdString();
}

}  // namespace
