#include "app/ImportQmlModules.h"
#include "app/NimboChatApp.h"

#include <QGuiApplication>
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
    nimbo::NimboChatApp app;
    QQmlApplicationEngine engine;
    app.present(engine);
    return qtApp.exec();
}
