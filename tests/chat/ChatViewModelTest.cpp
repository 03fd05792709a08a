// The chat screen's controller against the scripted servers. The update offer, the
// return to the screen and the send button's gestures are driven on the screen itself
// (ChatScreenTest); a refused session on sending, end to end (ChatEndToEndTest).
#include "chat/ChatViewModel.h"

#include "api/NimboApiError.h"

#include "ChatTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <regex>

using namespace nimbo;
using namespace nimbo::test;
using namespace std::chrono_literals;
using api::Json;

namespace {

class ChatController : public ::testing::Test {
protected:
    void SetUp() override {
        resetServers();
        session.setIsLoggedIn(true);
        vm.setSession(&session);
        vm.setOnDeviceModel(model);
    }
    const ChatMessage& last() const { return vm.transcript().messages().back(); }
    // Whether entry `row` offers "Send again" (or is sending again), as the screen reads it.
    bool offersResend(std::size_t row, int role = ChatMessageModel::CanResendRole) {
        return vm.messages()->data(vm.messages()->index(static_cast<int>(row)), role).toBool();
    }
    std::size_t count() const { return vm.transcript().messages().size(); }
    // Types `text`, sends it and waits until its answer (reply or notice) is in.
    void exchange(const QString& text) {
        const std::size_t before = count();
        vm.setInputText(text);
        vm.sendMessage();
        EXPECT_TRUE(vm.inputText().isEmpty());
        EXPECT_TRUE(vm.isTyping());
        ASSERT_TRUE(waitUntil([&] { return count() == before + 2; }));
    }

