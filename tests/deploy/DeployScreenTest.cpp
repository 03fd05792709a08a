// The deploy screen rendered offscreen: each access state, the trigger's tint, the
// run cards, and screenshots.
#include "deploy/SuperAdminDeployViewModel.h"

#include "QmlScreen.h"
#include "TestEnvironment.h"

#include <QColor>
#include <QQuickItem>
#include <gtest/gtest.h>

using namespace nimbo;
using namespace std::chrono_literals;
using test::ScriptedResponse;
using Access = SuperAdminDeployViewModel::AccessState;

namespace {

const QString kScreen = QStringLiteral(R"(
import QtQuick
import Nimbo.Deploy
Item { SuperAdminDeployView { anchors.fill: parent } }
)");

const char* const kRunningRun = R"({"runs":[{"runId":4182,"status":"in_progress","jobs":[
    {"name":"Deploy secondary","status":"completed","conclusion":"success",
     "steps":[{"name":"Build release"},{"name":"Roll out to secondary channel"}]},
    {"name":"Verify secondary","status":"in_progress",
     "steps":[{"name":"Health check secondary"},{"name":"Smoke test secondary"}]},
    {"name":"Deploy primary","steps":[{"name":"Roll out to primary channel"}]}]}]})";

// The item named `name` in the visual tree below `item` (also finds Repeater delegates,
// whose object parent is not the screen).
QQuickItem* findItem(QQuickItem* item, const QString& name) {
    if (!item) return nullptr;
    if (item->objectName() == name) return item;
    for (QQuickItem* child : item->childItems())
        if (QQuickItem* found = findItem(child, name)) return found;
    return nullptr;
}

class DeployScreen : public ::testing::Test {
protected:
    void SetUp() override { test::resetServers(); }
    test::ScriptedServer& production = test::productionServer();

    void answerMe(bool superAdmin) {
        production.on("GET", "/api/auth/me",
                      ScriptedResponse{200, std::string(R"({"email":"x@nimbo.test","isSuperAdmin":)") +
                                                (superAdmin ? "true" : "false") + "}"});
    }
    static SuperAdminDeployViewModel* viewModel(test::QmlScreen& screen) {
        return qobject_cast<SuperAdminDeployViewModel*>(screen.find("viewModel"));
    }
    static void settleAccess(test::QmlScreen& screen) {
        ASSERT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join('\n').toStdString();
        SuperAdminDeployViewModel* vm = viewModel(screen);
        ASSERT_NE(vm, nullptr);
        ASSERT_TRUE(test::waitUntil([&] { return vm->access() != Access::Checking; }));
        test::spinFor(50ms);
    }
    static QColor triggerColor(test::QmlScreen& screen) {
        return screen.find("triggerBackground")->property("color").value<QColor>();
    }
    static void click(test::QmlScreen& screen, const char* name) {
        QObject* button = findItem(screen.root(), name);
        ASSERT_NE(button, nullptr) << name;
        QMetaObject::invokeMethod(button, "clicked");
    }
};

TEST_F(DeployScreen, ChecksAccessFirst) {
    production.on("GET", "/api/auth/me", ScriptedResponse{200, R"({"isSuperAdmin":true})", "application/json", {}, 300ms});
    test::QmlScreen screen(kScreen);
    EXPECT_TRUE(screen.isShown("checkingAccess"));
    EXPECT_FALSE(screen.isShown("lockNotice"));
    EXPECT_FALSE(screen.isShown("deployBody"));
    settleAccess(screen);
    EXPECT_FALSE(screen.isShown("checkingAccess"));
    EXPECT_TRUE(screen.isShown("deployBody"));
}

TEST_F(DeployScreen, NonAdminSeesOnlyTheLockNotice) {
    answerMe(false);
    test::QmlScreen screen(kScreen);
    settleAccess(screen);
    EXPECT_TRUE(screen.isShown("lockNotice"));
    EXPECT_FALSE(screen.isShown("deployBody"));
    EXPECT_FALSE(screen.isShown("triggerButton"));
    screen.render("deploy-denied");
}

