#include "learning/LearningSourcesViewModel.h"

#include "app/ui/Assign.h"
#include "learning/LearningSourcesApi.h"
#include "learning/LearningSourceSwitches.h"
#include "platform/async/Async.h"
#include "platform/device/PermissionCenter.h"

#include <QTimer>

#include <optional>

namespace nimbo {
namespace {
using platform::PermissionCenter;
using platform::PermissionStatus;

const std::vector<LearningSourceCategory>& catalogue() { return LearningSourceCategory::all(); }
LearningSourceSwitches& switches() { return LearningSourceSwitches::shared(); }

// The decision stored for the permission `category` needs, if it needs one.
std::optional<PermissionStatus> decisionFor(const LearningSourceCategory& category) {
    const auto permission = LearningSourceSwitches::permissionFor(category.permissionKind);
    if (!permission) return std::nullopt;
    return PermissionCenter::current().status(*permission);
}

QString permissionText(const LearningSourceCategory& category) {
    const auto decision = decisionFor(category);
    if (!decision || *decision == PermissionStatus::NotDetermined) return QString();
    const QString name = LearningSourceSwitches::permissionName(category.permissionKind);
    switch (*decision) {
    case PermissionStatus::Denied: return name + QStringLiteral(" access: not allowed");
    case PermissionStatus::Limited: return name + QStringLiteral(" access: limited");
    default: return name + QStringLiteral(" access: allowed");
    }
}

QString permissionAction(const LearningSourceCategory& category) {
    const auto decision = decisionFor(category);
    if (!decision || *decision == PermissionStatus::NotDetermined) return QString();
    return *decision == PermissionStatus::Denied ? QStringLiteral("Ask Again") : QStringLiteral("Revoke");
}
}  // namespace

LearningSourcesViewModel::LearningSourcesViewModel(QObject* parent) : QAbstractListModel(parent) {
    connect(&switches(), &LearningSourceSwitches::switchChanged, this, [this](const QString& id) {
        for (size_t row = 0; row < catalogue().size(); ++row) {
            if (catalogue()[row].id == id) rowsChanged({IsOnRole}, static_cast<int>(row));
        }
    });
    connect(&switches(), &LearningSourceSwitches::permissionAnswered, this,
            &LearningSourcesViewModel::permissionRowsChanged);
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
    case IsOnRole: return switches().isOn(category.id);
    case PermissionTextRole: return permissionText(category);
    case PermissionActionRole: return permissionAction(category);
    default: return {};
    }
}

QHash<int, QByteArray> LearningSourcesViewModel::roleNames() const {
    return {{CategoryIdRole, "categoryId"},
            {TitleRole, "title"},
            {DescriptionRole, "details"},
            {SyncedTextRole, "syncedText"},
            {IsOnRole, "isOn"},
            {PermissionTextRole, "permissionText"},
            {PermissionActionRole, "permissionAction"}};
}

QString LearningSourcesViewModel::disconnectTitle() const {
    return pendingDisconnect_ ? QStringLiteral("Disconnect ") + pendingDisconnect_->displayName + QLatin1Char('?')
                              : QString();
}

QString LearningSourcesViewModel::disconnectMessage() {
    return QStringLiteral(
        "Collection stops immediately. Would you also like to delete data already synced for this category?");
}

void LearningSourcesViewModel::refreshFromServer() {
    runAsync(this, [] { return LearningSourcesApi::list(); },
             [this](Outcome<std::vector<LearningSourceState>> outcome) {
                 std::map<QString, LearningSourceState> states;
                 if (outcome.ok()) {
                     for (const LearningSourceState& state : outcome.value()) states[state.category] = state;
                 }
                 serverState_ = std::move(states);
                 for (const auto& [id, state] : serverState_) switches().setToggle(id, state.connected);
                 rowsChanged({SyncedTextRole});
             });
}

void LearningSourcesViewModel::setSwitch(int row, bool on) {
    if (row < 0 || row >= rowCount()) return;
    const LearningSourceCategory& category = catalogue()[static_cast<size_t>(row)];
    if (on) {
        switches().turnOn(category, this, [this](const QString& text) { showToast(text); });
    } else {
        onToggleOff(category);
    }
}

void LearningSourcesViewModel::onToggleOff(const LearningSourceCategory& category) {
    switches().turnOff(category);
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

// Revoking switches off, like the person would, every category that uses the
// permission; the acting row goes last, so its confirmation is the one shown.
void LearningSourcesViewModel::changePermission(int row) {
    if (row < 0 || row >= rowCount()) return;
    const LearningSourceCategory& acting = catalogue()[static_cast<size_t>(row)];
    const auto permission = LearningSourceSwitches::permissionFor(acting.permissionKind);
    const auto decision = decisionFor(acting);
    if (!permission || !decision || *decision == PermissionStatus::NotDetermined) return;
    if (*decision == PermissionStatus::Denied) {
        PermissionCenter::current().setStatus(*permission, PermissionStatus::NotDetermined);
    } else {
        PermissionCenter::current().setStatus(*permission, PermissionStatus::Denied);
        for (const LearningSourceCategory& category : catalogue()) {
            if (&category != &acting && category.permissionKind == acting.permissionKind && switches().isOn(category.id)) {
                onToggleOff(category);
            }
        }
        if (switches().isOn(acting.id)) onToggleOff(acting);
    }
    permissionRowsChanged();
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

void LearningSourcesViewModel::rowsChanged(const QList<int>& roles, int row) {
    const int first = row < 0 ? 0 : row;
    const int last = row < 0 ? rowCount() - 1 : row;
    emit dataChanged(index(first), index(last), roles);
}

void LearningSourcesViewModel::permissionRowsChanged() { rowsChanged({PermissionTextRole, PermissionActionRole}); }

}  // namespace nimbo
