#pragma once
// State and actions of the sign-up screen.

#include "app/session/SessionStore.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace nimbo {

class SignupViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QString company READ company WRITE setCompany NOTIFY companyChanged)
    Q_PROPERTY(QString email READ email WRITE setEmail NOTIFY emailChanged)
    Q_PROPERTY(QString password READ password WRITE setPassword NOTIFY passwordChanged)
    Q_PROPERTY(QString confirm READ confirm WRITE setConfirm NOTIFY confirmChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(QString infoMessage READ infoMessage NOTIFY infoMessageChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)
    Q_PROPERTY(nimbo::SessionStore* session READ session WRITE setSession NOTIFY sessionChanged)

public:
    explicit SignupViewModel(QObject* parent = nullptr) : QObject(parent) {}

    QString name() const { return name_; }
    void setName(const QString& value);
    QString company() const { return company_; }
    void setCompany(const QString& value);
    QString email() const { return email_; }
    void setEmail(const QString& value);
    QString password() const { return password_; }
    void setPassword(const QString& value);
    QString confirm() const { return confirm_; }
    void setConfirm(const QString& value);
    QString errorMessage() const { return errorMessage_; }
    QString infoMessage() const { return infoMessage_; }
    bool isBusy() const { return isBusy_; }
    SessionStore* session() const { return session_; }
    void setSession(SessionStore* value);

    // Validates the form, then requests the company account; a trial account is
    // signed in at once.
    Q_INVOKABLE void doSignup();

    // The company's primary domain taken from an e-mail address: the text after its
    // last "@", ignoring empty pieces; "" when there is none.
    static QString primaryDomain(const QString& email);

signals:
    void nameChanged();
    void companyChanged();
    void emailChanged();
    void passwordChanged();
    void confirmChanged();
    void errorMessageChanged();
    void infoMessageChanged();
    void isBusyChanged();
    void sessionChanged();

private:
    QString validationError(const QString& name, const QString& company, const QString& email) const;
    void setBusy(bool busy);
    void setErrorMessage(const QString& value);
    void setInfoMessage(const QString& value);

    QString name_, company_, email_, password_, confirm_;
    QString errorMessage_, infoMessage_;
    bool isBusy_ = false;
    QPointer<SessionStore> session_;
};

}  // namespace nimbo
