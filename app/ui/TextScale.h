#pragma once
// The reader's text size: a factor on every type style of the Theme, from 85 % to
// 200 % in fixed steps, kept across launches in configDir()/"display.json".

#include <QObject>
#include <QtQml/qqmlregistration.h>

#include <array>
#include <filesystem>
#include <memory>

class QJSEngine;
class QQmlEngine;

namespace nimbo::platform {
class SettingsFile;
}

namespace nimbo {

class TextScale : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(int percent READ percent NOTIFY percentChanged)
    Q_PROPERTY(qreal factor READ factor NOTIFY percentChanged)
    Q_PROPERTY(bool canShrink READ canShrink NOTIFY percentChanged)
    Q_PROPERTY(bool canGrow READ canGrow NOTIFY percentChanged)

public:
    static constexpr std::array<int, 8> steps{85, 100, 115, 130, 150, 165, 180, 200};
    static constexpr int standard = 100;

    explicit TextScale(std::filesystem::path file, QObject* parent = nullptr);
    ~TextScale() override;

    // The one instance every screen reads (its file in the configuration folder).
    static TextScale& shared();
    static TextScale* create(QQmlEngine*, QJSEngine*);

    int percent() const { return percent_; }
    qreal factor() const { return percent_ / 100.0; }
    bool canShrink() const { return percent_ > steps.front(); }
    bool canGrow() const { return percent_ < steps.back(); }

    Q_INVOKABLE void larger();
    Q_INVOKABLE void smaller();
    Q_INVOKABLE void reset();
    // Writes the choice now (it is otherwise written in the background).
    void flush();

signals:
    void percentChanged();

private:
    void setPercent(int value);

    std::unique_ptr<platform::SettingsFile> file_;
    int percent_ = standard;
};

// Puts text on the system clipboard for QML (which has no clipboard of its own).
class Clipboard : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
public:
    using QObject::QObject;
    Q_INVOKABLE void setText(const QString& text);
};

}  // namespace nimbo
