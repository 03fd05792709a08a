// The device services: the key-value store's file, the permission centre, reading
// iCalendar files and the background refresh scheduler.
#include "platform/device/BackgroundTasks.h"
#include "platform/device/CalendarStore.h"
#include "platform/device/KeyValueStore.h"
#include "platform/device/PermissionCenter.h"

#include "Doubles.h"

#include <QFile>
#include <QObject>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace nimbo;
using namespace nimbo::platform;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

int modeOf(const fs::path& p) {
    struct stat info {};
    return ::stat(p.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 0777) : -1;
}

// ---- key-value store ------------------------------------------------------------------

TEST(KeyValueStoreFile, ValuesSurviveAReopenInAnOwnerOnlyFile) {
    const fs::path file = test::freshFolder("kv") / "nested" / "preferences.json";
    {
        FileKeyValueStore store(file);
        EXPECT_FALSE(store.boolForKey("learning_source_enabled_calendar"));
        store.setBool("learning_source_enabled_calendar", true);
        store.setBool("learning_source_enabled_photos", false);
        store.setBool("learning_source_enabled_network", true);
        EXPECT_TRUE(store.boolForKey("learning_source_enabled_calendar"));
    }  // going away writes what is pending
    FileKeyValueStore reopened(file);
    EXPECT_TRUE(reopened.boolForKey("learning_source_enabled_calendar"));
    EXPECT_FALSE(reopened.boolForKey("learning_source_enabled_photos"));
    EXPECT_TRUE(reopened.boolForKey("learning_source_enabled_network"));
    EXPECT_EQ(modeOf(file), 0600);
    EXPECT_EQ(modeOf(file.parent_path()), 0700);
}

TEST(KeyValueStoreFile, BackgroundWritesReachTheFileWithoutAFlush) {
    const fs::path file = test::freshFolder("kv") / "preferences.json";
    FileKeyValueStore store(file);
    for (int i = 0; i < 50; ++i) store.setBool("k" + QString::number(i), i % 2 == 0);
    ASSERT_TRUE(test::waitUntil([&] { return FileKeyValueStore(file).boolForKey("k48"); }));
    FileKeyValueStore reader(file);
    EXPECT_TRUE(reader.boolForKey("k0"));
    EXPECT_FALSE(reader.boolForKey("k1"));
}

TEST(KeyValueStoreFile, CorruptOrForeignContentReadsAsFalseAndIsReplacedOnWrite) {
    const fs::path dir = test::freshFolder("kv");
    const fs::path file = dir / "preferences.json";
    for (const QByteArray& bytes : {QByteArray("{\"a\":tru"), QByteArray("\xff\xfe\x00garbage", 11), QByteArray("[true]"),
                                   QByteArray(R"({"a":"true","b":1})")}) {
        test::writeText(file, bytes);
        FileKeyValueStore store(file);
        EXPECT_FALSE(store.boolForKey("a"));
        EXPECT_FALSE(store.boolForKey("b"));
    }
    FileKeyValueStore store(file);
    store.setBool("a", true);
    store.flush();
    EXPECT_TRUE(FileKeyValueStore(file).boolForKey("a"));
}

TEST(KeyValueStoreFile, AnUnreadableFileIsMovedAsideNotOverwritten) {
    const fs::path dir = test::freshFolder("kv");
    const fs::path file = dir / "preferences.json";
    test::writeText(file, QByteArray("{\"learning_source_enabled_calendar\":tru"));
    FileKeyValueStore store(file);
    store.setBool("b", true);
    store.flush();
    QFile aside(QString::fromStdString(file.string() + ".unreadable"));
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.readAll(), QByteArray("{\"learning_source_enabled_calendar\":tru"));
    EXPECT_TRUE(FileKeyValueStore(file).boolForKey("b"));
}

TEST(KeyValueStoreFile, ACrashMidWriteLeavesTheEarlierValues) {
    const fs::path dir = test::freshFolder("kv");
    const fs::path file = dir / "preferences.json";
    {
        FileKeyValueStore store(file);
        store.setBool("kept", true);
    }
    // What a crash mid-write leaves behind: a half-written temporary file beside the old one.
    test::writeText(dir / "preferences.json.tmp12345", "{\"kept\":fal");
    FileKeyValueStore reopened(file);
    EXPECT_TRUE(reopened.boolForKey("kept"));
    reopened.setBool("other", true);
    reopened.flush();
    EXPECT_TRUE(FileKeyValueStore(file).boolForKey("other"));
}

