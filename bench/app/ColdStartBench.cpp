// Cold start of the app, offscreen, to its first rendered frame: runs a fresh
// process five times and prints each time and the median.
#include "app/ImportQmlModules.h"
#include "app/NimboChatApp.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {
// The child: the app's own start-up, ending at the first frame.
int runUntilFirstFrame(int argc, char** argv) {
    QGuiApplication qtApp(argc, argv);
    nimbo::NimboChatApp app;
    QQmlApplicationEngine engine;
    app.present(engine);
    auto* window = engine.rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(engine.rootObjects().first());
    if (!window) return 2;
    QObject::connect(window, &QQuickWindow::frameSwapped, &qtApp, [] { QCoreApplication::exit(0); },
                     Qt::QueuedConnection);
    return qtApp.exec();
}
}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0) return runUntilFirstFrame(argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("QT_QUICK_BACKEND", "software", 1);
    std::vector<double> millis;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            execl("/proc/self/exe", argv[0], "--child", static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::printf("run %d failed (status %d)\n", run + 1, status);
            return 1;
        }
        millis.push_back(ms);
        std::printf("run %d: %.1f ms to the first frame\n", run + 1, ms);
    }
    std::sort(millis.begin(), millis.end());
    std::printf("cold start median: %.1f ms (5 runs)\n", millis[2]);
    return 0;
}
