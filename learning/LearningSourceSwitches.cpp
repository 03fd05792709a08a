#include "learning/LearningSourceSwitches.h"

#include "learning/CalendarSyncManager.h"
#include "learning/LearningSourcesApi.h"
#include "learning/LocationPermissionDelegate.h"
#include "api/NimboApi.h"
#include "platform/async/Async.h"
#include "platform/device/KeyValueStore.h"

#include <QCoreApplication>
#include <QPointer>

namespace nimbo {
namespace {
using Kind = LearningSourcePermissionKind;
using platform::Permission;
using platform::PermissionCenter;
using platform::PermissionStatus;

const QString kCalendar = QStringLiteral("calendar");

// The signed-in account's e-mail from the user record; "" when it cannot be had. Blocks.
QString signedInEmail() {
    try {
        return QString::fromStdString(api::NimboApi::shared().fetchMe().email);
    } catch (const std::exception&) {
        return {};
    }
}
}  // namespace

LearningSourceSwitches::LearningSourceSwitches(QObject* parent)
    : QObject(parent), locationManagerDelegate_(new LocationPermissionDelegate(this)) {}

LearningSourceSwitches& LearningSourceSwitches::shared() {
    static LearningSourceSwitches* switches = [] {
        auto* created = new LearningSourceSwitches;
        if (QCoreApplication* app = QCoreApplication::instance()) created->moveToThread(app->thread());
        return created;
    }();
    return *switches;
}

QString LearningSourceSwitches::prefsKey(const QString& id) { return QStringLiteral("learning_source_enabled_") + id; }

bool LearningSourceSwitches::isOn(const QString& id) const {
    return platform::KeyValueStore::current().boolForKey(prefsKey(id));
}

void LearningSourceSwitches::setToggle(const QString& id, bool on) {
    const bool changed = isOn(id) != on;
    platform::KeyValueStore::current().setBool(prefsKey(id), on);
    if (changed) emit switchChanged(id);
}

std::stop_token LearningSourceSwitches::collectionToken(const QString& id) { return collection_[id].get_token(); }

std::optional<Permission> LearningSourceSwitches::permissionFor(Kind kind) {
    switch (kind) {
    case Kind::calendar: return Permission::Calendar;
    case Kind::photos: return Permission::Photos;
    case Kind::location: return Permission::Location;
    case Kind::motion: return Permission::Motion;
    default: return std::nullopt;
    }
}

QString LearningSourceSwitches::permissionName(Kind kind) {
    switch (kind) {
    case Kind::calendar: return QStringLiteral("Calendar");
    case Kind::photos: return QStringLiteral("Photos");
    case Kind::location: return QStringLiteral("Location");
    default: return QStringLiteral("Motion & Fitness");
    }
}

void LearningSourceSwitches::turnOn(const LearningSourceCategory& category, QObject* screen, Say say) {
    const Say show = [guard = QPointer<QObject>(screen), say = std::move(say)](const QString& text) {
        if (guard) say(text);
    };
    switch (category.permissionKind) {
    case Kind::none:
        show(category.displayName +
             QStringLiteral(" connection flow isn't built yet -- toggle recorded, no data will be collected."));
        setToggle(category.id, false);
        return;
    case Kind::notDetermined:
        show(QStringLiteral("Screen capture isn't built yet on iOS -- this will connect automatically once available."));
        setToggle(category.id, false);
        return;
    case Kind::localNetwork:
        finishConnect(category, show);
        return;
    default:
        connectWithPermission(category, show);
        return;
    }
}

// Granted connects; otherwise the switch stays off with a toast naming the permission.
void LearningSourceSwitches::connectWithPermission(const LearningSourceCategory& category, const Say& show) {
    const LearningSourceCategory* c = &category;  // catalogue entries live for the process
    requestAccess(category.permissionKind, [this, c, show, session = session_.get_token()](bool granted) {
        emit permissionAnswered();
        if (session.stop_requested()) return;
        if (granted) {
            finishConnect(*c, show);
            return;
        }
        show(c->displayName + QStringLiteral(" needs ") + permissionName(c->permissionKind) +
             QStringLiteral(" permission to connect -- staying off."));
        setToggle(c->id, false);
    });
}

// Every step after an await first checks that the category was not switched off
// meanwhile (or the session ended). Calendar also learns whose it is: the account
// signed in now, as the user record names it; without one nothing is uploaded.
void LearningSourceSwitches::finishConnect(const LearningSourceCategory& category, const Say& show) {
    setToggle(category.id, true);
    const std::stop_token stop = collectionToken(category.id);
    const bool isCalendar = category.permissionKind == Kind::calendar;
    runAsync(
        this,
        [id = category.id, isCalendar] {
            LearningSourcesApi::connect(id);
            return isCalendar ? signedInEmail() : QString();
        },
        [this, show, stop, isCalendar, name = category.displayName](Outcome<QString> account) {
            if (stop.stop_requested()) return;
            show(name + QStringLiteral(" connected."));
            if (!isCalendar) return;
            // The session's account as looked up now, else as it was at sign-in.
            if (account.ok() && !account.value().isEmpty()) account_ = account.value();
            platform::KeyValueStore::current().setString(calendarOwnerKey(), account_);
            if (account_.isEmpty()) return;
            runAsync(this, [stop] { CalendarSyncManager::runOnce(stop); }, [stop](Outcome<void>) {
                if (!stop.stop_requested()) CalendarSyncManager::scheduleNext();
            });
        });
}

void LearningSourceSwitches::turnOff(const LearningSourceCategory& category) {
    setToggle(category.id, false);
    if (category.permissionKind == Kind::calendar) {
        CalendarSyncManager::cancelScheduled();
        platform::KeyValueStore::current().setString(calendarOwnerKey(), {});
    }
    const auto running = collection_.find(category.id);
    if (running == collection_.end()) return;
    running->second.request_stop();
    collection_.erase(running);  // a later turn-on starts afresh
}

void LearningSourceSwitches::beginSession() {
    if (isSignedIn_) return;
    isSignedIn_ = true;
    // Whose session this is: Calendar uploads only for the account that switched it on.
    runAsync(this, signedInEmail, [this, session = session_.get_token()](Outcome<QString> account) {
        if (session.stop_requested()) return;
        if (account.ok() && !account.value().isEmpty()) account_ = account.value();
        if (isCalendarOwnerSignedIn()) CalendarSyncManager::scheduleNext();
    });
}

void LearningSourceSwitches::endSession() {
    if (isSignedIn_) CalendarSyncManager::cancelScheduled();
    isSignedIn_ = false;
    account_.clear();
    session_.request_stop();
    session_ = {};
    for (auto& [id, running] : collection_) running.request_stop();
    collection_.clear();
}

QString LearningSourceSwitches::calendarOwnerKey() { return QStringLiteral("calendar_sync_account"); }

bool LearningSourceSwitches::isCalendarOwnerSignedIn() const {
    return isSignedIn_ && isOn(kCalendar) && !account_.isEmpty() &&
           platform::KeyValueStore::current().stringForKey(calendarOwnerKey()) == account_;
}

void LearningSourceSwitches::requestAccess(Kind kind, std::function<void(bool)> done) {
    switch (kind) {
    case Kind::calendar: CalendarSyncManager::requestAccess(this, std::move(done)); return;
    case Kind::photos: requestPhotosAccess(std::move(done)); return;
    case Kind::location: requestLocationAccess(std::move(done)); return;
    default: requestMotionAccess(std::move(done)); return;
    }
}

void LearningSourceSwitches::requestPhotosAccess(std::function<void(bool)> done) {
    PermissionCenter::current().request(Permission::Photos, this, [done = std::move(done)](PermissionStatus status) {
        done(status == PermissionStatus::Authorized || status == PermissionStatus::Limited);
    });
}

void LearningSourceSwitches::requestLocationAccess(std::function<void(bool)> done) {
    locationManagerDelegate_->requestWhenInUse(std::move(done));
}

void LearningSourceSwitches::requestMotionAccess(std::function<void(bool)> done) {
    PermissionCenter& center = PermissionCenter::current();
    if (!center.isMotionActivityAvailable()) {
        done(false);
        return;
    }
    center.request(Permission::Motion, this,
                   [done = std::move(done)](PermissionStatus status) { done(status == PermissionStatus::Authorized); });
}

}  // namespace nimbo