    ScriptedServer& production = productionServer();
    SessionStore session;
    ChatViewModel vm;
    std::shared_ptr<FakeOnDeviceModel> model = std::make_shared<FakeOnDeviceModel>();
};

// The first exchange adopts "c-1", the sixth "c-2"; replies without a (text) id keep the last one.
TEST_F(ChatController, SendsTrimmedTextWithTheTwentyEntriesBeforeItAndKeepsTheConversationId) {
    vm.setInputText(QStringLiteral(" \t\n\r\n "));
    vm.sendMessage();
    EXPECT_EQ(count(), 0u);  // never a blank message
    vm.greet();
    for (int i = 0; i < 10; ++i) {
        scriptEcho(i == 0 ? "c-1" : i == 5 ? "c-2" : "");
        exchange(QStringLiteral("  %1 \n").arg(i));
    }
    production.on("POST", kChatPath, ScriptedResponse{422, R"({"error":"Too long"})"});
    exchange(QStringLiteral("refused"));
    production.on("POST", kChatPath, ScriptedResponse{200, R"({"reply":"","conversationId":7})"});
    exchange(QStringLiteral("last"));
    EXPECT_EQ(last().content, "");  // an empty reply is still an entry
    exchange(QStringLiteral("after"));

    const std::vector<Json> bodies = chatBodies();
    EXPECT_EQ(bodies[0]["message"], "0");
    for (std::size_t i = 0; i < bodies.size(); ++i)
        EXPECT_EQ(bodies[i].value("conversationId", Json()), i == 0 ? Json() : Json(i <= 5 ? "c-1" : "c-2")) << i;
    const Json history = bodies[11]["history"];  // sent with "last"
    ASSERT_EQ(history.size(), 20u);
    for (std::size_t i = 0; i < 20; ++i) {
        const ChatMessage& entry = vm.transcript().messages()[23 - 20 + i];
        EXPECT_EQ(history[i], (Json{{"role", entry.role.toStdString()}, {"content", entry.content.toStdString()}})) << i;
    }
}

TEST_F(ChatController, FailuresBecomeWarningEntriesAndAnUnauthorizedUserLookupSignsOut) {
    ScriptedServer& testing = testServer();
    const ScriptedResponse cut{200, "{}", "application/json", {}, {}, true};
    const struct { ScriptedResponse production, testing; QString expected; } cases[] = {
        {{402, R"({"error":"Out of credits"})"}, {}, "Out of credits"},
        {{500, ""}, {502, ""}, QString::fromStdString("502 from " + testing.base())},
        {cut, cut, QString::fromUtf8(api::kNetworkErrorText)},
        {{200, "[1,2]"}, {}, "Empty response from /api/chat/orc."},
        {{400, R"({"error":""})"}, {}, "Something went wrong."},
    };
    for (const auto& c : cases) {
        production.on("POST", kChatPath, c.production);
        testing.on("POST", kChatPath, c.testing);
        exchange(QStringLiteral("question"));
        EXPECT_EQ(last().role, "assistant");
        EXPECT_EQ(last().content, QStringLiteral("\u26A0 ") + c.expected);
        EXPECT_TRUE(offersResend(count() - 1));
        EXPECT_FALSE(vm.isTyping());
    }
    EXPECT_TRUE(session.isLoggedIn());
    production.on("GET", "/api/auth/me", ScriptedResponse{401, ""});
    vm.onAppear();
    EXPECT_TRUE(waitUntil([&] { return !session.isLoggedIn(); }));
}

// A failed send is sent again from its notice exactly as it first went (same key, message,
// history and conversation id, even after a later exchange), with the typing row; a second
// failure moves the offer to a new notice, a reply ends it, and a refused session signs out.
TEST_F(ChatController, AFailedSendIsSentAgainUnchangedFromItsNotice) {
    const auto chatRequests = [&] {
        std::vector<std::pair<std::string, Json>> sent;  // key, body
        for (const RecordedRequest& r : production.requests())
            if (r.path == kChatPath) sent.emplace_back(r.header("idempotency-key"), Json::parse(r.body));
        return sent;
    };
    const auto fail = [&](int status) {
        production.on("POST", kChatPath, ScriptedResponse{status, ""});
        testServer().on("POST", kChatPath, ScriptedResponse{status, ""});
    };
    const auto resend = [&](std::size_t row, std::size_t entriesAfter) {
        vm.resend(static_cast<int>(row));
        EXPECT_TRUE(vm.isTyping() && offersResend(row, ChatMessageModel::IsResendingRole));
        vm.resend(static_cast<int>(row));  // no second send while one is under way
        ASSERT_TRUE(waitUntil([&] { return count() == entriesAfter && !vm.isTyping(); }));
        EXPECT_FALSE(offersResend(row));
    };
    vm.greet();
    scriptEcho("c-1");
    exchange(QStringLiteral("first"));
    fail(503);
    exchange(QStringLiteral("lost"));  // the notice is row 4
    scriptEcho("c-2");
    exchange(QStringLiteral("later"));
    fail(502);
    resend(4, 8);
    EXPECT_TRUE(offersResend(7));
    scriptEcho();
    resend(7, 9);
    EXPECT_EQ(last().content, "echo: lost");
    for (std::size_t row = 0; row < count(); ++row) EXPECT_FALSE(offersResend(row)) << row;
    EXPECT_EQ(vm.conversationId(), "c-2");

    const auto sent = chatRequests();
    ASSERT_EQ(sent.size(), 5u);
    const std::regex uuid4("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    for (const std::size_t i : {0, 1, 2}) EXPECT_TRUE(std::regex_match(sent[i].first, uuid4)) << sent[i].first;
    EXPECT_TRUE(sent[0].first != sent[1].first && sent[1].first != sent[2].first);
    for (const std::size_t i : {3, 4}) EXPECT_EQ(sent[i], sent[1]) << i;
    EXPECT_EQ(sent[1].second["conversationId"], "c-1");
    EXPECT_EQ(sent[1].second["history"].size(), 3u);

    vm.resend(4);  // offers nothing any more
    vm.resend(-1);
    vm.resend(static_cast<int>(count()));
    fail(503);
    exchange(QStringLiteral("again"));
    production.on("POST", kChatPath, ScriptedResponse{401, ""});
    vm.resend(static_cast<int>(count() - 1));
    ASSERT_TRUE(waitUntil([&] { return !session.isLoggedIn(); }));
    EXPECT_EQ(count(), 11u);
    EXPECT_EQ(chatRequests().size(), 7u);
}

TEST_F(ChatController, OnDeviceTestReportsEachOutcome) {
    const struct { std::string downloadFailure; OnDeviceInferResult result; QString expected; } cases[] = {
        {"disk full", {true, "unused", 1}, QStringLiteral("\u26A0 On-device model download failed: disk full")},
        {"", {false, "no memory", 3}, QStringLiteral("\u26A0 On-device inference failed: no memory")},
        {"", {true, "Hello!", 1234.9}, QStringLiteral("\u2705 On-device model responded in 1234ms:\nHello!")},
        {"", {true, "x", std::nan("")}, QStringLiteral("\u2705 On-device model responded in 0ms:\nx")},
    };
    for (const auto& c : cases) {
        model->downloadFailure = c.downloadFailure;
        model->result = c.result;
        const std::size_t before = count();
        vm.runOnDeviceModelTest();
        EXPECT_EQ(last().content, QStringLiteral("\U0001F504 Loading on-device model (first run may take a moment to "
                                                 "download)\u2026"));
        ASSERT_TRUE(waitUntil([&] { return count() == before + 2; }));
        EXPECT_EQ(last().content, c.expected);
        EXPECT_FALSE(offersResend(count() - 1));
    }
    EXPECT_EQ(model->prompts, std::vector<std::string>(3, "Say hello in one short sentence."));
}

}  // namespace
