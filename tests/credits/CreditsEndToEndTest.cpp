// The credits screen against the real stand-in service and its demo accounts.
#include "credits/CreditsViewModel.h"

#include "api/NimboApi.h"
#include "platform/http/CookieJar.h"

#include "QmlScreen.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

using namespace nimbo;

namespace {

const QString kScreen = QStringLiteral(R"(
import QtQuick
import Nimbo.Credits
Item { CreditsView { anchors.fill: parent } }
)");

// The credits screen's view model after its first load, signed in as `email`.
struct LoadedScreen {
    LoadedScreen(const std::string& email, const std::string& password) {
        platform::http::CookieJar::shared().clear();
        api::NimboApi::shared().login(email, password);
        screen = std::make_unique<test::QmlScreen>(kScreen);
        vm = qobject_cast<CreditsViewModel*>(screen->find("viewModel"));
        EXPECT_NE(vm, nullptr);
        if (vm) {
            EXPECT_TRUE(test::waitUntil([&] { return !vm->isLoading(); }, std::chrono::seconds(15)));
        }
        EXPECT_TRUE(screen->warnings().isEmpty()) << screen->warnings().join('\n').toStdString();
    }
    std::unique_ptr<test::QmlScreen> screen;
    CreditsViewModel* vm = nullptr;
};

TEST(CreditsEndToEnd, DemoUserHasAHealthyBalance) {
    LoadedScreen loaded("demo@nimbo.test", "demo-password-1");
    ASSERT_TRUE(loaded.vm);
    EXPECT_TRUE(loaded.vm->unavailableReason().isEmpty()) << loaded.vm->unavailableReason().toStdString();
    EXPECT_EQ(loaded.vm->remainingText(), "1200");
    EXPECT_FALSE(loaded.vm->isLowBalance());
    EXPECT_TRUE(loaded.vm->warningText().isEmpty());
    EXPECT_FALSE(loaded.vm->showTopUpLink());
}

TEST(CreditsEndToEnd, LowUserIsWarnedAndOfferedTheLink) {
    LoadedScreen loaded("low@nimbo.test", "low-password-1");
    ASSERT_TRUE(loaded.vm);
    EXPECT_EQ(loaded.vm->remainingText(), "300");
    EXPECT_TRUE(loaded.vm->isLowBalance());
    EXPECT_FALSE(loaded.vm->isOutOfCredits());
    EXPECT_EQ(loaded.vm->warningText(), "Your balance is running low.");
    EXPECT_TRUE(loaded.vm->showTopUpLink());
    EXPECT_EQ(loaded.vm->topUpLabel(), "Manage billing / top up");
}

TEST(CreditsEndToEnd, BrokeUserIsOutOfCredits) {
    LoadedScreen loaded("broke@nimbo.test", "broke-password-1");
    ASSERT_TRUE(loaded.vm);
    EXPECT_EQ(loaded.vm->remainingText(), "0");
    EXPECT_TRUE(loaded.vm->isOutOfCredits());
    EXPECT_EQ(loaded.vm->warningText(),
              "You're out of credits for orchestrator chat. On-device chat still works for free.");
    EXPECT_EQ(loaded.vm->topUpLabel(), "Add credits now");
}

}  // namespace
