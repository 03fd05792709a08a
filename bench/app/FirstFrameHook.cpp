// Preloaded (LD_PRELOAD) into a NimboChat process by bench_cold_start and the install
// test: ends the process with status 0 as soon as its first window has shown a frame.
// The program itself is left as built or installed.
#include <QCoreApplication>
#include <QQuickWindow>

#include <cstdlib>

namespace {
// Watches the application's events until the first Quick window appears.
class FirstFrameWatch final : public QObject {
public:
    bool eventFilter(QObject* receiver, QEvent* event) override {
        if (auto* window = qobject_cast<QQuickWindow*>(receiver)) {
            QObject::connect(window, &QQuickWindow::frameSwapped, [] { std::_Exit(0); });
            QCoreApplication::instance()->removeEventFilter(this);
        }
        return QObject::eventFilter(receiver, event);
    }
};

void watchForFirstFrame() { QCoreApplication::instance()->installEventFilter(new FirstFrameWatch); }
}  // namespace

Q_COREAPP_STARTUP_FUNCTION(watchForFirstFrame)
