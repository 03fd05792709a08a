// What the learning sources exchange with the service, calendar sync over real
// iCalendar files with its background refresh, and the kept permission answers. The
// machine's zone is India's (UTC+5:30, no summer time) here.
#include "learning/CalendarSyncManager.h"
#include "learning/LearningSourcesApi.h"

#include "api/Json.h"

#include "Doubles.h"

#include <gtest/gtest.h>

using namespace nimbo;
using namespace std::chrono_literals;
using api::Json;
using test::Permission;
using test::Status;
using Counts = std::pair<std::int64_t, std::int64_t>;

namespace {

const std::string kSyncPath = "/api/v1/learning-sources/calendar/sync";

class Learning : public ::testing::Test, protected test::DeviceStandIns {
protected:
    void SetUp() override {
        ::setenv("TZ", "Asia/Kolkata", 1);
        ::tzset();
        now = QDateTime::currentDateTime();
        test::resetServers();
        production.on("POST", kSyncPath, test::ScriptedResponse{200, R"({"imported":1,"skipped":0})"});
        permissions.statuses[Permission::Calendar] = Status::Authorized;
    }
    void TearDown() override { ::unsetenv("TZ"), ::tzset(); }
    // The items of the last sync; `count` requests made in all.
    Json uploaded(size_t count = 1) {
        EXPECT_EQ(production.requestCount(), count);
        if (production.requestCount() == 0) return Json::array();
        EXPECT_EQ(production.requests().back().target, kSyncPath);
        return Json::parse(production.requests().back().body)["items"];
    }
    static std::string at(const Json& item, const char* key) { return item[key].get<std::string>(); }

    test::ScriptedServer& production = test::productionServer();
    QDateTime now;
};

TEST_F(Learning, ListReadsEachFieldWithItsFallback) {
    production.on("GET", "/api/v1/learning-sources", test::ScriptedResponse{200, R"({"categories":[
        {"category":"calendar","connected":true,"lastSyncAt":"2026-03-02T09:30:00.123Z","itemCount":12}, {},
        {"category":7,"connected":"true","lastSyncAt":null,"itemCount":"5"}, {"category":"calendar"}]})"});
    const auto states = LearningSourcesApi::list();
    const std::vector<std::tuple<QString, bool, std::optional<QString>, std::int64_t>> expected{
        {"calendar", true, QString("2026-03-02T09:30:00.123Z"), 12}, {"", false, {}, 0}, {"", false, {}, 0},
        {"calendar", false, {}, 0}};
    ASSERT_EQ(states.size(), expected.size());  // in the server's order, duplicates kept
    for (size_t i = 0; i < states.size(); ++i) {
        EXPECT_EQ(std::tie(states[i].category, states[i].connected, states[i].lastSyncAt, states[i].itemCount), expected[i]);
    }
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
    production.on("POST", kSyncPath, test::ScriptedResponse{200, R"({"imported":60,"skipped":40})"});  // partly imported
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
    production.on("POST", kSyncPath, test::ScriptedResponse{409, R"({"imported":1})"});
    EXPECT_EQ(LearningSourcesApi::sync("calendar", {{"a", "A", "A", {}}}), Counts(0, 0));
}

TEST_F(Learning, SyncSendsNothingWithoutPermissionOrUpcomingEvents) {
    CalendarSyncManager::runOnce();  // no events at all
    writeCalendar({test::event("past", now.addDays(-2)), test::event("later", now.addDays(30).addSecs(60))});
    CalendarSyncManager::runOnce();  // none in the next 30 days
    writeCalendar({test::event("soon", now.addDays(1))});
    for (Status status : {Status::NotDetermined, Status::Denied, Status::Limited}) {
        permissions.statuses[Permission::Calendar] = status;
        CalendarSyncManager::runOnce();
    }
    EXPECT_EQ(production.requestCount(), 0u);
}

TEST_F(Learning, SyncUploadsTheFirstHundredEventsOfTheNextThirtyDaysInOneRequest) {
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
    const QString tuesday = QLocale(QLocale::English).toString(day.addDays(1), "ddd, MMM d yyyy");
    EXPECT_EQ(at(items[3], "content"),
              ("Event: (untitled event)\nWhen: " + tuesday + " at 5:30 PM to " + tuesday + " at 5:30 PM\n").toStdString());
    EXPECT_EQ(at(items[3], "at"), day.addDays(1).toString("yyyy-MM-dd").toStdString() + "T12:00:00Z");
    CalendarSyncManager::runOnce();
    EXPECT_NE(uploaded(2)[3]["itemId"], items[3]["itemId"]);  // a new id on every run
}

TEST_F(Learning, BackgroundRunReschedulesAnHourAheadFirstAndAlwaysReportsSuccess) {
    writeCalendar({test::event("soon", now.addDays(1))});
    CalendarSyncManager::registerBackgroundTask();
    EXPECT_EQ(CalendarSyncManager::backgroundTaskIdentifier(), "app.nimbo.chat.calendar-sync");
    for (Status status : {Status::Denied, Status::Authorized}) {
        permissions.statuses[Permission::Calendar] = status;
        const auto task = scheduler.launch(CalendarSyncManager::backgroundTaskIdentifier());
        EXPECT_EQ(scheduler.whats.back(), "submit");
        EXPECT_NEAR(QDateTime::currentDateTimeUtc().secsTo(scheduler.lastBegin), 3600, 5);
        ASSERT_TRUE(test::waitUntil([&] { return task->isCompleted() && task->succeeded(); }));
    }
    EXPECT_EQ(uploaded().size(), 1u);  // only the run with permission
}

TEST(DevicePermissions, AnAnswerIsKeptAcrossLaunchesUntilItIsReset) {
    const auto file = test::freshFolder() / "permissions.json";
    QObject receiver;
    std::optional<Status> answer;
    {
        platform::PromptingPermissionCenter center(file);
        center.request(Permission::Calendar, &receiver, [&](Status s) { answer = s; });
        EXPECT_EQ(center.pendingTitle() + "|" + center.pendingOptions().join("|"),
                  "\u201CNimboChat\u201D Would Like Full Access to Your Calendar|Don\u2019t Allow|Allow Full Access");
        center.answer(7);  // not a button
        center.answer(1);
        EXPECT_EQ(answer, Status::Authorized);
    }  // the app closes
    platform::PromptingPermissionCenter nextLaunch(file);
    EXPECT_EQ(nextLaunch.status(Permission::Calendar), Status::Authorized);
    nextLaunch.setStatus(Permission::Calendar, Status::NotDetermined);  // "ask again"
    nextLaunch.request(Permission::Calendar, &receiver, [&](Status s) { answer = s; });
    EXPECT_TRUE(nextLaunch.hasPendingPrompt());
}

}  // namespace
