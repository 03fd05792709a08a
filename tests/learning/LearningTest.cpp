// The learning sources: what they exchange with the service, calendar sync over real
// iCalendar files with its background refresh, the screen's logic and the flows it
// starts (with stand-ins for the device services and scripted servers), and the
// screen as drawn, walked by mouse and keyboard.
#include "learning/CalendarSyncManager.h"
#include "learning/LearningSourceSwitches.h"
#include "learning/LearningSourcesApi.h"
#include "learning/LearningSourcesViewModel.h"

#include "api/Json.h"

#include "Doubles.h"
#include "QmlScreen.h"

#include <QElapsedTimer>
#include <QQuickItem>
#include <QTest>
#include <gtest/gtest.h>

using namespace nimbo;
using namespace std::chrono_literals;
using api::Json;
using test::Permission;
using test::Status;
using Counts = std::pair<std::int64_t, std::int64_t>;
using VM = LearningSourcesViewModel;

namespace {

const std::string kBase = "/api/v1/learning-sources/";

// The machine's zone is India's (UTC+5:30, no summer time) here; one event is coming up.
class Learning : public ::testing::Test, protected test::DeviceStandIns {
protected:
    void SetUp() override {
        ::setenv("TZ", "Asia/Kolkata", 1), ::tzset();
        now = QDateTime::currentDateTime();
        reset();
        writeCalendar({test::event("standup", now.addDays(1))});
    }
    void reset() {
        test::resetServers();
        production.onAnything(test::ScriptedResponse{200, "{}"});
        production.on("GET", "/api/auth/me", test::ScriptedResponse{200, R"({"email":"ann@acme.io"})"});
    }
    // The learning-source requests (the user record aside).
    std::vector<test::RecordedRequest> sent() const {
        std::vector<test::RecordedRequest> out;
        for (const auto& r : production.requests()) if (r.target != "/api/auth/me") out.push_back(r);
        return out;
    }
    // The items of the last sync; `count` requests made in all.
    Json uploaded(size_t count = 1) {
        EXPECT_EQ(sent().size(), count);
        EXPECT_EQ(sent().at(count - 1).target, kBase + "calendar/sync");
        return Json::parse(sent().at(count - 1).body)["items"];
    }
    static std::string at(const Json& item, const char* key) { return item[key].get<std::string>(); }
    static QVariant cell(const VM& vm, const QString& id, int role) { return vm.data(vm.index(test::rowOf(id)), role); }
    static void turn(VM& vm, const QString& id, bool on) { vm.setSwitch(test::rowOf(id), on); }
    std::vector<std::string> targets() const {
        std::vector<std::string> out;
        for (const auto& r : sent()) out.push_back(r.target);
        return out;
    }
    test::ScriptedServer& production = test::productionServer();
    QDateTime now;
};

TEST_F(Learning, ListReadsEachFieldWithItsFallback) {
    production.on("GET", "/api/v1/learning-sources", test::ScriptedResponse{200, R"({"categories":[
        {"category":"calendar","connected":true,"lastSyncAt":"2026-03-02T09:30:00.123Z","itemCount":12},
        {"category":7,"connected":"true","lastSyncAt":null,"itemCount":"5"}]})"});
    const auto states = LearningSourcesApi::list();
    ASSERT_EQ(states.size(), 2u);
    const auto fields = [&](size_t i) { return std::tie(states[i].category, states[i].connected, states[i].lastSyncAt, states[i].itemCount); };
    EXPECT_EQ(fields(0), std::make_tuple(QString("calendar"), true, std::optional<QString>("2026-03-02T09:30:00.123Z"), 12));
    EXPECT_EQ(fields(1), std::make_tuple(QString(), false, std::optional<QString>(), 0));
    for (const char* body : {R"({"items":[]})", R"({"categories":"calendar"})", R"({"categories":[{},3]})", ""}) {
        production.on("GET", "/api/v1/learning-sources", test::ScriptedResponse{200, body});
        EXPECT_TRUE(LearningSourcesApi::list().empty()) << body;
    }
}

