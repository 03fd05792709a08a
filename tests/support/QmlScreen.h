#pragma once
// Loads a piece of QML (usually one screen) into a phone-sized offscreen window,
// collects QML warnings, and renders it to PNG.

#include <QQmlEngine>
#include <QQuickWindow>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>

class QQuickItem;

namespace nimbo::test {

class QmlScreen {
public:
    // `qml` is a complete QML document whose root is an Item.
    explicit QmlScreen(const QString& qml, const QVariantMap& initialProperties = {});
    ~QmlScreen();

    QQuickItem* root() const { return root_; }
    // The first object below the root with this objectName (list delegates and open
    // popups included), or nullptr.
    QObject* find(const QString& objectName) const;
    // Whether the item with this objectName exists and is visible.
    bool isShown(const QString& objectName) const;
    // Clicks the centre of the item with this objectName (a test failure when there is none).
    void tap(const QString& objectName);
    // Errors of loading and every warning the engine reported since.
    const QStringList& warnings() const { return warnings_; }

    // Renders the window and writes <name>.png into the screenshot folder: the
    // repository's docs/screenshots when NIMBO_UPDATE_SCREENSHOTS=1, otherwise the
    // build tree's screenshots folder. Returns the path written ("" on failure).
    QString render(const QString& name);

private:
    QQmlEngine engine_;
    std::unique_ptr<QQuickWindow> window_;
    QQuickItem* root_ = nullptr;
    QStringList warnings_;
};

}  // namespace nimbo::test
