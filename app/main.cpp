#include "app/ImportQmlModules.h"
#include "app/NimboChatApp.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>


int main(int argc, char* argv[]) {
    QGuiApplication qtApp(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("NimboChat"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("NimboChat"));
    nimbo::NimboChatApp app;
    QQmlApplicationEngine engine;
    app.present(engine);
    return qtApp.exec();
}
