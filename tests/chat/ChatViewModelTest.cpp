// The chat screen's controller against the scripted servers.
#include "chat/ChatViewModel.h"

#include "api/NimboApiError.h"

#include "ChatTestSupport.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

#include <memory>

using namespace nimbo;
using namespace nimbo::test;
using namespace std::chrono_literals;
using api::Json;

namespace {

const QString kWarning = QStringLiteral("\u26A0 ");

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
    ScriptedServer& testing = testServer();
    SessionStore session;
    ChatViewModel vm;
    std::shared_ptr<FakeOnDeviceModel> model = std::make_shared<FakeOnDeviceModel>();
};

// ---- sending ------------------------------------------------------------------

TEST_F(ChatController, BlankInputCannotBeSent) {
    QSignalSpy canSend(&vm, &ChatViewModel::canSendChanged);
    for (const QString& blank : {QString(), QStringLiteral("   "), QStringLiteral(" \t\n\r\n ")}) {
        vm.setInputText(blank);
        EXPECT_FALSE(vm.canSend());
        vm.sendMessage();
    }
    EXPECT_EQ(count(), 0u);
    EXPECT_EQ(vm.inputText(), QStringLiteral(" \t\n\r\n "));
    EXPECT_FALSE(vm.isTyping());
    EXPECT_EQ(canSend.count(), 0);

    vm.setInputText(QStringLiteral(" \t\n\r\n x"));
    EXPECT_TRUE(vm.canSend());
    EXPECT_EQ(canSend.count(), 1);
    spinFor(100ms);
    EXPECT_EQ(requestsTo(production, kChatPath), 0u);
}

TEST_F(ChatController, SendsTheTrimmedTextWithTheGreetingAsHistory) {
    production.on("POST", kChatPath,
                  ScriptedResponse{200, R"({"reply":"Hi Ann","conversationId":"c-1","routedTo":"x"})"});
    vm.greet();
    vm.setInputText(QStringLiteral("  hello \n"));
    vm.sendMessage();
    EXPECT_EQ(contents(), (std::vector<QString>{kGreeting, QStringLiteral("hello")}));
    EXPECT_EQ(last().role, "user");
    EXPECT_TRUE(vm.inputText().isEmpty());
    EXPECT_FALSE(vm.canSend());
    EXPECT_TRUE(vm.isTyping());

    ASSERT_TRUE(waitUntil([&] { return !vm.isTyping(); }));
    EXPECT_EQ(last().role, "assistant");
    EXPECT_EQ(last().content, "Hi Ann");
    EXPECT_EQ(vm.conversationId(), std::optional<std::string>("c-1"));
    const Json body = chatBodies().at(0);
    EXPECT_EQ(body["message"], "hello");
    EXPECT_EQ(body["history"], Json::parse(R"([{"role":"assistant","content":")" + kGreeting.toStdString() + R"("}])"));
    EXPECT_FALSE(body.contains("conversationId"));
}

TEST_F(ChatController, HistoryIsTheTwentyEntriesBeforeTheNewMessage) {
    vm.greet();
    scriptEcho();
    for (int i = 0; i < 10; ++i) exchange(QString::number(i));
    production.on("POST", kChatPath, ScriptedResponse{422, R"({"error":"Too long"})"});
    exchange(QStringLiteral("refused"));
    vm.runOnDeviceModelTest();
    ASSERT_TRUE(waitUntil([&] { return count() == 25u; }));
    scriptEcho();
    for (int i = 0; i < 3; ++i) exchange(QStringLiteral("more %1").arg(i));
    ASSERT_EQ(count(), 31u);

    exchange(QStringLiteral("last"));
    const Json history = chatBodies().back()["history"];
    ASSERT_EQ(history.size(), 20u);
    const auto& messages = vm.transcript().messages();
    for (std::size_t i = 0; i < 20; ++i) {
        const ChatMessage& entry = messages[31 - 20 + i];
        EXPECT_EQ(history[i]["role"], entry.role.toStdString());
        EXPECT_EQ(history[i]["content"], entry.content.toStdString());
    }
    // The notices travel as assistant turns.
    const std::string all = history.dump();
    EXPECT_NE(all.find("\u26A0 Too long"), std::string::npos);
    EXPECT_NE(all.find("On-device model responded"), std::string::npos);
    EXPECT_EQ(chatBodies().back()["message"], "last");
}

