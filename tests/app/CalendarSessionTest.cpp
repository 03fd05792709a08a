// Calendar data goes only to the account that switched Calendar on, and only while that
// account is signed in: across a 401, another account's session and a restart.
#include "account/LoginViewModel.h"
#include "api/Json.h"
#include "app/NimboChatApp.h"
#include "learning/CalendarSyncManager.h"
#include "learning/LearningSourcesViewModel.h"

#include "Doubles.h"

#include <gtest/gtest.h>

using namespace nimbo;
using namespace std::chrono_literals;
using test::ScriptedResponse;

namespace {

// The device's settings and pending background requests in files, opened afresh on a restart.
struct Device : test::DeviceStandIns {
    void restart() {
        timers.reset();  // each writes what it holds as it goes
        prefs.reset();
        prefs = std::make_unique<platform::FileKeyValueStore>(dir / "preferences.json");
        timers = std::make_unique<platform::TimerBackgroundScheduler>(
            dir / "background-tasks.json", platform::TimerBackgroundScheduler::Timing{100ms, 5s});
        platform::KeyValueStore::install(prefs.get());
        platform::BackgroundTaskScheduler::install(timers.get());
    }
    std::unique_ptr<platform::FileKeyValueStore> prefs;
    std::unique_ptr<platform::TimerBackgroundScheduler> timers;
};

TEST(CalendarSession, UploadsOnlyForTheAccountThatSwitchedItOnWhileItIsSignedIn) {
    Device device;
    device.restart();
    device.permissions.setStatus(test::Permission::Calendar, test::Status::Authorized);
    device.writeCalendar({test::event("standup", QDateTime::currentDateTime().addDays(1))});
    test::ScriptedServer& server = test::productionServer();
    server.onAnything(ScriptedResponse{200, "{}"});
    const QString task = CalendarSyncManager::backgroundTaskIdentifier();
    const auto uploads = [&] {
        const auto& sent = server.requests();
        return std::count_if(sent.begin(), sent.end(), [](const auto& r) { return r.path == "/api/v1/learning-sources/calendar/sync"; });
    };
    const auto signIn = [&](NimboChatApp& app, const char* email) {
        server.on("GET", "/api/auth/me", ScriptedResponse{200, api::Json{{"email", email}}.dump()});
        LoginViewModel login;
        login.setSession(app.session());
        login.setEmail(email);
        login.setPassword("password1");
        login.doLogin();
        ASSERT_TRUE(test::waitUntil([&] { return app.session()->isLoggedIn(); }));
        test::spinFor(300ms);  // the user record is in
    };
    const auto isPending = [&] { return device.timers->pendingBegin(task).has_value(); };
    const auto uploadsAfterADueRun = [&] {  // the hour has passed
        device.timers->submit(task, QDateTime::currentDateTimeUtc());
        test::spinFor(1500ms);
        return uploads();
    };

    auto app = std::make_unique<NimboChatApp>();
    signIn(*app, "ann@acme.io");
    // The user record cannot be had when Calendar is switched on: the account known at sign-in owns it.
    server.on("GET", "/api/auth/me", ScriptedResponse{503, "{}"});
    LearningSourcesViewModel screen;
    screen.setSwitch(test::rowOf("calendar"), true);
    ASSERT_TRUE(test::waitUntil(isPending));  // connected, synced, the next run an hour ahead
    EXPECT_EQ(uploads(), 1);

    server.on("GET", "/api/auth/me", ScriptedResponse{401, "{}"});
    app->session()->setIsLoggedIn(false);  // a 401 ended the session, and its refresh with it
    EXPECT_FALSE(isPending());
    EXPECT_EQ(uploadsAfterADueRun(), 1);

    signIn(*app, "bob@other.io");  // another account on the same device: Calendar stays on, not for it
    EXPECT_FALSE(isPending());
    EXPECT_EQ(uploadsAfterADueRun(), 1);
    app->session()->setIsLoggedIn(false);

    // Restarted with a run stored as due: it comes a moment after launch, before anyone signs in.
    device.timers->submit(task, QDateTime::currentDateTimeUtc());
    device.restart();
    NimboChatApp restarted;
    test::spinFor(1500ms);
    EXPECT_FALSE(isPending());  // ran, and did not reschedule
    EXPECT_EQ(uploads(), 1);

    signIn(restarted, "ann@acme.io");  // the account that switched it on: its hourly refresh resumes
    ASSERT_TRUE(test::waitUntil(isPending));
    EXPECT_NEAR(QDateTime::currentDateTimeUtc().secsTo(*device.timers->pendingBegin(task)), 3600, 5);
    EXPECT_EQ(uploadsAfterADueRun(), 2);
}

}  // namespace
