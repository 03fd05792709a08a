#include "credits/CreditsViewModel.h"

#include "api/NimboApi.h"
#include "api/ServiceEndpoints.h"
#include "app/ui/Assign.h"
#include "platform/async/Async.h"
#include "platform/url/UrlOpener.h"

namespace nimbo {
namespace {
const QString kTemporarilyUnavailable = QStringLiteral("Credit balance temporarily unavailable.");
}  // namespace

QString balanceUnavailableReason(const std::exception_ptr& error) {
    const auto apiError = api::asNimboApiError(error);
    if (!apiError) return kTemporarilyUnavailable;
    if (apiError->kind() == api::NimboApiError::Kind::Unauthorized) {
        return QStringLiteral(
            "Credit balance isn't available from this app yet (requires an account-level connection our team "
            "is finishing up). Local on-device chat remains free and unaffected.");
    }
    const QString description = QString::fromStdString(apiError->errorDescription());
    return description.isEmpty() ? kTemporarilyUnavailable : description;
}

const QString& topUpURL() {
    static const QString url = QString::fromStdString(api::ServiceEndpoints::current().webBase) + "/account/billing";
    return url;
}

void CreditsViewModel::setActive(bool value) {
    if (!assignIfChanged(active_, value)) return;
    emit activeChanged();
    if (active_) start();
}

CreditsViewModel::BalanceSection CreditsViewModel::balanceSection() const {
    if (isLoading_) return BalanceSection::Loading;
    if (unavailableReason_) return BalanceSection::Unavailable;
    if (balance_) return BalanceSection::Balance;
    return BalanceSection::Empty;
}

std::int64_t CreditsViewModel::remaining() const {
    if (!balance_) return 0;
    return balance_->userBalance.value_or(balance_->companyBalance);
}

QString CreditsViewModel::lifetimeUsageText() const {
    return hasLifetimeUsage() ? QString::number(*balance_->userLifetimeTokens) : QString();
}

QString CreditsViewModel::warningText() const {
    if (isOutOfCredits())
        return QStringLiteral("You're out of credits for orchestrator chat. On-device chat still works for free.");
    if (isLowBalance()) return QStringLiteral("Your balance is running low.");
    return QString();
}

QString CreditsViewModel::topUpLabel() const {
    return isOutOfCredits() ? QStringLiteral("Add credits now") : QStringLiteral("Manage billing / top up");
}

void CreditsViewModel::start() {
    runAsync(this, [] { return api::NimboApi::shared().fetchMe(); },
             [this](Outcome<api::NimboMe> outcome) {
                 if (!outcome.ok()) return load(std::nullopt, std::nullopt);
                 const api::NimboMe& me = outcome.value();
                 load(me.companyId, QString::fromStdString(me.email));
             });
}

void CreditsViewModel::load(std::optional<std::int64_t> companyId, std::optional<QString> email) {
    const std::uint64_t generation = ++loadGeneration_;
    if (!isLoading_ || unavailableReason_) {
        isLoading_ = true;
        unavailableReason_.reset();
        emit stateChanged();
    }
    std::optional<std::string> emailText;
    if (email) emailText = email->toStdString();
    runAsync(this, [companyId, emailText] { return api::NimboApi::shared().fetchCreditBalance(companyId, emailText); },
             [this, generation](Outcome<api::NimboCreditBalance> outcome) {
                 if (generation != loadGeneration_) return;  // a newer load is under way
                 if (outcome.ok()) {
                     finishLoad(outcome.value(), std::nullopt);
                 } else {
                     finishLoad(std::nullopt, balanceUnavailableReason(outcome.error()));
                 }
             });
}

void CreditsViewModel::finishLoad(std::optional<api::NimboCreditBalance> balance, std::optional<QString> reason) {
    balance_ = std::move(balance);
    unavailableReason_ = std::move(reason);
    isLoading_ = false;
    emit stateChanged();
}

void CreditsViewModel::openTopUp() const { platform::UrlOpener::current().open(topUpURL()); }

}  // namespace nimbo
