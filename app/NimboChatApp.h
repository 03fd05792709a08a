#pragma once
// The application object: owns the session store, starts the launch-time work and
// presents the one window.

#include "app/session/SessionStore.h"

#include <QObject>

class QQmlApplicationEngine;

namespace nimbo {

class NimboChatApp : public QObject {
    Q_OBJECT

public:
    // In this order: creates the session store (signed out), starts one silent
    // latest-version check, registers the background calendar sync. Each sign-in and
    // sign-out then begins and ends the learning sources' session.
    explicit NimboChatApp(QObject* parent = nullptr);
    ~NimboChatApp() override;

    SessionStore* session() const { return session_; }

    // Loads the window (dark, phone-sized) with RootView as its content and the
    // session store handed to it.
    void present(QQmlApplicationEngine& engine);

private:
    SessionStore* session_;
};

}  // namespace nimbo
