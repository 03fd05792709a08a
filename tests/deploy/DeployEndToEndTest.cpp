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

TEST(DeployEndToEnd, OnlyTheAdminTriggersAndWatchesTheRunConclude) {
    for (const auto& [email, password] : {std::pair{"demo@nimbo.test", "demo-password-1"},
                                          std::pair{"admin@nimbo.test", "admin-password-1"}}) {
        platform::http::CookieJar::shared().clear();
        api::NimboApi::shared().login(email, password);
        test::QmlScreen screen("import QtQuick\nimport Nimbo.Deploy\nItem { SuperAdminDeployView { anchors.fill: parent } }");
        auto* vm = qobject_cast<SuperAdminDeployViewModel*>(screen.find("viewModel"));
        ASSERT_TRUE(test::waitUntil([&] { return vm->access() != Access::Checking; }));
        EXPECT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join('\n').toStdString();
        const bool admin = std::string(email) == "admin@nimbo.test";
        ASSERT_EQ(vm->access(), admin ? Access::Allowed : Access::Denied);
        if (!admin) continue;
        vm->setPollInterval(500ms);
        vm->onDeployTapped();
        ASSERT_TRUE(test::waitUntil([&] { return vm->dispatchedAt().has_value() && !vm->isPolling(); }, 60s));
        ASSERT_FALSE(vm->runs().empty());
        EXPECT_EQ(vm->runCards()[0].toMap()["badge"].toString(), "success");
        ASSERT_FALSE(vm->runs().front().jobs.empty());  // the run's jobs and steps read from the service
        EXPECT_FALSE(vm->runs().front().jobs.front().steps.empty());
    }
}

}  // namespace
