#pragma once
// State of the credits screen: loads the credit balance and derives the low-balance
// and out-of-credits warnings and the billing link.

#include "api/Records.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <cstdint>
#include <exception>
#include <optional>

namespace nimbo {

// The billing web page: the service's web host, path /account/billing.
const QString& topUpURL();
// What the "Balance" section says when the balance request failed with `error`.
QString balanceUnavailableReason(const std::exception_ptr& error);

class CreditsViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    // True while the screen is shown; each showing looks up the user and loads the balance.
    Q_PROPERTY(bool active READ active WRITE setActive NOTIFY activeChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY stateChanged)
    Q_PROPERTY(BalanceSection balanceSection READ balanceSection NOTIFY stateChanged)
    Q_PROPERTY(bool hasBalance READ hasBalance NOTIFY stateChanged)
    Q_PROPERTY(QString remainingText READ remainingText NOTIFY stateChanged)
    Q_PROPERTY(bool hasLifetimeUsage READ hasLifetimeUsage NOTIFY stateChanged)
    Q_PROPERTY(QString lifetimeUsageText READ lifetimeUsageText NOTIFY stateChanged)
    Q_PROPERTY(QString unavailableReason READ unavailableReason NOTIFY stateChanged)
    Q_PROPERTY(bool isLowBalance READ isLowBalance NOTIFY stateChanged)
    Q_PROPERTY(bool isOutOfCredits READ isOutOfCredits NOTIFY stateChanged)
    Q_PROPERTY(QString warningText READ warningText NOTIFY stateChanged)
    Q_PROPERTY(bool showTopUpLink READ showTopUpLink NOTIFY stateChanged)
    Q_PROPERTY(QString topUpLabel READ topUpLabel NOTIFY stateChanged)
    Q_PROPERTY(qint64 lowBalanceThreshold READ lowBalanceThreshold CONSTANT)

public:
    // What the "Balance" section holds.
    enum class BalanceSection { Loading, Unavailable, Balance, Empty };
    Q_ENUM(BalanceSection)

    static constexpr std::int64_t kLowBalanceThreshold = 500;

    explicit CreditsViewModel(QObject* parent = nullptr) : QObject(parent) {}

    bool active() const { return active_; }
    void setActive(bool value);

    bool isLoading() const { return isLoading_; }
    const std::optional<api::NimboCreditBalance>& balance() const { return balance_; }
    QString unavailableReason() const { return unavailableReason_.value_or(QString()); }
    BalanceSection balanceSection() const;
    bool hasBalance() const { return balance_.has_value(); }
    // userBalance when present, else companyBalance; 0 without a balance.
    std::int64_t remaining() const;
    QString remainingText() const { return QString::number(remaining()); }
    bool hasLifetimeUsage() const { return balance_ && balance_->userLifetimeTokens; }
    QString lifetimeUsageText() const;
    bool isLowBalance() const { return balance_ && remaining() <= kLowBalanceThreshold; }
    bool isOutOfCredits() const { return balance_ && remaining() <= 0; }
    QString warningText() const;
    bool showTopUpLink() const { return unavailableReason_ || isLowBalance() || isOutOfCredits(); }
    QString topUpLabel() const;
    static qint64 lowBalanceThreshold() { return kLowBalanceThreshold; }

    // Looks the user up (failures ignored), then loads the balance for their company and e-mail.
    Q_INVOKABLE void start();
    // Loads the balance; every outcome becomes state.
    void load(std::optional<std::int64_t> companyId, std::optional<QString> email);
    // Opens the billing page in the system's browser.
    Q_INVOKABLE void openTopUp() const;

signals:
    void activeChanged();
    void stateChanged();

private:
    void finishLoad(std::optional<api::NimboCreditBalance> balance, std::optional<QString> reason);

    bool active_ = false;
    bool isLoading_ = true;
    std::optional<api::NimboCreditBalance> balance_;
    std::optional<QString> unavailableReason_;
    // Only the latest load may change the state.
    std::uint64_t loadGeneration_ = 0;
};

}  // namespace nimbo
