// Calendar sync over real iCalendar files: what one run uploads, its texts and
// times, and the background refresh chain.
#include "learning/CalendarSyncManager.h"

#include "api/Json.h"

#include "Doubles.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

#include <future>

using namespace nimbo;
using namespace std::chrono_literals;
using api::Json;
using platform::Permission;
using platform::PermissionStatus;
using test::ScriptedResponse;

namespace {

const char* const kSyncPath = "/api/v1/learning-sources/calendar/sync";

QString monthAbbreviation(int month) {
    static const char* const names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return names[month - 1];
}

// The next Monday after today, at h:m local time.
QDateTime nextMondayAt(int hour, int minute) {
    QDate day = QDate::currentDate().addDays(1);
    while (day.dayOfWeek() != Qt::Monday) day = day.addDays(1);
    return QDateTime(day, QTime(hour, minute), Qt::LocalTime);
}

QString mondayText(const QDateTime& t, const QString& clock) {
    return QString("Mon, %1 %2 %3 at %4").arg(monthAbbreviation(t.date().month())).arg(t.date().day()).arg(t.date().year()).arg(clock);
}

class CalendarSync : public ::testing::Test, protected test::DeviceStandIns {
protected:
    void SetUp() override {
        test::resetServers();
        production.on("POST", kSyncPath, ScriptedResponse{200, R"({"imported":1,"skipped":0})"});
        permissions.statuses[Permission::Calendar] = PermissionStatus::Authorized;
    }

    void writeCalendar(const std::vector<QByteArray>& events, const char* name = "cal.ics") {
        test::writeText(calendarDir / name, test::calendarText(events));
    }
    // The items of the one sync request made so far.
    Json uploadedItems() {
        EXPECT_EQ(production.requestCount(), 1u);
        if (production.requestCount() == 0) return Json::array();
        EXPECT_EQ(production.requests().back().target, kSyncPath);
        return Json::parse(production.requests().back().body)["items"];
    }

    test::ScriptedServer& production = test::productionServer();
};

TEST_F(CalendarSync, WithoutPermissionNothingIsRead) {
    writeCalendar({"UID:a\r\nSUMMARY:A\r\nDTSTART:" + test::icsLocal(QDateTime::currentDateTime().addDays(1)) + "\r\n"});
    for (auto status : {PermissionStatus::NotDetermined, PermissionStatus::Denied, PermissionStatus::Limited}) {
        permissions.statuses[Permission::Calendar] = status;
        CalendarSyncManager::runOnce();
    }
    EXPECT_EQ(production.requestCount(), 0u);
    EXPECT_FALSE(CalendarSyncManager::currentAuthorizationGranted());
}

TEST_F(CalendarSync, NoEventsInTheWindowMakesNoRequest) {
    CalendarSyncManager::runOnce();  // an empty folder
    const QDateTime now = QDateTime::currentDateTime();
    writeCalendar({"UID:past\r\nDTSTART:" + test::icsLocal(now.addDays(-2)) + "\r\nDURATION:PT1H\r\n",
                   "UID:later\r\nDTSTART:" + test::icsLocal(now.addDays(31)) + "\r\nDURATION:PT1H\r\n"});
    CalendarSyncManager::runOnce();
    EXPECT_EQ(production.requestCount(), 0u);
}

TEST_F(CalendarSync, UploadsTheFirstHundredOfMoreEventsInOneRequest) {
    const QDateTime first = QDateTime::currentDateTime().addSecs(3600);
    std::vector<QByteArray> events;
    for (int i = 149; i >= 0; --i) {  // written last-first: the store orders by start
        events.push_back("UID:e" + QByteArray::number(i) + "\r\nSUMMARY:Event " + QByteArray::number(i) +
                         "\r\nDTSTART:" + test::icsLocal(first.addSecs(i * 3600)) + "\r\nDURATION:PT30M\r\n");
    }
    writeCalendar(events);
    CalendarSyncManager::runOnce();
    const Json items = uploadedItems();
    ASSERT_EQ(items.size(), 100u);
    EXPECT_EQ(items[0]["itemId"], "e0");
    EXPECT_EQ(items[99]["itemId"], "e99");
}

TEST_F(CalendarSync, ContentLinesWithAndWithoutPlaceAndNotes) {
    const QDateTime start = nextMondayAt(9, 30);
    writeCalendar({"UID:standup\r\nSUMMARY:Standup\r\nDTSTART:" + test::icsLocal(start) + "\r\nDTEND:" +
                       test::icsLocal(start.addSecs(15 * 60)) + "\r\nLOCATION:Room 4\r\n",
                   "UID:review\r\nSUMMARY:Review\r\nDTSTART:" + test::icsLocal(start.addSecs(5 * 3600)) +
                       "\r\nDURATION:PT1H\r\nDESCRIPTION:Bring the numbers\\nand slides\r\n",
                   "UID:bare\r\nSUMMARY:Bare\r\nDTSTART:" + test::icsLocal(start.addSecs(8 * 3600)) +
                       "\r\nDURATION:PT1H\r\nLOCATION:\r\n"});
    CalendarSyncManager::runOnce();
    const Json items = uploadedItems();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0]["title"], "Standup");
    EXPECT_EQ(items[0]["content"], ("Event: Standup\nWhen: " + mondayText(start, "9:30 AM") + " to " +
                                    mondayText(start, "9:45 AM") + "\nWhere: Room 4\n").toStdString());
    EXPECT_EQ(items[1]["content"], ("Event: Review\nWhen: " + mondayText(start, "2:30 PM") + " to " +
                                    mondayText(start, "3:30 PM") + "\nNotes: Bring the numbers\nand slides").toStdString());
    EXPECT_EQ(items[2]["content"], ("Event: Bare\nWhen: " + mondayText(start, "5:30 PM") + " to " +
                                    mondayText(start, "6:30 PM") + "\n").toStdString());
}

