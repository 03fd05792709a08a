// The chats kept on the device, from the chat screen's side: what is written and when,
// reopening and continuing a conversation, and one walk through the real Chats screen
// (with its screenshots): search, open, delete, export, delete all and the keep switch.
#include "chat/ChatViewModel.h"
#include "chat/history/ChatHistory.h"
#include "chat/history/ChatsViewModel.h"

#include "ChatTestSupport.h"
#include "QmlScreen.h"

#include <QQuickItem>
#include <QTest>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace nimbo;
using namespace nimbo::test;
using namespace std::chrono_literals;
using history::ChatHistory;

namespace {

void answerMe(const std::string& email) {
    productionServer().on("GET", "/api/auth/me", ScriptedResponse{200, api::Json{{"email", email}, {"role", "user"}}.dump()});
}

std::optional<history::StoredConversation> stored(const std::string& account, const QString& id) {
    std::optional<history::StoredConversation> found;
    ChatHistory::shared().post([&](history::HistoryDatabase& db) { found = db.conversation(account, id.toStdString()); });
    ChatHistory::shared().waitUntilIdle();
    return found;
}

bool send(ChatViewModel& vm, const QString& text) {
    const std::size_t before = vm.transcript().messages().size();
    vm.setInputText(text);
    vm.sendMessage();
    return waitUntil([&] { return vm.transcript().messages().size() == before + 2; });
}

TEST(ChatsKept, WrittenOnceTheAccountIsKnownAndContinuedWhenReopened) {
    resetServers();
    settleUpdateChecker("1.0.0");
    scriptEcho("conv-7");
    answerMe(" Rec@Nimbo.TEST ");
    const std::string account = "rec@nimbo.test";
    QString id;
    {
        ChatViewModel greetingOnly;  // a screen with only its greeting keeps nothing
        greetingOnly.onAppear();
        ASSERT_TRUE(waitUntil([&] { return !greetingOnly.accountKey().isEmpty(); }));
        EXPECT_EQ(greetingOnly.accountKey(), QString::fromStdString(account));
        EXPECT_FALSE(stored(account, greetingOnly.conversationKey()));
    }
    ChatViewModel vm;
    vm.greet();
    ASSERT_TRUE(send(vm, QStringLiteral("first before the account")));
    id = vm.conversationKey();
    EXPECT_FALSE(stored(account, id));  // the account is not known yet
    vm.loadMe();
    ASSERT_TRUE(waitUntil([&] { return !vm.accountKey().isEmpty(); }));
    for (int i = 1; i <= 11; ++i) ASSERT_TRUE(send(vm, QStringLiteral("message %1").arg(i)));
    const auto kept = stored(account, id);
    ASSERT_TRUE(kept);
    ASSERT_EQ(kept->entries.size(), vm.transcript().messages().size());
    for (std::size_t i = 0; i < kept->entries.size(); ++i) {
        EXPECT_EQ(QString::fromStdString(kept->entries[i].content), vm.transcript().messages()[i].content);
        EXPECT_EQ(QString::fromStdString(kept->entries[i].role), vm.transcript().messages()[i].role);
    }
    EXPECT_EQ(kept->title, "first before the account");
    EXPECT_EQ(kept->serverId, "conv-7");

    ChatViewModel reopened;  // another screen: opens it and goes on
    reopened.onAppear();
    ASSERT_TRUE(waitUntil([&] { return !reopened.accountKey().isEmpty(); }));
    reopened.openConversation(id);
    ASSERT_TRUE(waitUntil([&] { return reopened.transcript().messages().size() == kept->entries.size(); }));
    EXPECT_EQ(reopened.conversationId(), "conv-7");
    scriptEcho();  // replies without an id from now on
    ASSERT_TRUE(send(reopened, QStringLiteral("and on")));
    const api::Json body = chatBodies().back();
    EXPECT_EQ(body.value("conversationId", std::string()), "conv-7");
    ASSERT_EQ(body["history"].size(), ChatViewModel::maxHistoryTurns);
    const std::size_t start = kept->entries.size() - ChatViewModel::maxHistoryTurns;
    for (std::size_t i = 0; i < ChatViewModel::maxHistoryTurns; ++i)
        EXPECT_EQ(body["history"][i].value("content", std::string()), kept->entries[start + i].content) << i;
    EXPECT_EQ(stored(account, id)->entries.size(), kept->entries.size() + 2);

    reopened.startNewChat();
    ASSERT_EQ(reopened.transcript().messages().size(), 1u);
    EXPECT_EQ(reopened.transcript().messages()[0].content, kGreeting);
    EXPECT_FALSE(reopened.conversationId());
    ASSERT_TRUE(send(reopened, QStringLiteral("fresh")));
    EXPECT_FALSE(chatBodies().back().contains("conversationId"));
    EXPECT_EQ(chatBodies().back()["history"].size(), 1u);
    EXPECT_NE(reopened.conversationKey(), id);
}

std::string readAll(const QString& file) {
    std::ifstream in(file.toStdString());
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST(ChatsScreen, AWalkThroughTheChatsScreen) {
    useAppStyle();
    resetServers();
    settleUpdateChecker("1.0.0");
    scriptEcho();
    const std::string account = "walker@nimbo.test";
    answerMe(account);
    const struct {
        const char* first;
        const char* reply;
    } seeded[] = {{"Ideas for a birthday dinner", "A few menus to try…"},
                  {"How often should I water an orchid?", "About once a week; let the roots dry between waterings."},
                  {"Summarise the quarterly report", "Revenue grew 12 % …"},
                  {"Translate 'good morning' to Italian", "Buongiorno!"}};
    std::int64_t when = history::nowMs() - 3 * 86'400'000LL;
    for (const auto& s : seeded) {
        const std::string id = history::newConversationId();
        for (const char* text : {s.first, s.reply})
            ChatHistory::shared().append({account, id, text == s.first ? "user" : "assistant", text, when += 3'600'000, std::nullopt});
    }
    ChatHistory::shared().append({"other@nimbo.test", "others", "user", "orchid of another account", when, std::nullopt});
    SignedInChatScreen chat;
    QmlScreen& screen = chat.screen;
    ASSERT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join('\n').toStdString();
    ChatViewModel* vm = chat.vm;
    ASSERT_TRUE(waitUntil([&] { return !vm->accountKey().isEmpty(); }));
    ASSERT_TRUE(send(*vm, QStringLiteral("Plan my week")));
    ChatHistory::shared().waitUntilIdle();

    screen.tap("chatsButton");
    ASSERT_TRUE(waitUntil([&] { return screen.find("chatsView") && !screen.root()->property("busy").toBool(); }));
    ChatsViewModel* chats = nullptr;
    auto rows = [&] {  // of the Chats screen on top
        QObject* view = screen.find("chatsView");
        chats = view ? qobject_cast<ChatsViewModel*>(view->property("viewModel").value<QObject*>()) : nullptr;
        return chats ? chats->conversations()->rowCount() : -1;
    };
    auto row = [&](int i, int role) { return chats->conversations()->data(chats->conversations()->index(i), role).toString(); };
    auto dialogOpen = [&](const char* name) {
        QObject* popup = screen.find(name);
        return popup && popup->property("opened").toBool();
    };
    auto choose = [&](const char* dialog, const char* button) {  // clicks it and waits until the dialog is gone
        ASSERT_TRUE(waitUntil([&] { return dialogOpen(dialog); })) << dialog;
        QObject* found = screen.find(dialog)->findChild<QObject*>(button);
        ASSERT_TRUE(found) << button;
        QMetaObject::invokeMethod(found, "clicked");
        ASSERT_TRUE(waitUntil([&] { return !screen.find(dialog)->property("visible").toBool(); }));
    };
    ASSERT_TRUE(waitUntil([&] { return rows() == 5; }));
    EXPECT_EQ(row(0, ChatsListModel::TitleRole), "Plan my week");  // newest first
    EXPECT_EQ(row(4, ChatsListModel::TitleRole), "Ideas for a birthday dinner");
    spinFor(300ms);
    EXPECT_FALSE(screen.render("chats-list").isEmpty());

    screen.find("searchField")->setProperty("text", "ORCH");
    ASSERT_TRUE(waitUntil([&] { return rows() == 1; }));  // the other account's orchid stays hidden
    EXPECT_TRUE(row(0, ChatsListModel::PreviewRole).contains("<b><font color=\"#D4A34A\">orchid</font></b>"))
        << row(0, ChatsListModel::PreviewRole).toStdString();
    spinFor(300ms);
    EXPECT_FALSE(screen.render("chats-search").isEmpty());
    screen.find("searchField")->setProperty("text", "tulips");
    ASSERT_TRUE(waitUntil([&] { return rows() == 0 && screen.isShown("emptyChats"); }));
    screen.find("searchField")->setProperty("text", "orchid");
    ASSERT_TRUE(waitUntil([&] { return rows() == 1; }));
    screen.tap("chatRow");  // opens it on the chat screen
    ASSERT_TRUE(waitUntil([&] { return vm->transcript().messages().size() == 2; }));
    EXPECT_EQ(vm->transcript().messages()[0].content, "How often should I water an orchid?");
    ASSERT_TRUE(waitUntil([&] { return screen.find("chatsView") == nullptr; }));

    screen.tap("chatsButton");
    ASSERT_TRUE(waitUntil([&] { return rows() == 5 && !screen.root()->property("busy").toBool(); }));
    // By keyboard: into the list, then its menu with the Menu key; Escape closes it.
    qobject_cast<QQuickItem*>(screen.find("searchField"))->forceActiveFocus();
    for (int i = 0; i < 2; ++i) QTest::keyClick(screen.root()->window(), Qt::Key_Tab);
    QTest::keyClick(screen.root()->window(), Qt::Key_Menu);
    ASSERT_TRUE(waitUntil([&] { return screen.isShown("deleteEntry"); }));
    QTest::keyClick(screen.root()->window(), Qt::Key_Escape);
    ASSERT_TRUE(waitUntil([&] { return !screen.isShown("deleteEntry"); }));
    for (const char* choice : {"cancelButton", "confirmButton"}) {
        screen.tap("moreButton");
        ASSERT_TRUE(waitUntil([&] { return screen.isShown("deleteEntry"); }));
        spinFor(300ms);  // the menu's opening transition
        screen.tap("deleteEntry");
        choose("deleteDialog", choice);
    }
    ASSERT_TRUE(waitUntil([&] { return rows() == 4; }));
    EXPECT_NE(row(0, ChatsListModel::TitleRole), "Plan my week");
    EXPECT_EQ(vm->transcript().messages().size(), 2u);  // another chat: the one on screen stays

    QTemporaryDir out;
    const QString file = out.path() + "/export.md";
    screen.tap("moreButton");
    ASSERT_TRUE(waitUntil([&] { return screen.isShown("exportEntry"); }));
    spinFor(300ms);
    screen.tap("exportEntry");
    QObject* exportDialog = screen.find("exportDialog");
    EXPECT_TRUE(exportDialog->property("selectedFile").toUrl().toLocalFile().endsWith(".md"));
    exportDialog->setProperty("selectedFile", QUrl::fromLocalFile(file));
    QMetaObject::invokeMethod(exportDialog, "accepted");
    QMetaObject::invokeMethod(exportDialog, "close");
    ASSERT_TRUE(waitUntil([&] { return !chats->exportMessage().isEmpty(); }));
    EXPECT_EQ(chats->exportMessage(), "Exported to export.md.");
    EXPECT_EQ(readAll(file).rfind("# " + row(0, ChatsListModel::TitleRole).toStdString() + "\n\n", 0), 0u);
    chats->exportConversation(row(0, ChatsListModel::IdRole), QUrl::fromLocalFile(file + "/inside-a-file.md"));
    ASSERT_TRUE(waitUntil([&] { return chats->exportMessage().startsWith("The chat could not be exported"); }));
    EXPECT_EQ(chats->exportMessage(), QString::fromUtf8("The chat could not be exported \u2014 Not a directory."));

    spinFor(300ms);  // the menu's closing transition
    screen.tap("deleteAllButton");
    EXPECT_EQ(screen.find("deleteAllDialog")->property("message").toString(),
              "All 4 chats kept on this device will be deleted.");
    choose("deleteAllDialog", "confirmButton");
    ASSERT_TRUE(waitUntil([&] { return rows() == 0 && screen.isShown("emptyChats"); }));
    ASSERT_EQ(vm->transcript().messages().size(), 1u);  // the deleted chat on screen gave way to a fresh one
    EXPECT_EQ(vm->transcript().messages()[0].content, kGreeting);
    spinFor(300ms);
    EXPECT_FALSE(screen.render("chats-empty").isEmpty());

    screen.tap("keepSwitch");
    choose("keepDialog", "confirmButton");
    ASSERT_TRUE(waitUntil([&] { return !chats->keepChats(); }));
    ASSERT_TRUE(send(*vm, QStringLiteral("not kept")));
    EXPECT_FALSE(stored(account, vm->conversationKey()));
    screen.tap("keepSwitch");  // on again without asking
    ASSERT_TRUE(waitUntil([&] { return chats->keepChats(); }));
    ASSERT_TRUE(send(*vm, QStringLiteral("kept again")));
    EXPECT_TRUE(stored(account, vm->conversationKey()));
    EXPECT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join('\n').toStdString();
}

}  // namespace
