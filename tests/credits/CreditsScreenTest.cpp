// The credits screen rendered offscreen in each state: the figures, the warning and its
// colour, the link, and the screenshots. The user's own balance counts when there is one,
// else the company's; it runs low up to 500 and out at 0 and below.
#include "QmlScreen.h"
#include "TestEnvironment.h"

#include <QColor>
#include <gtest/gtest.h>

using namespace nimbo;
using test::ScriptedResponse;

namespace {

TEST(CreditsScreen, EachBalanceShowsItsFiguresWarningColourAndLink) {
    const QString low = "Your balance is running low.", manage = "Manage billing / top up";
    const QString out = "You're out of credits for orchestrator chat. On-device chat still works for free.";
    const QColor white("#FFFFFF"), orange("#FF9F0A"), red("#FF453A");
    const struct { int status; const char* body; QString remaining, lifetime, warning, link; QColor colour; const char* shot; } states[] = {
        {200, R"({"companyBalance":5000,"user":{"balance":1200,"lifetimeTokens":3400}})", "1200", "3400", "", "", white, "credits"},
        {200, R"({"companyBalance":9,"user":{"balance":500}})", "500", "", low, manage, orange, nullptr},
        {200, R"({"companyBalance":9,"user":{"balance":501,"lifetimeTokens":0}})", "501", "0", "", "", white, nullptr},
        {200, R"({"companyBalance":300})", "300", "", low, manage, orange, "credits-low"},
        {200, R"({"user":{"balance":0,"lifetimeTokens":0}})", "0", "0", out, "Add credits now", red, "credits-out"},
        {200, R"({"companyBalance":9,"user":{"balance":-12}})", "-12", "", out, "Add credits now", red, nullptr},
        {401, "", "", "", "", manage, {}, "credits-unavailable"},
    };
    for (const auto& s : states) {
        SCOPED_TRACE(s.body);
        test::resetServers();
        test::productionServer().on("GET", "/api/v1/credits/balance",
                                    ScriptedResponse{s.status, s.body, "application/json", {}, std::chrono::milliseconds(300)});
        test::QmlScreen screen("import QtQuick\nimport Nimbo.Credits\nItem { CreditsView { anchors.fill: parent } }");
        auto shown = [&](const char* name) { return screen.isShown(name) ? screen.find(name)->property("text").toString() : QString(); };
        auto colour = [&](const char* name) { return screen.find(name)->property("color").value<QColor>(); };
        EXPECT_TRUE(screen.isShown("checkingBalance"));  // the first frame
        ASSERT_TRUE(test::waitUntil([&] { return !screen.isShown("checkingBalance"); }));
        EXPECT_EQ(screen.isShown("balanceUnavailable"), s.status != 200);
        EXPECT_EQ(shown("remainingRowValue"), s.remaining);
        EXPECT_EQ(shown("lifetimeRowValue"), s.lifetime);
        EXPECT_EQ(shown("balanceWarning"), s.warning);
        EXPECT_EQ(shown("topUpLink"), s.link);
        if (s.colour.isValid()) { EXPECT_EQ(colour("remainingRowValue"), s.colour); }
        if (!s.warning.isEmpty()) { EXPECT_EQ(colour("balanceWarning"), s.colour); }
        if (s.shot) { EXPECT_FALSE(screen.render(s.shot).isEmpty()); }
        EXPECT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join('\n').toStdString();
    }
}

}  // namespace
