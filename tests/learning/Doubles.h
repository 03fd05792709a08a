#pragma once
// Stand-ins for the device services of the learning sources, installed for one test.

#include "learning/LearningSourceTypes.h"
#include "platform/device/BackgroundTasks.h"
#include "platform/device/CalendarStore.h"
#include "platform/device/KeyValueStore.h"
#include "platform/device/PermissionCenter.h"

#include "TestEnvironment.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTimer>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace nimbo::test {

class MemoryKeyValueStore final : public platform::KeyValueStore {
public:
    bool boolForKey(const QString& key) const override {
        const auto found = values.find(key);
        return found != values.end() && found->second;
    }
    void setBool(const QString& key, bool value) override { values[key] = value; }

    std::map<QString, bool> values;
};

// Statuses set by the test. Asking while undetermined records a prompt, then answers
// with `answers[permission]` when the test scripted one, or waits for resolve().
class ScriptedPermissionCenter final : public platform::PermissionCenter {
public:
    using Status = platform::PermissionStatus;

    Status status(platform::Permission p) const override {
        const auto found = statuses.find(p);
        return found == statuses.end() ? Status::NotDetermined : found->second;
    }
    void request(platform::Permission p, QObject* receiver, Answer answer) override {
        if (status(p) == Status::NotDetermined) {
            prompts.push_back(p);
            const auto scripted = answers.find(p);
            if (scripted == answers.end()) {
                waiting.push_back({p, receiver, std::move(answer)});
                return;
            }
            statuses[p] = scripted->second;
        }
        QTimer::singleShot(0, receiver, [answer = std::move(answer), s = status(p)] { answer(s); });
    }
    bool isMotionActivityAvailable() const override { return motionAvailable; }

    // The person answers the open prompt for `p`.
    void resolve(platform::Permission p, Status s) {
        statuses[p] = s;
        auto pending = std::move(waiting);
        for (auto& w : pending) {
            if (w.permission != p) {
                waiting.push_back(std::move(w));
            } else if (w.receiver) {
                w.answer(s);
            }
        }
    }

    std::map<platform::Permission, Status> statuses;
    std::map<platform::Permission, Status> answers;
    bool motionAvailable = true;
    std::vector<platform::Permission> prompts;

private:
    struct Waiting {
        platform::Permission permission;
        QPointer<QObject> receiver;
        Answer answer;
    };
    std::vector<Waiting> waiting;
};

// Records every call; launch() runs the registered work as the system would.
class RecordingScheduler final : public platform::BackgroundTaskScheduler {
public:
    struct Call {
        QString what;  // "register", "submit" or "cancel"
        QString identifier;
        QDateTime earliestBegin;
    };

    bool registerTask(const QString& identifier, LaunchHandler handler) override {
        calls.push_back({"register", identifier, {}});
        return handlers.emplace(identifier, std::move(handler)).second;
    }
    bool submit(const QString& identifier, const QDateTime& earliestBegin) override {
        calls.push_back({"submit", identifier, earliestBegin});
        return true;
    }
    void cancel(const QString& identifier) override {
        calls.push_back({"cancel", identifier, {}});
        if (onCancel) onCancel();
    }

    std::shared_ptr<platform::BackgroundTask> launch(const QString& identifier) {
        auto task = std::make_shared<platform::BackgroundTask>(identifier);
        handlers.at(identifier)(task);
        return task;
    }
    std::vector<QString> whats() const {
        std::vector<QString> out;
        for (const Call& c : calls) out.push_back(c.what);
        return out;
    }

    std::vector<Call> calls;
    std::map<QString, LaunchHandler> handlers;
    std::function<void()> onCancel;
};

// Installs the given doubles for the lifetime of this object.
struct InstalledDoubles {
    InstalledDoubles(platform::KeyValueStore* store, platform::PermissionCenter* center,
                     platform::BackgroundTaskScheduler* scheduler, platform::CalendarStore* calendar) {
        platform::KeyValueStore::install(store);
        platform::PermissionCenter::install(center);
        platform::BackgroundTaskScheduler::install(scheduler);
        platform::CalendarStore::install(calendar);
    }
    ~InstalledDoubles() {
        platform::KeyValueStore::install(nullptr);
        platform::PermissionCenter::install(nullptr);
        platform::BackgroundTaskScheduler::install(nullptr);
        platform::CalendarStore::install(nullptr);
    }
};

// A fresh, empty folder under the test's scratch folder.
inline std::filesystem::path freshFolder(const std::string& name) {
    static std::atomic<int> counter{0};
    const auto dir = scratchDir() / (name + "-" + std::to_string(++counter));
    std::filesystem::create_directories(dir);
    return dir;
}

inline void writeText(const std::filesystem::path& file, const QByteArray& text) {
    QFile out(QString::fromStdString(file.string()));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(text);
}

// iCalendar text of one calendar holding `events` (each a run of VEVENT lines
// without BEGIN/END).
inline QByteArray calendarText(const std::vector<QByteArray>& events) {
    QByteArray text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Nimbo tests//EN\r\n";
    for (const QByteArray& e : events) text += "BEGIN:VEVENT\r\n" + e + "END:VEVENT\r\n";
    return text + "END:VCALENDAR\r\n";
}

// A local (floating) iCalendar date-time.
inline QByteArray icsLocal(const QDateTime& t) { return t.toLocalTime().toString("yyyyMMdd'T'HHmmss").toLatin1(); }
// A UTC iCalendar date-time.
inline QByteArray icsUtc(const QDateTime& t) { return t.toUTC().toString("yyyyMMdd'T'HHmmss'Z'").toLatin1(); }

// Sets the machine's time zone (TZ) for one test and restores it afterwards.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) previous_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (previous_.empty()) {
            ::unsetenv("TZ");
        } else {
            ::setenv("TZ", previous_.c_str(), 1);
        }
        ::tzset();
    }

private:
    std::string previous_;
};

// Every device service replaced while this object lives; the calendar store reads
// a fresh folder of its own.
struct DeviceStandIns {
    MemoryKeyValueStore store;
    ScriptedPermissionCenter permissions;
    RecordingScheduler scheduler;
    std::filesystem::path calendarDir = freshFolder("calendars");
    platform::IcsCalendarStore calendar{{calendarDir}};
    InstalledDoubles installed{&store, &permissions, &scheduler, &calendar};
};

// The screen's row of category `id`.
inline int rowOf(const QString& id) {
    const auto& all = LearningSourceCategory::all();
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].id == id) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace nimbo::test