TEST_F(Learning, ConnectDisconnectAndSyncRequests) {
    production.onAnything(test::ScriptedResponse{200, "{}"});
    LearningSourcesApi::connect("network");
    LearningSourcesApi::disconnect("photos", true);
    LearningSourcesApi::disconnect("calendar", false);
    EXPECT_EQ(LearningSourcesApi::sync("calendar", {}), Counts(0, 0));  // no items, no request
    production.on("POST", kBase + "calendar/sync", test::ScriptedResponse{200, R"({"imported":60,"skipped":40})"});  // partly imported
    EXPECT_EQ(LearningSourcesApi::sync("calendar", {{"a", "A", "Event: A\n", {}}, {"b", "B", "B", QString("2026-03-02T12:00:00Z")}}),
              Counts(60, 40));
    std::vector<std::string> sent;
    for (const auto& r : production.requests()) sent.push_back(r.method + " " + r.target + " " + Json::parse(r.body).dump());
    EXPECT_EQ(sent, (std::vector<std::string>{
                        "POST /api/v1/learning-sources/network/connect {}",
                        "POST /api/v1/learning-sources/photos/disconnect?purge=true {}",
                        "POST /api/v1/learning-sources/calendar/disconnect?purge=false {}",
                        R"(POST /api/v1/learning-sources/calendar/sync {"items":[{"content":"Event: A\n","itemId":"a","title":"A"},)"
                        R"({"at":"2026-03-02T12:00:00Z","content":"B","itemId":"b","title":"B"}]})"}));
    production.on("POST", kBase + "calendar/sync", test::ScriptedResponse{409, R"({"imported":1})"});
    EXPECT_EQ(LearningSourcesApi::sync("calendar", {{"a", "A", "A", {}}}), Counts(0, 0));
}

TEST_F(Learning, SyncSendsNothingWithoutCalendarPermission) {
    for (Status status : {Status::NotDetermined, Status::Denied, Status::Limited}) {
        permissions.setStatus(Permission::Calendar, status);
        CalendarSyncManager::runOnce();
    }
    EXPECT_EQ(production.requestCount(), 0u);
}

TEST_F(Learning, SyncUploadsTheFirstHundredEventsOfTheNextThirtyDaysInOneRequest) {
    permissions.setStatus(Permission::Calendar, Status::Authorized);
    std::vector<QByteArray> events;
    for (int i = 149; i >= 0; --i) events.push_back(test::event("e" + QByteArray::number(i), now.addSecs(3600 + i * 3600)));
    writeCalendar(events);
    CalendarSyncManager::runOnce();
    const Json items = uploaded();
    ASSERT_EQ(items.size(), 100u);
    EXPECT_EQ(at(items[0], "itemId") + at(items[99], "itemId"), "e0e99");
    writeCalendar({test::event("last-day", now.addDays(30).addSecs(-60)), test::event("too-far", now.addDays(30).addSecs(60))});
    CalendarSyncManager::runOnce();
    ASSERT_EQ(uploaded(2).size(), 1u);
    EXPECT_EQ(at(uploaded(2)[0], "itemId"), "last-day");
}