TEST_F(ChatController, AdoptsAndKeepsTheConversationId) {
    scriptEcho("c-1");
    exchange(QStringLiteral("one"));
    scriptEcho();  // a reply without an id keeps the stored one
    exchange(QStringLiteral("two"));
    scriptEcho("c-2");
    exchange(QStringLiteral("three"));
    exchange(QStringLiteral("four"));
    production.on("POST", kChatPath, ScriptedResponse{200, R"({"reply":"","conversationId":7})"});
    exchange(QStringLiteral("five"));
    EXPECT_EQ(last().content, "");  // an empty reply is still an entry
    EXPECT_EQ(last().role, "assistant");
    exchange(QStringLiteral("six"));

    const std::vector<Json> bodies = chatBodies();
    ASSERT_EQ(bodies.size(), 6u);
    EXPECT_FALSE(bodies[0].contains("conversationId"));
    EXPECT_EQ(bodies[1]["conversationId"], "c-1");
    EXPECT_EQ(bodies[2]["conversationId"], "c-1");
    EXPECT_EQ(bodies[3]["conversationId"], "c-2");
    EXPECT_EQ(bodies[5]["conversationId"], "c-2");
}

TEST_F(ChatController, UnauthorizedSignsOutWithoutANotice) {
    production.on("POST", kChatPath, ScriptedResponse{401, R"({"error":"Not signed in"})"});
    vm.setInputText(QStringLiteral("hello"));
    vm.sendMessage();
    ASSERT_TRUE(waitUntil([&] { return !session.isLoggedIn(); }));
    EXPECT_FALSE(vm.isTyping());
    spinFor(50ms);
    EXPECT_EQ(contents(), (std::vector<QString>{QStringLiteral("hello")}));
}

