#pragma once
// Calendar sync: uploads the next 30 days of calendar events (at most 100) as the
// learning source "calendar", and keeps an hourly background refresh doing so.

#include "learning/LearningSourceTypes.h"
#include "platform/device/BackgroundTasks.h"
#include "platform/device/CalendarStore.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <stop_token>

namespace nimbo {

class CalendarSyncManager {
public:
    static constexpr int maxEvents = 100;
    static constexpr int windowDaysAhead = 30;
    static constexpr int refreshIntervalSeconds = 3600;

    // The app's reverse-DNS identifier followed by ".calendar-sync".
    static QString backgroundTaskIdentifier();

    // Asks for calendar access (prompting while undecided); `done(granted)` runs on
    // the UI thread unless `receiver` went away. UI thread only.
    static void requestAccess(QObject* receiver, std::function<void(bool)> done);
    static bool currentAuthorizationGranted();
    // One sync: with access, uploads the events of the next 30 calendar days (the
    // first 100 in the store's order) in one request; otherwise does nothing. Blocks:
    // call it on a worker. Stops before reading or uploading once `stop` is requested.
    static void runOnce(std::stop_token stop = {});

    // Installs handleBackgroundRefresh for backgroundTaskIdentifier(); once, at start-up.
    static void registerBackgroundTask();
    // Submits (or replaces) the background refresh, due one hour from now.
    static void scheduleNext();
    static void cancelScheduled();

    // Texts of one event as uploaded.
    static LearningSourceSyncItem syncItem(const platform::CalendarEvent& event);
    // "EEE, MMM d yyyy 'at' h:mm a" in English (US), in the machine's time zone.
    static QString formatEventTime(const QDateTime& time);
    // ISO 8601 in UTC with a trailing Z and no fraction.
    static QString isoUtc(const QDateTime& time);

private:
    static void handleBackgroundRefresh(std::shared_ptr<platform::BackgroundTask> task);
};

}  // namespace nimbo