TEST(KeyValueStoreFile, AFailedWriteKeepsTheFileAndTheValueInMemory) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop root from writing";
    const fs::path dir = test::freshFolder("kv");
    const fs::path file = dir / "preferences.json";
    {
        FileKeyValueStore store(file);
        store.setBool("kept", true);
    }
    ::chmod(dir.c_str(), 0500);  // no temporary file can be made now
    {
        FileKeyValueStore store(file);
        store.setBool("kept", false);
        store.flush();
        EXPECT_FALSE(store.boolForKey("kept"));
    }
    EXPECT_TRUE(FileKeyValueStore(file).boolForKey("kept"));
    ::chmod(dir.c_str(), 0700);
}

// ---- permission centre ------------------------------------------------------------------

class PermissionPrompts : public ::testing::Test {
protected:
    fs::path file = test::freshFolder("permissions") / "permissions.json";
    QObject receiver;
};

TEST_F(PermissionPrompts, UndecidedPromptsAndTheAnswerIsKept) {
    std::vector<PermissionStatus> answers;
    {
        PromptingPermissionCenter center(file);
        EXPECT_EQ(center.status(Permission::Calendar), PermissionStatus::NotDetermined);
        center.request(Permission::Calendar, &receiver, [&](PermissionStatus s) { answers.push_back(s); });
        center.request(Permission::Calendar, &receiver, [&](PermissionStatus s) { answers.push_back(s); });
        ASSERT_TRUE(center.hasPendingPrompt());
        EXPECT_EQ(center.pendingTitle(), QString::fromUtf8("\u201CNimboChat\u201D Would Like Full Access to Your Calendar"));
        EXPECT_FALSE(center.pendingMessage().isEmpty());
        EXPECT_EQ(center.pendingOptions(), (QStringList{QString::fromUtf8("Don\u2019t Allow"), "Allow Full Access"}));
        center.answer(7);  // not a button
        EXPECT_TRUE(answers.empty());
        center.answer(1);
        EXPECT_EQ(answers, (std::vector<PermissionStatus>{PermissionStatus::Authorized, PermissionStatus::Authorized}));
        EXPECT_FALSE(center.hasPendingPrompt());
    }  // the app closes

    PromptingPermissionCenter nextLaunch(file);
    nextLaunch.request(Permission::Calendar, &receiver, [&](PermissionStatus s) { answers.push_back(s); });
    EXPECT_FALSE(nextLaunch.hasPendingPrompt());
    ASSERT_TRUE(test::waitUntil([&] { return answers.size() == 3; }));
    EXPECT_EQ(answers.back(), PermissionStatus::Authorized);
}

TEST_F(PermissionPrompts, PhotosOffersLimitedAccessAndPromptsQueue) {
    PromptingPermissionCenter center(file);
    PermissionStatus photos = PermissionStatus::NotDetermined;
    PermissionStatus location = PermissionStatus::NotDetermined;
    int changes = 0;
    QObject::connect(&center, &PromptingPermissionCenter::pendingPromptChanged, [&] { ++changes; });
    center.request(Permission::Photos, &receiver, [&](PermissionStatus s) { photos = s; });
    center.request(Permission::Location, &receiver, [&](PermissionStatus s) { location = s; });
    EXPECT_TRUE(center.pendingTitle().contains("Photos"));
    EXPECT_EQ(center.pendingOptions().first(), "Allow Limited Access");
    center.answer(0);
    EXPECT_EQ(photos, PermissionStatus::Limited);
    EXPECT_TRUE(center.pendingTitle().contains("location"));
    center.answer(center.pendingOptions().indexOf(QString::fromUtf8("Don\u2019t Allow")));
    EXPECT_EQ(location, PermissionStatus::Denied);
    EXPECT_EQ(changes, 3);
    EXPECT_FALSE(center.isMotionActivityAvailable());  // no motion-activity service on this machine
}

TEST_F(PermissionPrompts, AnswerForAGoneRequesterIsDropped) {
    PromptingPermissionCenter center(file);
    bool called = false;
    {
        QObject shortLived;
        center.request(Permission::Motion, &shortLived, [&](PermissionStatus) { called = true; });
    }
    center.answer(1);
    EXPECT_FALSE(called);
    EXPECT_EQ(center.status(Permission::Motion), PermissionStatus::Authorized);
}

// ---- iCalendar files --------------------------------------------------------------------

class IcsFiles : public ::testing::Test {
protected:
    QDateTime now = QDateTime::currentDateTime();
    QDateTime from = now;
    QDateTime to = now.addDays(30);
    fs::path dir = test::freshFolder("ics");
};

