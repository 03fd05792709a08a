#pragma once
// Background app refresh: work registered under an identifier, requested to run no
// earlier than a given time, and handed a task object that it marks completed.

#include <QDateTime>
#include <QObject>
#include <QString>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

class QTimer;

namespace nimbo::platform {

class SettingsFile;

// One launch of registered work. The work must call setTaskCompleted(); when the
// scheduler's time limit passes first, the expiration handler runs (once) so that
// the work can stop.
class BackgroundTask {
public:
    explicit BackgroundTask(QString identifier) : identifier_(std::move(identifier)) {}

    const QString& identifier() const { return identifier_; }
    void setExpirationHandler(std::function<void()> handler) { expirationHandler_ = std::move(handler); }
    void setTaskCompleted(bool success);
    bool isCompleted() const { return completed_; }
    bool succeeded() const { return succeeded_; }
    // Runs the expiration handler unless the task already completed or expired.
    void expire();

private:
    QString identifier_;
    std::function<void()> expirationHandler_;
    bool completed_ = false;
    bool succeeded_ = false;
    bool expired_ = false;
};

class BackgroundTaskScheduler {
public:
    using LaunchHandler = std::function<void(std::shared_ptr<BackgroundTask>)>;
    virtual ~BackgroundTaskScheduler() = default;

    // Installs the work for `identifier`; false when it already has one.
    virtual bool registerTask(const QString& identifier, LaunchHandler handler) = 0;
    // Asks for one run at or after `earliestBegin`, replacing a pending request with
    // the same identifier. False when the request cannot be accepted.
    virtual bool submit(const QString& identifier, const QDateTime& earliestBegin) = 0;
    // Withdraws the pending request for `identifier`, if any.
    virtual void cancel(const QString& identifier) = 0;

    // The scheduler in force: TimerBackgroundScheduler::standard(), unless a test
    // installed its own. UI thread only.
    static BackgroundTaskScheduler& current();
    // Installs `scheduler` (not owned) for the rest of the process; nullptr restores the standard one.
    static void install(BackgroundTaskScheduler* scheduler);
};

// Runs due requests from timers on the UI thread while the app runs. Pending
// requests are kept in a small file, so a request that came due while the app was
// closed runs `launchDelay` after its identifier is registered at the next launch.
// A request is consumed when its run starts.
class TimerBackgroundScheduler final : public QObject, public BackgroundTaskScheduler {
    Q_OBJECT

public:
    struct Timing {
        std::chrono::milliseconds launchDelay{5'000};  // after start-up, for requests already due
        std::chrono::milliseconds timeLimit{30'000};   // a run's time before it expires
    };

    TimerBackgroundScheduler(std::filesystem::path stateFile, Timing timing, QObject* parent = nullptr);
    ~TimerBackgroundScheduler() override;

    // The process-wide scheduler, keeping its requests in configDir()/"background-tasks.json".
    static TimerBackgroundScheduler& standard();

    bool registerTask(const QString& identifier, LaunchHandler handler) override;
    bool submit(const QString& identifier, const QDateTime& earliestBegin) override;
    void cancel(const QString& identifier) override;

    // The earliest begin of the pending request for `identifier`, if one is pending.
    std::optional<QDateTime> pendingBegin(const QString& identifier) const;

private:
    void arm(const QString& identifier, std::chrono::milliseconds delay);
    void disarm(const QString& identifier);
    void launch(const QString& identifier);

    std::unique_ptr<SettingsFile> pending_;  // identifier → earliest begin (ms since the epoch)
    Timing timing_;
    std::map<QString, LaunchHandler> handlers_;
    std::map<QString, QTimer*> timers_;
};

}  // namespace nimbo::platform
