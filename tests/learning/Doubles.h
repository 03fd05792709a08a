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
#include <QPointer>
#include <QTimer>

#include <atomic>
#include <map>

namespace nimbo::test {

using platform::Permission;
using Status = platform::PermissionStatus;

struct MemoryKeyValueStore final : platform::KeyValueStore {
    bool boolForKey(const QString& key) const override { return values.count(key) && values.at(key); }
    void setBool(const QString& key, bool value) override { values[key] = value; }
    std::map<QString, bool> values;
};

// An undecided request records a prompt, then takes answers[p] when scripted or waits for resolve().
struct ScriptedPermissionCenter final : platform::PermissionCenter {
    Status status(Permission p) const override { return statuses.count(p) ? statuses.at(p) : Status::NotDetermined; }
    void setStatus(Permission p, Status s) override { statuses[p] = s; }
    bool isMotionActivityAvailable() const override { return motionAvailable; }
    void request(Permission p, QObject* receiver, Answer answer) override {
        if (status(p) == Status::NotDetermined) {
            prompts.push_back(p);
            if (!answers.count(p)) return waiting.push_back({p, receiver, std::move(answer)});
            statuses[p] = answers[p];
        }
        QTimer::singleShot(0, receiver, [answer = std::move(answer), s = status(p)] { answer(s); });
    }
    void resolve(Permission p, Status s) {
        statuses[p] = s;
        for (auto& [permission, receiver, answer] : std::exchange(waiting, {})) {
            if (permission == p && receiver) answer(s);
        }
    }
    std::map<Permission, Status> statuses, answers;
    bool motionAvailable = true;
    std::vector<Permission> prompts;
    std::vector<std::tuple<Permission, QPointer<QObject>, Answer>> waiting;
};

// Records "register", "submit" and "cancel"; launch() runs the registered work.
struct RecordingScheduler final : platform::BackgroundTaskScheduler {
    bool registerTask(const QString& id, LaunchHandler handler) override { return handlers.emplace(id, handler).second; }
    bool submit(const QString&, const QDateTime& begin) override { return whats.push_back("submit"), lastBegin = begin, true; }
    void cancel(const QString&) override { whats.push_back("cancel"); }
    std::shared_ptr<platform::BackgroundTask> launch(const QString& id) {
        auto task = std::make_shared<platform::BackgroundTask>(id);
        handlers.at(id)(task);
        return task;
    }
    std::vector<QString> whats;
    QDateTime lastBegin;
    std::map<QString, LaunchHandler> handlers;
};

inline std::filesystem::path freshFolder() {
    static std::atomic<int> counter{0};
    const auto dir = scratchDir() / ("learning-" + std::to_string(++counter));
    std::filesystem::create_directories(dir);
    return dir;
}
inline void writeText(const std::filesystem::path& file, const QByteArray& text) {
    QFile out(QString::fromStdString(file.string()));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(text);
}
// One calendar holding `events`, each a run of VEVENT lines without BEGIN/END.
inline QByteArray calendarText(const std::vector<QByteArray>& events) {
    QByteArray text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Nimbo tests//EN\r\n";
    for (const QByteArray& e : events) text += "BEGIN:VEVENT\r\n" + e + "END:VEVENT\r\n";
    return text + "END:VCALENDAR\r\n";
}
inline QByteArray icsLocal(const QDateTime& t) { return t.toLocalTime().toString("yyyyMMdd'T'HHmmss").toLatin1(); }
inline QByteArray icsUtc(const QDateTime& t) { return t.toUTC().toString("yyyyMMdd'T'HHmmss'Z'").toLatin1(); }
// An event of 30 minutes whose UID and title are `uid`.
inline QByteArray event(const QByteArray& uid, const QDateTime& start, const QByteArray& more = {}) {
    return "UID:" + uid + "\r\nSUMMARY:" + uid + "\r\nDTSTART:" + icsLocal(start) + "\r\nDURATION:PT30M\r\n" + more;
}

// Every device service replaced while this object lives; the calendar reads its own folder.
struct DeviceStandIns {
    DeviceStandIns() { install(&store, &permissions, &scheduler, &calendar); }
    ~DeviceStandIns() { install(nullptr, nullptr, nullptr, nullptr); }
    static void install(platform::KeyValueStore* s, platform::PermissionCenter* p, platform::BackgroundTaskScheduler* b,
                        platform::CalendarStore* c) {
        platform::KeyValueStore::install(s);
        platform::PermissionCenter::install(p);
        platform::BackgroundTaskScheduler::install(b);
        platform::CalendarStore::install(c);
    }
    void writeCalendar(const std::vector<QByteArray>& events) { writeText(calendarDir / "cal.ics", calendarText(events)); }
    bool stored(const QString& id) { return store.boolForKey("learning_source_enabled_" + id); }

    MemoryKeyValueStore store;
    ScriptedPermissionCenter permissions;
    RecordingScheduler scheduler;
    std::filesystem::path calendarDir = freshFolder();
    platform::IcsCalendarStore calendar{{calendarDir}};
};

inline int rowOf(const QString& id) {
    const auto& all = LearningSourceCategory::all();
    return static_cast<int>(std::find_if(all.begin(), all.end(), [&](const auto& c) { return c.id == id; }) - all.begin());
}

}  // namespace nimbo::test
