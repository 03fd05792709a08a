#include "TestEnvironment.h"

#ifdef NIMBO_E2E
#include "ServiceProcess.h"
#endif

#include "api/ServiceEndpoints.h"
#include "app/ImportQmlModules.h"
#include "platform/http/CookieJar.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QThread>

#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace nimbo::test {
namespace {
std::unique_ptr<ScriptedServer> production;
std::unique_ptr<ScriptedServer> testBase;
#ifdef NIMBO_E2E
std::unique_ptr<ServiceProcess> serviceProduction;
std::unique_ptr<ServiceProcess> serviceTest;
#endif
std::filesystem::path scratch;

// Points the process at its servers: two scripted servers, or two instances of the
// stand-in service sharing one data folder.
void startServers() {
#ifdef NIMBO_E2E
    // A child process of an end-to-end test talks to its parent's service.
    if (const char* base = std::getenv("NIMBO_E2E_SERVICE")) {
        nimbo::api::ServiceEndpoints::overrideForProcess({{base, base}, base});
        return;
    }
    const std::vector<std::string> args{"--demo", "--deploy-step-seconds", "1"};
    serviceProduction = std::make_unique<ServiceProcess>(NIMBO_SERVICE_BINARY, scratch / "service", args);
    serviceTest = std::make_unique<ServiceProcess>(NIMBO_SERVICE_BINARY, scratch / "service", args);
    nimbo::api::ServiceEndpoints::overrideForProcess(
        {{serviceProduction->base(), serviceTest->base()}, serviceProduction->base()});
#else
    production = std::make_unique<ScriptedServer>();
    testBase = std::make_unique<ScriptedServer>();
    nimbo::api::ServiceEndpoints::overrideForProcess({{production->base(), testBase->base()}, production->base()});
#endif
}
}  // namespace

ScriptedServer& productionServer() { return *production; }
ScriptedServer& testServer() { return *testBase; }
std::filesystem::path scratchDir() { return scratch; }
std::string serviceBase() { return nimbo::api::ServiceEndpoints::current().apiBases.front(); }

void resetServers() {
    if (production) production->reset();
    if (testBase) testBase->reset();
    platform::http::CookieJar::shared().clear();
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeout.count()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(2);
    }
    return true;
}

void spinFor(std::chrono::milliseconds duration) { waitUntil([] { return false; }, duration); }

RecordedRequest lastRequest(const ScriptedServer& server) {
    const std::vector<RecordedRequest> requests = server.requests();
    if (!requests.empty()) return requests.back();
    ADD_FAILURE() << "no request reached " << server.base();
    return {};
}

api::Json lastBody(const ScriptedServer& server) {
    api::Json body = api::Json::parse(lastRequest(server).body, nullptr, /*allow_exceptions=*/false);
    if (!body.is_discarded()) return body;
    ADD_FAILURE() << "the latest request to " << server.base() << " has no JSON body";
    return nullptr;
}

}  // namespace nimbo::test

int main(int argc, char** argv) {
    using namespace nimbo::test;
    char pattern[] = "/tmp/nimbo-test-XXXXXX";
    // A child process of a test shares its parent's folders (the parent removes them).
    const char* parentScratch = std::getenv("NIMBO_TEST_SCRATCH");
    scratch = parentScratch ? parentScratch : ::mkdtemp(pattern);
    ::setenv("XDG_DATA_HOME", (scratch / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", scratch.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("QT_QUICK_BACKEND", "software", 0);
    ::setenv("QT_QUICK_CONTROLS_STYLE", "Material", 0);
    ::setenv("QT_QUICK_CONTROLS_MATERIAL_THEME", "Dark", 0);
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName("NimboChat");

    ::testing::InitGoogleTest(&argc, argv);
    const bool listing = GTEST_FLAG_GET(list_tests);
    if (!listing) startServers();
    const int result = RUN_ALL_TESTS();
    production.reset();  // the servers stop before the scratch folder goes
    testBase.reset();
#ifdef NIMBO_E2E
    serviceTest.reset();
    serviceProduction.reset();
#endif
    if (!parentScratch) std::filesystem::remove_all(scratch);
    return result;
}
