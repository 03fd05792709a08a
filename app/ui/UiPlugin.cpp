// The Nimbo.Ui module's plugin. Besides the module's types it keeps the password-field
// accessibility linked into every program that imports the module: that installs
// itself as the application object is created, before any field exists.
#include "app/ui/PasswordFieldAccessible.h"

#include <QtQml/qqmlextensionplugin.h>

extern void qml_register_types_Nimbo_Ui();
Q_GHS_KEEP_REFERENCE(qml_register_types_Nimbo_Ui)

class Nimbo_UiPlugin : public QQmlEngineExtensionPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QQmlEngineExtensionInterface_iid)

public:
    explicit Nimbo_UiPlugin(QObject* parent = nullptr) : QQmlEngineExtensionPlugin(parent) {
        volatile auto registration = &qml_register_types_Nimbo_Ui;
        volatile auto passwordFields = &nimbo::ui::installPasswordFieldAccessibility;
        Q_UNUSED(registration)
        Q_UNUSED(passwordFields)
    }
};

#include "UiPlugin.moc"
