// The Qt Quick Test runner of tests/qml: every tst_*.qml of that folder can import
// the app's modules. Service requests go to two scripted loopback servers that
// answer 404 unless a test program scripts them.
#include "app/ImportQmlModules.h"

#include "ScriptedServer.h"
#include "api/ServiceEndpoints.h"

#include <QObject>
#include <QTemporaryDir>
#include <QtQuickTest>

#include <cstdlib>
#include <memory>

class QmlTestSetup : public QObject {
    Q_OBJECT

public:
    QmlTestSetup() {
        ::setenv("XDG_DATA_HOME", qPrintable(scratch_.filePath("data")), 1);
        ::setenv("XDG_CONFIG_HOME", qPrintable(scratch_.filePath("config")), 1);
        ::setenv("XDG_RUNTIME_DIR", qPrintable(scratch_.path()), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        ::setenv("QT_QUICK_BACKEND", "software", 0);
        ::setenv("QT_QUICK_CONTROLS_STYLE", "Material", 0);
        ::setenv("QT_QUICK_CONTROLS_MATERIAL_THEME", "Dark", 0);
        nimbo::api::ServiceEndpoints::overrideForProcess(
            {{production_.base(), testBase_.base()}, production_.base()});
    }

private:
    QTemporaryDir scratch_;
    nimbo::test::ScriptedServer production_;
    nimbo::test::ScriptedServer testBase_;
};

QUICK_TEST_MAIN_WITH_SETUP(nimbo_qml, QmlTestSetup)

#include "QmlTestMain.moc"
