#pragma once
// The open permission prompt, for the window to draw as a system-style alert.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

namespace nimbo {

class PermissionPrompter : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(bool isPending READ isPending NOTIFY pendingChanged)
    Q_PROPERTY(QString title READ title NOTIFY pendingChanged)
    Q_PROPERTY(QString message READ message NOTIFY pendingChanged)
    Q_PROPERTY(QStringList options READ options NOTIFY pendingChanged)

public:
    explicit PermissionPrompter(QObject* parent = nullptr);

    bool isPending() const;
    QString title() const;
    QString message() const;
    QStringList options() const;
    // The person chose button `option` (an index into options).
    Q_INVOKABLE void answer(int option);

signals:
    void pendingChanged();
};

}  // namespace nimbo