TEST_F(Learning, SyncTextsOfAnEvent) {
    permissions.setStatus(Permission::Calendar, Status::Authorized);
    QDate day = QDate::currentDate().addDays(1);
    while (day.dayOfWeek() != Qt::Monday) day = day.addDays(1);
    const QDateTime start(day, QTime(9, 30), Qt::LocalTime);
    const QString date = QLocale(QLocale::English).toString(day, "ddd, MMM d yyyy");
    writeCalendar({test::event("standup", start, "LOCATION:Room 4\r\n"),
                   test::event("review", start.addSecs(5 * 3600), "DESCRIPTION:Bring the numbers\\nand slides\r\n"),
                   test::event("bare", start.addSecs(8 * 3600), "LOCATION:\r\n"),
                   "DTSTART;TZID=Etc/GMT-2:" + day.addDays(1).toString("yyyyMMdd").toLatin1() + "T140000\r\n"});
    CalendarSyncManager::runOnce();
    const Json items = uploaded();
    ASSERT_EQ(items.size(), 4u);
    const auto when = [&](const char* from, const char* to) { return "When: " + date + " at " + from + " to " + date + " at " + to; };
    EXPECT_EQ(at(items[0], "content"), ("Event: standup\n" + when("9:30 AM", "10:00 AM") + "\nWhere: Room 4\n").toStdString());
    EXPECT_EQ(at(items[1], "content"),
              ("Event: review\n" + when("2:30 PM", "3:00 PM") + "\nNotes: Bring the numbers\nand slides").toStdString());
    EXPECT_EQ(at(items[2], "content"), ("Event: bare\n" + when("5:30 PM", "6:00 PM") + "\n").toStdString());
    EXPECT_EQ(at(items[0], "at"), day.toString("yyyy-MM-dd").toStdString() + "T04:00:00Z");
    // Untitled, without identifier, at 2 PM in a zone two hours ahead of UTC: 5:30 PM here.
    EXPECT_EQ(at(items[3], "title"), "(untitled event)");
    EXPECT_EQ(at(items[3], "content").substr(0, 30), "Event: (untitled event)\nWhen: ");
    EXPECT_NE(at(items[3], "content").find(" at 5:30 PM to "), std::string::npos);
    EXPECT_EQ(at(items[3], "at"), day.addDays(1).toString("yyyy-MM-dd").toStdString() + "T12:00:00Z");
    CalendarSyncManager::runOnce();
    EXPECT_NE(uploaded(2)[3]["itemId"], items[3]["itemId"]);  // a new id on every run
}

TEST_F(Learning, BackgroundRunReschedulesAnHourAheadFirstAndAlwaysReportsSuccess) {
    writeCalendar({test::event("soon", now.addDays(1))});
    store.setBool("learning_source_enabled_calendar", true);  // by the account signed in
    store.setString(LearningSourceSwitches::calendarOwnerKey(), "ann@acme.io");
    LearningSourceSwitches::shared().beginSession();
    ASSERT_TRUE(test::waitUntil([] { return LearningSourceSwitches::shared().isCalendarOwnerSignedIn(); }));
    CalendarSyncManager::registerBackgroundTask();
    EXPECT_EQ(CalendarSyncManager::backgroundTaskIdentifier(), "app.nimbo.chat.calendar-sync");
    for (Status status : {Status::Denied, Status::Authorized}) {
        permissions.setStatus(Permission::Calendar, status);
        const auto task = scheduler.launch();
        EXPECT_EQ(scheduler.whats.back(), "submit");
        EXPECT_NEAR(QDateTime::currentDateTimeUtc().secsTo(scheduler.lastBegin), 3600, 5);
        ASSERT_TRUE(test::waitUntil([&] { return task->isCompleted() && task->succeeded(); }));
    }
    EXPECT_EQ(uploaded().size(), 1u);  // only the run with permission
}



TEST_F(Learning, EachKindOfCategoryTurnsOnOrStaysOffWithItsToast) {
    const std::vector<std::tuple<QString, Status, QString>> cases{  // with the permission decided
        {"messages", Status::NotDetermined, "Messages (SMS) connection flow isn't built yet -- toggle recorded, no data will be collected."},
        {"screen", Status::NotDetermined, "Screen capture isn't built yet on iOS -- this will connect automatically once available."},
        {"network", Status::NotDetermined, "Network (WAN/LAN activity) connected."},
        {"videos", Status::Denied, "Videos needs Photos permission to connect -- staying off."},
        {"videos", Status::Limited, "Videos connected."},
        {"location", Status::Denied, "Location needs Location permission to connect -- staying off."},
        {"location", Status::Authorized, "Location connected."},
        {"sensors", Status::Authorized, "Sensors needs Motion & Fitness permission to connect -- staying off."},  // no motion service here
        {"calendar", Status::Denied, "Calendar needs Calendar permission to connect -- staying off."}};
    for (const auto& [id, decided, toast] : cases) {
        reset();
        store.values.clear();
        for (Permission p : {Permission::Calendar, Permission::Photos, Permission::Location, Permission::Motion})
            permissions.setStatus(p, decided);
        VM vm;
        turn(vm, id, true);
        ASSERT_TRUE(test::waitUntil([&] { return vm.toastMessage() == toast; })) << toast.toStdString();
        const bool on = toast.endsWith(" connected.");
        EXPECT_EQ(cell(vm, id, VM::IsOnRole).toBool(), on) << toast.toStdString();
        EXPECT_EQ(store.values, (std::map<QString, bool>{{"learning_source_enabled_" + id, on}}));
        EXPECT_EQ(targets(), on ? std::vector<std::string>{kBase + id.toStdString() + "/connect"} : std::vector<std::string>{});
    }
    EXPECT_FALSE(permissions.hasPendingPrompt());
}

