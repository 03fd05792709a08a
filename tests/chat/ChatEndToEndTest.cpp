// The chat screen's controller against the real stand-in service.
#include "chat/ChatViewModel.h"

#include "api/NimboApi.h"
#include "platform/http/CookieJar.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

using namespace nimbo;
using namespace std::chrono_literals;

namespace {

class ChatEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        test::resetServers();
        api::NimboApi::shared().login("demo@nimbo.test", "demo-password-1");
        session.setIsLoggedIn(true);
        vm.setSession(&session);
        vm.onAppear();
    }

    std::size_t count() const { return vm.transcript().messages().size(); }
    QString last() const { return vm.transcript().messages().back().content; }
    void send(const QString& text) {
        const std::size_t before = count();
        vm.setInputText(text);
        vm.sendMessage();
        ASSERT_TRUE(test::waitUntil([&] { return count() == before + 2; }, 15s)) << last().toStdString();
    }

    SessionStore session;
    ChatViewModel vm;
};

TEST_F(ChatEndToEnd, TwoMessagesShareOneConversation) {
    ASSERT_TRUE(test::waitUntil([&] { return vm.headerSubtitle() == "demo@nimbo.test"; }, 15s));
    send(QStringLiteral("  Hello Nimbo  "));
    EXPECT_TRUE(last().startsWith(QStringLiteral("You said: \u201CHello Nimbo\u201D (I saw 1 earlier turn)")))
        << last().toStdString();
    ASSERT_TRUE(vm.conversationId().has_value());
    const std::string conversation = *vm.conversationId();

    send(QStringLiteral("And a second one"));
    EXPECT_TRUE(last().startsWith(QStringLiteral("You said: \u201CAnd a second one\u201D (I saw 3 earlier turns)")))
        << last().toStdString();
    EXPECT_TRUE(last().contains(QStringLiteral("Before that you said: \u201CHello Nimbo\u201D"))) << last().toStdString();
    EXPECT_EQ(vm.conversationId(), conversation);
    EXPECT_TRUE(session.isLoggedIn());
}

TEST_F(ChatEndToEnd, ARefusedSessionSignsOut) {
    ASSERT_TRUE(test::waitUntil([&] { return vm.headerSubtitle() == "demo@nimbo.test"; }, 15s));
    platform::http::CookieJar::shared().clear();
    vm.setInputText(QStringLiteral("Anyone there?"));
    vm.sendMessage();
    ASSERT_TRUE(test::waitUntil([&] { return !session.isLoggedIn(); }, 15s));
    test::spinFor(100ms);
    EXPECT_EQ(last(), "Anyone there?");  // no notice
    EXPECT_FALSE(vm.isTyping());
}

}  // namespace
