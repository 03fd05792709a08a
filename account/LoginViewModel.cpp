#include "account/LoginViewModel.h"

#include "account/AccountErrors.h"
#include "api/NimboApi.h"
#include "app/ui/Assign.h"
#include "app/session/OwnedFlow.h"

namespace nimbo {

void LoginViewModel::setEmail(const QString& value) { if (assignIfChanged(email_, value)) emit emailChanged(); }
void LoginViewModel::setPassword(const QString& value) { if (assignIfChanged(password_, value)) emit passwordChanged(); }
void LoginViewModel::setShowSignup(bool value) { if (assignIfChanged(showSignup_, value)) emit showSignupChanged(); }
void LoginViewModel::setShowForgotPassword(bool value) {
    if (assignIfChanged(showForgotPassword_, value)) emit showForgotPasswordChanged();
}
void LoginViewModel::setSession(SessionStore* value) { if (session_ != value) { session_ = value; emit sessionChanged(); } }
void LoginViewModel::setErrorMessage(const QString& value) {
    if (assignIfChanged(errorMessage_, value)) emit errorMessageChanged();
}

void LoginViewModel::setBusy(bool busy) {
    if (assignIfChanged(isBusy_, busy)) emit isBusyChanged();
    if (busy) setErrorMessage(QString());
}

void LoginViewModel::doLogin() {
    if (isBusy_) return;  // one request at a time, also from the keyboard's return key
    const QString email = email_.trimmed();
    if (email.isEmpty() || password_.isEmpty()) {
        setErrorMessage(QStringLiteral("Enter your email and password."));
        return;
    }
    setBusy(true);
    // Nothing cancels a sign-in: it signs in even when this screen is gone by then.
    runOwnedFlow(
        session_, this,
        [email = email.toStdString(), password = password_.toStdString()] {
            api::NimboApi::shared().login(email, password);
        },
        [this](const Outcome<void>& outcome) {
            setBusy(false);
            if (!outcome.ok()) setErrorMessage(account::friendlyError(outcome.error()));
        },
        [session = session_](const Outcome<void>& outcome) {
            if (outcome.ok() && session) session->setIsLoggedIn(true);
        });
}

}  // namespace nimbo