TEST_F(Learning, APermissionAnswerAfterTheScreenIsGoneStillConnects) {
    for (const auto& [id, allow] : std::vector<std::pair<QString, int>>{{"photos", 1}, {"location", 0}, {"calendar", 1}}) {
        reset();
        auto vm = std::make_unique<VM>();
        turn(*vm, id, true);
        EXPECT_FALSE(stored(id));  // off while the prompt is open
        vm.reset();
        permissions.answer(allow);
        EXPECT_TRUE(stored(id));
        ASSERT_TRUE(test::waitUntil([&] { return !sent().empty(); }));
        EXPECT_EQ(targets().front(), kBase + id.toStdString() + "/connect");
    }
    // Calendar goes on to its first sync, then schedules the next run an hour ahead.
    ASSERT_TRUE(test::waitUntil([&] { return !scheduler.whats.empty(); }));
    EXPECT_EQ(targets(), (std::vector<std::string>{kBase + "calendar/connect", kBase + "calendar/sync"}));
    EXPECT_EQ(scheduler.whats, (std::vector<QString>{"submit"}));
    EXPECT_NEAR(QDateTime::currentDateTimeUtc().secsTo(scheduler.lastBegin), 3600, 5);
}

TEST_F(Learning, SwitchingOffWinsOverWorkInFlight) {
    permissions.setStatus(Permission::Calendar, Status::Authorized);
    production.on("POST", kBase + "calendar/sync", test::ScriptedResponse{200, "{}", "application/json", {}, 800ms});
    production.on("POST", kBase + "network/connect", test::ScriptedResponse{200, "{}", "application/json", {}, 300ms});
    VM vm;
    turn(vm, "calendar", true);
    ASSERT_TRUE(test::waitUntil([&] { return sent().size() == 2; }));  // the first upload is held
    turn(vm, "calendar", false);
    turn(vm, "network", true);  // and its connect is held
    turn(vm, "network", false);
    test::spinFor(1500ms);
    EXPECT_EQ(scheduler.whats, (std::vector<QString>{"cancel"}));  // nothing rescheduled
    EXPECT_EQ(sent().size(), 3u);
    EXPECT_EQ(vm.toastMessage(), "Calendar connected.");  // and nothing shown for the network

    // The session ending stops what it started in the same way, and keeps the switch.
    turn(vm, "calendar", true);
    ASSERT_TRUE(test::waitUntil([&] { return sent().size() == 5; }));  // the upload is held again
    LearningSourceSwitches::shared().endSession();
    test::spinFor(1500ms);
    EXPECT_TRUE(stored("calendar"));
    EXPECT_EQ(scheduler.whats, (std::vector<QString>{"cancel"}));
}

TEST_F(Learning, TurningOffCancelsTheRefreshThenAsksWhetherToDelete) {
    store.setBool("learning_source_enabled_calendar", true);
    VM vm;
    turn(vm, "calendar", false);
    EXPECT_EQ(scheduler.whats, (std::vector<QString>{"cancel"}));
    EXPECT_FALSE(stored("calendar"));
    EXPECT_EQ(vm.disconnectTitle() + " " + vm.disconnectMessage(), "Disconnect Calendar? Collection stops immediately. "
              "Would you also like to delete data already synced for this category?");
    vm.confirmDisconnect(false);  // nothing was told before a button was chosen
    turn(vm, "photos", false);  // only Calendar has a background refresh
    vm.dismissDisconnect();
    test::spinFor(100ms);
    EXPECT_EQ(targets(), std::vector<std::string>{kBase + "calendar/disconnect?purge=false"});
    EXPECT_EQ(scheduler.whats.size(), 1u);
}

