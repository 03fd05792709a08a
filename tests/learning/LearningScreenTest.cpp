// The learning-sources screen's logic with stand-ins for the device services.
#include "learning/CalendarSyncManager.h"
#include "learning/LearningSourcesViewModel.h"

#include "api/Json.h"

#include "Doubles.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace nimbo;
using namespace std::chrono_literals;
using platform::Permission;
using platform::PermissionStatus;
using test::ScriptedResponse;

namespace {

class LearningScreen : public ::testing::Test, protected test::DeviceStandIns {
protected:
    void SetUp() override {
        test::resetServers();
        production.onAnything(ScriptedResponse{200, "{}"});
    }

    static QVariant cell(const LearningSourcesViewModel& vm, const QString& id, int role) {
        return vm.data(vm.index(test::rowOf(id)), role);
    }
    static bool isOn(const LearningSourcesViewModel& vm, const QString& id) {
        return cell(vm, id, LearningSourcesViewModel::IsOnRole).toBool();
    }
    static QString synced(const LearningSourcesViewModel& vm, const QString& id) {
        return cell(vm, id, LearningSourcesViewModel::SyncedTextRole).toString();
    }
    static void turn(LearningSourcesViewModel& vm, const QString& id, bool on) { vm.setSwitch(test::rowOf(id), on); }
    static bool toastIs(const LearningSourcesViewModel& vm, const QString& text) {
        return test::waitUntil([&] { return vm.toastMessage() == text; });
    }
    std::vector<std::string> targets() const {
        std::vector<std::string> out;
        for (const auto& r : production.requests()) out.push_back(r.target);
        return out;
    }
    bool stored(const QString& id) const { return store.boolForKey(LearningSourcesViewModel::prefsKey(id)); }

