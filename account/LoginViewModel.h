#pragma once
// State and actions of the sign-in screen.

#include "app/session/SessionStore.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace nimbo {

class LoginViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString email READ email WRITE setEmail NOTIFY emailChanged)
    Q_PROPERTY(QString password READ password WRITE setPassword NOTIFY passwordChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)
    Q_PROPERTY(bool showSignup READ showSignup WRITE setShowSignup NOTIFY showSignupChanged)
    Q_PROPERTY(bool showForgotPassword READ showForgotPassword WRITE setShowForgotPassword NOTIFY showForgotPasswordChanged)
    Q_PROPERTY(nimbo::SessionStore* session READ session WRITE setSession NOTIFY sessionChanged)

public:
    explicit LoginViewModel(QObject* parent = nullptr) : QObject(parent) {}

    QString email() const { return email_; }
    void setEmail(const QString& value);
    QString password() const { return password_; }
    void setPassword(const QString& value);
    QString errorMessage() const { return errorMessage_; }
    bool isBusy() const { return isBusy_; }
    bool showSignup() const { return showSignup_; }
    void setShowSignup(bool value);
    bool showForgotPassword() const { return showForgotPassword_; }
    void setShowForgotPassword(bool value);
    SessionStore* session() const { return session_; }
    void setSession(SessionStore* value);

    // Validates the fields and starts one sign-in request.
    Q_INVOKABLE void doLogin();

signals:
    void emailChanged();
    void passwordChanged();
    void errorMessageChanged();
    void isBusyChanged();
    void showSignupChanged();
    void showForgotPasswordChanged();
    void sessionChanged();

private:
    void setBusy(bool busy);
    void setErrorMessage(const QString& value);

    QString email_;
    QString password_;
    QString errorMessage_;
    bool isBusy_ = false;
    bool showSignup_ = false;
    bool showForgotPassword_ = false;
    QPointer<SessionStore> session_;
};

}  // namespace nimbo
