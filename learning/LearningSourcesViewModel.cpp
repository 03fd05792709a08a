#include "learning/LearningSourcesViewModel.h"

#include "app/ui/Assign.h"
#include "learning/CalendarSyncManager.h"
#include "learning/LearningSourcesApi.h"
#include "learning/LocationPermissionDelegate.h"
#include "platform/async/Async.h"
#include "platform/device/KeyValueStore.h"
#include "platform/device/PermissionCenter.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

namespace nimbo {
namespace {
using platform::Permission;
using platform::PermissionCenter;
using platform::PermissionStatus;

const std::vector<LearningSourceCategory>& catalogue() { return LearningSourceCategory::all(); }
}  // namespace

LearningSourcesViewModel::LearningSourcesViewModel(QObject* parent)
    : QAbstractListModel(parent), locationManagerDelegate_(new LocationPermissionDelegate(this)) {
    loadLocalDefaults();
}

int LearningSourcesViewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(catalogue().size());
}

QVariant LearningSourcesViewModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const LearningSourceCategory& category = catalogue()[static_cast<size_t>(index.row())];
    switch (role) {
    case CategoryIdRole: return category.id;
    case TitleRole: return category.fullyWired ? category.displayName : category.displayName + QStringLiteral("  (coming soon)");
    case DescriptionRole: return category.description;
    case SyncedTextRole: {
        const auto found = serverState_.find(category.id);
        if (found == serverState_.end() || !found->second.connected || found->second.itemCount <= 0) return QString();
        return QString::number(found->second.itemCount) + QStringLiteral(" item(s) synced");
    }
    case IsOnRole: return toggleState(category.id);
    default: return {};
    }
}

QHash<int, QByteArray> LearningSourcesViewModel::roleNames() const {
    return {{CategoryIdRole, "categoryId"},
            {TitleRole, "title"},
            {DescriptionRole, "details"},
            {SyncedTextRole, "syncedText"},
            {IsOnRole, "isOn"}};
}

QString LearningSourcesViewModel::disconnectTitle() const {
    return pendingDisconnect_ ? QStringLiteral("Disconnect ") + pendingDisconnect_->displayName + QLatin1Char('?')
                              : QString();
}

QString LearningSourcesViewModel::disconnectMessage() {
    return QStringLiteral(
        "Collection stops immediately. Would you also like to delete data already synced for this category?");
}

bool LearningSourcesViewModel::toggleState(const QString& id) const {
    const auto found = toggleState_.find(id);
    return found != toggleState_.end() && found->second;
}

QString LearningSourcesViewModel::prefsKey(const QString& id) { return QStringLiteral("learning_source_enabled_") + id; }

void LearningSourcesViewModel::loadLocalDefaults() {
    for (const LearningSourceCategory& category : catalogue()) {
        toggleState_[category.id] = platform::KeyValueStore::current().boolForKey(prefsKey(category.id));
    }
}

void LearningSourcesViewModel::setToggle(const QString& id, bool on) {
    toggleState_[id] = on;
    platform::KeyValueStore::current().setBool(prefsKey(id), on);
    for (size_t row = 0; row < catalogue().size(); ++row) {
        if (catalogue()[row].id == id) rowsChanged(IsOnRole, static_cast<int>(row));
    }
}

void LearningSourcesViewModel::refreshFromServer() {
    runAsync(this, [] { return LearningSourcesApi::list(); },
             [this](Outcome<std::vector<LearningSourceState>> outcome) {
                 std::map<QString, LearningSourceState> states;
                 if (outcome.ok()) {
                     for (const LearningSourceState& state : outcome.value()) states[state.category] = state;
                 }
                 serverState_ = std::move(states);
                 for (const auto& [id, state] : serverState_) setToggle(id, state.connected);
                 rowsChanged(SyncedTextRole);
             });
}

void LearningSourcesViewModel::setSwitch(int row, bool on) {
    if (row < 0 || row >= rowCount()) return;
    const LearningSourceCategory& category = catalogue()[static_cast<size_t>(row)];
    if (on) {
        onToggleOn(category);
    } else {
        onToggleOff(category);
    }
}

void LearningSourcesViewModel::onToggleOn(const LearningSourceCategory& category) {
    using Kind = LearningSourcePermissionKind;
    switch (category.permissionKind) {
    case Kind::none:
        stayOff(category, category.displayName +
                              QStringLiteral(" connection flow isn't built yet -- toggle recorded, no data will be collected."));
        return;
    case Kind::notDetermined:
        stayOff(category,
                QStringLiteral("Screen capture isn't built yet on iOS -- this will connect automatically once available."));
        return;
    case Kind::calendar:
        connectWithPermission(
            category, [this](const Granted& done) { CalendarSyncManager::requestAccess(this, done); },
            QStringLiteral("Calendar"));
        return;
    case Kind::photos:
        connectWithPermission(category, [this](const Granted& done) { requestPhotosAccess(done); }, QStringLiteral("Photos"));
        return;
    case Kind::location:
        connectWithPermission(category, [this](const Granted& done) { requestLocationAccess(done); },
                              QStringLiteral("Location"));
        return;
    case Kind::motion:
        connectWithPermission(category, [this](const Granted& done) { requestMotionAccess(done); },
                              QStringLiteral("Motion & Fitness"));
        return;
    case Kind::localNetwork:
        finishConnect(category);
        return;
    }
}

