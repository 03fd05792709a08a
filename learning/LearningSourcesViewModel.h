#pragma once
// State and actions of the learning-sources screen: one switch per category, kept
// in the key-value store and merged with the service's state on every appearance;
// turning a switch on runs the permission flow its category needs.

#include "learning/LearningSourceTypes.h"

#include <QAbstractListModel>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <functional>
#include <map>
#include <optional>

namespace nimbo {

class LocationPermissionDelegate;

class LearningSourcesViewModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString toastMessage READ toastMessage NOTIFY toastMessageChanged)
    Q_PROPERTY(bool showDisconnectConfirm READ showDisconnectConfirm NOTIFY showDisconnectConfirmChanged)
    Q_PROPERTY(QString disconnectTitle READ disconnectTitle NOTIFY showDisconnectConfirmChanged)
    Q_PROPERTY(QString disconnectMessage READ disconnectMessage CONSTANT)

public:
    enum Role { CategoryIdRole = Qt::UserRole + 1, TitleRole, DescriptionRole, SyncedTextRole, IsOnRole };

    explicit LearningSourcesViewModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // The toast's text; empty while no toast shows.
    QString toastMessage() const { return toastMessage_; }
    bool showDisconnectConfirm() const { return pendingDisconnect_ != nullptr; }
    const LearningSourceCategory* pendingDisconnect() const { return pendingDisconnect_; }
    QString disconnectTitle() const;
    static QString disconnectMessage();

    bool toggleState(const QString& id) const;
    const std::map<QString, LearningSourceState>& serverState() const { return serverState_; }
    static QString prefsKey(const QString& id);

    // The screen came into view: reads the service's state and merges it in.
    Q_INVOKABLE void refreshFromServer();
    // The person flipped the switch of row `row` to `on`.
    Q_INVOKABLE void setSwitch(int row, bool on);
    // Buttons of the disconnect confirmation: "Disconnect & delete data" (purge) or
    // "Disconnect only"; dismissDisconnect for "Cancel" or a tap outside.
    Q_INVOKABLE void confirmDisconnect(bool purge);
    Q_INVOKABLE void dismissDisconnect();

    static constexpr int toastMilliseconds = 2500;

signals:
    void toastMessageChanged();
    void showDisconnectConfirmChanged();

private:
    using Then = std::function<void()>;
    using Granted = std::function<void(bool)>;

    void loadLocalDefaults();
    void setToggle(const QString& id, bool on);
    void onToggleOn(const LearningSourceCategory& category);
    void onToggleOff(const LearningSourceCategory& category);
    void connectWithPermission(const LearningSourceCategory& category,
                               const std::function<void(const Granted&)>& request, const QString& permissionName);
    void finishConnect(const LearningSourceCategory& category, Then then = {});
    void stayOff(const LearningSourceCategory& category, const QString& toast);
    void doDisconnect(const LearningSourceCategory& category, bool purge);
    void showToast(const QString& text);
    void setPendingDisconnect(const LearningSourceCategory* category);
    void requestPhotosAccess(const Granted& done);
    void requestLocationAccess(const Granted& done);
    void requestMotionAccess(const Granted& done);
    void rowsChanged(int role, int row = -1);

    std::map<QString, LearningSourceState> serverState_;
    std::map<QString, bool> toggleState_;
    const LearningSourceCategory* pendingDisconnect_ = nullptr;
    QString toastMessage_;
    LocationPermissionDelegate* locationManagerDelegate_;
};

}  // namespace nimbo
