#include "app/NimboChatApp.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(Nimbo_UiPlugin)
Q_IMPORT_QML_PLUGIN(Nimbo_SessionPlugin)
Q_IMPORT_QML_PLUGIN(Nimbo_AccountPlugin)
Q_IMPORT_QML_PLUGIN(Nimbo_ChatPlugin)
Q_IMPORT_QML_PLUGIN(Nimbo_LearningPlugin)
Q_IMPORT_QML_PLUGIN(Nimbo_CreditsPlugin)
Q_IMPORT_QML_PLUGIN(Nimbo_DeployPlugin)
Q_IMPORT_QML_PLUGIN(Nimbo_AppPlugin)

int main(int argc, char* argv[]) {
    QGuiApplication qtApp(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("NimboChat"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("NimboChat"));
    nimbo::NimboChatApp app;
    QQmlApplicationEngine engine;
    app.present(engine);
    return qtApp.exec();
}
