// The chat screen's controller against the real stand-in service.
#include "chat/ChatViewModel.h"

#include "api/NimboApi.h"
#include "platform/http/CookieJar.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

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
    EXPECT_TRUE(last().startsWith(QStringLiteral("You said: \u201CHello Nimbo\u201D (I saw 1 earlier turn)"))) << last().toStdString();
    const auto conversation = vm.conversationId();
    ASSERT_TRUE(conversation.has_value());
    ASSERT_TRUE(send(QStringLiteral("And a second one")));
    EXPECT_TRUE(last().startsWith(QStringLiteral("You said: \u201CAnd a second one\u201D (I saw 3 earlier turns)"))) << last().toStdString();
    EXPECT_TRUE(last().contains(QStringLiteral("Before that you said: \u201CHello Nimbo\u201D"))) << last().toStdString();
    EXPECT_EQ(vm.conversationId(), conversation);

    platform::http::CookieJar::shared().clear();
    vm.setInputText(QStringLiteral("Anyone there?"));
    vm.sendMessage();
    ASSERT_TRUE(test::waitUntil([&] { return !session.isLoggedIn(); }, 15s));
    test::spinFor(100ms);
    EXPECT_EQ(last(), "Anyone there?");  // no notice
}

}  // namespace