TEST_F(IcsFiles, MalformedFilesAreSkippedAndTheOthersRead) {
    test::writeText(dir / "a-garbage.ics", QByteArray("\x00\xff not a calendar", 18));
    test::writeText(dir / "b-truncated.ics", "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:t\r\nDTSTART:" + test::icsLocal(now.addDays(1)));
    test::writeText(dir / "c-good.ics", test::calendarText({"UID:good\r\nSUMMARY:Good\r\nDTSTART:" +
                                                            test::icsLocal(now.addDays(1)) + "\r\n",
                                                            "UID:nostart\r\nSUMMARY:No start\r\n",
                                                            "UID:badstart\r\nDTSTART:2026XX01T000000\r\n"}));
    test::writeText(dir / "d-empty.ics", "");
    test::writeText(dir / "notes.txt", test::calendarText({"UID:txt\r\nDTSTART:" + test::icsLocal(now.addDays(1)) + "\r\n"}));
    IcsCalendarStore store({dir, dir / "missing.ics", "/nonexistent/folder"});
    const auto events = store.events(from, to);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].identifier, QString("good"));
    EXPECT_EQ(events[0].title, QString("Good"));
    EXPECT_FALSE(events[0].location);
    EXPECT_FALSE(events[0].notes);
}

TEST_F(IcsFiles, ZonesDatesAndDurations) {
    const QDate day = QDate::currentDate().addDays(5);
    const QByteArray date = day.toString("yyyyMMdd").toLatin1();
    const auto events = readIcsEvents(
        test::calendarText({"UID:berlin\r\nDTSTART;TZID=Europe/Berlin:" + date + "T093000\r\nDURATION:PT45M\r\n",
                            "UID:utc\r\nDTSTART:" + date + "T093000Z\r\nDTEND:" + date + "T100000Z\r\n",
                            "UID:allday\r\nDTSTART;VALUE=DATE:" + date + "\r\nSUMMARY:Holiday\r\n"})
            .toStdString(),
        from, to);
    ASSERT_EQ(events.size(), 3u);
    const QDateTime berlin = QDateTime(day, QTime(9, 30), QTimeZone("Europe/Berlin"));
    EXPECT_EQ(events[0].start, berlin);
    EXPECT_EQ(events[0].end, berlin.addSecs(45 * 60));
    EXPECT_EQ(events[1].start, QDateTime(day, QTime(9, 30), Qt::UTC));
    EXPECT_EQ(events[1].end, QDateTime(day, QTime(10, 0), Qt::UTC));
    EXPECT_EQ(events[2].start, QDateTime(day, QTime(0, 0), Qt::LocalTime));
    EXPECT_EQ(events[2].end, QDateTime(day.addDays(1), QTime(0, 0), Qt::LocalTime));
}

TEST_F(IcsFiles, OverlapWithTheRangeDecides) {
    const auto events = readIcsEvents(
        test::calendarText({"UID:running\r\nDTSTART:" + test::icsUtc(now.addSecs(-3600)) + "\r\nDTEND:" +
                                test::icsUtc(now.addSecs(3600)) + "\r\n",
                            "UID:ended\r\nDTSTART:" + test::icsUtc(now.addSecs(-7200)) + "\r\nDTEND:" +
                                test::icsUtc(now.addSecs(-60)) + "\r\n",
                            "UID:edge\r\nDTSTART:" + test::icsUtc(to.addSecs(1)) + "\r\n"})
            .toStdString(),
        from, to);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].identifier, QString("running"));
}

TEST_F(IcsFiles, RepeatsByRuleDatesAndCountAndStoreOrdersByStart) {
    const QDateTime base(QDate::currentDate().addDays(1), QTime(8, 0), Qt::UTC);
    test::writeText(dir / "a.ics", test::calendarText({"UID:late\r\nDTSTART:" + test::icsUtc(base.addDays(3)) + "\r\n"}));
    test::writeText(dir / "b.ics",
                    test::calendarText({"UID:daily\r\nDTSTART:" + test::icsUtc(base) +
                                        "\r\nDURATION:PT1H\r\nRRULE:FREQ=DAILY;COUNT=3\r\nRDATE:" +
                                        test::icsUtc(base.addDays(10)) + "\r\n",
                                        "DTSTART:" + test::icsUtc(base.addSecs(1800)) +
                                        "\r\nRRULE:FREQ=YEARLY\r\nSUMMARY:No uid\r\n"}));
    IcsCalendarStore store({dir});
    const auto events = store.events(from, to);
    std::vector<QString> ids;
    for (const auto& e : events) ids.push_back(e.identifier.value_or("-"));
    const auto stamp = [&](int days) { return "daily/" + QString::fromLatin1(test::icsUtc(base.addDays(days))); };
    EXPECT_EQ(ids, (std::vector<QString>{stamp(0), "-", stamp(1), stamp(2), "late", stamp(10)}));
    EXPECT_EQ(events[0].end, base.addSecs(3600));
}

