#include "QmlScreen.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QImage>
#include <QQmlComponent>
#include <QQuickItem>
#include <QTest>

#include <gtest/gtest.h>

namespace nimbo::test {

QmlScreen::QmlScreen(const QString& qml, const QVariantMap& initialProperties)
    : window_(std::make_unique<QQuickWindow>()) {
    QObject::connect(&engine_, &QQmlEngine::warnings, &engine_, [this](const QList<QQmlError>& errors) {
        for (const QQmlError& e : errors) warnings_ << e.toString();
    });
    window_->resize(390, 844);
    window_->setColor(Qt::black);
    QQmlComponent component(&engine_);
    component.setData(qml.toUtf8(), QUrl(QStringLiteral("qrc:/nimbo-test/Screen.qml")));
    // (Qt 6.4 crashes creating a component that failed to load.)
    if (component.isReady()) root_ = qobject_cast<QQuickItem*>(component.createWithInitialProperties(initialProperties));
    for (const QQmlError& e : component.errors()) warnings_ << e.toString();
    if (!root_) return;  // failed to load
    root_->setParentItem(window_->contentItem());
    root_->setSize(QSizeF(390, 844));
    window_->show();
    spinFor(std::chrono::milliseconds(50));
}

QmlScreen::~QmlScreen() {
    delete root_;  // before its window
}

static QQuickItem* findItem(QQuickItem* from, const QString& objectName) {
    for (QQuickItem* child : from->childItems()) {
        if (child->objectName() == objectName) return child;
        if (QQuickItem* found = findItem(child, objectName)) return found;
    }
    return nullptr;
}

QObject* QmlScreen::find(const QString& objectName) const {
    if (!root_) return nullptr;
    if (QObject* found = root_->findChild<QObject*>(objectName)) return found;
    return findItem(window_->contentItem(), objectName);  // list delegates and open popups
}

bool QmlScreen::isShown(const QString& objectName) const {
    auto* item = qobject_cast<QQuickItem*>(find(objectName));
    return item && item->isVisible();
}

void QmlScreen::tap(const QString& objectName) {
    auto* item = qobject_cast<QQuickItem*>(find(objectName));
    ASSERT_NE(item, nullptr) << objectName.toStdString();
    QTest::mouseClick(window_.get(), Qt::LeftButton, {}, item->mapToScene(item->boundingRect().center()).toPoint());
}

QString QmlScreen::render(const QString& name) {
    spinFor(std::chrono::milliseconds(100));
    const QImage image = window_->grabWindow();
    const bool update = qEnvironmentVariable("NIMBO_UPDATE_SCREENSHOTS") == QLatin1String("1");
    const QString dir = update ? QStringLiteral(NIMBO_SOURCE_DIR "/docs/screenshots")
                               : QStringLiteral(NIMBO_BINARY_DIR "/screenshots");
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".png");
    return !image.isNull() && image.save(path) ? path : QString();
}

}  // namespace nimbo::test
