#include "deploy/SuperAdminDeployViewModel.h"

#include "app/ui/Assign.h"
#include "platform/async/Async.h"

#include <QVariantMap>

namespace nimbo {
namespace {
QString text(const std::string& value) { return QString::fromStdString(value); }

// The badge of a unit: its conclusion, else its status, else `fallback`.
template <class Unit>
QString badge(const Unit& unit, const char* fallback) {
    return text(unit.conclusion.value_or(unit.status.value_or(fallback)));
}

QVariantMap jobCard(const DeployJob& job) {
    QStringList steps;
    for (const DeployStep& step : job.steps) steps << text(step.name);
    return {{QStringLiteral("name"), text(job.name)},
            {QStringLiteral("badge"), badge(job, "pending")},
            {QStringLiteral("steps"), steps}};
}

QVariantMap runCard(const DeployRun& run) {
    QVariantList jobs;
    for (const DeployJob& job : run.jobs) jobs << jobCard(job);
    return {{QStringLiteral("id"), QString::number(run.id)},
            {QStringLiteral("title"), QStringLiteral("Run ") + QString::number(run.id)},
            {QStringLiteral("badge"), badge(run, "unknown")},
            {QStringLiteral("jobs"), jobs}};
}
}  // namespace

SuperAdminDeployViewModel::SuperAdminDeployViewModel(QObject* parent) : QObject(parent) {
    pollTimer_.setSingleShot(true);
    pollTimer_.setInterval(kPollInterval);
    connect(&pollTimer_, &QTimer::timeout, this, [this] { requestStatus(pollGeneration_); });
}

void SuperAdminDeployViewModel::setActive(bool value) {
    if (!assignIfChanged(active_, value)) return;
    emit activeChanged();
    if (active_) {
        checkAccess();
    } else {
        cancelPolling();
    }
}

void SuperAdminDeployViewModel::setEnvironment(const QString& value) {
    if (assignIfChanged(environment_, value)) emit environmentChanged();
}

void SuperAdminDeployViewModel::setPollInterval(std::chrono::milliseconds interval) {
    pollTimer_.setInterval(interval);
}

void SuperAdminDeployViewModel::setAccess(AccessState value) {
    if (assignIfChanged(access_, value)) emit accessChanged();
}
void SuperAdminDeployViewModel::setTriggering(bool value) {
    if (assignIfChanged(isTriggering_, value)) emit isTriggeringChanged();
}
void SuperAdminDeployViewModel::setErrorMessage(const QString& value) {
    if (assignIfChanged(errorMessage_, value)) emit errorMessageChanged();
}
void SuperAdminDeployViewModel::setDispatchedAt(const QString& value) {
    if (dispatchedAt_ == value) return;
    dispatchedAt_ = value;
    emit dispatchedAtChanged();
    emit waitingChanged();
}
void SuperAdminDeployViewModel::setRuns(std::vector<DeployRun> runs) {
    runs_ = std::move(runs);
    emit runsChanged();
    emit waitingChanged();
}

QVariantList SuperAdminDeployViewModel::runCards() const {
    QVariantList cards;
    for (const DeployRun& run : runs_) cards << runCard(run);
    return cards;
}

void SuperAdminDeployViewModel::checkAccess() {
    runAsync(this, [] { return SuperAdminDeployApi::me(); },
             [this](Outcome<std::optional<SuperAdminMeResult>> outcome) {
                 const bool allowed = outcome.ok() && outcome.value() && outcome.value()->isSuperAdmin;
                 setAccess(allowed ? AccessState::Allowed : AccessState::Denied);
             });
}

void SuperAdminDeployViewModel::onDeployTapped() {
    if (isTriggering_) return;
    setErrorMessage(QString());
    setTriggering(true);
    setRuns({});
    runAsync(this, [environment = environment_.toStdString()] { return SuperAdminDeployApi::trigger(environment); },
             [this](Outcome<std::optional<DeployTriggerResult>> outcome) {
                 setTriggering(false);
                 if (outcome.ok() && outcome.value() && outcome.value()->triggered) {
                     setDispatchedAt(text(outcome.value()->dispatchedAtUtc));
                     startPolling();
                 } else {
                     setErrorMessage(QStringLiteral("Deploy trigger failed"));
                 }
             });
}

void SuperAdminDeployViewModel::startPolling() {
    cancelPolling();
    isPolling_ = true;
    requestStatus(pollGeneration_);
}

void SuperAdminDeployViewModel::cancelPolling() {
    ++pollGeneration_;
    pollTimer_.stop();
    isPolling_ = false;
}

void SuperAdminDeployViewModel::requestStatus(std::uint64_t generation) {
    if (generation != pollGeneration_ || !isPolling_) return;
    std::optional<std::string> since;
    if (dispatchedAt_) since = dispatchedAt_->toStdString();
    runAsync(this, [since] { return SuperAdminDeployApi::status(since); },
             [this, generation](Outcome<std::vector<DeployRun>> outcome) {
                 if (generation != pollGeneration_) return;  // the loop was cancelled meanwhile
                 setRuns(outcome.ok() ? std::move(outcome.value()) : std::vector<DeployRun>{});
                 if (!runs_.empty() && runs_.front().conclusion) {
                     isPolling_ = false;
                     return;
                 }
                 pollTimer_.start();
             });
}

}  // namespace nimbo
