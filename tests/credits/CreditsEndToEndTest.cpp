// The credits screen against the real stand-in service, for the three demo balances.
#include "credits/CreditsViewModel.h"

#include "api/NimboApi.h"
#include "platform/http/CookieJar.h"

#include "QmlScreen.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

using namespace nimbo;

namespace {

TEST(CreditsEndToEnd, DemoBalancesAsTheScreenShowsThem) {
    const struct { const char* email; const char* password; const char* remaining; QString warning; } cases[] = {
        {"demo@nimbo.test", "demo-password-1", "1200", ""},
        {"low@nimbo.test", "low-password-1", "300", "Your balance is running low."},
        {"broke@nimbo.test", "broke-password-1", "0",
         "You're out of credits for orchestrator chat. On-device chat still works for free."},
    };
    for (const auto& c : cases) {
        platform::http::CookieJar::shared().clear();
        api::NimboApi::shared().login(c.email, c.password);
        test::QmlScreen screen("import QtQuick\nimport Nimbo.Credits\nItem { CreditsView { anchors.fill: parent } }");
        auto* vm = qobject_cast<CreditsViewModel*>(screen.find("viewModel"));
        ASSERT_NE(vm, nullptr);
        ASSERT_TRUE(test::waitUntil([&] { return !vm->isLoading(); }, std::chrono::seconds(15)));
        EXPECT_EQ(vm->remainingText(), c.remaining) << vm->unavailableReason().toStdString();
        EXPECT_EQ(vm->warningText(), c.warning);
        EXPECT_EQ(vm->showTopUpLink(), !c.warning.isEmpty());
    }
}

}  // namespace
