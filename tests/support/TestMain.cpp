#include "TestEnvironment.h"

#include "api/ServiceEndpoints.h"
#include "app/ImportQmlModules.h"
#include "platform/http/CookieJar.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <unistd.h>


namespace nimbo::test {
namespace {
std::unique_ptr<ScriptedServer> production;
std::unique_ptr<ScriptedServer> testBase;
std::filesystem::path scratch;
}  // namespace

ScriptedServer& productionServer() { return *production; }
ScriptedServer& testServer() { return *testBase; }
std::filesystem::path scratchDir() { return scratch; }

void resetServers() {
    production->reset();
    testBase->reset();
    platform::http::CookieJar::shared().clear();
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeout.count()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

void spinFor(std::chrono::milliseconds duration) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < duration.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
}

}  // namespace nimbo::test

int main(int argc, char** argv) {
    using namespace nimbo::test;
    char pattern[] = "/tmp/nimbo-test-XXXXXX";
    scratch = ::mkdtemp(pattern);
    ::setenv("XDG_DATA_HOME", (scratch / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", scratch.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("QT_QUICK_BACKEND", "software", 0);
    ::setenv("QT_QUICK_CONTROLS_STYLE", "Material", 0);
    ::setenv("QT_QUICK_CONTROLS_MATERIAL_THEME", "Dark", 0);
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName("NimboChat");

    production = std::make_unique<ScriptedServer>();
    testBase = std::make_unique<ScriptedServer>();
    nimbo::api::ServiceEndpoints::overrideForProcess({{production->base(), testBase->base()}, production->base()});

    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    production.reset();
    testBase.reset();
    std::filesystem::remove_all(scratch);
    return result;
}
