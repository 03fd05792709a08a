// The credits view model against scripted servers: the balance rules, each failure
// text, the user lookup before the balance request, and the billing link.
#include "credits/CreditsViewModel.h"

#include "api/ServiceEndpoints.h"
#include "platform/url/UrlOpener.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

using namespace nimbo;
using namespace std::chrono_literals;
using test::ScriptedResponse;

namespace {

constexpr const char* kBalancePath = "/api/v1/credits/balance";
const QString kLow = QStringLiteral("Your balance is running low.");
const QString kOut = QStringLiteral("You're out of credits for orchestrator chat. On-device chat still works for free.");
const QString kManage = QStringLiteral("Manage billing / top up");
const QString kAdd = QStringLiteral("Add credits now");
const QString kUnavailable = QStringLiteral("Credit balance temporarily unavailable.");

std::unique_ptr<CreditsViewModel> loadedWith(ScriptedResponse response) {
    test::resetServers();
    test::productionServer().on("GET", kBalancePath, response);
    test::testServer().on("GET", kBalancePath, response);
    auto vm = std::make_unique<CreditsViewModel>();
    EXPECT_TRUE(vm->isLoading());  // before the first request too
    vm->load(std::nullopt, std::nullopt);
    EXPECT_TRUE(test::waitUntil([&] { return !vm->isLoading(); }));
    return vm;
}

TEST(Credits, ThresholdsWarningsAndLink) {
    const struct { const char* body; const char* remaining; const char* lifetime; QString warning, link; } cases[] = {
        {R"({"companyBalance":9,"user":{"balance":500}})", "500", nullptr, kLow, kManage},
        {R"({"companyBalance":9,"user":{"balance":501,"lifetimeTokens":0}})", "501", "0", "", ""},
        {R"({"companyBalance":9,"user":{"balance":0}})", "0", nullptr, kOut, kAdd},
        {R"({"companyBalance":9,"user":{"balance":-12}})", "-12", nullptr, kOut, kAdd},
        {R"({"companyBalance":300})", "300", nullptr, kLow, kManage},
        {R"({"companyBalance":0,"user":{"balance":1000,"lifetimeTokens":123456789}})", "1000", "123456789", "", ""},
        {R"({"companyBalance":1000000})", "1000000", nullptr, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        auto vm = loadedWith(ScriptedResponse{200, c.body});
        EXPECT_EQ(vm->remainingText(), c.remaining);
        EXPECT_EQ(vm->hasLifetimeUsage(), c.lifetime != nullptr);
        if (c.lifetime) { EXPECT_EQ(vm->lifetimeUsageText(), c.lifetime); }
        EXPECT_EQ(vm->warningText(), c.warning);
        EXPECT_EQ(vm->isLowBalance(), !c.warning.isEmpty());
        EXPECT_EQ(vm->isOutOfCredits(), c.warning == kOut);
        EXPECT_EQ(vm->showTopUpLink(), !c.link.isEmpty());
        if (!c.link.isEmpty()) { EXPECT_EQ(vm->topUpLabel(), c.link); }
    }
}

TEST(Credits, EachFailureHasItsTextAndOffersTheLink) {
    const std::pair<ScriptedResponse, QString> cases[] = {
        {{401, R"({"error":"Sign in first"})"},
         "Credit balance isn't available from this app yet (requires an account-level connection our team is "
         "finishing up). Local on-device chat remains free and unaffected."},
        {{403, R"({"error":"Company suspended"})"}, "Company suspended"},
        {{400, R"({"error":""})"}, kUnavailable},
        {{200, "[1,2]"}, "Empty response from /api/v1/credits/balance."},
        {{200, std::string(1000, 'x'), "application/json", {}, 0ms, true},
         QString::fromUtf8("Network error \u2014 check your connection and try again.")},
    };
    for (const auto& [answer, reason] : cases) {
        auto vm = loadedWith(answer);
        EXPECT_EQ(vm->unavailableReason(), reason);
        EXPECT_FALSE(vm->hasBalance());
        EXPECT_EQ(vm->topUpLabel(), kManage);
        EXPECT_TRUE(vm->showTopUpLink());
    }
    EXPECT_EQ(balanceUnavailableReason(std::make_exception_ptr(std::runtime_error("disk"))), kUnavailable);
}

TEST(Credits, EachShowingLooksUpTheUserThenAsksForTheirBalance) {
    for (int meStatus : {200, 401}) {
        test::resetServers();
        test::ScriptedServer& production = test::productionServer();
        production.on("GET", "/api/auth/me", ScriptedResponse{meStatus, R"({"email":"ann+x@acme.io","companyId":42})"});
        production.on("GET", kBalancePath, ScriptedResponse{200, R"({"companyBalance":900})"});
        CreditsViewModel vm;
        vm.setActive(true);
        ASSERT_TRUE(test::waitUntil([&] { return !vm.isLoading(); }));
        vm.setActive(false);
        vm.setActive(true);
        ASSERT_TRUE(test::waitUntil([&] { return production.requestCount() == 4u && !vm.isLoading(); }));
        EXPECT_EQ(vm.remainingText(), "900");
        EXPECT_EQ(production.requests()[1].target,
                  meStatus == 200 ? "/api/v1/credits/balance?companyId=42&email=ann%2Bx@acme.io" : kBalancePath);
    }
}

TEST(Credits, TopUpOpensTheBillingPage) {
    struct : platform::UrlOpener {
        QStringList opened;
        bool open(const QString& url) override { return opened << url, true; }
    } opener;
    platform::UrlOpener::install(&opener);
    CreditsViewModel().openTopUp();
    platform::UrlOpener::install(nullptr);
    EXPECT_EQ(opener.opened, QStringList{QString::fromStdString(api::ServiceEndpoints::current().webBase) + "/account/billing"});
}

}  // namespace
