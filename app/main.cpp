#include "app/ImportQmlModules.h"
#include "app/NimboChatApp.h"

#include "NimboConfig.h"

#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>

namespace {
// The app writes no log, not even Qt's own diagnostics.
void discardMessage(QtMsgType, const QMessageLogContext&, const QString&) {}
}  // namespace

int main(int argc, char* argv[]) {
    qInstallMessageHandler(discardMessage);
    QGuiApplication qtApp(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("NimboChat"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("NimboChat"));
    // The desktop entry and icon are named by the app's reverse-DNS identifier.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(nimbo::config::bundleId));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/app.nimbo.chat-256.png")));
    nimbo::NimboChatApp app;
    QQmlApplicationEngine engine;
    app.present(engine);
    if (engine.rootObjects().isEmpty()) return 1;  // no window could be made: nothing to run
    return qtApp.exec();
}
