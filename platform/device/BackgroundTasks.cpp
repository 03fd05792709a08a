#include "platform/device/BackgroundTasks.h"

#include "platform/Replaceable.h"
#include "platform/device/SettingsFile.h"
#include "platform/files/AppPaths.h"

#include <QTimer>

#include <algorithm>
#include <limits>

namespace nimbo::platform {
namespace {
std::chrono::milliseconds untilThen(const QDateTime& when) {
    const qint64 ms = QDateTime::currentDateTimeUtc().msecsTo(when);
    return std::chrono::milliseconds(std::clamp<qint64>(ms, 0, std::numeric_limits<int>::max()));
}
}  // namespace

void BackgroundTask::setTaskCompleted(bool success) {
    if (completed_) return;
    completed_ = true;
    succeeded_ = success;
}

void BackgroundTask::expire() {
    if (completed_ || expired_) return;
    expired_ = true;
    if (expirationHandler_) expirationHandler_();
}

BackgroundTaskScheduler& BackgroundTaskScheduler::current() {
    return Replaceable<BackgroundTaskScheduler>::current(TimerBackgroundScheduler::standard());
}

void BackgroundTaskScheduler::install(BackgroundTaskScheduler* scheduler) {
    Replaceable<BackgroundTaskScheduler>::install(scheduler);
}

TimerBackgroundScheduler::TimerBackgroundScheduler(std::filesystem::path stateFile, Timing timing, QObject* parent)
    : QObject(parent), pending_(std::make_unique<SettingsFile>(std::move(stateFile))), timing_(timing) {}

TimerBackgroundScheduler::~TimerBackgroundScheduler() = default;

TimerBackgroundScheduler& TimerBackgroundScheduler::standard() {
    static TimerBackgroundScheduler* scheduler =
        new TimerBackgroundScheduler(configDir() / "background-tasks.json", Timing{});
    return *scheduler;
}

bool TimerBackgroundScheduler::registerTask(const QString& identifier, LaunchHandler handler) {
    if (!handler || handlers_.count(identifier)) return false;
    handlers_.emplace(identifier, std::move(handler));
    if (const std::optional<QDateTime> begin = pendingBegin(identifier)) {
        arm(identifier, std::max(untilThen(*begin), timing_.launchDelay));
    }
    return true;
}

bool TimerBackgroundScheduler::submit(const QString& identifier, const QDateTime& earliestBegin) {
    if (identifier.isEmpty() || !earliestBegin.isValid()) return false;
    pending_->insert(identifier, static_cast<double>(earliestBegin.toMSecsSinceEpoch()));
    if (handlers_.count(identifier)) arm(identifier, untilThen(earliestBegin));
    return true;
}

void TimerBackgroundScheduler::cancel(const QString& identifier) {
    pending_->remove(identifier);
    disarm(identifier);
}

std::optional<QDateTime> TimerBackgroundScheduler::pendingBegin(const QString& identifier) const {
    const QJsonValue value = pending_->value(identifier);
    if (!value.isDouble()) return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(value.toDouble()), Qt::UTC);
}

void TimerBackgroundScheduler::arm(const QString& identifier, std::chrono::milliseconds delay) {
    QTimer*& timer = timers_[identifier];
    if (!timer) {
        timer = new QTimer(this);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [this, identifier] { launch(identifier); });
    }
    timer->start(delay);
}

void TimerBackgroundScheduler::disarm(const QString& identifier) {
    if (const auto found = timers_.find(identifier); found != timers_.end()) found->second->stop();
}

void TimerBackgroundScheduler::launch(const QString& identifier) {
    const std::optional<QDateTime> begin = pendingBegin(identifier);
    const auto handler = handlers_.find(identifier);
    if (!begin || handler == handlers_.end()) return;
    if (QDateTime::currentDateTimeUtc() < *begin) {  // the timer ran early or the clock moved back
        arm(identifier, untilThen(*begin));
        return;
    }
    pending_->remove(identifier);
    auto task = std::make_shared<BackgroundTask>(identifier);
    QTimer::singleShot(timing_.timeLimit, this, [weak = std::weak_ptr<BackgroundTask>(task)] {
        if (const auto running = weak.lock()) running->expire();
    });
    handler->second(task);
}

}  // namespace nimbo::platform
