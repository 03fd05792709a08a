#pragma once
// State and actions of the learning-sources screen: one switch per category (kept by
// LearningSourceSwitches) merged with the service's state on every appearance, the
// toast, the disconnect confirmation, and each row's permission decision, which the
// person can reset ("ask again") or revoke.

#include "learning/LearningSourceTypes.h"

#include <QAbstractListModel>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <map>

namespace nimbo {

class LearningSourcesViewModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString toastMessage READ toastMessage NOTIFY toastMessageChanged)
    Q_PROPERTY(bool showDisconnectConfirm READ showDisconnectConfirm NOTIFY showDisconnectConfirmChanged)
    Q_PROPERTY(QString disconnectTitle READ disconnectTitle NOTIFY showDisconnectConfirmChanged)
    Q_PROPERTY(QString disconnectMessage READ disconnectMessage CONSTANT)

public:
    enum Role {
        CategoryIdRole = Qt::UserRole + 1,
        TitleRole,
        DescriptionRole,
        SyncedTextRole,
        IsOnRole,
        PermissionTextRole,    // e.g. "Calendar access: allowed"; empty while undecided
        PermissionActionRole,  // "Ask Again" after a refusal, "Revoke" after a grant
    };

    explicit LearningSourcesViewModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // The toast's text; empty while no toast shows.
    QString toastMessage() const { return toastMessage_; }
    bool showDisconnectConfirm() const { return pendingDisconnect_ != nullptr; }
    QString disconnectTitle() const;
    static QString disconnectMessage();

    // The screen came into view: reads the service's state and merges it in.
    Q_INVOKABLE void refreshFromServer();
    // The person flipped the switch of row `row` to `on`.
    Q_INVOKABLE void setSwitch(int row, bool on);
    // Buttons of the disconnect confirmation: "Disconnect & delete data" (purge) or
    // "Disconnect only"; dismissDisconnect for "Cancel" or a tap outside.
    Q_INVOKABLE void confirmDisconnect(bool purge);
    Q_INVOKABLE void dismissDisconnect();
    // The permission control of row `row`: a refused permission is asked again next
    // time; a granted one is revoked, which switches off the categories using it.
    Q_INVOKABLE void changePermission(int row);

    static constexpr int toastMilliseconds = 2500;

signals:
    void toastMessageChanged();
    void showDisconnectConfirmChanged();

private:
    void onToggleOff(const LearningSourceCategory& category);
    void doDisconnect(const LearningSourceCategory& category, bool purge);
    void showToast(const QString& text);
    void setPendingDisconnect(const LearningSourceCategory* category);
    void rowsChanged(const QList<int>& roles, int row = -1);
    void permissionRowsChanged();

    std::map<QString, LearningSourceState> serverState_;
    const LearningSourceCategory* pendingDisconnect_ = nullptr;
    QString toastMessage_;
};

}  // namespace nimbo
