#include "learning/CalendarSyncManager.h"

#include "learning/LearningSourceSwitches.h"
#include "learning/LearningSourcesApi.h"
#include "platform/async/Async.h"
#include "platform/device/PermissionCenter.h"

#include "NimboConfig.h"

#include <QCoreApplication>
#include <QLocale>
#include <QUuid>

#include <algorithm>

namespace nimbo {
namespace {
using platform::Permission;
using platform::PermissionCenter;
using platform::PermissionStatus;
}  // namespace

QString CalendarSyncManager::backgroundTaskIdentifier() {
    return QString::fromLatin1(config::bundleId) + QStringLiteral(".calendar-sync");
}

void CalendarSyncManager::requestAccess(QObject* receiver, std::function<void(bool)> done) {
    PermissionCenter::current().request(Permission::Calendar, receiver, [done = std::move(done)](PermissionStatus s) {
        done(s == PermissionStatus::Authorized);
    });
}

bool CalendarSyncManager::currentAuthorizationGranted() {
    return PermissionCenter::current().status(Permission::Calendar) == PermissionStatus::Authorized;
}

void CalendarSyncManager::runOnce(std::stop_token stop) {
    if (!currentAuthorizationGranted() || stop.stop_requested()) return;
    const QDateTime start = QDateTime::currentDateTime();
    const QDateTime end = start.addDays(windowDaysAhead);  // calendar days in the machine's zone
    if (!end.isValid()) return;
    std::vector<platform::CalendarEvent> events = platform::CalendarStore::current().events(start, end);
    if (events.size() > static_cast<size_t>(maxEvents)) events.resize(maxEvents);
    if (events.empty() || stop.stop_requested()) return;
    std::vector<LearningSourceSyncItem> items;
    items.reserve(events.size());
    std::transform(events.begin(), events.end(), std::back_inserter(items), syncItem);
    LearningSourcesApi::sync(QStringLiteral("calendar"), items);
}

LearningSourceSyncItem CalendarSyncManager::syncItem(const platform::CalendarEvent& event) {
    LearningSourceSyncItem item;
    item.title = event.title.value_or(QStringLiteral("(untitled event)"));
    item.content = QStringLiteral("Event: ") + item.title + QStringLiteral("\nWhen: ") + formatEventTime(event.start) +
                   QStringLiteral(" to ") + formatEventTime(event.end) + QLatin1Char('\n');
    if (event.location && !event.location->isEmpty()) item.content += QStringLiteral("Where: ") + *event.location + QLatin1Char('\n');
    if (event.notes && !event.notes->isEmpty()) item.content += QStringLiteral("Notes: ") + *event.notes;
    item.itemId = event.identifier ? *event.identifier : QUuid::createUuid().toString(QUuid::WithoutBraces);
    item.atIso = isoUtc(event.start);
    return item;
}

QString CalendarSyncManager::formatEventTime(const QDateTime& time) {
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    return english.toString(time.toLocalTime(), QStringLiteral("ddd, MMM d yyyy 'at' h:mm AP"));
}

QString CalendarSyncManager::isoUtc(const QDateTime& time) {
    return time.toUTC().toString(Qt::ISODate);
}

void CalendarSyncManager::registerBackgroundTask() {
    platform::BackgroundTaskScheduler::current().registerTask(backgroundTaskIdentifier(), handleBackgroundRefresh);
}

void CalendarSyncManager::scheduleNext() {
    platform::BackgroundTaskScheduler::current().submit(
        backgroundTaskIdentifier(), QDateTime::currentDateTimeUtc().addSecs(refreshIntervalSeconds));
}

void CalendarSyncManager::cancelScheduled() {
    platform::BackgroundTaskScheduler::current().cancel(backgroundTaskIdentifier());
}

// Runs only for the account that switched Calendar on, while it is signed in; then it
// first queues the next run. The run stops when the task expires, when Calendar is
// switched off meanwhile or when the session ends.
void CalendarSyncManager::handleBackgroundRefresh(std::shared_ptr<platform::BackgroundTask> task) {
    LearningSourceSwitches& switches = LearningSourceSwitches::shared();
    if (!switches.isCalendarOwnerSignedIn()) {
        task->setTaskCompleted(true);
        return;
    }
    scheduleNext();
    auto stop = std::make_shared<std::stop_source>();
    const auto stopWithSwitch = [stop] { stop->request_stop(); };
    auto switchedOff = std::make_shared<std::stop_callback<decltype(stopWithSwitch)>>(
        switches.collectionToken(QStringLiteral("calendar")), stopWithSwitch);
    runAsync(
        QCoreApplication::instance(), [token = stop->get_token()] { runOnce(token); },
        [task, switchedOff](Outcome<void>) { task->setTaskCompleted(true); });
    task->setExpirationHandler([stop] { stop->request_stop(); });
}

}  // namespace nimbo
