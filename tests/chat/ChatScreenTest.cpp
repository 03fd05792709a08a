// The chat screen in an offscreen window: the send button's gestures, the bubbles and
// scrolling, the pushed screens, the update alert and its hold on the keyboard, and
// the screenshots.
#include "chat/ChatViewModel.h"

#include "ChatTestSupport.h"
#include "QmlScreen.h"

#include <QAccessible>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

using namespace nimbo;
using namespace nimbo::test;
using namespace std::chrono_literals;

namespace {

class ChatScreen : public ::testing::Test {
protected:
    void load(const std::string& version = "1.0.0") {
        // The app's style settings (its qtquickcontrols2.conf), read when QML first loads.
        ::setenv("QT_QUICK_CONTROLS_MATERIAL_ACCENT", "#D4A34A", 0);
        ::setenv("QT_QUICK_CONTROLS_MATERIAL_PRIMARY", "#1C1C1E", 0);
        ::setenv("QT_QUICK_CONTROLS_MATERIAL_BACKGROUND", "#000000", 0);
        ::setenv("QT_QUICK_CONTROLS_MATERIAL_FOREGROUND", "#FFFFFF", 0);
        resetServers();
        settleUpdateChecker(version);
        production.on("GET", kMePath, ScriptedResponse{200, R"({"email":"demo@nimbo.test","role":"user"})"});
        session.setIsLoggedIn(true);
        screen = std::make_unique<QmlScreen>(R"(
            import QtQuick
            import QtQuick.Controls
            import Nimbo.Chat
            StackView {
                id: stack
                property var session
                initialItem: ChatView { session: stack.session }
                function goBack() { stack.pop() }
            })",
                                             QVariantMap{{"session", QVariant::fromValue(&session)}});
        ASSERT_TRUE(screen->warnings().isEmpty()) << screen->warnings().join('\n').toStdString();
        vm = qobject_cast<ChatViewModel*>(screen->find("chatView")->property("viewModel").value<QObject*>());
        vm->setOnDeviceModel(model);
        ASSERT_TRUE(waitUntil([&] { return vm->headerSubtitle() == "demo@nimbo.test"; }));
    }
    void TearDown() override { settleUpdateChecker("1.0.0"); }

    QQuickItem* item(const char* name) const { return qobject_cast<QQuickItem*>(screen->find(name)); }
    QQuickWindow* window() const { return screen->root()->window(); }
    QPoint centerOf(const QQuickItem* it) const { return it->mapToScene(it->boundingRect().center()).toPoint(); }
    void tap(const char* name) { QTest::mouseClick(window(), Qt::LeftButton, {}, centerOf(item(name))); }
    std::size_t count() const { return vm->transcript().messages().size(); }
    // The bubbles the list has built, top to bottom.
    std::vector<QQuickItem*> bubbles() const {
        std::vector<QQuickItem*> found;
        for (QQuickItem* row : item("transcript")->property("contentItem").value<QQuickItem*>()->childItems())
            if (auto* b = row->findChild<QQuickItem*>("bubble"); b && row->isVisible()) found.push_back(b);
        std::sort(found.begin(), found.end(), [](auto* a, auto* b) { return a->mapToScene({}).y() < b->mapToScene({}).y(); });
        return found;
    }
    bool alertOpen() const { return screen->find("updateAlert")->property("opened").toBool(); }
    void dismissAlert() {
        ASSERT_TRUE(waitUntil([&] { return alertOpen(); }));
        tap("laterButton");
        ASSERT_TRUE(waitUntil([&] { return !screen->find("updateAlert")->property("visible").toBool(); }));
        EXPECT_FALSE(vm->showUpdateAlert());
    }

    ScriptedServer& production = productionServer();
    SessionStore session;
    std::unique_ptr<QmlScreen> screen;
    ChatViewModel* vm = nullptr;
    std::shared_ptr<FakeOnDeviceModel> model = std::make_shared<FakeOnDeviceModel>();
};