TEST_F(ChatController, FailuresBecomeWarningEntries) {
    struct Case {
        std::function<void()> script;
        QString expected;
    } cases[] = {
        {[&] { production.on("POST", kChatPath, ScriptedResponse{402, R"({"error":"Out of credits"})"}); },
         QStringLiteral("Out of credits")},
        {[&] { production.on("POST", kChatPath, ScriptedResponse{418, "teapot"}); }, QStringLiteral("418 teapot")},
        {[&] {
             production.on("POST", kChatPath, ScriptedResponse{500, ""});
             testing.on("POST", kChatPath, ScriptedResponse{502, ""});
         },
         QString::fromStdString("502 from " + testing.base())},
        {[&] {
             production.on("POST", kChatPath, ScriptedResponse{200, "{}", "application/json", {}, {}, true});
             testing.on("POST", kChatPath, ScriptedResponse{200, "{}", "application/json", {}, {}, true});
         },
         QString::fromUtf8(api::kNetworkErrorText)},
        {[&] { production.on("POST", kChatPath, ScriptedResponse{200, "[1,2]"}); },
         QStringLiteral("Empty response from /api/chat/orc.")},
        {[&] { production.on("POST", kChatPath, ScriptedResponse{200, ""}); },
         QStringLiteral("Empty response from /api/chat/orc.")},
        {[&] { production.on("POST", kChatPath, ScriptedResponse{400, R"({"error":""})"}); },
         QStringLiteral("Something went wrong.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        resetServers();
        c.script();
        exchange(QStringLiteral("question"));
        EXPECT_EQ(last().role, "assistant");
        EXPECT_EQ(last().content, kWarning + c.expected);
        EXPECT_EQ(vm.transcript().messages()[count() - 2].content, "question");
        EXPECT_FALSE(vm.isTyping());
    }
    EXPECT_TRUE(session.isLoggedIn());
}

TEST_F(ChatController, OverlappingSendsAppendInCompletionOrder) {
    production.on("POST", kChatPath, [](const RecordedRequest& r) {
        const std::string message = Json::parse(r.body)["message"];
        const bool slow = message == "slow";
        return ScriptedResponse{200, Json{{"reply", "re " + message}}.dump(), "application/json", {},
                                slow ? 600ms : 0ms};
    });
    vm.greet();
    vm.setInputText(QStringLiteral("slow"));
    vm.sendMessage();
    ASSERT_TRUE(production.waitForRequests(1));
    vm.setInputText(QStringLiteral("fast"));
    vm.sendMessage();
    EXPECT_TRUE(vm.isTyping());

    ASSERT_TRUE(waitUntil([&] { return count() == 4u; }));
    EXPECT_FALSE(vm.isTyping());  // the first completion ends the typing row
    EXPECT_EQ(last().content, "re fast");
    ASSERT_TRUE(waitUntil([&] { return count() == 5u; }));
    EXPECT_EQ(contents(), (std::vector<QString>{kGreeting, "slow", "fast", "re fast", "re slow"}));

    const std::vector<Json> bodies = chatBodies();
    ASSERT_EQ(bodies.size(), 2u);
    EXPECT_EQ(bodies[0]["history"].size(), 1u);
    EXPECT_EQ(bodies[1]["history"].size(), 2u);  // greeting and "slow", no reply yet
}

TEST_F(ChatController, AReplyForAScreenThatIsGoneIsDropped) {
    production.on("POST", kChatPath, ScriptedResponse{200, R"({"reply":"late"})", "application/json", {}, 200ms});
    auto gone = std::make_unique<ChatViewModel>();
    gone->setSession(&session);
    gone->setInputText(QStringLiteral("hello"));
    gone->sendMessage();
    ASSERT_TRUE(production.waitForRequests(1));
    gone.reset();
    spinFor(400ms);
    EXPECT_TRUE(session.isLoggedIn());
}

// ---- appearing -----------------------------------------------------------------

TEST_F(ChatController, AppearingGreetsOnceAndRefetchesTheUserEachTime) {
    production.on("GET", kMePath, ScriptedResponse{200, R"({"email":"ann@example.com","role":"user"})"});
    EXPECT_TRUE(vm.headerSubtitle().isEmpty());
    vm.onAppear();
    EXPECT_EQ(contents(), (std::vector<QString>{kGreeting}));  // before the user record arrives
    ASSERT_TRUE(waitUntil([&] { return !vm.headerSubtitle().isEmpty(); }));
    EXPECT_EQ(vm.headerSubtitle(), "ann@example.com");

    production.on("GET", kMePath, ScriptedResponse{503, ""});
    testing.on("GET", kMePath, ScriptedResponse{503, ""});
    vm.onAppear();
    ASSERT_TRUE(waitUntil([&] { return requestsTo(testing, kMePath) == 1; }));
    spinFor(50ms);
    EXPECT_EQ(vm.headerSubtitle(), "ann@example.com");  // a failure leaves it alone
    EXPECT_EQ(contents(), (std::vector<QString>{kGreeting}));
    EXPECT_EQ(requestsTo(production, kMePath), 2u);
    EXPECT_TRUE(session.isLoggedIn());

    production.on("GET", kMePath, ScriptedResponse{401, ""});
    vm.onAppear();
    EXPECT_TRUE(waitUntil([&] { return !session.isLoggedIn(); }));
}

TEST_F(ChatController, AKnownUpdateIsOfferedOnEveryAppearance) {
    settleUpdateChecker("2.5.0");
    resetServers();
    QSignalSpy shown(&vm, &ChatViewModel::showUpdateAlertChanged);
    vm.onAppear();
    EXPECT_TRUE(vm.showUpdateAlert());  // at once, without asking the server again
    EXPECT_EQ(vm.updateInfo(), (AvailableUpdate{"2.5.0", "https://store.example/nimbo"}));
    EXPECT_EQ(vm.updateMessage(), "A newer version of Nimbo Chat (2.5.0) is available.");

    vm.setShowUpdateAlert(false);  // "Later"
    vm.greet();
    vm.onAppear();
    EXPECT_TRUE(vm.showUpdateAlert());
    EXPECT_EQ(shown.count(), 3);
    EXPECT_EQ(contents(), (std::vector<QString>{kGreeting}));
    spinFor(50ms);
    EXPECT_EQ(requestsTo(production, kVersionPath), 0u);
    settleUpdateChecker("1.0.0");
}

TEST_F(ChatController, AnUpdateFoundOnAppearingIsOffered) {
    production.on("GET", kVersionPath, ScriptedResponse{200, versionAnswer("3.0.1"), "application/json", {}, 100ms});
    vm.onAppear();
    EXPECT_FALSE(vm.showUpdateAlert());
    ASSERT_TRUE(waitUntil([&] { return vm.showUpdateAlert(); }));
    EXPECT_EQ(vm.updateInfo()->version, "3.0.1");
    settleUpdateChecker("1.0.0");

    ChatViewModel other;
    other.onAppear();  // nothing newer: nothing offered
    ASSERT_TRUE(waitUntil([&] { return requestsTo(production, kVersionPath) >= 2; }));
    spinFor(100ms);
    EXPECT_FALSE(other.showUpdateAlert());
    EXPECT_FALSE(other.updateInfo().has_value());
}

TEST_F(ChatController, UpdateOpensOnlyAValidStoreUrl) {
    RecordingOpener opener;
    vm.openUpdate();  // nothing known yet
    settleUpdateChecker("2.0.0");
    vm.checkForUpdate();
    vm.openUpdate();
    EXPECT_EQ(opener.opened, QStringList{"https://store.example/nimbo"});

    resetServers();
    productionServer().on("GET", kVersionPath, ScriptedResponse{200, versionAnswer("2.0.1", "not a url")});
    bool done = false;
    UpdateChecker::shared().checkOnLaunch([&done](bool) { done = true; });
    ASSERT_TRUE(waitUntil([&] { return done; }));
    vm.checkForUpdate();
    ASSERT_EQ(vm.updateInfo()->storeUrl, "not a url");
    vm.openUpdate();
    EXPECT_EQ(opener.opened.size(), 1);
    settleUpdateChecker("1.0.0");
}

// ---- on-device test ------------------------------------------------------------

TEST_F(ChatController, OnDeviceTestReportsEachOutcome) {
    const QString loading =
        QStringLiteral("\U0001F504 Loading on-device model (first run may take a moment to download)\u2026");
    struct Case {
        std::string downloadFailure;
        OnDeviceInferResult result;
        QString expected;
    } cases[] = {
        {"disk full", {true, "unused", 1}, QStringLiteral("\u26A0 On-device model download failed: disk full")},
        {"", {false, "On-device inference failed: no memory", 3}, QStringLiteral("\u26A0 On-device inference failed: On-device inference failed: no memory")},
        {"", {true, "Hello!", 1234.9}, QStringLiteral("\u2705 On-device model responded in 1234ms:\nHello!")},
        {"", {true, "Hi.", 0.4}, QStringLiteral("\u2705 On-device model responded in 0ms:\nHi.")},
    };
    vm.setInputText(QStringLiteral("draft"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        model->downloadFailure = c.downloadFailure;
        model->result = c.result;
        const std::size_t before = count();
        vm.runOnDeviceModelTest();
        EXPECT_EQ(last().content, loading);
        ASSERT_TRUE(waitUntil([&] { return count() == before + 2; }));
        EXPECT_EQ(last().content, c.expected);
        EXPECT_EQ(last().role, "assistant");
    }
    EXPECT_EQ(model->prompts, std::vector<std::string>(3, "Say hello in one short sentence."));
    EXPECT_EQ(vm.inputText(), "draft");
    EXPECT_FALSE(vm.isTyping());
    EXPECT_EQ(requestsTo(production, kChatPath), 0u);
}

TEST_F(ChatController, OnDeviceTimesOutsideTheIntegerRangeStayReadable) {
    model->result = {true, "x", -2.7};
    vm.runOnDeviceModelTest();
    ASSERT_TRUE(waitUntil([&] { return count() == 2u; }));
    EXPECT_EQ(last().content, QStringLiteral("\u2705 On-device model responded in -2ms:\nx"));
    model->result = {true, "x", std::numeric_limits<double>::quiet_NaN()};
    vm.runOnDeviceModelTest();
    ASSERT_TRUE(waitUntil([&] { return count() == 4u; }));
    EXPECT_EQ(last().content, QStringLiteral("\u2705 On-device model responded in 0ms:\nx"));
}

}  // namespace