TEST_F(CalendarSync, UntitledEventAndEventsWithoutIdentifier) {
    writeCalendar({"DTSTART:" + test::icsLocal(QDateTime::currentDateTime().addDays(2)) + "\r\nDURATION:PT1H\r\n"});
    CalendarSyncManager::runOnce();
    const Json first = uploadedItems()[0];
    EXPECT_EQ(first["title"], "(untitled event)");
    EXPECT_TRUE(QString::fromStdString(first["content"].get<std::string>()).startsWith("Event: (untitled event)\nWhen: "));
    const QRegularExpression uuid("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$");
    EXPECT_TRUE(uuid.match(QString::fromStdString(first["itemId"].get<std::string>())).hasMatch()) << first["itemId"];

    CalendarSyncManager::runOnce();
    const Json second = Json::parse(production.requests().back().body)["items"][0];
    EXPECT_NE(second["itemId"], first["itemId"]);  // a new id on every run
}

TEST_F(CalendarSync, AtIsUtcWithATrailingZ) {
    test::ScopedTimeZone twoHoursAhead("Etc/GMT-2");
    QDateTime start(QDate::currentDate().addDays(3), QTime(14, 0), Qt::LocalTime);
    writeCalendar({"UID:two\r\nSUMMARY:Two\r\nDTSTART:" + test::icsLocal(start) + "\r\nDURATION:PT1H\r\n"});
    CalendarSyncManager::runOnce();
    const Json items = uploadedItems();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]["at"], start.date().toString("yyyy-MM-dd").toStdString() + "T12:00:00Z");
    EXPECT_TRUE(QString::fromStdString(items[0]["content"].get<std::string>()).contains(" at 2:00 PM to "));
}

TEST_F(CalendarSync, RepeatingEventsAreExpandedInsideTheWindow) {
    const QDateTime firstStart = QDateTime(QDate::currentDate().addDays(-20), QTime(9, 0), Qt::LocalTime);
    const QDateTime skipped = firstStart.addDays(28);   // removed by EXDATE
    const QDateTime moved = firstStart.addDays(35);     // replaced by an override
    writeCalendar({"UID:weekly\r\nSUMMARY:Weekly\r\nDTSTART:" + test::icsLocal(firstStart) +
                       "\r\nDURATION:PT30M\r\nRRULE:FREQ=WEEKLY\r\nEXDATE:" + test::icsLocal(skipped) + "\r\n",
                   "UID:weekly\r\nRECURRENCE-ID:" + test::icsLocal(moved) + "\r\nSUMMARY:Weekly (moved)\r\nDTSTART:" +
                       test::icsLocal(moved.addSecs(3600)) + "\r\nDURATION:PT30M\r\n"});
    CalendarSyncManager::runOnce();
    const Json items = uploadedItems();
    std::vector<std::string> ids, titles;
    for (const Json& item : items) {
        ids.push_back(item["itemId"].get<std::string>());
        titles.push_back(item["title"].get<std::string>());
    }
    // Weeks 3 (tomorrow) to 7 after the first start fall in the next 30 days; week 4
    // is excluded and week 5 moved (its override keeps the occurrence's id).
    std::vector<std::string> expected;
    for (int week : {3, 5, 6, 7}) expected.push_back(("weekly/" + test::icsUtc(firstStart.addDays(7 * week))).toStdString());
    EXPECT_EQ(ids, expected);
    EXPECT_NE(std::find(titles.begin(), titles.end(), "Weekly (moved)"), titles.end());
}