TEST_F(IcsFiles, TheDemoCalendarAlwaysHasUpcomingEvents) {
    IcsCalendarStore store({NIMBO_DEMO_CALENDAR});
    const auto events = store.events(from, to);
    ASSERT_GE(events.size(), 25u);  // weekday standups, a weekly review and a gym session
    EXPECT_TRUE(std::any_of(events.begin(), events.end(),
                            [](const CalendarEvent& e) { return e.location == QString("Room 4"); }));
    for (size_t i = 1; i < events.size(); ++i) EXPECT_LE(events[i - 1].start, events[i].start);
}

TEST(IcsSources, TheAppFolderAndTheDesktopCalendar) {
    const auto sources = IcsCalendarStore::defaultSources();
    ASSERT_EQ(sources.size(), 2u);
    EXPECT_EQ(sources[0], test::scratchDir() / "data" / "NimboChat" / "Calendars");
    EXPECT_EQ(sources[1], test::scratchDir() / "data" / "evolution" / "calendar" / "system" / "calendar.ics");
}

// ---- background refresh ------------------------------------------------------------------

class Scheduler : public ::testing::Test {
protected:
    fs::path file = test::freshFolder("background") / "background-tasks.json";
    TimerBackgroundScheduler::Timing fast{50ms, 100ms};
    std::vector<std::shared_ptr<BackgroundTask>> launched;
    BackgroundTaskScheduler::LaunchHandler record = [this](std::shared_ptr<BackgroundTask> t) { launched.push_back(t); };
};

TEST_F(Scheduler, ARequestDueWhileClosedRunsSoonAfterTheNextLaunch) {
    {
        TimerBackgroundScheduler previousRun(file, fast);
        EXPECT_TRUE(previousRun.submit("app.test.refresh", QDateTime::currentDateTimeUtc().addSecs(-5)));
    }
    TimerBackgroundScheduler scheduler(file, fast);
    ASSERT_TRUE(scheduler.pendingBegin("app.test.refresh"));
    EXPECT_TRUE(scheduler.registerTask("app.test.refresh", record));
    EXPECT_FALSE(scheduler.registerTask("app.test.refresh", record));
    EXPECT_TRUE(launched.empty());  // not during registration itself
    ASSERT_TRUE(test::waitUntil([&] { return launched.size() == 1; }));
    EXPECT_EQ(launched[0]->identifier(), "app.test.refresh");
    EXPECT_FALSE(scheduler.pendingBegin("app.test.refresh"));  // consumed by the run
    launched[0]->setTaskCompleted(true);
    EXPECT_TRUE(launched[0]->succeeded());
}

TEST_F(Scheduler, SubmitReplacesAndCancelWithdraws) {
    TimerBackgroundScheduler scheduler(file, fast);
    scheduler.registerTask("app.test.refresh", record);
    const QDateTime later = QDateTime::currentDateTimeUtc().addSecs(3600);
    scheduler.submit("app.test.refresh", QDateTime::currentDateTimeUtc().addMSecs(100));
    scheduler.submit("app.test.refresh", later);
    EXPECT_EQ(scheduler.pendingBegin("app.test.refresh")->toMSecsSinceEpoch(), later.toMSecsSinceEpoch());
    test::spinFor(300ms);
    EXPECT_TRUE(launched.empty());  // the replaced, earlier request does not run

    scheduler.submit("app.test.refresh", QDateTime::currentDateTimeUtc().addMSecs(100));
    scheduler.cancel("app.test.refresh");
    EXPECT_FALSE(scheduler.pendingBegin("app.test.refresh"));
    test::spinFor(300ms);
    EXPECT_TRUE(launched.empty());

    scheduler.submit("app.test.refresh", later);
    EXPECT_TRUE(test::waitUntil([&] { return TimerBackgroundScheduler(file, fast).pendingBegin("app.test.refresh").has_value(); }));
}

TEST_F(Scheduler, AnUnfinishedRunExpiresOnce) {
    TimerBackgroundScheduler scheduler(file, fast);
    int expirations = 0;
    scheduler.registerTask("app.test.refresh", [&](std::shared_ptr<BackgroundTask> task) {
        task->setExpirationHandler([&] { ++expirations; });
        launched.push_back(task);
    });
    scheduler.submit("app.test.refresh", QDateTime::currentDateTimeUtc());
    ASSERT_TRUE(test::waitUntil([&] { return expirations == 1; }));
    launched[0]->expire();
    launched[0]->setTaskCompleted(false);
    EXPECT_EQ(expirations, 1);
    EXPECT_TRUE(launched[0]->isCompleted());
    EXPECT_FALSE(launched[0]->succeeded());
}

}  // namespace