// Asks with `request`; granted connects (Calendar then syncs once and schedules the
// background refresh), otherwise the switch stays off with a toast naming `permissionName`.
void LearningSourcesViewModel::connectWithPermission(const LearningSourceCategory& category,
                                                     const std::function<void(const Granted&)>& request,
                                                     const QString& permissionName) {
    const LearningSourceCategory* c = &category;
    request([this, c, permissionName](bool granted) {
        if (!granted) {
            stayOff(*c, c->displayName + QStringLiteral(" needs ") + permissionName +
                            QStringLiteral(" permission to connect -- staying off."));
            return;
        }
        if (c->permissionKind != LearningSourcePermissionKind::calendar) {
            finishConnect(*c);
            return;
        }
        finishConnect(*c, [] {
            runAsync(QCoreApplication::instance(), [] { CalendarSyncManager::runOnce(); },
                     [](Outcome<void>) { CalendarSyncManager::scheduleNext(); });
        });
    });
}

void LearningSourcesViewModel::finishConnect(const LearningSourceCategory& category, Then then) {
    setToggle(category.id, true);
    // The connection (and what follows it) completes even if the person leaves the
    // screen meanwhile; only the toast needs the screen.
    runAsync(QCoreApplication::instance(), [id = category.id] { LearningSourcesApi::connect(id); },
             [screen = QPointer<LearningSourcesViewModel>(this), name = category.displayName,
              then = std::move(then)](Outcome<void>) {
                 if (screen) screen->showToast(name + QStringLiteral(" connected."));
                 if (then) then();
             });
}

void LearningSourcesViewModel::stayOff(const LearningSourceCategory& category, const QString& toast) {
    showToast(toast);
    setToggle(category.id, false);
}

void LearningSourcesViewModel::onToggleOff(const LearningSourceCategory& category) {
    setToggle(category.id, false);
    if (category.id == QLatin1String("calendar")) CalendarSyncManager::cancelScheduled();
    setPendingDisconnect(&category);
}

void LearningSourcesViewModel::confirmDisconnect(bool purge) {
    const LearningSourceCategory* category = pendingDisconnect_;
    setPendingDisconnect(nullptr);
    if (category) doDisconnect(*category, purge);
}

void LearningSourcesViewModel::dismissDisconnect() { setPendingDisconnect(nullptr); }

// The confirmation closed when its button was chosen; clearing it again once the
// service answers could close a newer confirmation for another category.
void LearningSourcesViewModel::doDisconnect(const LearningSourceCategory& category, bool purge) {
    runAsync(this, [id = category.id, purge] { LearningSourcesApi::disconnect(id, purge); }, [](Outcome<void>) {});
}

void LearningSourcesViewModel::setPendingDisconnect(const LearningSourceCategory* category) {
    if (assignIfChanged(pendingDisconnect_, category)) emit showDisconnectConfirmChanged();
}

void LearningSourcesViewModel::showToast(const QString& text) {
    if (assignIfChanged(toastMessage_, text)) emit toastMessageChanged();
    QTimer::singleShot(toastMilliseconds, this, [this, text] {
        if (toastMessage_ == text && assignIfChanged(toastMessage_, QString())) emit toastMessageChanged();
    });
}

void LearningSourcesViewModel::requestPhotosAccess(const Granted& done) {
    PermissionCenter::current().request(Permission::Photos, this, [done](PermissionStatus status) {
        done(status == PermissionStatus::Authorized || status == PermissionStatus::Limited);
    });
}

void LearningSourcesViewModel::requestLocationAccess(const Granted& done) {
    locationManagerDelegate_->requestWhenInUse(done);
}

void LearningSourcesViewModel::requestMotionAccess(const Granted& done) {
    PermissionCenter& center = PermissionCenter::current();
    if (!center.isMotionActivityAvailable()) {
        done(false);
        return;
    }
    center.request(Permission::Motion, this,
                   [done](PermissionStatus status) { done(status == PermissionStatus::Authorized); });
}

void LearningSourcesViewModel::rowsChanged(int role, int row) {
    const int first = row < 0 ? 0 : row;
    const int last = row < 0 ? rowCount() - 1 : row;
    emit dataChanged(index(first), index(last), {role});
}

}  // namespace nimbo
