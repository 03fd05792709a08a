// The chat screen's controller against the scripted servers.
#include "chat/ChatViewModel.h"

#include "api/NimboApiError.h"

#include "ChatTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace nimbo;
using namespace nimbo::test;
using namespace std::chrono_literals;
using api::Json;

namespace {

class ChatController : public ::testing::Test {
protected:
    void SetUp() override {
        resetServers();
        settleUpdateChecker("1.0.0");  // no update known
        resetServers();
        session.setIsLoggedIn(true);
        vm.setSession(&session);
        vm.setOnDeviceModel(model);
    }
    std::vector<QString> contents() const {
        std::vector<QString> all;
        for (const ChatMessage& m : vm.transcript().messages()) all.push_back(m.content);
        return all;
    }
    const ChatMessage& last() const { return vm.transcript().messages().back(); }
    std::size_t count() const { return vm.transcript().messages().size(); }
    // Types `text`, sends it and waits until its answer (reply or notice) is in.
    void exchange(const QString& text) {
        const std::size_t before = count();
        vm.setInputText(text);
        vm.sendMessage();
        ASSERT_TRUE(waitUntil([&] { return count() == before + 2; }));
    }

    ScriptedServer& production = productionServer();
    SessionStore session;
    ChatViewModel vm;
    std::shared_ptr<FakeOnDeviceModel> model = std::make_shared<FakeOnDeviceModel>();
};

TEST_F(ChatController, SendsTheTrimmedTextWithTheGreetingAsHistoryAndNeverABlankOne) {
    vm.setInputText(QStringLiteral(" \t\n\r\n "));
    EXPECT_FALSE(vm.canSend());
    vm.sendMessage();
    EXPECT_EQ(count(), 0u);
    production.on("POST", kChatPath, ScriptedResponse{200, R"({"reply":"Hi Ann","conversationId":"c-1"})"});
    vm.greet();
    vm.setInputText(QStringLiteral("  hello \n"));
    EXPECT_TRUE(vm.canSend());
    vm.sendMessage();
    EXPECT_EQ(contents(), (std::vector<QString>{kGreeting, QStringLiteral("hello")}));
    EXPECT_EQ(last().role, "user");
    EXPECT_TRUE(vm.inputText().isEmpty());
    EXPECT_TRUE(vm.isTyping());
    ASSERT_TRUE(waitUntil([&] { return !vm.isTyping(); }));
    EXPECT_EQ(last().role, "assistant");
    EXPECT_EQ(last().content, "Hi Ann");
    const Json body = bodiesTo().at(0);
    EXPECT_EQ(body["message"], "hello");
    EXPECT_EQ(body["history"], (Json{{{"role", "assistant"}, {"content", kGreeting.toStdString()}}}));
    EXPECT_FALSE(body.contains("conversationId"));
}

TEST_F(ChatController, HistoryIsTheTwentyEntriesBeforeTheNewMessageNoticesIncluded) {
    vm.greet();
    scriptEcho();
    for (int i = 0; i < 10; ++i) exchange(QString::number(i));
    production.on("POST", kChatPath, ScriptedResponse{422, R"({"error":"Too long"})"});
    exchange(QStringLiteral("refused"));
    vm.runOnDeviceModelTest();
    ASSERT_TRUE(waitUntil([&] { return count() == 25u; }));
    scriptEcho();
    for (int i = 0; i < 3; ++i) exchange(QStringLiteral("more %1").arg(i));
    exchange(QStringLiteral("last"));
    const Json history = bodiesTo().back()["history"];
    ASSERT_EQ(history.size(), 20u);
    for (std::size_t i = 0; i < 20; ++i) {
        const ChatMessage& entry = vm.transcript().messages()[31 - 20 + i];
        EXPECT_EQ(history[i], (Json{{"role", entry.role.toStdString()}, {"content", entry.content.toStdString()}})) << i;
    }
    EXPECT_NE(history.dump().find("\u26A0 Too long"), std::string::npos);
}

TEST_F(ChatController, AdoptsAndKeepsTheConversationId) {
    for (const char* id : {"c-1", "", "c-2", ""}) {
        scriptEcho(id);
        exchange(QStringLiteral("hi"));
    }
    production.on("POST", kChatPath, ScriptedResponse{200, R"({"reply":"","conversationId":7})"});
    exchange(QStringLiteral("five"));
    EXPECT_EQ(last().content, "");  // an empty reply is still an entry
    exchange(QStringLiteral("six"));
    std::vector<Json> ids;
    for (const Json& body : bodiesTo()) ids.push_back(body.value("conversationId", Json()));
    EXPECT_EQ(ids, (std::vector<Json>{nullptr, "c-1", "c-1", "c-2", "c-2", "c-2"}));
}

TEST_F(ChatController, FailuresBecomeWarningEntriesAndUnauthorizedSignsOut) {
    ScriptedServer& testing = testServer();
    const std::pair<std::function<void()>, QString> cases[] = {
        {[&] { production.on("POST", kChatPath, ScriptedResponse{402, R"({"error":"Out of credits"})"}); }, "Out of credits"},
        {[&] { production.on("POST", kChatPath, ScriptedResponse{500, ""});
               testing.on("POST", kChatPath, ScriptedResponse{502, ""}); }, QString::fromStdString("502 from " + testing.base())},
        {[&] { testing.on("POST", kChatPath, ScriptedResponse{200, "{}", "application/json", {}, {}, true});
               production.on("POST", kChatPath, ScriptedResponse{200, "{}", "application/json", {}, {}, true}); },
         QString::fromUtf8(api::kNetworkErrorText)},
        {[&] { production.on("POST", kChatPath, ScriptedResponse{200, "[1,2]"}); }, "Empty response from /api/chat/orc."},
        {[&] { production.on("POST", kChatPath, ScriptedResponse{400, R"({"error":""})"}); }, "Something went wrong."},
    };
    for (const auto& [script, expected] : cases) {
        resetServers();
        script();
        exchange(QStringLiteral("question"));
        EXPECT_EQ(last().role, "assistant");
        EXPECT_EQ(last().content, QStringLiteral("\u26A0 ") + expected);
        EXPECT_FALSE(vm.isTyping());
    }
    EXPECT_TRUE(session.isLoggedIn());
    production.on("POST", kChatPath, ScriptedResponse{401, R"({"error":"Not signed in"})"});
    vm.setInputText(QStringLiteral("hello"));
    vm.sendMessage();
    ASSERT_TRUE(waitUntil([&] { return !session.isLoggedIn(); }));
    spinFor(50ms);
    EXPECT_EQ(last().content, "hello");  // no notice
}

TEST_F(ChatController, AppearingGreetsOnceAndRefetchesTheUserEachTime) {
    production.on("GET", kMePath, ScriptedResponse{200, R"({"email":"ann@example.com","role":"user"})"});
    vm.onAppear();
    EXPECT_EQ(contents(), (std::vector<QString>{kGreeting}));  // before the user record arrives
    ASSERT_TRUE(waitUntil([&] { return vm.headerSubtitle() == "ann@example.com"; }));
    production.on("GET", kMePath, ScriptedResponse{404, ""});
    vm.onAppear();
    ASSERT_TRUE(waitUntil([&] { return bodiesTo(kMePath).size() == 2; }));
    spinFor(50ms);
    EXPECT_EQ(vm.headerSubtitle(), "ann@example.com");  // a failure leaves it alone
    EXPECT_EQ(contents(), (std::vector<QString>{kGreeting}));
    production.on("GET", kMePath, ScriptedResponse{401, ""});
    vm.onAppear();
    EXPECT_TRUE(waitUntil([&] { return !session.isLoggedIn(); }));
}

TEST_F(ChatController, AKnownOrFoundUpdateIsOfferedOnEveryAppearanceAndOpensAValidStoreUrl) {
    RecordingOpener opener;
    production.on("GET", kVersionPath, ScriptedResponse{200, R"({"version":"3.0.1","url":"https://store.example/nimbo"})",
                                                        "application/json", {}, 100ms});
    vm.onAppear();
    EXPECT_FALSE(vm.showUpdateAlert());
    ASSERT_TRUE(waitUntil([&] { return vm.showUpdateAlert(); }));
    EXPECT_EQ(vm.updateMessage(), "A newer version of Nimbo Chat (3.0.1) is available.");
    vm.setShowUpdateAlert(false);  // "Later"
    vm.onAppear();
    EXPECT_TRUE(vm.showUpdateAlert());  // at once, from what the checker remembers
    vm.openUpdate();
    EXPECT_EQ(opener.opened, QStringList{"https://store.example/nimbo"});
    settleUpdateChecker("3.0.2", "not a url");
    vm.checkForUpdate();
    vm.openUpdate();
    EXPECT_EQ(opener.opened.size(), 1);
    settleUpdateChecker("1.0.0");
}

TEST_F(ChatController, OnDeviceTestReportsEachOutcome) {
    const struct { std::string downloadFailure; OnDeviceInferResult result; QString expected; } cases[] = {
        {"disk full", {true, "unused", 1}, QStringLiteral("\u26A0 On-device model download failed: disk full")},
        {"", {false, "no memory", 3}, QStringLiteral("\u26A0 On-device inference failed: no memory")},
        {"", {true, "Hello!", 1234.9}, QStringLiteral("\u2705 On-device model responded in 1234ms:\nHello!")},
        {"", {true, "x", -2.7}, QStringLiteral("\u2705 On-device model responded in -2ms:\nx")},
        {"", {true, "x", std::nan("")}, QStringLiteral("\u2705 On-device model responded in 0ms:\nx")},
    };
    vm.setInputText(QStringLiteral("draft"));
    for (const auto& c : cases) {
        model->downloadFailure = c.downloadFailure;
        model->result = c.result;
        const std::size_t before = count();
        vm.runOnDeviceModelTest();
        EXPECT_EQ(last().content, QStringLiteral("\U0001F504 Loading on-device model (first run may take a moment to "
                                                 "download)\u2026"));
        ASSERT_TRUE(waitUntil([&] { return count() == before + 2; }));
        EXPECT_EQ(last().content, c.expected);
        EXPECT_EQ(last().role, "assistant");
    }
    EXPECT_EQ(model->prompts, std::vector<std::string>(4, "Say hello in one short sentence."));
    EXPECT_EQ(vm.inputText(), "draft");
    EXPECT_TRUE(bodiesTo().empty());
}

}  // namespace
