#pragma once
// Whether the person is signed in. One instance per process, owned by NimboChatApp
// and handed to every screen that signs in or out. Nothing of it is persisted.

#include <QObject>
#include <QtQml/qqmlregistration.h>

namespace nimbo {

class SessionStore : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The session store is created by the application object")
    Q_PROPERTY(bool isLoggedIn READ isLoggedIn WRITE setIsLoggedIn NOTIFY isLoggedInChanged)

public:
    explicit SessionStore(QObject* parent = nullptr) : QObject(parent) {}

    bool isLoggedIn() const { return isLoggedIn_; }
    // Every assignment notifies observers, also one that keeps the value.
    void setIsLoggedIn(bool value) {
        isLoggedIn_ = value;
        emit isLoggedInChanged();
    }

signals:
    void isLoggedInChanged();

private:
    bool isLoggedIn_ = false;
};

}  // namespace nimbo
