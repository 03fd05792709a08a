// The credits view model against scripted servers: the balance rules, each failure
// text and the user lookup before the balance request.
#include "credits/CreditsViewModel.h"

#include "api/NimboApiError.h"
#include "api/ServiceEndpoints.h"
#include "platform/url/UrlOpener.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

using namespace nimbo;
using namespace std::chrono_literals;
using test::ScriptedResponse;
using Section = CreditsViewModel::BalanceSection;

namespace {

constexpr const char* kBalancePath = "/api/v1/credits/balance";
const QString kUnauthorizedText = QStringLiteral(
    "Credit balance isn't available from this app yet (requires an account-level connection our team is finishing "
    "up). Local on-device chat remains free and unaffected.");
const QString kLowText = QStringLiteral("Your balance is running low.");
const QString kOutText =
    QStringLiteral("You're out of credits for orchestrator chat. On-device chat still works for free.");

class Credits : public ::testing::Test {
protected:
    void SetUp() override { test::resetServers(); }
    test::ScriptedServer& production = test::productionServer();

    // A view model after one finished load against `response`.
    std::unique_ptr<CreditsViewModel> loadedWith(ScriptedResponse response) {
        production.on("GET", kBalancePath, std::move(response));
        auto vm = std::make_unique<CreditsViewModel>();
        vm->load(std::nullopt, std::nullopt);
        EXPECT_TRUE(test::waitUntil([&] { return !vm->isLoading(); }));
        return vm;
    }
};

TEST_F(Credits, StartsLoadingWithNothingToShow) {
    CreditsViewModel vm;
    EXPECT_TRUE(vm.isLoading());
    EXPECT_EQ(vm.balanceSection(), Section::Loading);
    EXPECT_FALSE(vm.hasBalance());
    EXPECT_FALSE(vm.isLowBalance());
    EXPECT_FALSE(vm.isOutOfCredits());
    EXPECT_FALSE(vm.showTopUpLink());
    EXPECT_EQ(vm.lowBalanceThreshold(), 500);
    EXPECT_EQ(production.requestCount(), 0u);  // nothing is asked before the screen shows
}

TEST_F(Credits, ThresholdsWarningsAndLink) {
    struct Case {
        const char* body;
        const char* remaining;
        bool low, out;
        QString warning;
        const char* link;  // nullptr: no link section
    };
    const Case cases[] = {
        {R"({"companyBalance":9,"user":{"balance":500}})", "500", true, false, kLowText, "Manage billing / top up"},
        {R"({"companyBalance":9,"user":{"balance":501}})", "501", false, false, "", nullptr},
        {R"({"companyBalance":9,"user":{"balance":0}})", "0", true, true, kOutText, "Add credits now"},
        {R"({"companyBalance":9,"user":{"balance":-12}})", "-12", true, true, kOutText, "Add credits now"},
        {R"({"companyBalance":300})", "300", true, false, kLowText, "Manage billing / top up"},
        {R"({"companyBalance":0,"user":{"balance":1000}})", "1000", false, false, "", nullptr},
        {R"({"companyBalance":5000,"user":{"balance":20}})", "20", true, false, kLowText, "Manage billing / top up"},
        {R"({"companyBalance":1000000})", "1000000", false, false, "", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        auto vm = loadedWith(ScriptedResponse{200, c.body});
        EXPECT_EQ(vm->balanceSection(), Section::Balance);
        EXPECT_EQ(vm->remainingText(), c.remaining);
        EXPECT_EQ(vm->isLowBalance(), c.low);
        EXPECT_EQ(vm->isOutOfCredits(), c.out);
        EXPECT_EQ(vm->warningText(), c.warning);
        EXPECT_EQ(vm->showTopUpLink(), c.link != nullptr);
        if (c.link) {
            EXPECT_EQ(vm->topUpLabel(), c.link);
        }
        EXPECT_TRUE(vm->unavailableReason().isEmpty());
    }
}

TEST_F(Credits, LifetimeUsageRowOnlyWhenPresent) {
    auto without = loadedWith(ScriptedResponse{200, R"({"companyBalance":800,"user":{"balance":700}})"});
    EXPECT_FALSE(without->hasLifetimeUsage());
    auto zero = loadedWith(ScriptedResponse{200, R"({"user":{"balance":700,"lifetimeTokens":0}})"});
    EXPECT_TRUE(zero->hasLifetimeUsage());
    EXPECT_EQ(zero->lifetimeUsageText(), "0");
    auto big = loadedWith(ScriptedResponse{200, R"({"user":{"balance":700,"lifetimeTokens":123456789}})"});
    EXPECT_EQ(big->lifetimeUsageText(), "123456789");
}

TEST_F(Credits, EachFailureHasItsText) {
    struct Case {
        ScriptedResponse response;
        QString reason;
    };
    const Case cases[] = {
        {ScriptedResponse{401, R"({"error":"Sign in first"})"}, kUnauthorizedText},
        {ScriptedResponse{403, R"({"error":"Company suspended"})"}, "Company suspended"},
        {ScriptedResponse{400, R"({"error":""})"}, "Credit balance temporarily unavailable."},
        {ScriptedResponse{200, ""}, "Empty response from /api/v1/credits/balance."},
        {ScriptedResponse{200, "[1,2]"}, "Empty response from /api/v1/credits/balance."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason.toStdString());
        auto vm = loadedWith(c.response);
        EXPECT_EQ(vm->balanceSection(), Section::Unavailable);
        EXPECT_EQ(vm->unavailableReason(), c.reason);
        EXPECT_FALSE(vm->hasBalance());
        EXPECT_FALSE(vm->isLowBalance());
        EXPECT_TRUE(vm->showTopUpLink());
        EXPECT_EQ(vm->topUpLabel(), "Manage billing / top up");
    }
}

TEST_F(Credits, NetworkAndForeignFailures) {
    test::productionServer().onAnything(ScriptedResponse{503, ""});
    test::testServer().onAnything(ScriptedResponse{200, std::string(1000, 'x'), "application/json", {}, 0ms, true});
    CreditsViewModel vm;
    vm.load(7, QStringLiteral("a@b.c"));
    ASSERT_TRUE(test::waitUntil([&] { return !vm.isLoading(); }));
    EXPECT_EQ(vm.unavailableReason(), QString::fromUtf8(api::kNetworkErrorText));

    EXPECT_EQ(balanceUnavailableReason(std::make_exception_ptr(std::runtime_error("disk"))),
              "Credit balance temporarily unavailable.");
    EXPECT_EQ(balanceUnavailableReason(nullptr), "Credit balance temporarily unavailable.");
}

TEST_F(Credits, AFailedReloadClearsTheBalanceAndAReloadShowsProgressFirst) {
    auto vm = loadedWith(ScriptedResponse{200, R"({"companyBalance":900})"});
    ASSERT_TRUE(vm->hasBalance());
    production.on("GET", kBalancePath, ScriptedResponse{500, "", "application/json", {}, 200ms});
    test::testServer().on("GET", kBalancePath, ScriptedResponse{404, R"({"error":"No pool"})"});
    vm->load(std::nullopt, std::nullopt);
    EXPECT_EQ(vm->balanceSection(), Section::Loading);
    EXPECT_TRUE(vm->hasBalance());  // kept until the answer is in
    ASSERT_TRUE(test::waitUntil([&] { return !vm->isLoading(); }));
    EXPECT_FALSE(vm->hasBalance());
    EXPECT_EQ(vm->unavailableReason(), "No pool");
}

TEST_F(Credits, OnlyTheLatestLoadCounts) {
    production.on("GET", kBalancePath, [](const test::RecordedRequest& request) {
        const bool first = request.target.find("companyId=1") != std::string::npos;
        return first ? ScriptedResponse{200, R"({"companyBalance":111})", "application/json", {}, 300ms}
                     : ScriptedResponse{200, R"({"companyBalance":222})"};
    });
    CreditsViewModel vm;
    vm.load(1, std::nullopt);
    vm.load(2, std::nullopt);
    ASSERT_TRUE(test::waitUntil([&] { return !vm.isLoading(); }));
    test::spinFor(500ms);
    EXPECT_EQ(vm.remainingText(), "222");
}

TEST_F(Credits, StartLooksUpTheUserThenAsksForTheirBalance) {
    production.on("GET", "/api/auth/me", ScriptedResponse{200, R"({"email":"ann+x@acme.io","companyId":42})"});
    production.on("GET", kBalancePath, ScriptedResponse{200, R"({"companyBalance":900})"});
    CreditsViewModel vm;
    vm.setActive(true);
    ASSERT_TRUE(test::waitUntil([&] { return vm.hasBalance(); }));
    const auto requests = production.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "/api/auth/me");
    EXPECT_EQ(requests[1].target, "/api/v1/credits/balance?companyId=42&email=ann%2Bx@acme.io");
}

TEST_F(Credits, AFailedUserLookupStillAsksForTheBalanceWithoutQuery) {
    production.on("GET", "/api/auth/me", ScriptedResponse{401, ""});
    production.on("GET", kBalancePath, ScriptedResponse{200, R"({"companyBalance":900})"});
    CreditsViewModel vm;
    vm.setActive(true);
    ASSERT_TRUE(test::waitUntil([&] { return !vm.isLoading(); }));
    EXPECT_TRUE(vm.hasBalance());
    ASSERT_EQ(production.requestCount(), 2u);
    EXPECT_EQ(production.requests()[1].target, kBalancePath);
}

TEST_F(Credits, EachShowingLoadsAgain) {
    production.on("GET", "/api/auth/me", ScriptedResponse{500, ""});
    production.on("GET", kBalancePath, ScriptedResponse{200, R"({"companyBalance":900})"});
    test::testServer().on("GET", "/api/auth/me", ScriptedResponse{503, ""});
    CreditsViewModel vm;
    vm.setActive(true);
    ASSERT_TRUE(test::waitUntil([&] { return !vm.isLoading(); }));
    vm.setActive(false);
    vm.setActive(true);
    ASSERT_TRUE(test::waitUntil([&] { return production.requestCount() == 4u && !vm.isLoading(); }));
    EXPECT_EQ(vm.remainingText(), "900");
}

struct RecordingOpener : platform::UrlOpener {
    QStringList opened;
    bool open(const QString& url) override {
        opened << url;
        return true;
    }
};

TEST_F(Credits, TopUpOpensTheBillingPage) {
    EXPECT_EQ(topUpURL(), QString::fromStdString(api::ServiceEndpoints::current().webBase) + "/account/billing");
    RecordingOpener opener;
    platform::UrlOpener::install(&opener);
    CreditsViewModel vm;
    vm.openTopUp();
    platform::UrlOpener::install(nullptr);
    EXPECT_EQ(opener.opened, QStringList{topUpURL()});
}

}  // namespace
