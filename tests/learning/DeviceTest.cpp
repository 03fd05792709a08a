// The calendar files the sync reads and the background refresh that runs it.
#include "Doubles.h"

#include <QTimeZone>
#include <gtest/gtest.h>

using namespace nimbo;
using namespace nimbo::platform;
using namespace std::chrono_literals;

namespace {

QByteArray utc(const QDateTime& t) { return t.toUTC().toString("yyyyMMdd'T'HHmmss'Z'").toLatin1(); }
QByteArray calendar(const std::vector<QByteArray>& events) {
    QByteArray text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n";
    for (const QByteArray& e : events) text += "BEGIN:VEVENT\r\n" + e + "END:VEVENT\r\n";
    return text + "END:VCALENDAR\r\n";
}

TEST(IcsFiles, ZonesDurationsOverlapRepeatsAndBrokenInput) {
    const QDateTime now = QDateTime::currentDateTime(), to = now.addDays(30);
    const QDate day = now.date().addDays(5);
    const QByteArray date = day.toString("yyyyMMdd").toLatin1();
    const QDateTime base(now.date().addDays(1), QTime(8, 0), Qt::UTC);
    const auto events = readIcsEvents(
        calendar({"UID:berlin\r\nDTSTART;TZID=Europe/Berlin:" + date + "T093000\r\nDURATION:PT45M\r\n",
                  "UID:allday\r\nDTSTART;VALUE=DATE:" + date + "\r\n",
                  "UID:running\r\nDTSTART:" + utc(now.addSecs(-3600)) + "\r\nDTEND:" + utc(now.addSecs(3600)) + "\r\n",
                  "UID:ended\r\nDTSTART:" + utc(now.addSecs(-7200)) + "\r\nDTEND:" + utc(now.addSecs(-60)) + "\r\n",
                  "UID:after\r\nDTSTART:" + utc(to.addSecs(1)) + "\r\n", "UID:nostart\r\nSUMMARY:x\r\n",
                  "UID:badstart\r\nDTSTART:2026XX01T000000\r\n",
                  "UID:daily\r\nDTSTART:" + utc(base) + "\r\nDURATION:PT1H\r\nRRULE:FREQ=DAILY;COUNT=3\r\n"})
            .toStdString(),
        now, to);
    std::vector<QString> ids;
    for (const auto& e : events) ids.push_back(e.identifier.value_or("-"));
    const auto day_ = [&](int n) { return "daily/" + QString::fromLatin1(utc(base.addDays(n))); };
    ASSERT_EQ(ids, (std::vector<QString>{"berlin", "allday", "running", day_(0), day_(1), day_(2)}));
    const QDateTime berlin(day, QTime(9, 30), QTimeZone("Europe/Berlin"));
    EXPECT_EQ(events[0].start, berlin);
    EXPECT_EQ(events[0].end, berlin.addSecs(45 * 60));
    EXPECT_EQ(events[1].start, QDateTime(day, QTime(0, 0), Qt::LocalTime));
    EXPECT_EQ(events[1].end, QDateTime(day.addDays(1), QTime(0, 0), Qt::LocalTime));
    EXPECT_EQ(events[3].end, base.addSecs(3600));

    // A store reads every .ics file of a folder, skips broken ones and orders by start.
    const auto dir = test::freshFolder();
    const auto write = [&](const char* name, const QByteArray& text) {
        QFile f(QString::fromStdString((dir / name).string()));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    };
    write("a.ics", calendar({"UID:late\r\nDTSTART:" + utc(base.addDays(3)) + "\r\n"}));
    write("b.ics", QByteArray("\x00\xff not a calendar", 18));
    write("c.ics", calendar({"UID:early\r\nDTSTART:" + utc(base) + "\r\n"}));
    write("d.txt", calendar({"UID:txt\r\nDTSTART:" + utc(base) + "\r\n"}));
    const auto stored = IcsCalendarStore({dir, dir / "missing.ics"}).events(now, to);
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].identifier, QString("early"));
    EXPECT_EQ(stored[1].identifier, QString("late"));
}

TEST(BackgroundRefresh, DueWhileClosedRunsAfterLaunchSubmitReplacesCancelWithdraws) {
    const auto file = test::freshFolder() / "background-tasks.json";
    const TimerBackgroundScheduler::Timing fast{50ms, 100ms};
    std::vector<std::shared_ptr<BackgroundTask>> launched;
    const auto record = [&](std::shared_ptr<BackgroundTask> t) { launched.push_back(t); };
    TimerBackgroundScheduler(file, fast).submit("app.test.refresh", QDateTime::currentDateTimeUtc().addSecs(-5));

    TimerBackgroundScheduler scheduler(file, fast);
    EXPECT_TRUE(scheduler.registerTask("app.test.refresh", record));
    EXPECT_TRUE(launched.empty());  // not during registration itself
    ASSERT_TRUE(test::waitUntil([&] { return launched.size() == 1; }));
    EXPECT_FALSE(scheduler.pendingBegin("app.test.refresh"));  // consumed by the run

    const QDateTime later = QDateTime::currentDateTimeUtc().addSecs(3600);
    scheduler.submit("app.test.refresh", QDateTime::currentDateTimeUtc().addMSecs(100));
    scheduler.submit("app.test.refresh", later);
    EXPECT_EQ(scheduler.pendingBegin("app.test.refresh")->toMSecsSinceEpoch(), later.toMSecsSinceEpoch());
    scheduler.submit("app.test.refresh", QDateTime::currentDateTimeUtc().addMSecs(100));
    scheduler.cancel("app.test.refresh");
    test::spinFor(300ms);
    EXPECT_EQ(launched.size(), 1u);  // neither the replaced nor the withdrawn request ran
}

}  // namespace
