#include "account/ForgotPasswordViewModel.h"

#include "api/NimboApi.h"
#include "app/ui/Assign.h"
#include "platform/async/Async.h"

namespace nimbo {

void ForgotPasswordViewModel::setEmail(const QString& value) { if (assignIfChanged(email_, value)) emit emailChanged(); }
void ForgotPasswordViewModel::setBusy(bool busy) { if (assignIfChanged(isBusy_, busy)) emit isBusyChanged(); }
void ForgotPasswordViewModel::setInfoMessage(const QString& value) {
    if (assignIfChanged(infoMessage_, value)) emit infoMessageChanged();
}

void ForgotPasswordViewModel::doSend() {
    if (isBusy_) return;  // one request at a time, also from the keyboard's return key
    const QString email = email_.trimmed();
    if (email.isEmpty()) {
        setInfoMessage(QStringLiteral("Enter your account email."));
        return;
    }
    setBusy(true);
    runAsync(
        this, [email = email.toStdString()] { api::NimboApi::shared().forgotPassword(email); },
        [this](Outcome<void> outcome) {
            setBusy(false);
            setInfoMessage(outcome.ok()
                               ? QStringLiteral("If that email exists, we sent a reset link \u2014 check your inbox "
                                                "and open the link on this phone to set a new password.")
                               : QString::fromUtf8(api::kNetworkErrorText));
        });
}

}  // namespace nimbo