TEST(CalendarDates, TextsFollowTheMachinesZone) {
    const QDateTime afternoon(QDate(2026, 3, 2), QTime(14, 0), Qt::UTC);
    const QDateTime midnight(QDate(2026, 3, 2), QTime(0, 5, 30, 500), Qt::UTC);
    {
        test::ScopedTimeZone utc("UTC");
        EXPECT_EQ(CalendarSyncManager::formatEventTime(afternoon), "Mon, Mar 2 2026 at 2:00 PM");
        EXPECT_EQ(CalendarSyncManager::formatEventTime(midnight), "Mon, Mar 2 2026 at 12:05 AM");
        EXPECT_EQ(CalendarSyncManager::isoUtc(midnight), "2026-03-02T00:05:30Z");
    }
    {
        test::ScopedTimeZone newYork("America/New_York");
        EXPECT_EQ(CalendarSyncManager::formatEventTime(afternoon), "Mon, Mar 2 2026 at 9:00 AM");
        EXPECT_EQ(CalendarSyncManager::formatEventTime(midnight), "Sun, Mar 1 2026 at 7:05 PM");
        EXPECT_EQ(CalendarSyncManager::isoUtc(afternoon.toLocalTime()), "2026-03-02T14:00:00Z");
    }
}

TEST_F(CalendarSync, BackgroundRunReschedulesFirstAndReportsSuccessWithoutPermission) {
    permissions.statuses[Permission::Calendar] = PermissionStatus::Denied;
    writeCalendar({"UID:a\r\nDTSTART:" + test::icsLocal(QDateTime::currentDateTime().addDays(1)) + "\r\n"});
    CalendarSyncManager::registerBackgroundTask();
    ASSERT_EQ(scheduler.calls.size(), 1u);
    EXPECT_EQ(scheduler.calls[0].what, "register");
    EXPECT_EQ(scheduler.calls[0].identifier, CalendarSyncManager::backgroundTaskIdentifier());

    const auto task = scheduler.launch(CalendarSyncManager::backgroundTaskIdentifier());
    EXPECT_EQ(scheduler.whats(), (std::vector<QString>{"register", "submit"}));
    EXPECT_NEAR(QDateTime::currentDateTimeUtc().secsTo(scheduler.calls[1].earliestBegin), 3600, 60);
    ASSERT_TRUE(test::waitUntil([&] { return task->isCompleted(); }));
    EXPECT_TRUE(task->succeeded());
    EXPECT_EQ(production.requestCount(), 0u);

    permissions.statuses[Permission::Calendar] = PermissionStatus::Authorized;
    const auto next = scheduler.launch(CalendarSyncManager::backgroundTaskIdentifier());
    ASSERT_TRUE(test::waitUntil([&] { return next->isCompleted(); }));
    EXPECT_TRUE(next->succeeded());
    EXPECT_EQ(uploadedItems().size(), 1u);
}

// Holds the read until the test lets it go.
class GatedCalendarStore final : public platform::CalendarStore {
public:
    std::vector<platform::CalendarEvent> events(const QDateTime& from, const QDateTime&) override {
        entered.set_value();
        gate.get_future().wait();
        return {platform::CalendarEvent{QString("gated"), QString("Gated"), from.addSecs(60), from.addSecs(120), {}, {}}};
    }
    std::promise<void> entered;
    std::promise<void> gate;
};

TEST_F(CalendarSync, ExpiredBackgroundRunUploadsNothingAndStillCompletes) {
    GatedCalendarStore gated;
    platform::CalendarStore::install(&gated);
    CalendarSyncManager::registerBackgroundTask();
    const auto task = scheduler.launch(CalendarSyncManager::backgroundTaskIdentifier());
    ASSERT_EQ(gated.entered.get_future().wait_for(5s), std::future_status::ready);
    task->expire();
    gated.gate.set_value();
    ASSERT_TRUE(test::waitUntil([&] { return task->isCompleted(); }));
    EXPECT_TRUE(task->succeeded());
    EXPECT_EQ(production.requestCount(), 0u);
}

}  // namespace
