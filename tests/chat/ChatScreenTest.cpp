// The chat screen in an offscreen window: loading, layout, the send button's
// gestures, the pushed screens and the update alert, and its screenshots.
#include "chat/ChatViewModel.h"

#include "ChatTestSupport.h"
#include "QmlScreen.h"

#include <QQuickItem>
#include <QRegularExpression>
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

const QString kScreen = QStringLiteral(R"(
import QtQuick
import QtQuick.Controls
import Nimbo.Session
import Nimbo.Chat

StackView {
    id: stack
    property SessionStore session
    initialItem: ChatView { session: stack.session }
    function goBack() { stack.pop() }
}
)");

class ChatScreen : public ::testing::Test {
protected:
    void SetUp() override {
        // The app's style settings (its qtquickcontrols2.conf), read when QML first loads.
        ::setenv("QT_QUICK_CONTROLS_MATERIAL_ACCENT", "#D4A34A", 0);
        ::setenv("QT_QUICK_CONTROLS_MATERIAL_PRIMARY", "#1C1C1E", 0);
        ::setenv("QT_QUICK_CONTROLS_MATERIAL_BACKGROUND", "#000000", 0);
        ::setenv("QT_QUICK_CONTROLS_MATERIAL_FOREGROUND", "#FFFFFF", 0);
        resetServers();
        settleUpdateChecker("1.0.0");
        resetServers();
        production.on("GET", kMePath, ScriptedResponse{200, R"({"email":"demo@nimbo.test","role":"user"})"});
        session.setIsLoggedIn(true);
    }
    void TearDown() override { settleUpdateChecker("1.0.0"); }

    // Loads the screen inside a navigation stack, as the signed-in root does.
    void load() {
        screen = std::make_unique<QmlScreen>(kScreen, QVariantMap{{"session", QVariant::fromValue(&session)}});
        ASSERT_NE(screen->root(), nullptr) << screen->warnings().join('\n').toStdString();
        vm = qobject_cast<ChatViewModel*>(screen->find("chatView")->property("viewModel").value<QObject*>());
        ASSERT_NE(vm, nullptr);
        vm->setOnDeviceModel(model);
        ASSERT_TRUE(waitUntil([&] { return vm->headerSubtitle() == "demo@nimbo.test"; }));
    }

    QQuickItem* item(const char* name) const { return qobject_cast<QQuickItem*>(screen->find(name)); }
    QQuickItem* typingRow() const {
        std::vector<QQuickItem*> found;
        collect(item("transcript"), "typingRow", found);
        return found.empty() ? nullptr : found.front();
    }
    // Items of the visual tree below `from` named `name` (list delegates are not QObject children).
    static void collect(QQuickItem* from, const QString& name, std::vector<QQuickItem*>& found) {
        for (QQuickItem* child : from->childItems()) {
            if (child->objectName() == name) found.push_back(child);
            collect(child, name, found);
        }
    }
    QQuickWindow* window() const { return screen->root()->window(); }
    QPoint centerOf(const QQuickItem* it) const {
        return it->mapToScene(QPointF(it->width() / 2, it->height() / 2)).toPoint();
    }
    void tap(const QQuickItem* it) { QTest::mouseClick(window(), Qt::LeftButton, {}, centerOf(it)); }
    int depth() const { return screen->root()->property("depth").toInt(); }
    std::size_t count() const { return vm->transcript().messages().size(); }

    // The bubbles of the message rows the list has built, top to bottom.
    std::vector<QQuickItem*> bubbles() const {
        std::vector<QQuickItem*> found;
        collect(item("transcript"), "bubble", found);
        std::erase_if(found, [](QQuickItem* b) { return !b->isVisible(); });
        std::sort(found.begin(), found.end(), [](QQuickItem* a, QQuickItem* b) {
            return a->mapToScene(QPointF()).y() < b->mapToScene(QPointF()).y();
        });
        return found;
    }

    ScriptedServer& production = productionServer();
    SessionStore session;
    std::unique_ptr<QmlScreen> screen;
    ChatViewModel* vm = nullptr;
    std::shared_ptr<FakeOnDeviceModel> model = std::make_shared<FakeOnDeviceModel>();
};

TEST_F(ChatScreen, LoadsWithoutWarningsAndGreets) {
    load();
    EXPECT_TRUE(screen->warnings().isEmpty()) << screen->warnings().join('\n').toStdString();
    EXPECT_EQ(item("transcript")->property("count").toInt(), 1);
    EXPECT_EQ(screen->find("headerSubtitle")->property("text").toString(), "demo@nimbo.test");
    EXPECT_FALSE(typingRow()->isVisible());
}