    test::ScriptedServer& production = test::productionServer();
};

TEST_F(LearningScreen, FirstLaunchShowsTenRowsAllOffWithoutCounts) {
    LearningSourcesViewModel vm;
    ASSERT_EQ(vm.rowCount(), 10);
    for (const auto& c : LearningSourceCategory::all()) {
        EXPECT_FALSE(isOn(vm, c.id));
        EXPECT_EQ(synced(vm, c.id), "");
    }
    EXPECT_EQ(cell(vm, "calendar", LearningSourcesViewModel::TitleRole).toString(), "Calendar");
    EXPECT_EQ(cell(vm, "messages", LearningSourcesViewModel::TitleRole).toString(), "Messages (SMS)  (coming soon)");
    EXPECT_EQ(vm.toastMessage(), "");
    EXPECT_FALSE(vm.showDisconnectConfirm());
}

TEST_F(LearningScreen, CategoriesWithoutAFlowStayOffWithTheirToast) {
    LearningSourcesViewModel vm;
    for (const QString id : {"messages", "email", "files"}) {
        store.setBool(LearningSourcesViewModel::prefsKey(id), true);
        turn(vm, id, true);
        const QString name = LearningSourceCategory::byId(id)->displayName;
        EXPECT_EQ(vm.toastMessage(),
                  name + " connection flow isn't built yet -- toggle recorded, no data will be collected.");
        EXPECT_FALSE(isOn(vm, id));
        EXPECT_FALSE(stored(id));
    }
    turn(vm, "screen", true);
    EXPECT_EQ(vm.toastMessage(),
              "Screen capture isn't built yet on iOS -- this will connect automatically once available.");
    EXPECT_FALSE(isOn(vm, "screen"));
    test::spinFor(50ms);
    EXPECT_EQ(production.requestCount(), 0u);
    EXPECT_TRUE(permissions.prompts.empty());
}

TEST_F(LearningScreen, NetworkConnectsWithoutAPrompt) {
    LearningSourcesViewModel vm;
    turn(vm, "network", true);
    EXPECT_TRUE(isOn(vm, "network"));
    EXPECT_TRUE(stored("network"));
    ASSERT_TRUE(toastIs(vm, "Network (WAN/LAN activity) connected."));
    EXPECT_EQ(targets(), (std::vector<std::string>{"/api/v1/learning-sources/network/connect"}));
    EXPECT_EQ(api::Json::parse(production.requests().back().body), api::Json::object());
    EXPECT_TRUE(permissions.prompts.empty());

    LearningSourcesViewModel again;  // a later visit reads the stored switch
    EXPECT_TRUE(isOn(again, "network"));
}

TEST_F(LearningScreen, PhotoCategoriesFollowThePhotoLibraryAnswer) {
    LearningSourcesViewModel vm;
    permissions.answers[Permission::Photos] = PermissionStatus::Denied;
    turn(vm, "videos", true);
    ASSERT_TRUE(toastIs(vm, "Videos needs Photos permission to connect -- staying off."));
    EXPECT_FALSE(isOn(vm, "videos"));
    EXPECT_FALSE(stored("videos"));
    EXPECT_EQ(production.requestCount(), 0u);

    permissions.statuses[Permission::Photos] = PermissionStatus::Limited;
    turn(vm, "videos", true);
    ASSERT_TRUE(toastIs(vm, "Videos connected."));
    EXPECT_TRUE(isOn(vm, "videos"));

    permissions.statuses[Permission::Photos] = PermissionStatus::Authorized;
    turn(vm, "photos", true);
    ASSERT_TRUE(toastIs(vm, "Photos connected."));
    EXPECT_EQ(targets(), (std::vector<std::string>{"/api/v1/learning-sources/videos/connect",
                                                   "/api/v1/learning-sources/photos/connect"}));
    EXPECT_EQ(permissions.prompts.size(), 1u);  // only the undetermined ask prompted
}

TEST_F(LearningScreen, SwitchStaysOffWhileThePromptIsOpen) {
    LearningSourcesViewModel vm;
    turn(vm, "location", true);
    test::spinFor(50ms);
    EXPECT_FALSE(isOn(vm, "location"));
    EXPECT_EQ(permissions.prompts, (std::vector<Permission>{Permission::Location}));
    permissions.resolve(Permission::Location, PermissionStatus::Authorized);
    EXPECT_TRUE(isOn(vm, "location"));
    ASSERT_TRUE(toastIs(vm, "Location connected."));
}

TEST_F(LearningScreen, LocationAlreadyDecidedAnswersAtOnce) {
    LearningSourcesViewModel vm;
    permissions.statuses[Permission::Location] = PermissionStatus::Denied;
    turn(vm, "location", true);
    ASSERT_TRUE(toastIs(vm, "Location needs Location permission to connect -- staying off."));
    permissions.statuses[Permission::Location] = PermissionStatus::Authorized;
    turn(vm, "location", true);
    ASSERT_TRUE(toastIs(vm, "Location connected."));
    EXPECT_TRUE(permissions.prompts.empty());
}

TEST_F(LearningScreen, SensorsNeedMotionActivity) {
    LearningSourcesViewModel vm;
    permissions.motionAvailable = false;
    turn(vm, "sensors", true);
    EXPECT_EQ(vm.toastMessage(), "Sensors needs Motion & Fitness permission to connect -- staying off.");
    EXPECT_TRUE(permissions.prompts.empty());

    permissions.motionAvailable = true;
    permissions.answers[Permission::Motion] = PermissionStatus::Authorized;
    turn(vm, "sensors", true);
    ASSERT_TRUE(toastIs(vm, "Sensors connected."));
    EXPECT_TRUE(isOn(vm, "sensors"));
    EXPECT_EQ(permissions.prompts, (std::vector<Permission>{Permission::Motion}));
}

TEST_F(LearningScreen, CalendarConnectsSyncsOnceThenSchedules) {
    const QDateTime tomorrow = QDateTime::currentDateTime().addDays(1);
    test::writeText(calendarDir / "work.ics",
                    test::calendarText({"UID:standup-1\r\nSUMMARY:Standup\r\nDTSTART:" + test::icsLocal(tomorrow) +
                                        "\r\nDURATION:PT15M\r\n"}));
    LearningSourcesViewModel vm;
    permissions.answers[Permission::Calendar] = PermissionStatus::Denied;
    turn(vm, "calendar", true);
    ASSERT_TRUE(toastIs(vm, "Calendar needs Calendar permission to connect -- staying off."));
    EXPECT_FALSE(isOn(vm, "calendar"));

    permissions.statuses[Permission::Calendar] = PermissionStatus::Authorized;
    const QDateTime before = QDateTime::currentDateTimeUtc();
    turn(vm, "calendar", true);
    ASSERT_TRUE(toastIs(vm, "Calendar connected."));
    ASSERT_TRUE(test::waitUntil([&] { return !scheduler.calls.empty(); }));
    EXPECT_EQ(targets(), (std::vector<std::string>{"/api/v1/learning-sources/calendar/connect",
                                                   "/api/v1/learning-sources/calendar/sync"}));
    const auto items = api::Json::parse(production.requests().back().body)["items"];
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]["itemId"], "standup-1");
    ASSERT_EQ(scheduler.calls.size(), 1u);
    EXPECT_EQ(scheduler.calls[0].what, "submit");
    EXPECT_EQ(scheduler.calls[0].identifier, "app.nimbo.chat.calendar-sync");
    EXPECT_GE(before.secsTo(scheduler.calls[0].earliestBegin), 3600);
    EXPECT_LE(before.secsTo(scheduler.calls[0].earliestBegin), 3660);
}

