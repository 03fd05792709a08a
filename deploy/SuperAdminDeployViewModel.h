#pragma once
// State and actions of the super-admin deploy screen: the access check, the
// environment choice, the trigger and the status-poll loop.

#include "deploy/SuperAdminDeployApi.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace nimbo {

class SuperAdminDeployViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    // True while the screen is shown. Each showing checks access again; leaving ends polling.
    Q_PROPERTY(bool active READ active WRITE setActive NOTIFY activeChanged)
    Q_PROPERTY(AccessState access READ access NOTIFY accessChanged)
    Q_PROPERTY(QString environment READ environment WRITE setEnvironment NOTIFY environmentChanged)
    Q_PROPERTY(QStringList environments READ environments CONSTANT)
    Q_PROPERTY(bool isProd READ isProd NOTIFY environmentChanged)
    Q_PROPERTY(QString triggerLabel READ triggerLabel NOTIFY environmentChanged)
    Q_PROPERTY(bool isTriggering READ isTriggering NOTIFY isTriggeringChanged)
    Q_PROPERTY(QString dispatchedAt READ dispatchedAtText NOTIFY dispatchedAtChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    // One map per run: id, title, badge and jobs (each: name, badge, steps as names).
    Q_PROPERTY(QVariantList runs READ runCards NOTIFY runsChanged)
    Q_PROPERTY(bool isWaitingForRun READ isWaitingForRun NOTIFY waitingChanged)

public:
    enum class AccessState { Checking, Denied, Allowed };
    Q_ENUM(AccessState)

    static constexpr std::chrono::milliseconds kPollInterval{10'000};

    explicit SuperAdminDeployViewModel(QObject* parent = nullptr);

    bool active() const { return active_; }
    void setActive(bool value);
    AccessState access() const { return access_; }
    QString environment() const { return environment_; }
    void setEnvironment(const QString& value);
    static QStringList environments() { return {QStringLiteral("test"), QStringLiteral("prod")}; }
    bool isProd() const { return environment_ == QLatin1String("prod"); }
    QString triggerLabel() const { return QStringLiteral("Deploy to ") + environment_; }
    bool isTriggering() const { return isTriggering_; }
    const std::optional<QString>& dispatchedAt() const { return dispatchedAt_; }
    QString dispatchedAtText() const { return dispatchedAt_.value_or(QString()); }
    QString errorMessage() const { return errorMessage_; }
    const std::vector<DeployRun>& runs() const { return runs_; }
    QVariantList runCards() const;
    bool isWaitingForRun() const { return runs_.empty() && dispatchedAt_.has_value(); }
    // True from a successful trigger until the first run concludes or the loop is cancelled.
    bool isPolling() const { return isPolling_; }

    // The wait between status requests (tests shorten it).
    void setPollInterval(std::chrono::milliseconds interval);

    // Sends the trigger for the selected environment and, once accepted, polls the run.
    Q_INVOKABLE void onDeployTapped();

signals:
    void activeChanged();
    void accessChanged();
    void environmentChanged();
    void isTriggeringChanged();
    void dispatchedAtChanged();
    void errorMessageChanged();
    void runsChanged();
    void waitingChanged();

private:
    void checkAccess();
    void startPolling();
    void cancelPolling();
    void requestStatus(std::uint64_t generation);
    void setAccess(AccessState value);
    void setTriggering(bool value);
    void setErrorMessage(const QString& value);
    void setDispatchedAt(const QString& value);
    void setRuns(std::vector<DeployRun> runs);

    bool active_ = false;
    AccessState access_ = AccessState::Checking;
    QString environment_ = QStringLiteral("test");
    bool isTriggering_ = false;
    std::optional<QString> dispatchedAt_;
    QString errorMessage_;
    std::vector<DeployRun> runs_;
    // Each loop has its own generation; answers and timeouts of older loops are dropped.
    std::uint64_t pollGeneration_ = 0;
    bool isPolling_ = false;
    QTimer pollTimer_;
};

}  // namespace nimbo
