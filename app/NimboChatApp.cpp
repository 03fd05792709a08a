#include "app/NimboChatApp.h"

#include "chat/UpdateChecker.h"
#include "learning/CalendarSyncManager.h"
#include "learning/LearningSourceSwitches.h"
#include "platform/async/Async.h"
#include "platform/http/HttpClient.h"

#include <QQmlApplicationEngine>
#include <QUrl>

namespace nimbo {

NimboChatApp::NimboChatApp(QObject* parent) : QObject(parent), session_(new SessionStore(this)) {
    platform::http::initialise();  // before any worker thread exists
    UpdateChecker::shared().checkOnLaunch();
    CalendarSyncManager::registerBackgroundTask();
    connect(session_, &SessionStore::isLoggedInChanged, this, [this] {
        LearningSourceSwitches& switches = LearningSourceSwitches::shared();
        if (session_->isLoggedIn()) {
            switches.beginSession();
        } else {
            switches.endSession();
        }
    });
}

NimboChatApp::~NimboChatApp() {
    shutdownBackgroundWork();
}

void NimboChatApp::present(QQmlApplicationEngine& engine) {
    engine.setInitialProperties({{"session", QVariant::fromValue(session_)}});
    engine.load(QUrl(QStringLiteral("qrc:/qt-project.org/imports/Nimbo/App/Main.qml")));
}

}  // namespace nimbo