TEST_F(ChatScreen, SendButtonTapsSendAndLongPressRunsTheOnDeviceTest) {
    load();
    scriptEcho("c-9");
    QQuickItem* send = item("sendButton");
    EXPECT_FALSE(send->isEnabled());
    tap(send);
    spinFor(100ms);
    EXPECT_EQ(count(), 1u);

    vm->setInputText(QStringLiteral("hello"));
    EXPECT_TRUE(send->isEnabled());
    EXPECT_EQ(item("messageField")->property("text").toString(), "hello");
    tap(send);
    ASSERT_TRUE(waitUntil([&] { return count() == 3u; }));
    EXPECT_EQ(vm->transcript().messages()[2].content, "echo: hello");
    EXPECT_TRUE(item("messageField")->property("text").toString().isEmpty());
    EXPECT_FALSE(send->isEnabled());

    vm->setInputText(QStringLiteral("kept"));
    // Held for 0.7 s, in real time and in the events' timestamps (which the delay
    // arguments advance); the press's delay keeps it from counting as a double click.
    QTest::mousePress(window(), Qt::LeftButton, {}, centerOf(send), 600);
    spinFor(700ms);
    QTest::mouseRelease(window(), Qt::LeftButton, {}, centerOf(send), 700);
    ASSERT_TRUE(waitUntil([&] { return count() == 5u; }));
    EXPECT_TRUE(vm->transcript().messages()[4].content.startsWith(QStringLiteral("\u2705 On-device model")));
    EXPECT_EQ(vm->inputText(), "kept");
    EXPECT_EQ(requestsTo(production, kChatPath), 1u);

    // Moving the finger away during the press cancels both the long press and the tap.
    const QPoint start = centerOf(send);
    QTest::mousePress(window(), Qt::LeftButton, {}, start, 600);
    QTest::mouseMove(window(), start + QPoint(-25, 0), 20);
    spinFor(700ms);
    QTest::mouseRelease(window(), Qt::LeftButton, {}, start + QPoint(-25, 0), 700);
    spinFor(200ms);
    EXPECT_EQ(count(), 5u);
    EXPECT_EQ(requestsTo(production, kChatPath), 1u);
}

TEST_F(ChatScreen, BubblesSitOnTheirSideAndWrap) {
    load();
    scriptEcho();
    vm->setInputText(QString(400, QLatin1Char('w')).replace(QRegularExpression("(w{9})"), "\\1 "));
    vm->sendMessage();
    ASSERT_TRUE(waitUntil([&] { return count() == 3u; }));
    spinFor(400ms);
    const std::vector<QQuickItem*> rows = bubbles();
    ASSERT_EQ(rows.size(), 3u);
    const qreal width = screen->root()->width();
    auto left = [](QQuickItem* b) { return b->mapToScene(QPointF()).x(); };
    EXPECT_EQ(left(rows[0]), 14);  // the greeting, on the left
    EXPECT_LE(left(rows[0]) + rows[0]->width(), width - 14 - 40);
    EXPECT_GE(left(rows[1]), 14 + 40);  // the long user message, on the right, wrapped
    EXPECT_EQ(left(rows[1]) + rows[1]->width(), width - 14);
    EXPECT_GT(rows[1]->height(), 100);
}

TEST_F(ChatScreen, KeepsTheLastEntryInViewAndBuildsOnlyVisibleRows) {
    load();
    scriptEcho();
    for (int i = 0; i < 30; ++i) {
        vm->setInputText(QStringLiteral("message %1").arg(i));
        vm->sendMessage();
    }
    ASSERT_TRUE(waitUntil([&] { return count() == 61u; }));
    spinFor(500ms);
    QQuickItem* list = item("transcript");
    const std::vector<QQuickItem*> rows = bubbles();
    ASSERT_FALSE(rows.empty());
    EXPECT_LT(rows.size(), 40u);  // built lazily
    const QQuickItem* lastRow = rows.back();
    const qreal bottom = lastRow->mapToItem(list, QPointF(0, lastRow->height())).y();
    EXPECT_LE(bottom, list->height());
    EXPECT_GT(bottom, list->height() - 60);
    EXPECT_EQ(lastRow->findChild<QObject*>("bubbleText")->property("text").toString().left(5), "echo:");
}

