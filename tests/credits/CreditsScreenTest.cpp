// The credits screen rendered offscreen in each state, with its screenshots.
#include "credits/CreditsViewModel.h"

#include "QmlScreen.h"
#include "TestEnvironment.h"

#include <QColor>
#include <gtest/gtest.h>

using namespace nimbo;
using test::ScriptedResponse;

namespace {

TEST(CreditsScreen, EachStateShowsItsRowsColoursAndLink) {
    const struct { const char* body; int status; const char* shown; QColor figure; bool lifetime, link; const char* shot; } states[] = {
        {R"({"companyBalance":5000,"user":{"balance":1200,"lifetimeTokens":3400}})", 200, "balanceFigures", "#FFFFFF", true, false, "credits"},
        {R"({"companyBalance":300})", 200, "balanceFigures", "#FF9F0A", false, true, "credits-low"},
        {R"({"user":{"balance":0,"lifetimeTokens":0}})", 200, "balanceFigures", "#FF453A", true, true, "credits-out"},
        {"", 401, "balanceUnavailable", {}, false, true, "credits-unavailable"},
    };
    for (const auto& s : states) {
        SCOPED_TRACE(s.shot);
        test::resetServers();
        test::productionServer().on("GET", "/api/v1/credits/balance",
                                    ScriptedResponse{s.status, s.body, "application/json", {}, std::chrono::milliseconds(300)});
        test::QmlScreen screen("import QtQuick\nimport Nimbo.Credits\nItem { CreditsView { anchors.fill: parent } }");
        EXPECT_TRUE(screen.isShown("checkingBalance"));  // the first frame
        EXPECT_FALSE(screen.isShown("topUpLink"));
        auto* vm = qobject_cast<CreditsViewModel*>(screen.find("viewModel"));
        ASSERT_TRUE(test::waitUntil([&] { return !vm->isLoading(); }));
        test::spinFor(std::chrono::milliseconds(50));
        EXPECT_TRUE(screen.isShown(s.shown));
        EXPECT_FALSE(screen.isShown("checkingBalance"));
        if (s.figure.isValid()) {
            EXPECT_EQ(screen.find("remainingRowValue")->property("color").value<QColor>(), s.figure);
            EXPECT_EQ(screen.isShown("balanceWarning"), s.link);
            if (s.link) { EXPECT_EQ(screen.find("balanceWarning")->property("color").value<QColor>(), s.figure); }
        }
        EXPECT_EQ(screen.isShown("lifetimeRow"), s.lifetime);
        EXPECT_EQ(screen.isShown("topUpLink"), s.link);
        EXPECT_FALSE(screen.render(s.shot).isEmpty());
        EXPECT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join('\n').toStdString();
    }
}

}  // namespace