TEST_F(DeployScreen, EnvironmentPickerSetsLabelAndTint) {
    answerMe(true);
    test::QmlScreen screen(kScreen);
    settleAccess(screen);
    QObject* trigger = screen.find("triggerButton");
    ASSERT_NE(trigger, nullptr);
    EXPECT_EQ(triggerColor(screen), QColor::fromRgbF(0.83f, 0.64f, 0.29f));
    EXPECT_TRUE(findItem(screen.root(), "environment_test")->property("checked").toBool());
    click(screen, "environment_prod");
    EXPECT_EQ(viewModel(screen)->environment(), "prod");
    EXPECT_TRUE(findItem(screen.root(), "environment_prod")->property("checked").toBool());
    EXPECT_FALSE(findItem(screen.root(), "environment_test")->property("checked").toBool());
    EXPECT_EQ(triggerColor(screen), QColor("#FF453A"));
    screen.render("deploy-prod");
    click(screen, "environment_test");
    EXPECT_EQ(viewModel(screen)->triggerLabel(), "Deploy to test");
    EXPECT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join('\n').toStdString();
}

TEST_F(DeployScreen, TriggerFailureShowsTheRedLine) {
    answerMe(true);
    production.on("POST", "/api/superadmin/deploy", ScriptedResponse{200, R"({"triggered":false})"});
    test::QmlScreen screen(kScreen);
    settleAccess(screen);
    click(screen, "triggerButton");
    ASSERT_TRUE(test::waitUntil([&] { return !viewModel(screen)->errorMessage().isEmpty(); }));
    test::spinFor(50ms);
    EXPECT_TRUE(screen.isShown("errorLine"));
    EXPECT_EQ(screen.find("errorLine")->property("text").toString(), "Deploy trigger failed");
    EXPECT_TRUE(screen.find("triggerButton")->property("enabled").toBool());
}

TEST_F(DeployScreen, RunCardsWhilePolling) {
    answerMe(true);
    production.on("POST", "/api/superadmin/deploy",
                  ScriptedResponse{200, R"({"triggered":true,"environment":"test","dispatchedAtUtc":"T"})"});
    production.on("GET", "/api/superadmin/deploy/status", ScriptedResponse{200, R"({"runs":[]})"});
    test::QmlScreen screen(kScreen);
    settleAccess(screen);
    click(screen, "triggerButton");
    ASSERT_TRUE(test::waitUntil([&] { return viewModel(screen)->isWaitingForRun(); }));
    test::spinFor(50ms);
    EXPECT_TRUE(screen.isShown("waitingLine"));
    screen.render("deploy-waiting");

    production.on("GET", "/api/superadmin/deploy/status", ScriptedResponse{200, kRunningRun});
    viewModel(screen)->setPollInterval(20ms);
    viewModel(screen)->onDeployTapped();
    ASSERT_TRUE(test::waitUntil([&] { return !viewModel(screen)->runs().empty(); }));
    test::spinFor(50ms);
    EXPECT_FALSE(screen.isShown("waitingLine"));
    EXPECT_EQ(screen.find("runCards")->property("count").toInt(), 1);
    EXPECT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join('\n').toStdString();
    screen.render("deploy");
}

}  // namespace

namespace {

const QString kStack = QStringLiteral(R"(
import QtQuick
import QtQuick.Controls
import Nimbo.Deploy
StackView {
    id: stack
    objectName: "stack"
    initialItem: Item {}
    Component { id: deployScreen; SuperAdminDeployView {} }
    function showDeploy() { push(deployScreen) }
    function goBack() { pop() }
}
)");

TEST_F(DeployScreen, GoingBackEndsPolling) {
    answerMe(true);
    production.on("POST", "/api/superadmin/deploy",
                  ScriptedResponse{200, R"({"triggered":true,"environment":"test","dispatchedAtUtc":"T"})"});
    production.on("GET", "/api/superadmin/deploy/status", ScriptedResponse{200, R"({"runs":[]})"});
    test::QmlScreen screen(kStack);
    ASSERT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join('\n').toStdString();
    QMetaObject::invokeMethod(screen.root(), "showDeploy");
    SuperAdminDeployViewModel* vm = nullptr;
    ASSERT_TRUE(test::waitUntil([&] {
        vm = screen.root()->findChild<SuperAdminDeployViewModel*>();
        return vm && vm->access() == Access::Allowed;
    }));
    vm->setPollInterval(100ms);
    vm->onDeployTapped();
    ASSERT_TRUE(test::waitUntil([&] { return vm->isPolling() && production.requestCount() >= 4; }));
    QMetaObject::invokeMethod(screen.root(), "goBack");
    test::spinFor(50ms);  // a request started before going back may still arrive
    const std::size_t afterLeaving = production.requestCount();
    test::spinFor(500ms);
    EXPECT_EQ(production.requestCount(), afterLeaving);
    EXPECT_EQ(screen.root()->findChild<SuperAdminDeployViewModel*>(), nullptr);  // the screen is gone
}

}  // namespace
