// Chats kept on the device against the real stand-in service: a process chatting is
// killed with SIGKILL mid-conversation; the next start finds every entry written
// before the kill, opens the conversation and continues it with the right history
// and conversation id.
#include "chat/ChatViewModel.h"
#include "chat/history/HistoryDatabase.h"

#include "api/NimboApi.h"
#include "platform/files/AppPaths.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

using namespace nimbo;
using namespace std::chrono_literals;

namespace {

const std::string kAccount = "demo@nimbo.test";
const std::string kFirst = "Kill test message 1";

bool signIn(ChatViewModel& vm) {
    api::NimboApi::shared().login(kAccount, "demo-password-1");
    vm.onAppear();
    return test::waitUntil([&] { return !vm.accountKey().isEmpty(); }, 15s);
}

bool send(ChatViewModel& vm, const QString& text) {
    const std::size_t before = vm.transcript().messages().size();
    vm.setInputText(text);
    vm.sendMessage();
    return test::waitUntil([&] { return vm.transcript().messages().size() == before + 2; }, 15s);
}

// Run by the test below in a process of its own: chats until it is killed.
TEST(HistoryEndToEnd, DISABLED_ChildChatsUntilKilled) {
    ChatViewModel vm;
    ASSERT_TRUE(signIn(vm));
    for (int i = 1;; ++i) ASSERT_TRUE(send(vm, QStringLiteral("Kill test message %1").arg(i)));
}

// The child's conversation as stored now.
std::optional<history::StoredConversation> childConversation(history::HistoryDatabase& db) {
    for (const auto& summary : db.conversations(kAccount))
        if (summary.title == kFirst) return db.conversation(kAccount, summary.id);
    return std::nullopt;
}

TEST(HistoryEndToEnd, AKilledChatLosesNoEarlierEntryAndContinuesAfterTheNextStart) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("NIMBO_TEST_SCRATCH", test::scratchDir().c_str(), 1);
        ::setenv("NIMBO_E2E_SERVICE", test::serviceBase().c_str(), 1);
        ::execl("/proc/self/exe", "chat_e2e_tests", "--gtest_also_run_disabled_tests",
                "--gtest_filter=HistoryEndToEnd.DISABLED_ChildChatsUntilKilled", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(child, 0);
    const auto file = platform::applicationSupportDir() / "Chats.sqlite";
    std::optional<history::StoredConversation> before;
    {
        const bool enough = test::waitUntil([&] {
            history::HistoryDatabase db(file);
            before = childConversation(db);
            return before && before->entries.size() >= 25;
        }, 60s);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(enough);
        EXPECT_TRUE(WIFSIGNALED(status));
    }

    history::HistoryDatabase db(file);
    EXPECT_EQ(db.state(), history::HistoryDatabase::State::Ready);  // not set aside: undamaged
    const auto after = childConversation(db);
    ASSERT_TRUE(after);
    ASSERT_GE(after->entries.size(), before->entries.size());
    for (std::size_t i = 0; i < after->entries.size(); ++i) {
        if (i < before->entries.size()) {
            EXPECT_EQ(after->entries[i].content, before->entries[i].content) << i;
        }
        const std::string expected = "Kill test message " + std::to_string((i + 1) / 2);
        if (i % 2) {  // the greeting, then each message and its reply
            EXPECT_EQ(after->entries[i].content, expected) << i;
        } else if (i > 0) {
            EXPECT_EQ(after->entries[i].content.rfind("You said:\n\n> " + expected + "\n", 0), 0u) << i;
        }
    }
    ASSERT_TRUE(after->serverId);

    ChatViewModel vm;  // the next start
    ASSERT_TRUE(signIn(vm));
    vm.openConversation(QString::fromStdString(after->id));
    ASSERT_TRUE(test::waitUntil([&] { return vm.transcript().messages().size() == after->entries.size(); }));
    ASSERT_TRUE(send(vm, QStringLiteral("After the restart")));
    const QString reply = vm.transcript().messages().back().content;
    const std::size_t lastUser = after->entries.size() % 2 ? after->entries.size() - 2 : after->entries.size() - 1;
    EXPECT_TRUE(reply.contains(QStringLiteral("I saw **20 earlier turns**."))) << reply.toStdString();
    EXPECT_TRUE(reply.contains(QString::fromStdString("Before that you said: \u201C" + after->entries[lastUser].content)))
        << reply.toStdString();
    EXPECT_EQ(vm.conversationId(), after->serverId);  // the service accepted it as this account's conversation
}

}  // namespace
