// The deploy screen rendered offscreen: each access state, the environment picker and
// the trigger's tint, the error line, the run cards, and screenshots.
#include "deploy/SuperAdminDeployViewModel.h"

#include "api/Json.h"

#include "KeyboardFocus.h"
#include "QmlScreen.h"
#include "TestEnvironment.h"

#include <QColor>
#include <gtest/gtest.h>

using namespace nimbo;
using namespace std::chrono_literals;
using test::ScriptedResponse;

namespace {

const QString kScreen = QStringLiteral("import QtQuick\nimport Nimbo.Deploy\nItem { SuperAdminDeployView { anchors.fill: parent } }");

TEST(DeployScreen, LockNoticePickerTintTriggerErrorWaitingAndCards) {
    test::resetServers();
    test::ScriptedServer& production = test::productionServer();
    production.on("GET", "/api/auth/me", ScriptedResponse{200, R"({"isSuperAdmin":false})", "application/json", {}, 300ms});
    auto denied = std::make_unique<test::QmlScreen>(kScreen);
    EXPECT_TRUE(denied->isShown("checkingAccess"));
    ASSERT_TRUE(test::waitUntil([&] { return denied->isShown("lockNotice"); }));
    EXPECT_FALSE(denied->isShown("deployBody"));
    denied->render("deploy-denied");
    denied.reset();

    production.on("GET", "/api/auth/me", ScriptedResponse{200, R"({"isSuperAdmin":true})"});
    production.on("POST", "/api/superadmin/deploy", ScriptedResponse{200, R"({"triggered":false})"});
    test::QmlScreen screen(kScreen);
    ASSERT_TRUE(test::waitUntil([&] { return screen.isShown("deployBody"); }));
    auto* vm = qobject_cast<SuperAdminDeployViewModel*>(screen.find("viewModel"));
    auto checked = [&](const char* name) { return screen.find(name)->property("checked").toBool(); };
    auto tint = [&] { return screen.find("triggerBackground")->property("color").value<QColor>(); };
    EXPECT_TRUE(checked("environment_test"));
    EXPECT_EQ(tint(), QColor::fromRgbF(0.83f, 0.64f, 0.29f));
    for (int i = 0; i < 2; ++i) {  // tapping the chosen segment again keeps it chosen
        screen.tap("environment_prod");
        EXPECT_TRUE(checked("environment_prod"));
        EXPECT_FALSE(checked("environment_test"));
        EXPECT_EQ(tint(), QColor("#FF453A"));
        EXPECT_EQ(vm->triggerLabel(), "Deploy to prod");
    }
    screen.render("deploy-prod");

    screen.tap("triggerButton");
    ASSERT_TRUE(test::waitUntil([&] { return screen.isShown("errorLine"); }));
    EXPECT_EQ(screen.find("errorLine")->property("text").toString(), "Deploy trigger failed");
    EXPECT_EQ(test::lastBody(production), (api::Json{{"environment", "prod"}}));

    production.on("POST", "/api/superadmin/deploy", ScriptedResponse{200, R"({"triggered":true,"dispatchedAtUtc":"T"})"});
    production.on("GET", "/api/superadmin/deploy/status", ScriptedResponse{200, R"({"runs":[]})"});
    screen.tap("environment_test");
    screen.tap("triggerButton");
    ASSERT_TRUE(test::waitUntil([&] { return screen.isShown("waitingLine"); }));
    EXPECT_FALSE(screen.isShown("errorLine"));
    screen.render("deploy-waiting");

    // Refused while a run is awaited: the error shows and the wait goes on.
    production.on("POST", "/api/superadmin/deploy", ScriptedResponse{403, ""});
    screen.tap("triggerButton");
    ASSERT_TRUE(test::waitUntil([&] { return screen.isShown("errorLine"); }));
    EXPECT_TRUE(vm->isPolling() && screen.isShown("waitingLine"));


    production.on("POST", "/api/superadmin/deploy", ScriptedResponse{200, R"({"triggered":true,"dispatchedAtUtc":"T"})"});
    production.on("GET", "/api/superadmin/deploy/status", ScriptedResponse{200, R"({"runs":[{"runId":4182,"status":"in_progress","jobs":[
        {"name":"Deploy secondary","conclusion":"success","steps":[{"name":"Build release"},{"name":"Roll out to secondary channel"}]},
        {"name":"Verify secondary","status":"in_progress","steps":[{"name":"Health check secondary"},{"name":"Smoke test secondary"}]},
        {"name":"Deploy primary","steps":[{"name":"Roll out to primary channel"}]}]}]})"});
    vm->setPollInterval(20ms);
    screen.tap("triggerButton");
    ASSERT_TRUE(test::waitUntil([&] { return !vm->runs().empty(); }));
    test::spinFor(50ms);
    EXPECT_FALSE(screen.isShown("waitingLine"));
    EXPECT_EQ(screen.find("runCards")->property("count").toInt(), 1);
    EXPECT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join('\n').toStdString();
    screen.render("deploy");
}

// The picker and the trigger show where the keyboard is; the trigger, disabled while it runs,
// hands the keyboard back to the picker.
TEST(DeployScreen, ByKeyboardTheFocusIsDrawnAndHandedBackWhileTriggering) {
    test::resetServers();
    test::ScriptedServer& production = test::productionServer();
    production.on("GET", "/api/auth/me", ScriptedResponse{200, R"({"isSuperAdmin":true})"});
    production.on("POST", "/api/superadmin/deploy", ScriptedResponse{200, R"({"triggered":false})", "application/json", {}, 600ms});
    test::QmlScreen screen(kScreen);
    ASSERT_TRUE(test::waitUntil([&] { return screen.isShown("deployBody"); }));
    qobject_cast<QQuickItem*>(screen.find("environment_test"))->forceActiveFocus(Qt::TabFocusReason);
    EXPECT_TRUE(test::showsFocusRing(screen));
    EXPECT_EQ(test::press(screen, Qt::Key_Tab), "environment_prod");
    EXPECT_TRUE(test::showsFocusRing(screen));
    EXPECT_EQ(test::press(screen, Qt::Key_Tab), "triggerButton");
    EXPECT_TRUE(test::showsFocusRing(screen));
    EXPECT_EQ(test::press(screen, Qt::Key_Space), "environment_prod");  // triggering now
    EXPECT_TRUE(test::showsFocusRing(screen));
    ASSERT_TRUE(test::waitUntil([&] { return screen.isShown("errorLine"); }));
    EXPECT_EQ(test::press(screen, Qt::Key_Tab), "triggerButton");
    const auto sent = production.requests();
    EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [](const auto& r) { return r.method == "POST"; }), 1);
}

}  // namespace
