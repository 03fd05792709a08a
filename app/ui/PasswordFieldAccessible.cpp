#include "app/ui/PasswordFieldAccessible.h"

#include <QCoreApplication>
#include <QMetaProperty>
#include <QQuickItem>
#include <QQuickWindow>

#include <algorithm>

namespace nimbo::ui {
namespace {
// An item is in the accessibility tree once it has an Accessible attached object.
bool isAccessibleItem(const QQuickItem* item) {
    for (const QObject* child : item->children()) {
        if (child->inherits("QQuickAccessibleAttached")) return true;
    }
    return false;
}

// A field is usually made accessible (its Accessible attached object created) before
// its echo mode is set. When the mode turns to hiding, the object Qt made for it so
// far is dropped, so that the next reader gets a PasswordFieldAccessible.
class EchoModeWatch : public QObject {
    Q_OBJECT

public:
    explicit EchoModeWatch(QObject* field) : QObject(field) {
        const QMetaProperty echoMode = field->metaObject()->property(field->metaObject()->indexOfProperty("echoMode"));
        connect(field, echoMode.notifySignal(), this, metaObject()->method(metaObject()->indexOfSlot("changed()")));
    }

public slots:
    void changed() {
        if (!PasswordFieldAccessible::isPasswordField(parent())) return;
        QAccessibleInterface* current = QAccessible::queryAccessibleInterface(parent());
        if (current && !dynamic_cast<PasswordFieldAccessible*>(current)) {
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(current));
        }
    }
};

QAccessibleInterface* passwordFieldFactory(const QString&, QObject* object) {
    if (!object || !object->inherits("QQuickTextInput")) return nullptr;
    if (PasswordFieldAccessible::isPasswordField(object)) return new PasswordFieldAccessible(static_cast<QQuickItem*>(object));
    if (!object->findChild<EchoModeWatch*>(QString(), Qt::FindDirectChildrenOnly)) new EchoModeWatch(object);
    return nullptr;
}
}  // namespace

PasswordFieldAccessible::PasswordFieldAccessible(QQuickItem* field) : QAccessibleObject(field) {}

bool PasswordFieldAccessible::isPasswordField(const QObject* object) {
    // TextInput.Normal is 0; Password, NoEcho and PasswordEchoOnEdit all hide the text.
    return object && object->inherits("QQuickTextInput") && object->property("echoMode").toInt() != 0;
}

QQuickItem* PasswordFieldAccessible::field() const { return static_cast<QQuickItem*>(object()); }

bool PasswordFieldAccessible::isValid() const { return QAccessibleObject::isValid() && field(); }

QWindow* PasswordFieldAccessible::window() const { return field()->window(); }

// The same parent Qt's own items report: the nearest accessible ancestor, or the window.
QAccessibleInterface* PasswordFieldAccessible::parent() const {
    QQuickWindow* window = field()->window();
    for (QQuickItem* up = field()->parentItem(); up; up = up->parentItem()) {
        if (window && up == window->contentItem()) return QAccessible::queryAccessibleInterface(window);
        if (isAccessibleItem(up)) return QAccessible::queryAccessibleInterface(up);
    }
    return nullptr;
}

QString PasswordFieldAccessible::masked() const {
    // displayText is what is drawn: mask characters, or the typed text only while
    // PasswordEchoOnEdit shows it to the person typing; NoEcho draws nothing.
    if (field()->property("echoMode").toInt() == 3) return {};
    return field()->property("displayText").toString();
}

QString PasswordFieldAccessible::text(QAccessible::Text kind) const {
    switch (kind) {
    case QAccessible::Name: {
        const QString name = field()->property("accessibleName").toString();
        return name.isEmpty() ? field()->property("placeholderText").toString() : name;
    }
    case QAccessible::Description: return field()->property("placeholderText").toString();
    case QAccessible::Value: return masked();
    default: return {};
    }
}

QRect PasswordFieldAccessible::rect() const {
    const QQuickItem* item = field();
    if (!item->window() || !item->isVisible()) return {};
    const QPointF topLeft = item->mapToScene({0, 0});
    return {item->window()->mapToGlobal(topLeft.toPoint()), QSize(int(item->width()), int(item->height()))};
}

QAccessible::State PasswordFieldAccessible::state() const {
    const QQuickItem* item = field();
    QAccessible::State state;
    state.passwordEdit = true;
    state.editable = !item->property("readOnly").toBool();
    state.focusable = item->isEnabled();
    state.focused = item->hasActiveFocus();
    state.disabled = !item->isEnabled();
    state.invisible = rect().isEmpty() || !item->window()->isVisible() || qFuzzyIsNull(item->opacity());
    return state;
}

void* PasswordFieldAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    if (type == QAccessible::ActionInterface) return static_cast<QAccessibleActionInterface*>(this);
    return nullptr;
}

int PasswordFieldAccessible::cursorPosition() const { return field()->property("cursorPosition").toInt(); }

void PasswordFieldAccessible::setCursorPosition(int position) { field()->setProperty("cursorPosition", position); }

QString PasswordFieldAccessible::text(int start, int end) const {
    const QString shown = masked();
    if (end < 0 || end > shown.size()) end = shown.size();
    start = std::clamp(start, 0, end);
    return shown.mid(start, end - start);
}

QString PasswordFieldAccessible::attributes(int offset, int* start, int* end) const {
    *start = *end = offset;
    return {};
}

QStringList PasswordFieldAccessible::actionNames() const {
    return field()->isEnabled() ? QStringList{setFocusAction()} : QStringList{};
}

void PasswordFieldAccessible::doAction(const QString& action) {
    if (action == setFocusAction() && field()->isEnabled()) field()->forceActiveFocus(Qt::OtherFocusReason);
}

// Qt Quick's own factory is installed as its library loads; one installed later is
// asked first.
void installPasswordFieldAccessibility() { QAccessible::installFactory(passwordFieldFactory); }

namespace {
void installAtStartup() { installPasswordFieldAccessibility(); }
Q_COREAPP_STARTUP_FUNCTION(installAtStartup)
}  // namespace

}  // namespace nimbo::ui

#include "PasswordFieldAccessible.moc"
