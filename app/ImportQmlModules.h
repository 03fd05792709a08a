#pragma once
// Pulls every QML module of the app into a program that links nimbo_qml_modules.
// Include this in exactly one source file of the program.

#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(Nimbo_UiPlugin)
Q_IMPORT_QML_PLUGIN(Nimbo_SessionPlugin)
Q_IMPORT_QML_PLUGIN(Nimbo_AccountPlugin)
Q_IMPORT_QML_PLUGIN(Nimbo_ChatPlugin)
Q_IMPORT_QML_PLUGIN(Nimbo_LearningPlugin)
Q_IMPORT_QML_PLUGIN(Nimbo_CreditsPlugin)
Q_IMPORT_QML_PLUGIN(Nimbo_DeployPlugin)
Q_IMPORT_QML_PLUGIN(Nimbo_AppPlugin)
