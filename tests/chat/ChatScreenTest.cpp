// The chat screen in an offscreen window, walked once as a person would: the update
// offer found at launch, a conversation (with the screenshots), the bubbles as a
// screen reader and the keyboard meet them, the send button's long press, a long
// transcript, the pushed screens and the way back, and the alert's hold on the keyboard.
#include "chat/ChatViewModel.h"

#include "ChatTestSupport.h"
#include "QmlScreen.h"

#include <QAccessible>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

using namespace nimbo;
using namespace nimbo::test;
using namespace std::chrono_literals;

namespace {

TEST(ChatScreen, AWalkThroughTheScreen) {
    useAppStyle();
    resetServers();
    settleUpdateChecker("1.0.0");  // nothing known: the screen finds the update itself
    ScriptedServer& production = productionServer();
    production.on("GET", "/api/agent/latest-version", ScriptedResponse{200, R"({"version":"1.1.0","url":"https://store.example/nimbo"})"});
    production.on("GET", "/api/auth/me", ScriptedResponse{200, R"({"email":"demo@nimbo.test","role":"user"})"});
    RecordingOpener opener;
    SignedInChatScreen chat;
    QmlScreen& screen = chat.screen;
    ASSERT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join('\n').toStdString();
    ChatViewModel* vm = chat.vm;
    vm->setOnDeviceModel(std::make_shared<FakeOnDeviceModel>());
    auto item = [&](const char* name) { return qobject_cast<QQuickItem*>(screen.find(name)); };
    QQuickWindow* window = screen.root()->window();
    auto count = [&] { return vm->transcript().messages().size(); };
    auto bubble = [&](int index) {  // the bubble of transcript entry `index`
        QQuickItem* row = nullptr;
        QMetaObject::invokeMethod(item("transcript"), "itemAtIndex", Q_RETURN_ARG(QQuickItem*, row), Q_ARG(int, index));
        return row ? row->findChild<QQuickItem*>("bubble") : nullptr;
    };
    auto alertOpen = [&] { return screen.find("updateAlert")->property("opened").toBool(); };
    auto dismissAlert = [&] {
        ASSERT_TRUE(waitUntil(alertOpen));
        screen.tap("laterButton");
        ASSERT_TRUE(waitUntil([&] { return !screen.find("updateAlert")->property("visible").toBool(); }));
    };

    ASSERT_TRUE(waitUntil(alertOpen));
    EXPECT_EQ(vm->updateMessage(), "A newer version of Nimbo Chat (1.1.0) is available.");
    spinFor(400ms);
    EXPECT_FALSE(screen.render("chat-update-alert").isEmpty());
    dismissAlert();

    production.on("POST", kChatPath, [](const RecordedRequest& r) {
        const std::string message = api::Json::parse(r.body).value("message", std::string());
        if (message.find("weather") != std::string::npos)
            return ScriptedResponse{200, R"({"reply":"late"})", "application/json", {}, 1500ms};
        if (message.find("plan") != std::string::npos)
            return ScriptedResponse{200, R"({"reply":"Here is a plan for your week:\n• Monday — review the launch checklist\n• Wednesday — customer calls\n• Friday — retro and planning"})"};
        return ScriptedResponse{200, R"({"reply":"Sure! I can help with planning, writing and quick questions."})"};
    });
    for (const char* text : {"What can you do?", "Help me plan my week", "What's the weather like tomorrow?"}) {
        ASSERT_TRUE(waitUntil([&] { return !vm->isTyping(); }));
        vm->setInputText(QString::fromUtf8(text));
        vm->sendMessage();
    }
    vm->setInputText(QStringLiteral("Thanks"));
    spinFor(500ms);
    EXPECT_FALSE(screen.render("chat").isEmpty());  // the last answer still on its way

    // In the 390 wide window, Nimbo's bubbles on the left with 40 kept free on their right, the person's on the right.
    auto left = [&](int index) { return bubble(index)->mapToScene(QPointF()).x(); };
    EXPECT_EQ(left(4), 14);
    EXPECT_LE(left(4) + bubble(4)->width(), 390 - 14 - 40);
    EXPECT_GE(left(5), 14 + 40);
    EXPECT_EQ(left(5) + bubble(5)->width(), 390 - 14);
    // A screen reader tells who wrote each bubble; Tab reaches its text, which the keyboard selects.
    auto textOf = [&](int index) { return bubble(index)->findChild<QQuickItem*>("bubbleText"); };
    EXPECT_EQ(QAccessible::queryAccessibleInterface(bubble(0))->text(QAccessible::Name), "Nimbo: " + kGreeting);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(textOf(1))->text(QAccessible::Name), "You: What can you do?");
    item("messageField")->forceActiveFocus();
    for (int i = 0; i < 8 && window->activeFocusItem() != textOf(5); ++i) QTest::keyClick(window, Qt::Key_Backtab, Qt::ShiftModifier);
    QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(textOf(5)->property("selectedText").toString(), "What's the weather like tomorrow?");
    ASSERT_TRUE(waitUntil([&] { return count() == 7u; }));

    // Held for 0.7 s, in real time and in the events' timestamps; then the same press moved away does nothing.
    for (const QPoint move : {QPoint(0, 0), QPoint(-25, 0)}) {
        const QPoint start = item("sendButton")->mapToScene(item("sendButton")->boundingRect().center()).toPoint();
        QTest::mousePress(window, Qt::LeftButton, {}, start, 600);
        QTest::mouseMove(window, start + move, 20);
        spinFor(700ms);
        QTest::mouseRelease(window, Qt::LeftButton, {}, start + move, 700);
        spinFor(200ms);
        ASSERT_TRUE(waitUntil([&] { return count() == 9u; }));
    }
    EXPECT_TRUE(vm->transcript().messages()[8].content.startsWith(QStringLiteral("\u2705 On-device model")));
    EXPECT_EQ(chatBodies().size(), 3u);  // nothing sent: the text stays in the field
    spinFor(500ms);
    const qreal bottom = bubble(8)->mapToItem(item("transcript"), QPointF(0, bubble(8)->height())).y();
    EXPECT_NEAR(bottom, item("transcript")->height() - 30, 30);  // the newest entry in view at the bottom

    // Each menu entry pushes its screen; coming back fetches the user again and offers the update again.
    for (const char* entry : {"creditsEntry", "learningEntry", "deployEntry"}) {
        screen.tap("menuButton");
        ASSERT_TRUE(waitUntil([&] { return item(entry) && item(entry)->isVisible(); }));
        spinFor(300ms);  // the menu's opening transition
        screen.tap(entry);
        ASSERT_TRUE(waitUntil([&] { return screen.root()->property("depth").toInt() == 2; }));
        spinFor(500ms);
        production.on("GET", "/api/auth/me", ScriptedResponse{200, api::Json{{"email", entry}}.dump()});
        QMetaObject::invokeMethod(screen.root(), "goBack");
        ASSERT_TRUE(waitUntil([&] { return vm->headerSubtitle() == entry; }));
        EXPECT_FALSE(vm->showCredits() || vm->showLearningSources() || vm->showSuperAdminDeploy());
        EXPECT_EQ(count(), 9u);  // no second greeting
        dismissAlert();
    }

    // While the alert is open, typing reaches nothing beneath it and Tab stays inside it.
    item("messageField")->forceActiveFocus();
    vm->setShowUpdateAlert(true);
    ASSERT_TRUE(waitUntil(alertOpen));
    QQuickItem* alert = screen.find("updateAlert")->property("contentItem").value<QQuickItem*>()->parentItem();
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(window, Qt::Key_X);
        QTest::keyClick(window, Qt::Key_Tab);
        EXPECT_TRUE(alert->isAncestorOf(window->activeFocusItem())) << i;
    }
    EXPECT_EQ(vm->inputText(), "Thanks");
    for (int i = 0; i < 4 && !item("updateButton")->hasActiveFocus(); ++i) QTest::keyClick(window, Qt::Key_Tab);
    QTest::keyClick(window, Qt::Key_Space);
    ASSERT_TRUE(waitUntil([&] { return !alertOpen(); }));
    EXPECT_EQ(opener.opened, QStringList{"https://store.example/nimbo"});
    settleUpdateChecker("1.2.0", "not a url");  // only a web address is opened
    vm->checkForUpdate();
    vm->openUpdate();
    EXPECT_EQ(opener.opened.size(), 1);
    EXPECT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join('\n').toStdString();
}

}  // namespace

