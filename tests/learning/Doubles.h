#pragma once
// Stand-ins for the device services of the learning sources, installed for one test,
// and iCalendar text helpers.

#include "learning/LearningSourceTypes.h"
#include "platform/device/BackgroundTasks.h"
#include "platform/device/CalendarStore.h"
#include "platform/device/KeyValueStore.h"
#include "platform/device/PermissionCenter.h"

#include "TestEnvironment.h"

#include <QDateTime>
#include <QFile>

#include <atomic>
#include <map>

namespace nimbo::test {

using platform::Permission;
using Status = platform::PermissionStatus;

struct MemoryKeyValueStore final : platform::KeyValueStore {
    bool boolForKey(const QString& key) const override { return values.count(key) && values.at(key); }
    void setBool(const QString& key, bool value) override { values[key] = value; }
    QString stringForKey(const QString& key) const override { return texts.count(key) ? texts.at(key) : QString(); }
    void setString(const QString& key, const QString& value) override { value.isEmpty() ? void(texts.erase(key)) : void(texts[key] = value); }
    std::map<QString, bool> values;
    std::map<QString, QString> texts;
};

// Records "submit" and "cancel"; launch() runs the registered work.
struct RecordingScheduler final : platform::BackgroundTaskScheduler {
    bool registerTask(const QString&, LaunchHandler work) override { return handler = work, true; }
    bool submit(const QString&, const QDateTime& begin) override { return whats.push_back("submit"), lastBegin = begin, true; }
    void cancel(const QString&) override { whats.push_back("cancel"); }
    std::shared_ptr<platform::BackgroundTask> launch() {
        auto task = std::make_shared<platform::BackgroundTask>("calendar-sync");
        return handler(task), task;
    }
    std::vector<QString> whats;
    QDateTime lastBegin;
    LaunchHandler handler;
};

inline std::filesystem::path freshFolder() {
    static std::atomic<int> counter{0};
    const auto dir = scratchDir() / ("learning-" + std::to_string(++counter));
    return std::filesystem::create_directories(dir), dir;
}
// VEVENT lines of a 30-minute event whose UID and title are `uid`, starting at `start` in local time.
inline QByteArray event(const QByteArray& uid, const QDateTime& start, const QByteArray& more = {}) {
    return "UID:" + uid + "\r\nSUMMARY:" + uid + "\r\nDTSTART:" + start.toLocalTime().toString("yyyyMMdd'T'HHmmss").toLatin1() +
           "\r\nDURATION:PT30M\r\n" + more;
}

// Every device service replaced while this object lives; the calendar reads its own folder.
struct DeviceStandIns {
    DeviceStandIns() { install(true); }
    ~DeviceStandIns() { install(false); }
    void install(bool on) {
        platform::KeyValueStore::install(on ? &store : nullptr);
        platform::PermissionCenter::install(on ? &permissions : nullptr);
        platform::BackgroundTaskScheduler::install(on ? &scheduler : nullptr);
        platform::CalendarStore::install(on ? &calendar : nullptr);
    }
    // One calendar file holding `events`, each a run of VEVENT lines.
    void writeCalendar(const std::vector<QByteArray>& events) {
        QFile out(QString::fromStdString((dir / "cal.ics").string()));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Nimbo tests//EN\r\n");
        for (const QByteArray& e : events) out.write("BEGIN:VEVENT\r\n" + e + "END:VEVENT\r\n");
        out.write("END:VCALENDAR\r\n");
    }
    bool stored(const QString& id) { return store.boolForKey("learning_source_enabled_" + id); }

    std::filesystem::path dir = freshFolder();  // the calendar's folder, and the permissions file
    MemoryKeyValueStore store;
    platform::PromptingPermissionCenter permissions{dir / "permissions.json"};
    RecordingScheduler scheduler;
    platform::IcsCalendarStore calendar{{dir}};
};

inline int rowOf(const QString& id) { return static_cast<int>(LearningSourceCategory::byId(id) - &LearningSourceCategory::all()[0]); }

}  // namespace nimbo::test
