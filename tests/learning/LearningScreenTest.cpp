// The learning-sources screen and the flows it starts, with stand-ins for the device
// services and a scripted server; then the screen as drawn, walked by mouse and keyboard.
#include "learning/CalendarSyncManager.h"
#include "learning/LearningSourcesViewModel.h"

#include "Doubles.h"
#include "QmlScreen.h"

#include <QElapsedTimer>
#include <QQuickItem>
#include <QTest>
#include <gtest/gtest.h>

using namespace nimbo;
using namespace std::chrono_literals;
using test::Permission;
using test::Status;
using VM = LearningSourcesViewModel;

namespace {

const std::string kBase = "/api/v1/learning-sources/";

class LearningScreen : public ::testing::Test, protected test::DeviceStandIns {
protected:
    void SetUp() override { reset(); }
    void reset() {
        test::resetServers();
        production.onAnything(test::ScriptedResponse{200, "{}"});
    }
    static QVariant cell(const VM& vm, const QString& id, int role) { return vm.data(vm.index(test::rowOf(id)), role); }
    static void turn(VM& vm, const QString& id, bool on) { vm.setSwitch(test::rowOf(id), on); }
    std::vector<std::string> targets() const {
        std::vector<std::string> out;
        for (const auto& r : production.requests()) out.push_back(r.target);
        return out;
    }
    test::ScriptedServer& production = test::productionServer();
};

TEST_F(LearningScreen, EachKindOfCategoryTurnsOnOrStaysOffWithItsToast) {
    const std::vector<std::tuple<QString, std::optional<Status>, QString>> cases{
        {"messages", {}, "Messages (SMS) connection flow isn't built yet -- toggle recorded, no data will be collected."},
        {"screen", {}, "Screen capture isn't built yet on iOS -- this will connect automatically once available."},
        {"network", {}, "Network (WAN/LAN activity) connected."},
        {"videos", Status::Denied, "Videos needs Photos permission to connect -- staying off."},
        {"videos", Status::Limited, "Videos connected."},
        {"location", Status::Denied, "Location needs Location permission to connect -- staying off."},
        {"location", Status::Authorized, "Location connected."},
        {"sensors", {}, "Sensors needs Motion & Fitness permission to connect -- staying off."},  // no motion service
        {"sensors", Status::Authorized, "Sensors connected."},
        {"calendar", Status::Denied, "Calendar needs Calendar permission to connect -- staying off."}};
    for (const auto& [id, answer, toast] : cases) {
        SCOPED_TRACE(toast.toStdString());
        reset();
        permissions = {};
        permissions.motionAvailable = answer.has_value();
        for (Permission p : {Permission::Calendar, Permission::Photos, Permission::Location, Permission::Motion}) {
            if (answer) permissions.answers[p] = *answer;
        }
        store.values.clear();
        VM vm;
        turn(vm, id, true);
        ASSERT_TRUE(test::waitUntil([&] { return vm.toastMessage() == toast; }));
        const bool on = toast.endsWith(" connected.");
        EXPECT_EQ(cell(vm, id, VM::IsOnRole).toBool(), on);
        EXPECT_EQ(store.values, (std::map<QString, bool>{{"learning_source_enabled_" + id, on}}));
        EXPECT_EQ(targets(), on ? std::vector<std::string>{kBase + id.toStdString() + "/connect"} : std::vector<std::string>{});
        EXPECT_EQ(permissions.prompts.size(), answer ? 1u : 0u);
    }
}

TEST_F(LearningScreen, APermissionAnswerAfterTheScreenIsGoneStillConnects) {
    writeCalendar({test::event("standup", QDateTime::currentDateTime().addDays(1))});
    for (const auto& [id, permission] : std::vector<std::pair<QString, Permission>>{
             {"photos", Permission::Photos}, {"location", Permission::Location}, {"sensors", Permission::Motion},
             {"calendar", Permission::Calendar}}) {
        reset();
        auto vm = std::make_unique<VM>();
        turn(*vm, id, true);
        EXPECT_FALSE(stored(id));  // off while the prompt is open
        vm.reset();
        permissions.resolve(permission, Status::Authorized);
        EXPECT_TRUE(stored(id));
        ASSERT_TRUE(test::waitUntil([&] { return production.requestCount() > 0; }));
        EXPECT_EQ(targets().front(), kBase + id.toStdString() + "/connect");
    }
    // Calendar goes on to its first sync, then schedules the next run an hour ahead.
    ASSERT_TRUE(test::waitUntil([&] { return !scheduler.whats.empty(); }));
    EXPECT_EQ(targets(), (std::vector<std::string>{kBase + "calendar/connect", kBase + "calendar/sync"}));
    EXPECT_EQ(scheduler.whats, (std::vector<QString>{"submit"}));
    EXPECT_NEAR(QDateTime::currentDateTimeUtc().secsTo(scheduler.lastBegin), 3600, 5);
}

TEST_F(LearningScreen, SwitchingOffWinsOverWorkInFlight) {
    writeCalendar({test::event("standup", QDateTime::currentDateTime().addDays(1))});
    permissions.statuses[Permission::Calendar] = Status::Authorized;
    production.on("POST", kBase + "calendar/sync", test::ScriptedResponse{200, "{}", "application/json", {}, 800ms});
    production.on("POST", kBase + "network/connect", test::ScriptedResponse{200, "{}", "application/json", {}, 300ms});
    VM vm;
    turn(vm, "calendar", true);
    ASSERT_TRUE(test::waitUntil([&] { return production.requestCount() == 2; }));  // the first upload is held
    turn(vm, "calendar", false);
    turn(vm, "network", true);  // and its connect is held
    turn(vm, "network", false);
    test::spinFor(1500ms);
    EXPECT_EQ(scheduler.whats, (std::vector<QString>{"cancel"}));  // nothing rescheduled
    EXPECT_EQ(production.requestCount(), 3u);
    EXPECT_EQ(vm.toastMessage(), "Calendar connected.");  // and nothing shown for the network
}

TEST_F(LearningScreen, TurningOffCancelsTheRefreshThenAsksWhetherToDelete) {
    store.setBool("learning_source_enabled_calendar", true);
    VM vm;
    turn(vm, "calendar", false);
    EXPECT_EQ(scheduler.whats, (std::vector<QString>{"cancel"}));
    EXPECT_FALSE(stored("calendar"));
    EXPECT_EQ(vm.disconnectTitle(), "Disconnect Calendar?");
    EXPECT_EQ(vm.disconnectMessage(),
              "Collection stops immediately. Would you also like to delete data already synced for this category?");
    test::spinFor(50ms);
    EXPECT_EQ(production.requestCount(), 0u);  // nothing is told until a button is chosen
    vm.confirmDisconnect(false);
    EXPECT_FALSE(vm.showDisconnectConfirm());
    turn(vm, "photos", false);
    vm.dismissDisconnect();
    vm.confirmDisconnect(true);  // a stray choice after the sheet closed does nothing
    test::spinFor(100ms);
    EXPECT_EQ(targets(), std::vector<std::string>{kBase + "calendar/disconnect?purge=false"});
    EXPECT_EQ(scheduler.whats.size(), 1u);  // only Calendar has a background refresh
}

TEST_F(LearningScreen, RefreshTakesTheServersSwitchesAndCounts) {
    store.setBool("learning_source_enabled_network", true);
    production.on("GET", "/api/v1/learning-sources", test::ScriptedResponse{200, R"({"categories":[
        {"category":"photos","connected":true,"itemCount":0}, {"category":"calendar","connected":true,"itemCount":12},
        {"category":"messages","connected":false,"itemCount":40}, {"category":"location","connected":true},
        {"category":"location","connected":false}, {"category":"custom","connected":true}]})"});
    VM vm;
    vm.refreshFromServer();
    const auto synced = [&](const QString& id) { return cell(vm, id, VM::SyncedTextRole).toString(); };
    ASSERT_TRUE(test::waitUntil([&] { return !synced("calendar").isEmpty(); }));
    EXPECT_EQ(store.values, (std::map<QString, bool>{
                                {"learning_source_enabled_photos", true}, {"learning_source_enabled_calendar", true},
                                {"learning_source_enabled_messages", false}, {"learning_source_enabled_location", false},
                                {"learning_source_enabled_custom", true}, {"learning_source_enabled_network", true}}));
    EXPECT_EQ(synced("calendar") + "|" + synced("messages") + "|" + synced("photos"), "12 item(s) synced||");
    production.reset();
    production.onAnything(test::ScriptedResponse{500, ""});
    test::testServer().onAnything(test::ScriptedResponse{500, ""});
    vm.refreshFromServer();
    ASSERT_TRUE(test::waitUntil([&] { return synced("calendar").isEmpty(); }));
    EXPECT_TRUE(cell(vm, "calendar", VM::IsOnRole).toBool());
}