namespace {

// A failed send offers "Send again" under its notice: by keyboard it sends the same
// request (message, history, conversation id and key), is disabled meanwhile, and
// the reply appears once, the offer gone.
TEST(ChatScreen, AFailedSendIsSentAgainByKeyboard) {
    resetServers();
    settleUpdateChecker("1.0.0");
    ScriptedServer& production = productionServer();
    production.on("POST", kChatPath, ScriptedResponse{500, "{}"});
    testServer().on("POST", kChatPath, ScriptedResponse{503, "{}"});
    SignedInChatScreen chat;
    QmlScreen& screen = chat.screen;
    ChatViewModel* vm = chat.vm;
    QQuickWindow* window = screen.root()->window();
    auto sendAgain = [&] {
        QQuickItem* row = nullptr;
        QMetaObject::invokeMethod(screen.find("transcript"), "itemAtIndex", Q_RETURN_ARG(QQuickItem*, row), Q_ARG(int, 2));
        auto* button = row ? row->findChild<QQuickItem*>("sendAgainButton") : nullptr;
        return button && button->isVisible() ? button : nullptr;
    };
    auto sent = [&] {
        std::vector<std::pair<std::string, api::Json>> all;
        for (const RecordedRequest& r : production.requests())
            if (r.path == kChatPath) all.emplace_back(r.header("idempotency-key"), api::Json::parse(r.body));
        return all;
    };

    vm->setInputText(QStringLiteral("Plan my week"));
    vm->sendMessage();
    ASSERT_TRUE(waitUntil([&] { return sendAgain() != nullptr; }));
    EXPECT_EQ(vm->transcript().messages()[2].content.left(2), QStringLiteral("\u26A0 "));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(sendAgain())->text(QAccessible::Name), "Send again");
    production.on("POST", kChatPath, ScriptedResponse{200, R"({"reply":"Done.","conversationId":"c-1"})", "application/json", {}, 400ms});
    sendAgain()->forceActiveFocus(Qt::TabFocusReason);
    QTest::keyClick(window, Qt::Key_Return);
    EXPECT_FALSE(sendAgain()->isEnabled());  // while it runs; the keyboard goes back to the notice
    EXPECT_EQ(window->activeFocusItem()->objectName(), "bubbleText");
    ASSERT_TRUE(waitUntil([&] { return vm->transcript().messages().size() == 4; }));
    EXPECT_EQ(vm->transcript().messages()[3].content, "Done.");
    EXPECT_EQ(sendAgain(), nullptr);
    const auto requests = sent();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], requests[1]);  // the same key and the same body
    EXPECT_FALSE(requests[0].first.empty());
    EXPECT_EQ(requests[1].second["history"].size(), 1u);  // the greeting, as when it failed
    spinFor(300ms);
    EXPECT_EQ(vm->transcript().messages().size(), 4u);  // shown once
}

}  // namespace
