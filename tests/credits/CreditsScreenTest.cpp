// The credits screen rendered offscreen: what each state shows, and screenshots.
#include "credits/CreditsViewModel.h"

#include "QmlScreen.h"
#include "TestEnvironment.h"

#include <QColor>
#include <QQuickItem>
#include <gtest/gtest.h>

using namespace nimbo;
using test::ScriptedResponse;

namespace {

const QString kScreen = QStringLiteral(R"(
import QtQuick
import Nimbo.Credits
Item { CreditsView { anchors.fill: parent } }
)");

const QColor kRed("#FF453A");
const QColor kOrange("#FF9F0A");
const QColor kPrimary("#FFFFFF");

class CreditsScreen : public ::testing::Test {
protected:
    void SetUp() override {
        test::resetServers();
        test::productionServer().on("GET", "/api/auth/me", ScriptedResponse{200, R"({"email":"ann@acme.io"})"});
    }
    void answerBalance(ScriptedResponse response) {
        test::productionServer().on("GET", "/api/v1/credits/balance", std::move(response));
    }
    static CreditsViewModel* viewModel(test::QmlScreen& screen) {
        return qobject_cast<CreditsViewModel*>(screen.find("viewModel"));
    }
    static QVariant property(test::QmlScreen& screen, const char* name, const char* property) {
        QObject* object = screen.find(name);
        return object ? object->property(property) : QVariant();
    }
    // Waits for the load to finish; the screen must have loaded without warnings.
    static void settle(test::QmlScreen& screen) {
        ASSERT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join('\n').toStdString();
        CreditsViewModel* vm = viewModel(screen);
        ASSERT_NE(vm, nullptr);
        ASSERT_TRUE(test::waitUntil([&] { return !vm->isLoading(); }));
        test::spinFor(std::chrono::milliseconds(50));
    }
};

TEST_F(CreditsScreen, FirstFrameShowsProgress) {
    answerBalance(ScriptedResponse{200, R"({"companyBalance":900})", "application/json", {},
                                   std::chrono::milliseconds(400)});
    test::QmlScreen screen(kScreen);
    EXPECT_TRUE(screen.isShown("checkingBalance"));
    EXPECT_FALSE(screen.isShown("balanceFigures"));
    EXPECT_FALSE(screen.isShown("topUpLink"));
    settle(screen);
    EXPECT_FALSE(screen.isShown("checkingBalance"));
}

TEST_F(CreditsScreen, HealthyBalance) {
    answerBalance(ScriptedResponse{200, R"({"companyBalance":5000,"user":{"balance":1200,"lifetimeTokens":3400}})"});
    test::QmlScreen screen(kScreen);
    settle(screen);
    EXPECT_TRUE(screen.isShown("balanceFigures"));
    EXPECT_EQ(property(screen, "remainingRowValue", "text").toString(), "1200");
    EXPECT_EQ(property(screen, "remainingRowValue", "color").value<QColor>(), kPrimary);
    EXPECT_TRUE(screen.isShown("lifetimeRow"));
    EXPECT_EQ(property(screen, "lifetimeRowValue", "text").toString(), "3400");
    EXPECT_FALSE(screen.isShown("balanceWarning"));
    EXPECT_FALSE(screen.isShown("topUpLink"));
    screen.render("credits");
    EXPECT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join('\n').toStdString();
}

TEST_F(CreditsScreen, LowBalance) {
    answerBalance(ScriptedResponse{200, R"({"companyBalance":300})"});
    test::QmlScreen screen(kScreen);
    settle(screen);
    EXPECT_EQ(property(screen, "remainingRowValue", "color").value<QColor>(), kOrange);
    EXPECT_FALSE(screen.isShown("lifetimeRow"));
    EXPECT_TRUE(screen.isShown("balanceWarning"));
    EXPECT_EQ(property(screen, "balanceWarning", "color").value<QColor>(), kOrange);
    EXPECT_TRUE(screen.isShown("topUpLink"));
    screen.render("credits-low");
}

TEST_F(CreditsScreen, OutOfCredits) {
    answerBalance(ScriptedResponse{200, R"({"companyBalance":0,"user":{"balance":0,"lifetimeTokens":0}})"});
    test::QmlScreen screen(kScreen);
    settle(screen);
    EXPECT_EQ(property(screen, "remainingRowValue", "color").value<QColor>(), kRed);
    EXPECT_EQ(property(screen, "balanceWarning", "color").value<QColor>(), kRed);
    EXPECT_EQ(viewModel(screen)->topUpLabel(), "Add credits now");
    EXPECT_TRUE(screen.isShown("topUpLink"));
    screen.render("credits-out");
}

TEST_F(CreditsScreen, Unavailable) {
    answerBalance(ScriptedResponse{401, ""});
    test::QmlScreen screen(kScreen);
    settle(screen);
    EXPECT_TRUE(screen.isShown("balanceUnavailable"));
    EXPECT_FALSE(screen.isShown("balanceFigures"));
    EXPECT_TRUE(property(screen, "unavailableReason", "text").toString().startsWith(
        "Credit balance isn't available from this app yet"));
    EXPECT_TRUE(screen.isShown("topUpLink"));
    screen.render("credits-unavailable");
}

}  // namespace

namespace {

TEST_F(CreditsScreen, EachShowingAsksAgain) {
    answerBalance(ScriptedResponse{200, R"({"companyBalance":900})"});
    test::QmlScreen screen(QStringLiteral(R"(
import QtQuick
import QtQuick.Controls
import Nimbo.Credits
StackView {
    Component { id: creditsScreen; CreditsView {} }
    Component { id: other; Item {} }
    initialItem: Item {}
    function showCredits() { push(creditsScreen) }
    function showOther() { push(other) }
    function goBack() { pop() }
}
)"));
    ASSERT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join('\n').toStdString();
    auto balanceRequests = [] {
        std::size_t count = 0;
        for (const auto& request : test::productionServer().requests())
            count += request.path == "/api/v1/credits/balance";
        return count;
    };
    QMetaObject::invokeMethod(screen.root(), "showCredits");
    ASSERT_TRUE(test::waitUntil([&] { return balanceRequests() == 1; }));
    QMetaObject::invokeMethod(screen.root(), "showOther");
    test::spinFor(std::chrono::milliseconds(600));
    EXPECT_EQ(balanceRequests(), 1u);  // covered, not shown again
    QMetaObject::invokeMethod(screen.root(), "goBack");
    ASSERT_TRUE(test::waitUntil([&] { return balanceRequests() == 2; }));
    test::spinFor(std::chrono::milliseconds(300));
    EXPECT_EQ(balanceRequests(), 2u);
}

}  // namespace
