// The deploy screen against the real stand-in service.
#include "deploy/SuperAdminDeployViewModel.h"

#include "api/NimboApi.h"
#include "platform/http/CookieJar.h"

#include "QmlScreen.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

using namespace nimbo;
using namespace std::chrono_literals;
using Access = SuperAdminDeployViewModel::AccessState;

namespace {

const QString kScreen = QStringLiteral(R"(
import QtQuick
import Nimbo.Deploy
Item { SuperAdminDeployView { anchors.fill: parent } }
)");

void signInAs(const std::string& email, const std::string& password) {
    platform::http::CookieJar::shared().clear();
    api::NimboApi::shared().login(email, password);
}

SuperAdminDeployViewModel* viewModel(test::QmlScreen& screen) {
    return qobject_cast<SuperAdminDeployViewModel*>(screen.find("viewModel"));
}

TEST(DeployEndToEnd, NonAdminSeesTheLockNotice) {
    signInAs("demo@nimbo.test", "demo-password-1");
    test::QmlScreen screen(kScreen);
    ASSERT_NE(viewModel(screen), nullptr);
    ASSERT_TRUE(test::waitUntil([&] { return viewModel(screen)->access() != Access::Checking; }));
    EXPECT_EQ(viewModel(screen)->access(), Access::Denied);
    EXPECT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join('\n').toStdString();
}

TEST(DeployEndToEnd, AdminTriggersTestAndWatchesTheRunConclude) {
    signInAs("admin@nimbo.test", "admin-password-1");
    test::QmlScreen screen(kScreen);
    SuperAdminDeployViewModel* vm = viewModel(screen);
    ASSERT_NE(vm, nullptr);
    ASSERT_TRUE(test::waitUntil([&] { return vm->access() != Access::Checking; }));
    ASSERT_EQ(vm->access(), Access::Allowed);
    vm->setPollInterval(500ms);
    vm->onDeployTapped();
    ASSERT_TRUE(test::waitUntil([&] { return !vm->isTriggering(); }));
    EXPECT_TRUE(vm->errorMessage().isEmpty());
    ASSERT_TRUE(vm->dispatchedAt());
    ASSERT_TRUE(test::waitUntil([&] { return !vm->isPolling(); }, 60s));
    ASSERT_FALSE(vm->runs().empty());
    const DeployRun& run = vm->runs().front();
    EXPECT_EQ(run.conclusion, "success");
    EXPECT_GT(run.id, 0);
    ASSERT_FALSE(run.jobs.empty());
    for (const DeployJob& job : run.jobs) {
        EXPECT_EQ(job.conclusion, "success") << job.name;
        EXPECT_FALSE(job.steps.empty()) << job.name;
    }
    EXPECT_EQ(vm->runCards()[0].toMap()["badge"].toString(), "success");
    EXPECT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join('\n').toStdString();
}

}  // namespace
