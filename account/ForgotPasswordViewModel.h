#pragma once
// State and action of the password-reset screen.

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace nimbo {

class ForgotPasswordViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString email READ email WRITE setEmail NOTIFY emailChanged)
    Q_PROPERTY(QString infoMessage READ infoMessage NOTIFY infoMessageChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)

public:
    explicit ForgotPasswordViewModel(QObject* parent = nullptr) : QObject(parent) {}

    QString email() const { return email_; }
    void setEmail(const QString& value);
    QString infoMessage() const { return infoMessage_; }
    bool isBusy() const { return isBusy_; }

    // Asks for a reset link for the trimmed address; the answer never says whether
    // the address belongs to an account.
    Q_INVOKABLE void doSend();

signals:
    void emailChanged();
    void infoMessageChanged();
    void isBusyChanged();

private:
    void setBusy(bool busy);
    void setInfoMessage(const QString& value);

    QString email_;
    QString infoMessage_;
    bool isBusy_ = false;
};

}  // namespace nimbo
