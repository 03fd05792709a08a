#include "account/SignupViewModel.h"

#include "account/AccountErrors.h"
#include "api/NimboApi.h"
#include "app/ui/Assign.h"
#include "app/session/OwnedFlow.h"

#include <QTextBoundaryFinder>

namespace nimbo {
namespace {

int graphemeCount(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() != -1) ++count;
    return count;
}

enum class SignupOutcome { SignedIn, CreatedNotSignedIn, PendingApproval };

}  // namespace

void SignupViewModel::setName(const QString& value) { if (assignIfChanged(name_, value)) emit nameChanged(); }
void SignupViewModel::setCompany(const QString& value) { if (assignIfChanged(company_, value)) emit companyChanged(); }
void SignupViewModel::setEmail(const QString& value) { if (assignIfChanged(email_, value)) emit emailChanged(); }
void SignupViewModel::setPassword(const QString& value) { if (assignIfChanged(password_, value)) emit passwordChanged(); }
void SignupViewModel::setConfirm(const QString& value) { if (assignIfChanged(confirm_, value)) emit confirmChanged(); }
void SignupViewModel::setSession(SessionStore* value) { if (session_ != value) { session_ = value; emit sessionChanged(); } }
void SignupViewModel::setErrorMessage(const QString& value) {
    if (assignIfChanged(errorMessage_, value)) emit errorMessageChanged();
}
void SignupViewModel::setInfoMessage(const QString& value) {
    if (assignIfChanged(infoMessage_, value)) emit infoMessageChanged();
}

void SignupViewModel::setBusy(bool busy) {
    if (assignIfChanged(isBusy_, busy)) emit isBusyChanged();
    if (busy) setErrorMessage(QString());
}

QString SignupViewModel::primaryDomain(const QString& email) {
    const QStringList pieces = email.split(QLatin1Char('@'), Qt::SkipEmptyParts);
    return pieces.isEmpty() ? QString() : pieces.last();
}

QString SignupViewModel::validationError(const QString& name, const QString& company, const QString& email) const {
    if (name.isEmpty() || company.isEmpty() || email.isEmpty() || password_.isEmpty())
        return QStringLiteral("All fields are required.");
    if (!email.contains(QLatin1Char('@'))) return QStringLiteral("Enter a valid email address.");
    if (graphemeCount(password_) < 8) return QStringLiteral("Password must be at least 8 characters.");
    if (password_ != confirm_) return QStringLiteral("Passwords do not match.");
    if (primaryDomain(email).isEmpty()) return QStringLiteral("Enter a valid email address.");
    return QString();
}

void SignupViewModel::doSignup() {
    if (isBusy_) return;  // one request at a time, also from the keyboard's return key
    const QString name = name_.trimmed();
    const QString company = company_.trimmed();
    const QString email = email_.trimmed().toLower();
    if (const QString error = validationError(name, company, email); !error.isEmpty()) {
        setErrorMessage(error);
        return;
    }
    setBusy(true);
    // Nothing cancels a sign-up: a trial account signs in even when this screen is gone by then.
    runOwnedFlow(
        session_, this,
        [name = name.toStdString(), company = company.toStdString(), domain = primaryDomain(email).toStdString(),
         email = email.toStdString(), password = password_.toStdString()] {
            auto& api = api::NimboApi::shared();
            if (!api.signup(name, company, domain, email, password).isTrial()) return SignupOutcome::PendingApproval;
            try {
                api.login(email, password);
                return SignupOutcome::SignedIn;
            } catch (...) {
                return SignupOutcome::CreatedNotSignedIn;
            }
        },
        [this](const Outcome<SignupOutcome>& outcome) {
            setBusy(false);
            if (!outcome.ok()) {
                setErrorMessage(account::describeError(outcome.error(), QStringLiteral("Sign-up failed.")));
            } else if (outcome.value() == SignupOutcome::CreatedNotSignedIn) {
                setInfoMessage(QStringLiteral("Account created \u2014 please sign in."));
            } else if (outcome.value() == SignupOutcome::PendingApproval) {
                setInfoMessage(
                    QStringLiteral("Request received \u2014 check your email for an approval link, then sign in."));
            }
        },
        [session = session_](const Outcome<SignupOutcome>& outcome) {
            if (outcome.ok() && outcome.value() == SignupOutcome::SignedIn && session) session->setIsLoggedIn(true);
        });
}

}  // namespace nimbo
