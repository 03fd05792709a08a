#pragma once
// What assistive technology reads of a password field (a TextInput or TextField whose
// echo mode is not Normal). Qt 6.4's own accessible object for such a field has two
// faults on the desktop accessibility bus: its text interface hands out the typed
// password (it reads the `text` property, whatever the echo mode), and its name is
// empty (the Accessible attached object hides the name of any "password edit"). This
// one keeps the field announced as a password field, named by its `accessibleName`
// (else its placeholder), and gives out only the masked text the field shows.

#include <QAccessibleObject>
#include <QPointer>

class QQuickItem;

namespace nimbo::ui {

class PasswordFieldAccessible final : public QAccessibleObject,
                                      public QAccessibleTextInterface,
                                      public QAccessibleActionInterface {
public:
    explicit PasswordFieldAccessible(QQuickItem* field);

    // Whether `object` is a text input that hides what is typed.
    static bool isPasswordField(const QObject* object);

    // QAccessibleInterface
    bool isValid() const override;
    QWindow* window() const override;
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text kind) const override;
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::EditableText; }
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    // QAccessibleTextInterface: the masked text only; selections are not shared.
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int start, int end) const override;
    int characterCount() const override { return masked().size(); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* start, int* end) const override;

    // QAccessibleActionInterface: focusing the field.
    QStringList actionNames() const override;
    void doAction(const QString& action) override;
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QQuickItem* field() const;
    QString masked() const;
};

// Makes every password field in the process speak through PasswordFieldAccessible.
// Idempotent; runs by itself as the application object is created.
void installPasswordFieldAccessibility();

}  // namespace nimbo::ui