TEST_F(ChatScreen, SendTapsLongPressesAndBubblesOnTheirSide) {
    load();
    scriptEcho("c-9");
    EXPECT_FALSE(item("sendButton")->isEnabled());
    tap("sendButton");
    vm->setInputText(QString(40, QLatin1Char('w')).repeated(10).replace(QStringLiteral("wwwwwwwww"), "wwwwwwwww "));
    tap("sendButton");
    ASSERT_TRUE(waitUntil([&] { return count() == 3u; }));
    EXPECT_TRUE(item("messageField")->property("text").toString().isEmpty());
    spinFor(400ms);
    const qreal width = screen->root()->width();
    const std::vector<QQuickItem*> rows = bubbles();
    ASSERT_EQ(rows.size(), 3u);
    auto left = [](QQuickItem* b) { return b->mapToScene(QPointF()).x(); };
    EXPECT_EQ(left(rows[0]), 14);  // the greeting, on the left, with 40 kept free on its right
    EXPECT_LE(left(rows[0]) + rows[0]->width(), width - 14 - 40);
    EXPECT_GE(left(rows[1]), 14 + 40);  // the long user message, on the right, wrapped
    EXPECT_EQ(left(rows[1]) + rows[1]->width(), width - 14);
    EXPECT_GT(rows[1]->height(), 100);
    // A screen reader tells who wrote each bubble; Tab reaches its text, which the keyboard selects.
    auto textOf = [&](int row) { return rows[row]->findChild<QQuickItem*>("bubbleText"); };
    EXPECT_EQ(QAccessible::queryAccessibleInterface(textOf(0))->text(QAccessible::Name), "Nimbo: " + kGreeting);
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(textOf(1))->text(QAccessible::Name).startsWith("You: www"));
    item("messageField")->forceActiveFocus();
    for (int i = 0; i < 8 && window()->activeFocusItem() != textOf(2); ++i) QTest::keyClick(window(), Qt::Key_Backtab, Qt::ShiftModifier);
    QTest::keyClick(window(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(textOf(2)->property("selectedText").toString(), vm->transcript().messages()[2].content);

    vm->setInputText(QStringLiteral("kept"));
    // Held for 0.7 s, in real time and in the events' timestamps; then the same press moved away does nothing.
    for (const QPoint move : {QPoint(0, 0), QPoint(-25, 0)}) {
        const QPoint start = centerOf(item("sendButton"));
        QTest::mousePress(window(), Qt::LeftButton, {}, start, 600);
        QTest::mouseMove(window(), start + move, 20);
        spinFor(700ms);
        QTest::mouseRelease(window(), Qt::LeftButton, {}, start + move, 700);
        spinFor(200ms);
        ASSERT_TRUE(waitUntil([&] { return count() == 5u; }));
    }
    EXPECT_TRUE(vm->transcript().messages()[4].content.startsWith(QStringLiteral("\u2705 On-device model")));
    EXPECT_EQ(vm->inputText(), "kept");
    EXPECT_EQ(bodiesTo().size(), 1u);

    for (int i = 0; i < 30; ++i) vm->sendMessage(), vm->setInputText(QStringLiteral("message %1").arg(i));
    ASSERT_TRUE(waitUntil([&] { return count() == 65u; }));
    spinFor(500ms);
    QQuickItem* list = item("transcript");
    EXPECT_LT(bubbles().size(), 40u);  // built lazily
    const qreal bottom = bubbles().back()->mapToItem(list, QPointF(0, bubbles().back()->height())).y();
    EXPECT_LE(bottom, list->height());  // the last entry in view at the bottom
    EXPECT_GT(bottom, list->height() - 60);
}

TEST_F(ChatScreen, MenuPushesEachScreenComingBackOffersTheUpdateAgainAndTheAlertHoldsTheKeyboard) {
    RecordingOpener opener;
    load("4.0.0");
    dismissAlert();
    for (const char* entry : {"creditsEntry", "learningEntry", "deployEntry"}) {
        tap("menuButton");
        ASSERT_TRUE(waitUntil([&] { return item(entry) && item(entry)->isVisible(); }));
        spinFor(300ms);  // the menu's opening transition
        tap(entry);
        ASSERT_TRUE(waitUntil([&] { return screen->root()->property("depth").toInt() == 2; }));
        spinFor(500ms);
        production.on("GET", kMePath, ScriptedResponse{200, api::Json{{"email", entry}}.dump()});
        QMetaObject::invokeMethod(screen->root(), "goBack");
        ASSERT_TRUE(waitUntil([&] { return vm->headerSubtitle() == entry; }));  // the user record again
        EXPECT_FALSE(vm->showCredits() || vm->showLearningSources() || vm->showSuperAdminDeploy());
        EXPECT_EQ(count(), 1u);  // no second greeting
        dismissAlert();          // offered again
    }

    // While the alert is open, typing reaches nothing beneath it and Tab stays inside it.
    item("messageField")->forceActiveFocus();
    QTest::keyClick(window(), Qt::Key_H);
    QTest::keyClick(window(), Qt::Key_I);
    vm->setShowUpdateAlert(true);
    ASSERT_TRUE(waitUntil([&] { return alertOpen(); }));
    QQuickItem* alert = screen->find("updateAlert")->property("contentItem").value<QQuickItem*>()->parentItem();
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(window(), Qt::Key_X);
        QTest::keyClick(window(), Qt::Key_Tab);
        EXPECT_TRUE(alert->isAncestorOf(window()->activeFocusItem())) << i;
    }
    EXPECT_EQ(vm->inputText(), "hi");
    for (int i = 0; i < 4 && !item("updateButton")->hasActiveFocus(); ++i) QTest::keyClick(window(), Qt::Key_Tab);
    QTest::keyClick(window(), Qt::Key_Space);
    ASSERT_TRUE(waitUntil([&] { return !alertOpen(); }));
    EXPECT_EQ(opener.opened, QStringList{"https://store.example/nimbo"});
    EXPECT_TRUE(screen->warnings().isEmpty()) << screen->warnings().join('\n').toStdString();
}

TEST_F(ChatScreen, Screenshots) {
    load("1.1.0");
    production.on("POST", kChatPath, [](const RecordedRequest& r) {
        const std::string message = api::Json::parse(r.body).value("message", std::string());
        if (message.find("weather") != std::string::npos)
            return ScriptedResponse{200, R"({"reply":"late"})", "application/json", {}, 3s};
        if (message.find("plan") != std::string::npos)
            return ScriptedResponse{200, R"({"reply":"Here is a plan for your week:\n• Monday — review the launch checklist\n• Wednesday — customer calls\n• Friday — retro and planning"})"};
        return ScriptedResponse{200, R"({"reply":"Sure! I can help with planning, writing and quick questions."})"};
    });
    ASSERT_TRUE(waitUntil([&] { return alertOpen(); }));
    spinFor(400ms);
    EXPECT_FALSE(screen->render("chat-update-alert").isEmpty());
    dismissAlert();
    for (const char* text : {"What can you do?", "Help me plan my week", "What's the weather like tomorrow?"}) {
        const std::size_t before = count();
        vm->setInputText(QString::fromUtf8(text));
        vm->sendMessage();
        if (QString::fromUtf8(text).contains("weather")) break;
        ASSERT_TRUE(waitUntil([&] { return count() == before + 2; }));
    }
    vm->setInputText(QStringLiteral("Thanks"));
    spinFor(500ms);
    EXPECT_FALSE(screen->render("chat").isEmpty());
}

}  // namespace
