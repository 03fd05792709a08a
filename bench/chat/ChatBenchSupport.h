#pragma once
// Pieces both chat benches use: the chat screen in an offscreen window, an event
// loop run for a while, and a meter of the longest UI-thread stall.

#include "chat/ChatViewModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace nimbo::bench {

using namespace std::chrono_literals;

// Files under `scratch`, an offscreen window drawn in software, the app's style.
inline void useScratchAndOffscreen(const QTemporaryDir& scratch) {
    ::setenv("XDG_DATA_HOME", qPrintable(scratch.filePath("data")), 1);
    ::setenv("XDG_CONFIG_HOME", qPrintable(scratch.filePath("config")), 1);
    ::setenv("XDG_RUNTIME_DIR", qPrintable(scratch.path()), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("QT_QUICK_BACKEND", "software", 0);
    ::setenv("QT_QUICK_CONTROLS_STYLE", "Material", 0);
    ::setenv("QT_QUICK_CONTROLS_MATERIAL_THEME", "Dark", 0);
}

inline const char* kScreen = R"(
import QtQuick
import QtQuick.Controls
import Nimbo.Chat
StackView { initialItem: ChatView {} }
)";

inline void spin(std::chrono::milliseconds duration) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < duration.count()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

struct Screen {
    QQmlEngine engine;
    QQuickWindow window;
    std::unique_ptr<QObject> root;
    ChatViewModel* viewModel = nullptr;
    QQuickItem* list = nullptr;

    Screen() {
        window.resize(390, 844);
        engine.setIncubationController(window.incubationController());  // as the app's window does
        QQmlComponent component(&engine);
        component.setData(kScreen, QUrl(QStringLiteral("qrc:/bench/Screen.qml")));
        root.reset(component.create());
        auto* item = qobject_cast<QQuickItem*>(root.get());
        if (!item) {
            std::fprintf(stdout, "screen did not load: %s\n", qPrintable(component.errorString()));
            std::exit(1);
        }
        item->setParentItem(window.contentItem());
        item->setSize(QSizeF(390, 844));
        window.show();
        spin(200ms);
        QObject* chat = item->findChild<QObject*>(QStringLiteral("chatView"));
        viewModel = qobject_cast<ChatViewModel*>(chat->property("viewModel").value<QObject*>());
        list = item->findChild<QQuickItem*>(QStringLiteral("transcript"));
    }

    // The message rows the list has built (delegates are children in the visual tree only).
    std::vector<QQuickItem*> builtRows() const {
        std::vector<QQuickItem*> rows;
        for (QQuickItem* child : list->property("contentItem").value<QQuickItem*>()->childItems())
            if (child->objectName() == QLatin1String("messageRow") && child->isVisible()) rows.push_back(child);
        return rows;
    }
    int rowsInView() const {
        int visible = 0;
        for (QQuickItem* row : builtRows()) {
            const qreal top = row->mapToItem(list, QPointF()).y();
            if (top + row->height() > 0 && top < list->height()) ++visible;
        }
        return visible;
    }
};

// Records the longest gap between ticks of a 1 ms timer on the UI thread.
class StallMeter {
public:
    StallMeter() {
        ticker_.setTimerType(Qt::PreciseTimer);
        ticker_.setInterval(1);
        QObject::connect(&ticker_, &QTimer::timeout, [this] { tick(); });
        clock_.start();
        ticker_.start();
    }
    // Ends the current period and returns its longest stall in milliseconds.
    double lap() {
        tick();
        const double longest = static_cast<double>(longest_) / 1e6;
        longest_ = 0;
        return longest;
    }

private:
    void tick() {
        const qint64 now = clock_.nsecsElapsed();
        longest_ = std::max(longest_, now - last_);
        last_ = now;
    }
    QElapsedTimer clock_;
    QTimer ticker_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
};

}  // namespace nimbo::bench
