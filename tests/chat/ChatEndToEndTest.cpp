// The chat screen's controller against the real stand-in service.
#include "chat/ChatViewModel.h"

#include "api/NimboApi.h"
#include "api/ServiceEndpoints.h"
#include "platform/http/CookieJar.h"

#include "ServiceDriver.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

using namespace nimbo;
using namespace std::chrono_literals;

namespace {

TEST(ChatEndToEnd, TwoMessagesShareOneConversationAndARefusedSessionSignsOut) {
    api::NimboApi::shared().login("demo@nimbo.test", "demo-password-1");
    SessionStore session;
    session.setIsLoggedIn(true);
    ChatViewModel vm;
    vm.setSession(&session);
    vm.onAppear();
    auto last = [&] { return vm.transcript().messages().back().content; };
    auto send = [&](const QString& text) {
        const std::size_t before = vm.transcript().messages().size();
        vm.setInputText(text);
        vm.sendMessage();
        return test::waitUntil([&] { return vm.transcript().messages().size() == before + 2; }, 15s);
    };
    ASSERT_TRUE(send(QStringLiteral("  Hello Nimbo  ")));
    EXPECT_TRUE(last().startsWith(QStringLiteral("You said:\n\n> Hello Nimbo\n\nI saw **1 earlier turn**."))) << last().toStdString();
    const auto conversation = vm.conversationId();
    ASSERT_TRUE(conversation.has_value());
    ASSERT_TRUE(send(QStringLiteral("And a second one")));
    EXPECT_TRUE(last().startsWith(QStringLiteral("You said:\n\n> And a second one\n\nI saw **3 earlier turns**."))) << last().toStdString();
    EXPECT_TRUE(last().contains(QStringLiteral("Before that you said: \u201CHello Nimbo\u201D"))) << last().toStdString();
    EXPECT_EQ(vm.conversationId(), conversation);

    platform::http::CookieJar::shared().clear();
    vm.setInputText(QStringLiteral("Anyone there?"));
    vm.sendMessage();
    ASSERT_TRUE(test::waitUntil([&] { return !session.isLoggedIn(); }, 15s));
    test::spinFor(100ms);
    EXPECT_EQ(last(), "Anyone there?");  // no notice
}

// In front of one instance of the service: passes chat requests on and, while `losing` is set,
// drops the connection half-way through the answer the service gave, as a failing network would.
struct LossyGateway {
    LossyGateway(const std::string& service, const std::atomic<bool>& losing) {
        server.on("POST", "/api/chat/orc", [service, &losing](const test::RecordedRequest& r) {
            httplib::Headers headers;
            for (const char* name : {"cookie", "idempotency-key"})
                if (r.hasHeader(name)) headers.emplace(name, r.header(name));
            const auto answer = httplib::Client(service).Post(r.target, headers, r.body, "application/json");
            if (!answer) return test::ScriptedResponse{502, ""};
            return test::ScriptedResponse{answer->status, answer->body, "application/json", {}, {}, losing.load()};
        });
    }
    test::ScriptedServer server;
};

// Both bases lose the answer after the service answered (and charged): the notice's "Send
// again" repeats the request under its key, and the service answers it from what it kept.
TEST(ChatEndToEnd, ASendWhoseAnswerWasLostIsSentAgainAnsweredOnceAndChargedOnce) {
    api::NimboApi::shared().login("demo@nimbo.test", "demo-password-1");
    const auto database = test::scratchDir() / "service" / "nimbo-service.db";
    const auto query = [&](const std::string& sql) { return service_driver::queryDatabase(database, sql).value_or("-"); };
    const std::string balance = "SELECT balance FROM users WHERE email = 'demo@nimbo.test'";
    const std::string before = query(balance);
    std::atomic<bool> losing = true;
    const auto& bases = api::ServiceEndpoints::current().apiBases;
    LossyGateway production(bases[0], losing), testing(bases[1], losing);
    SessionStore session;
    session.setIsLoggedIn(true);
    ChatViewModel vm;
    vm.setSession(&session);
    vm.setApi(std::make_shared<api::NimboApi>(std::vector{production.server.base(), testing.server.base()}));
    vm.greet();
    const auto& messages = vm.transcript().messages();
    vm.setInputText(QStringLiteral("Lost and found"));
    vm.sendMessage();
    ASSERT_TRUE(test::waitUntil([&] { return messages.size() == 3; }, 15s));
    EXPECT_EQ(messages.back().content, QStringLiteral("\u26A0 ") + QString::fromUtf8(api::kNetworkErrorText));
    EXPECT_EQ(std::stoll(before) - std::stoll(query(balance)), 1);  // answered, though the answer was lost

    losing = false;
    vm.resend(2);
    ASSERT_TRUE(test::waitUntil([&] { return messages.size() == 4; }, 15s));
    EXPECT_TRUE(messages.back().content.startsWith(QStringLiteral("You said:\n\n> Lost and found\n\n")))
        << messages.back().content.toStdString();
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(), [&](const ChatMessage& m) { return m.content == messages.back().content; }), 1);
    ASSERT_TRUE(vm.conversationId().has_value());
    EXPECT_EQ(query("SELECT COUNT(*) FROM turns WHERE conversation_id = '" + *vm.conversationId() + "'"), "2");
    EXPECT_EQ(std::stoll(before) - std::stoll(query(balance)), 1);
    const auto keys = [](const test::ScriptedServer& gateway) {
        std::vector<std::string> seen;
        for (const auto& r : gateway.requests()) seen.push_back(r.header("idempotency-key"));
        return seen;
    };
    const std::vector<std::string> sent = keys(production.server);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent, std::vector<std::string>(2, keys(testing.server).at(0)));
}

}  // namespace