TEST_F(ChatScreen, MenuPushesEachScreenAndComingBackAppearsAgain) {
    settleUpdateChecker("4.0.0");
    load();
    QObject* alert = screen->find("updateAlert");
    ASSERT_TRUE(waitUntil([&] { return alert->property("opened").toBool(); }));
    tap(item("laterButton"));
    ASSERT_TRUE(waitUntil([&] { return !alert->property("visible").toBool(); }));
    EXPECT_FALSE(vm->showUpdateAlert());

    struct Entry {
        const char* name;
        bool (ChatViewModel::*flag)() const;
    } entries[] = {{"creditsEntry", &ChatViewModel::showCredits},
                   {"learningEntry", &ChatViewModel::showLearningSources},
                   {"deployEntry", &ChatViewModel::showSuperAdminDeploy}};
    std::string email;
    for (const Entry& e : entries) {
        SCOPED_TRACE(e.name);
        tap(item("menuButton"));
        QQuickItem* entry = item(e.name);
        ASSERT_NE(entry, nullptr);
        ASSERT_TRUE(waitUntil([&] { return entry->isVisible() && entry->window(); }));
        spinFor(300ms);  // the menu's opening transition
        tap(entry);
        ASSERT_TRUE(waitUntil([&] { return depth() == 2; }));
        EXPECT_TRUE((vm->*e.flag)());
        spinFor(500ms);
        // The user record is fetched again on coming back.
        email = std::string(e.name) + "@nimbo.test";
        production.on("GET", kMePath, ScriptedResponse{200, api::Json{{"email", email}}.dump()});
        QMetaObject::invokeMethod(screen->root(), "goBack");
        ASSERT_TRUE(waitUntil([&] { return depth() == 1 && !(vm->*e.flag)(); }));
        ASSERT_TRUE(waitUntil([&] { return alert->property("opened").toBool(); }));  // offered again
        EXPECT_EQ(count(), 1u);                                                    // no second greeting
        ASSERT_TRUE(waitUntil([&] { return vm->headerSubtitle() == QString::fromStdString(email); }));
        tap(item("laterButton"));
        ASSERT_TRUE(waitUntil([&] { return !alert->property("visible").toBool(); }));
    }
    EXPECT_TRUE(screen->warnings().isEmpty()) << screen->warnings().join('\n').toStdString();
}

TEST_F(ChatScreen, UpdateButtonOpensTheStorePage) {
    RecordingOpener opener;
    settleUpdateChecker("4.0.0");
    load();
    QObject* alert = screen->find("updateAlert");
    ASSERT_TRUE(waitUntil([&] { return alert->property("opened").toBool(); }));
    EXPECT_EQ(alert->property("title").toString(), "Update available");
    tap(item("updateButton"));
    ASSERT_TRUE(waitUntil([&] { return !alert->property("visible").toBool(); }));
    EXPECT_EQ(opener.opened, QStringList{"https://store.example/nimbo"});
    EXPECT_FALSE(vm->showUpdateAlert());
}

TEST_F(ChatScreen, Screenshots) {
    settleUpdateChecker("1.1.0");
    production.on("POST", kChatPath, [](const RecordedRequest& r) {
        const std::string message = api::Json::parse(r.body).value("message", std::string());
        if (message.find("weather") != std::string::npos)
            return ScriptedResponse{200, R"({"reply":"late"})", "application/json", {}, 3s};
        if (message.find("plan") != std::string::npos)
            return ScriptedResponse{200, R"({"reply":"Here is a plan for your week:\n• Monday — review the launch checklist\n• Wednesday — customer calls\n• Friday — retro and planning","conversationId":"c-1"})"};
        return ScriptedResponse{200, R"({"reply":"Sure! I can help with planning, writing and quick questions.","conversationId":"c-1"})"};
    });
    load();
    QObject* alert = screen->find("updateAlert");
    ASSERT_TRUE(waitUntil([&] { return alert->property("opened").toBool(); }));
    spinFor(400ms);
    EXPECT_FALSE(screen->render("chat-update-alert").isEmpty());
    tap(item("laterButton"));
    ASSERT_TRUE(waitUntil([&] { return !alert->property("visible").toBool(); }));

    for (const char* text : {"What can you do?", "Help me plan my week", "What's the weather like tomorrow?"}) {
        const std::size_t before = count();
        vm->setInputText(QString::fromUtf8(text));
        vm->sendMessage();
        if (QString::fromUtf8(text).contains("weather")) break;
        ASSERT_TRUE(waitUntil([&] { return count() == before + 2; }));
    }
    vm->setInputText(QStringLiteral("Thanks"));
    ASSERT_TRUE(vm->isTyping());
    spinFor(400ms);
    EXPECT_TRUE(typingRow()->isVisible());
    EXPECT_FALSE(screen->render("chat").isEmpty());
    EXPECT_TRUE(screen->warnings().isEmpty()) << screen->warnings().join('\n').toStdString();
}

}  // namespace