TEST_F(LearningScreen, CalendarOffCancelsTheRefreshBeforeAskingThenDeletesOnRequest) {
    store.setBool(LearningSourcesViewModel::prefsKey("calendar"), true);
    LearningSourcesViewModel vm;
    bool confirmShownAtCancel = true;
    scheduler.onCancel = [&] { confirmShownAtCancel = vm.showDisconnectConfirm(); };
    turn(vm, "calendar", false);
    EXPECT_EQ(scheduler.whats(), (std::vector<QString>{"cancel"}));
    EXPECT_FALSE(confirmShownAtCancel);
    EXPECT_FALSE(isOn(vm, "calendar"));
    EXPECT_FALSE(stored("calendar"));
    ASSERT_TRUE(vm.showDisconnectConfirm());
    EXPECT_EQ(vm.disconnectTitle(), "Disconnect Calendar?");
    EXPECT_EQ(vm.disconnectMessage(),
              "Collection stops immediately. Would you also like to delete data already synced for this category?");
    EXPECT_EQ(production.requestCount(), 0u);  // nothing is told until a button is chosen

    vm.confirmDisconnect(true);
    EXPECT_FALSE(vm.showDisconnectConfirm());
    ASSERT_TRUE(production.waitForRequests(1));
    EXPECT_EQ(targets(), (std::vector<std::string>{"/api/v1/learning-sources/calendar/disconnect?purge=true"}));
    EXPECT_EQ(vm.toastMessage(), "");
}

TEST_F(LearningScreen, ConfirmationButtonsOnlyDisconnectOrCancel) {
    LearningSourcesViewModel vm;
    turn(vm, "photos", false);
    EXPECT_TRUE(scheduler.calls.empty());  // only Calendar has a background refresh
    EXPECT_EQ(vm.disconnectTitle(), "Disconnect Photos?");
    vm.confirmDisconnect(false);
    ASSERT_TRUE(production.waitForRequests(1));
    EXPECT_EQ(targets().back(), "/api/v1/learning-sources/photos/disconnect?purge=false");

    turn(vm, "network", false);
    ASSERT_TRUE(vm.showDisconnectConfirm());
    vm.dismissDisconnect();
    EXPECT_FALSE(vm.showDisconnectConfirm());
    vm.confirmDisconnect(true);  // a stray tap after the sheet closed does nothing
    test::spinFor(100ms);
    EXPECT_EQ(production.requestCount(), 1u);
}

TEST_F(LearningScreen, RefreshTakesTheServersSwitchesAndCounts) {
    store.setBool(LearningSourcesViewModel::prefsKey("network"), true);
    store.setBool(LearningSourcesViewModel::prefsKey("location"), true);
    production.on("GET", "/api/v1/learning-sources",
                  ScriptedResponse{200, R"({"categories":[
        {"category":"photos","connected":true,"itemCount":0},
        {"category":"calendar","connected":true,"itemCount":12},
        {"category":"messages","connected":false,"itemCount":40},
        {"category":"location","connected":true,"itemCount":1},
        {"category":"location","connected":false,"itemCount":0},
        {"category":"custom","connected":true,"itemCount":2}]})"});
    LearningSourcesViewModel vm;
    vm.refreshFromServer();
    ASSERT_TRUE(test::waitUntil([&] { return isOn(vm, "photos"); }));
    EXPECT_TRUE(stored("photos"));
    EXPECT_TRUE(isOn(vm, "calendar"));
    EXPECT_FALSE(isOn(vm, "location"));  // the later entry for an id wins
    EXPECT_FALSE(stored("location"));
    EXPECT_TRUE(isOn(vm, "network"));    // not named by the server: kept
    EXPECT_TRUE(stored("custom"));       // unknown ids are stored too, without a row
    EXPECT_EQ(synced(vm, "calendar"), "12 item(s) synced");
    EXPECT_EQ(synced(vm, "messages"), "");  // not connected
    EXPECT_EQ(synced(vm, "photos"), "");    // nothing synced

    production.reset();
    production.onAnything(ScriptedResponse{500, ""});
    test::testServer().onAnything(ScriptedResponse{500, ""});
    vm.refreshFromServer();
    ASSERT_TRUE(test::waitUntil([&] { return synced(vm, "calendar").isEmpty(); }));
    EXPECT_TRUE(isOn(vm, "photos"));
    EXPECT_TRUE(isOn(vm, "calendar"));
    EXPECT_TRUE(isOn(vm, "network"));
}

TEST_F(LearningScreen, SameToastTwiceEndsWithTheFirstTimer) {
    LearningSourcesViewModel vm;
    QElapsedTimer clock;
    clock.start();
    turn(vm, "messages", true);
    test::spinFor(1000ms);
    turn(vm, "messages", true);
    ASSERT_TRUE(test::waitUntil([&] { return vm.toastMessage().isEmpty(); }, 6s));
    EXPECT_GE(clock.elapsed(), 2300);
    EXPECT_LT(clock.elapsed(), 3400);  // before the second showing's own 2.5 s
}

TEST_F(LearningScreen, NewerDifferentToastKeepsItsFullTime) {
    LearningSourcesViewModel vm;
    turn(vm, "messages", true);
    test::spinFor(1000ms);
    QElapsedTimer clock;
    clock.start();
    turn(vm, "email", true);
    ASSERT_TRUE(test::waitUntil([&] { return vm.toastMessage().isEmpty(); }, 6s));
    EXPECT_GE(clock.elapsed(), 2300);
}

}  // namespace