TEST_F(Learning, RefreshTakesTheServersSwitchesAndCounts) {
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
}

TEST_F(Learning, ToastsLastTwoAndAHalfSecondsFromTheirOwnShowing) {
    VM vm;
    const auto shownFor = [&](const QString& first, const QString& second) {
        QElapsedTimer clock;
        clock.start();
        turn(vm, first, true);
        test::spinFor(1000ms);
        turn(vm, second, true);
        EXPECT_TRUE(test::waitUntil([&] { return vm.toastMessage().isEmpty(); }, 6s));
        return clock.elapsed();
    };
    EXPECT_NEAR(shownFor("messages", "messages"), 2500, 250);  // the same text again: the first timer ends it
    EXPECT_NEAR(shownFor("messages", "email"), 3500, 250);     // a different text keeps its full time
}

TEST_F(Learning, ARefusalCanBeAskedAgainAndAGrantRevoked) {
    permissions.setStatus(Permission::Calendar, Status::Denied);
    VM vm;
    const auto control = [&] {
        return cell(vm, "calendar", VM::PermissionTextRole).toString() + "|" + cell(vm, "calendar", VM::PermissionActionRole).toString();
    };
    EXPECT_EQ(control(), "Calendar access: not allowed|Ask Again");
    vm.changePermission(test::rowOf("calendar"));
    EXPECT_EQ(control(), "|");
    turn(vm, "calendar", true);
    ASSERT_TRUE(permissions.hasPendingPrompt());  // asked again
    permissions.answer(1);
    ASSERT_TRUE(test::waitUntil([&] { return !scheduler.whats.empty(); }));  // connected, synced, scheduled
    EXPECT_EQ(control(), "Calendar access: allowed|Revoke");

    vm.changePermission(test::rowOf("calendar"));  // revoking switches Calendar off like the person would
    EXPECT_EQ(control(), "Calendar access: not allowed|Ask Again");
    EXPECT_FALSE(stored("calendar"));
    EXPECT_EQ(vm.disconnectTitle(), "Disconnect Calendar?");
    EXPECT_EQ(scheduler.whats, (std::vector<QString>{"submit", "cancel"}));
    CalendarSyncManager::registerBackgroundTask();
    const auto task = scheduler.launch();
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

TEST_F(Learning, DrawnAndWalkedByMouseAndKeyboard) {
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
    ASSERT_TRUE(test::waitUntil([&] { return isOn("calendar"); }));
    EXPECT_TRUE(shown("synced_calendar") && shown("permissionAction_calendar") && !shown("synced_network"));
    screen.render("learning-sources");
    tap("switch_messages");
    ASSERT_TRUE(shown("toast"));
    screen.render("learning-toast");
    item("switch_email")->forceActiveFocus(Qt::TabFocusReason);  // the keyboard's place is drawn
    const QQuickItem* ring = drawn(item("switch_email"), "focusRing");
    EXPECT_TRUE(ring && ring->isVisible());
    screen.render("learning-keyboard");

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

    // So does the disconnect sheet: Space chooses its focused button, not the switch beneath.
    tap("switch_calendar");
    ASSERT_TRUE(test::waitUntil([&] { return shown("disconnectDeleteButton"); }));
    test::spinFor(300ms);
    screen.render("learning-disconnect");
    EXPECT_EQ(keys({Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Tab}), "disconnectDeleteButton");
    keys({Qt::Key_Space});
    ASSERT_TRUE(test::waitUntil([&] {
        const auto sent = targets();
        return !sent.empty() && sent.back() == kBase + "calendar/disconnect?purge=true";
    }));
    EXPECT_FALSE(isOn("calendar"));
    EXPECT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join("\n").toStdString();
}

}  // namespace