TEST_F(LearningScreen, ToastsLastTwoAndAHalfSecondsFromTheirOwnShowing) {
    VM vm;
    QElapsedTimer clock;
    const auto shownFor = [&](const QString& first, const QString& second) {
        turn(vm, first, true);
        clock.start();
        test::spinFor(1000ms);
        turn(vm, second, true);
        EXPECT_TRUE(test::waitUntil([&] { return vm.toastMessage().isEmpty(); }, 6s));
        return clock.elapsed();
    };
    EXPECT_NEAR(shownFor("messages", "messages"), 2500, 250);  // the same text again: the first timer ends it
    EXPECT_NEAR(shownFor("messages", "email"), 3500, 250);     // a different text keeps its full time
}

TEST_F(LearningScreen, ARefusalCanBeAskedAgainAndAGrantRevoked) {
    writeCalendar({test::event("standup", QDateTime::currentDateTime().addDays(1))});
    permissions.statuses[Permission::Calendar] = Status::Denied;
    VM vm;
    const auto control = [&] {
        return cell(vm, "calendar", VM::PermissionTextRole).toString() + "|" + cell(vm, "calendar", VM::PermissionActionRole).toString();
    };
    EXPECT_EQ(control(), "Calendar access: not allowed|Ask Again");
    vm.changePermission(test::rowOf("calendar"));
    EXPECT_EQ(control(), "|");
    turn(vm, "calendar", true);
    EXPECT_EQ(permissions.prompts, std::vector<Permission>{Permission::Calendar});  // asked again
    permissions.resolve(Permission::Calendar, Status::Authorized);
    ASSERT_TRUE(test::waitUntil([&] { return !scheduler.whats.empty(); }));  // connected, synced, scheduled
    EXPECT_EQ(control(), "Calendar access: allowed|Revoke");

    vm.changePermission(test::rowOf("calendar"));  // revoking switches Calendar off like the person would
    EXPECT_EQ(control(), "Calendar access: not allowed|Ask Again");
    EXPECT_FALSE(stored("calendar"));
    EXPECT_EQ(vm.disconnectTitle(), "Disconnect Calendar?");
    EXPECT_EQ(scheduler.whats, (std::vector<QString>{"submit", "cancel"}));
    CalendarSyncManager::registerBackgroundTask();
    const auto task = scheduler.launch(CalendarSyncManager::backgroundTaskIdentifier());
    ASSERT_TRUE(test::waitUntil([&] { return task->isCompleted(); }));
    EXPECT_EQ(targets(), (std::vector<std::string>{kBase + "calendar/connect", kBase + "calendar/sync"}));  // no more uploads
}

// Searches the drawn items, popups included.
QQuickItem* drawn(QQuickItem* item, const QString& name) {
    if (!item || item->objectName() == name) return item;
    for (QQuickItem* child : item->childItems()) {
        if (QQuickItem* found = drawn(child, name)) return found;
    }
    return nullptr;
}

TEST_F(LearningScreen, DrawnAndWalkedByMouseAndKeyboard) {
    platform::PermissionCenter::install(nullptr);  // the app's own centre, so that its prompt is drawn
    platform::PermissionCenter::current().setStatus(Permission::Calendar, Status::Authorized);
    production.on("GET", "/api/v1/learning-sources", test::ScriptedResponse{200, R"({"categories":[
        {"category":"calendar","connected":true,"itemCount":12}, {"category":"network","connected":true,"itemCount":0}]})"});
    test::QmlScreen screen("import QtQuick\nimport QtQuick.Controls\nimport Nimbo.Learning\nItem {\n"
                           "StackView { anchors.fill: parent; initialItem: LearningSourcesView {} }\n"
                           "PermissionPromptHost { anchors.fill: parent } }");
    QQuickWindow* window = screen.root()->window();
    const auto item = [&](const QString& name) { return drawn(window->contentItem(), name); };
    const auto shown = [&](const QString& name) { return item(name) && item(name)->isVisible(); };
    const auto isOn = [&](const QString& id) { return item("switch_" + id)->property("checked").toBool(); };
    const auto tap = [&](const QString& name) {
        QQuickItem* target = item(name);
        QTest::mouseClick(window, Qt::LeftButton, {}, target->mapToScene({target->width() / 2, target->height() / 2}).toPoint());
    };
    const auto keys = [&](std::vector<Qt::Key> list) {
        for (Qt::Key key : list) QTest::keyClick(window, key);
        return window->activeFocusItem() ? window->activeFocusItem()->objectName() : QString();
    };
    auto* vm = item("learningSourcesPage")->property("viewModel").value<VM*>();
    ASSERT_TRUE(test::waitUntil([&] { return isOn("calendar"); }));
    EXPECT_TRUE(shown("synced_calendar") && shown("permissionAction_calendar") && !shown("synced_network"));
    screen.render("learning-sources");
    tap("switch_messages");
    ASSERT_TRUE(shown("toast"));
    screen.render("learning-toast");

    // The prompt takes the keyboard: Tab goes round its three buttons and Space answers it.
    tap("switch_photos");
    ASSERT_TRUE(test::waitUntil([&] { return shown("permissionOption0"); }));
    test::spinFor(300ms);
    screen.render("learning-permission-prompt");
    EXPECT_EQ(keys({Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Tab}), "permissionOption0");
    tap("switch_videos");  // beneath the prompt: nothing happens
    keys({Qt::Key_Tab, Qt::Key_Space});  // "Allow Full Access"
    ASSERT_TRUE(test::waitUntil([&] { return isOn("photos") && !screen.find("permissionPrompt")->property("visible").toBool(); }));
    EXPECT_FALSE(isOn("videos"));
    EXPECT_TRUE(test::waitUntil([&] { return vm->toastMessage() == "Photos connected."; }));

    // So does the disconnect sheet: Space chooses its focused button, not the switch beneath.
    tap("switch_calendar");
    ASSERT_TRUE(test::waitUntil([&] { return shown("disconnectDeleteButton"); }));
    test::spinFor(300ms);
    screen.render("learning-disconnect");
    EXPECT_EQ(keys({Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Tab}), "disconnectDeleteButton");
    keys({Qt::Key_Space});
    ASSERT_TRUE(test::waitUntil([&] { return targets().back() == kBase + "calendar/disconnect?purge=true"; }));
    EXPECT_FALSE(isOn("calendar"));
    EXPECT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join("\n").toStdString();
}

}  // namespace
