// The chats database on its own: accounts kept apart, entries back in order and
// unchanged, search, the keep switch, an older schema migrated, a newer one left
// alone, a damaged file set aside, and a full disk that only stops the saving.
#include "chat/history/HistoryDatabase.h"
#include "chat/history/MarkdownExport.h"
#include "chat/history/ChatsListModel.h"

#include <sqlite3.h>

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>

#include <sys/resource.h>

using namespace nimbo;
using namespace nimbo::history;
namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void sql(const fs::path& file, const char* statements) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, statements, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

NewEntry entry(const std::string& account, const std::string& conversation, const std::string& role,
               const std::string& content, std::int64_t time, std::optional<std::string> serverId = std::nullopt) {
    return {account, conversation, role, content, time, std::move(serverId)};
}

struct HistoryStore : ::testing::Test {
    QTemporaryDir dir;
    fs::path file = fs::path(dir.path().toStdString()) / "chats" / "Chats.sqlite";
};

TEST_F(HistoryStore, KeepsEachAccountsConversationsInOrderAndUnchanged) {
    HistoryDatabase db(file);
    ASSERT_EQ(db.state(), HistoryDatabase::State::Ready);
    const std::vector<std::string> contents{"Hi! I'm Nimbo.", "  Plan my week\nplease  ", "", "quotes \" ' <b>x</b> \u26A0",
                                            std::string(70, 'x'), "na\xC3\xAFve caf\xC3\xA9 \xF0\x9F\x8C\xB8"};
    std::vector<NewEntry> a;
    for (std::size_t i = 0; i < contents.size(); ++i)
        a.push_back(entry("ann@x.test", "c1", i % 2 ? "user" : "assistant", contents[i], 1000 + static_cast<int>(i),
                          i == 3 ? std::optional<std::string>("srv-1") : std::nullopt));
    ASSERT_TRUE(db.append(a));
    ASSERT_TRUE(db.append({entry("ann@x.test", "c2", "user", "orchid care", 5000, "srv-2"),
                           entry("bob@x.test", "c3", "user", "orchid prices", 6000)}));

    const auto c1 = db.conversation("ann@x.test", "c1");
    ASSERT_TRUE(c1);
    ASSERT_EQ(c1->entries.size(), contents.size());
    for (std::size_t i = 0; i < contents.size(); ++i) {
        EXPECT_EQ(c1->entries[i].content, contents[i]);
        EXPECT_EQ(c1->entries[i].role, i % 2 ? "user" : "assistant");
    }
    EXPECT_EQ(c1->title, "Plan my week");  // the first user message, first line
    EXPECT_EQ(c1->serverId, "srv-1");      // an entry without one never clears it
    EXPECT_EQ(c1->updatedMs, 1005);

    const auto list = db.conversations("ann@x.test");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].id, "c2");  // newest first
    EXPECT_EQ(list[1].preview, contents.back());
    EXPECT_EQ(db.count("ann@x.test"), 2);
    EXPECT_EQ(db.count("bob@x.test"), 1);
    EXPECT_FALSE(db.conversation("bob@x.test", "c1"));
    EXPECT_TRUE(db.conversations("carl@x.test").empty());
    ASSERT_EQ(db.search("bob@x.test", "orchid").size(), 1u);
    EXPECT_EQ(db.search("bob@x.test", "orchid")[0].id, "c3");

    ASSERT_TRUE(db.append({entry("bob@x.test", "c1", "user", "not Ann's", 7000)}));  // Ann's id: nothing added
    EXPECT_EQ(db.conversation("ann@x.test", "c1")->entries.size(), contents.size());
    EXPECT_FALSE(db.conversation("bob@x.test", "c1"));
    EXPECT_TRUE(db.remove("bob@x.test", "c1"));  // not Bob's: nothing happens
    EXPECT_EQ(db.count("ann@x.test"), 2);
    EXPECT_TRUE(db.removeAll("ann@x.test"));
    EXPECT_EQ(db.count("ann@x.test"), 0);
    EXPECT_TRUE(db.search("ann@x.test", "orchid").empty());
    EXPECT_EQ(db.count("bob@x.test"), 1);
    // Nothing of a deleted chat stays readable in the file, its search index included.
    for (const char* word : {"orchid care", "care", "caf\xC3\xA9"})
        EXPECT_EQ(readAll(file).find(word), std::string::npos) << word;
}

TEST_F(HistoryStore, SearchMatchesWordStartsOfEveryWordAndTakesOperatorsLiterally) {
    HistoryDatabase db(file);
    ASSERT_TRUE(db.append({entry("a", "c1", "user", "Planning the orchid show", 1),
                           entry("a", "c1", "assistant", "Water \"orchids\" weekly AND gently", 2),
                           entry("a", "c2", "user", "NEAR( the sea", 3),
                           entry("a", "c3", "user", std::string(kMatchStart) + "fake" + kMatchEnd + " highlight", 4)}));
    const struct {
        const char* text;
        std::size_t found;
    } cases[] = {{"plan", 1},          {"PLANNING orchid", 1}, {"lanning", 0},  {"orchid sea", 0}, {"\"orchids\"", 1},
                 {"AND", 1},           {"NEAR(", 1},           {"   ", 0},      {"", 0},           {"orchid", 1},
                 {"the", 2},           {"*", 0},               {"\"", 0}};
    for (const auto& c : cases) EXPECT_EQ(db.search("a", c.text).size(), c.found) << c.text;
    const auto hit = db.search("a", "show");
    ASSERT_EQ(hit.size(), 1u);
    EXPECT_NE(hit[0].preview.find(std::string(kMatchStart) + "show" + kMatchEnd), std::string::npos) << hit[0].preview;
    // Marks already in a message never highlight, in a passage or in the list.
    EXPECT_EQ(db.search("a", "highlight")[0].preview, "fake " + std::string(kMatchStart) + "highlight" + kMatchEnd);
    EXPECT_EQ(db.conversations("a")[0].preview, "fake highlight");
    EXPECT_EQ(plainPreview("a\n" + std::string(kMatchStart) + "b" + kMatchEnd), "a b");
    EXPECT_EQ(previewMarkup("<i>a</i>\n" + std::string(kMatchStart) + "b&" + kMatchEnd),
              "&lt;i&gt;a&lt;/i&gt; <b><font color=\"#D4A34A\">b&amp;</font></b>");
}

TEST_F(HistoryStore, TheKeepSwitchDeletesAndStopsStoringForItsAccountOnly) {
    HistoryDatabase db(file);
    ASSERT_TRUE(db.append({entry("a", "c1", "user", "one", 1), entry("b", "c2", "user", "two", 2)}));
    EXPECT_TRUE(db.keepsChats("a"));
    ASSERT_TRUE(db.setKeepsChats("a", false));
    EXPECT_EQ(db.count("a"), 0);
    ASSERT_TRUE(db.append({entry("a", "c1", "user", "three", 3), entry("b", "c2", "user", "four", 4)}));
    EXPECT_EQ(db.count("a"), 0);
    EXPECT_EQ(db.conversation("b", "c2")->entries.size(), 2u);
    ASSERT_TRUE(db.setKeepsChats("a", true));
    ASSERT_TRUE(db.append({entry("a", "c4", "user", "five", 5)}));
    EXPECT_EQ(db.count("a"), 1);
    EXPECT_EQ(db.count("b"), 1);  // turning it on again deletes nothing
}

// An older app's database (the first schema) gains search in place and keeps its chats.
TEST_F(HistoryStore, AnOlderSchemaIsMigratedInPlace) {
    fs::create_directories(file.parent_path());
    sql(file, R"(CREATE TABLE conversations(id INTEGER PRIMARY KEY, uid TEXT NOT NULL UNIQUE, account TEXT NOT NULL,
        server_id TEXT, title TEXT NOT NULL DEFAULT '', created_ms INTEGER NOT NULL, updated_ms INTEGER NOT NULL);
        CREATE INDEX conversations_by_account ON conversations(account, updated_ms);
        CREATE TABLE entries(id INTEGER PRIMARY KEY, conversation INTEGER NOT NULL REFERENCES conversations(id),
        seq INTEGER NOT NULL, role TEXT NOT NULL, content TEXT NOT NULL, time_ms INTEGER NOT NULL,
        UNIQUE(conversation, seq));
        INSERT INTO conversations VALUES (1, 'old', 'a', 'srv', 'Old chat', 1, 2);
        INSERT INTO entries VALUES (1, 1, 0, 'user', 'tulip bulbs', 1), (2, 1, 1, 'assistant', 'plant in autumn', 2);
        PRAGMA user_version = 1;)");
    HistoryDatabase db(file);
    ASSERT_EQ(db.state(), HistoryDatabase::State::Ready);
    EXPECT_EQ(db.search("a", "autumn").size(), 1u);
    ASSERT_TRUE(db.append({entry("a", "old", "user", "and daffodils?", 3)}));
    const auto old = db.conversation("a", "old");
    ASSERT_EQ(old->entries.size(), 3u);
    EXPECT_EQ(old->entries[2].content, "and daffodils?");
    EXPECT_EQ(old->title, "Old chat");
}

TEST_F(HistoryStore, ANewerSchemaIsReadButNeverChanged) {
    { HistoryDatabase db(file); ASSERT_TRUE(db.append({entry("a", "c1", "user", "kept", 1)})); }
    sql(file, "PRAGMA user_version = 9; PRAGMA wal_checkpoint(TRUNCATE);");
    const std::string before = readAll(file);
    {
        HistoryDatabase db(file);
        EXPECT_EQ(db.state(), HistoryDatabase::State::ReadOnly);
        EXPECT_FALSE(db.isWritable());
        EXPECT_EQ(db.conversations("a").size(), 1u);
        EXPECT_FALSE(db.append({entry("a", "c1", "user", "more", 2)}));
        EXPECT_FALSE(db.removeAll("a"));
    }
    EXPECT_EQ(readAll(file), before);
}

// A file that is no database is set aside beside earlier copies, never over one.
TEST_F(HistoryStore, ADamagedFileIsSetAsideAndANewOneStarted) {
    fs::create_directories(file.parent_path());
    std::ofstream(file.string() + ".unreadable") << "earlier copy";
    std::ofstream(file) << std::string(8192, 'Z');
    HistoryDatabase db(file);
    EXPECT_EQ(db.state(), HistoryDatabase::State::SetAside);
    EXPECT_EQ(readAll(file.string() + ".unreadable"), "earlier copy");
    EXPECT_EQ(readAll(file.string() + ".unreadable.2"), std::string(8192, 'Z'));
    EXPECT_TRUE(db.append({entry("a", "c1", "user", "fresh", 1)}));
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(file.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(HistoryStore, NoFolderOrAFullDiskStopsSavingWithoutLosingEarlierEntries) {
    fs::create_directories(file.parent_path());
    std::ofstream(file.parent_path() / "blocker") << "a file, not a folder";
    HistoryDatabase nowhere(file.parent_path() / "blocker" / "Chats.sqlite");
    EXPECT_EQ(nowhere.state(), HistoryDatabase::State::Unavailable);
    EXPECT_FALSE(nowhere.append({entry("a", "c1", "user", "lost", 1)}));
    EXPECT_TRUE(nowhere.conversations("a").empty());

    HistoryDatabase db(file);
    ASSERT_TRUE(db.append({entry("a", "c1", "user", "before the disk filled", 1)}));
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = static_cast<rlim_t>(fs::file_size(file) + fs::file_size(file.string() + "-wal") + 4096);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool failed = false;
    for (int i = 0; i < 50 && !failed; ++i) failed = !db.append({entry("a", "c1", "user", std::string(4000, 'y'), 2)});
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(failed);
    EXPECT_EQ(db.conversation("a", "c1")->entries.front().content, "before the disk filled");
    EXPECT_TRUE(db.append({entry("a", "c1", "user", "room again", 3)}));
}

TEST(HistoryText, TitlesQueriesAndTheExport) {
    const struct {
        std::string text;
        std::string title;
    } titles[] = {{std::string(60, 'a'), std::string(60, 'a')},
                  {std::string(61, 'a'), std::string(60, 'a') + "\u2026"},
                  {"\n  first line \nsecond", "first line"},
                  {std::string(59, 'a') + "\xC3\xA9\xC3\xA9", std::string(59, 'a') + "\xC3\xA9\u2026"},
                  {"", ""}};
    for (const auto& t : titles) EXPECT_EQ(shortTitle(t.text), t.title) << t.text;
    EXPECT_EQ(searchQuery(" tea  \"pot\" "), "\"tea\"* \"\"\"pot\"\"\"*");
    const std::string m0 = kMatchStart, m1 = kMatchEnd;
    const struct {
        std::string content, words, passage;
    } passages[] = {{"Water the Orchids weekly.", "orchid", "Water the " + m0 + "Orchids" + m1 + " weekly."},
                    {"a b c d e f g h i j k l m n o p", "f", "\u2026b c d e " + m0 + "f" + m1 + " g h i j k l m n o\u2026"},
                    {"no match here", "zz", "no match here"},
                    {"\"quoted\" tea-pot", "\"pot\"", "\"quoted\" tea-" + m0 + "pot" + m1}};
    for (const auto& p : passages) EXPECT_EQ(matchedPassage(p.content, searchWords(p.words)), p.passage) << p.content;
    StoredConversation c{"id", "Plan", std::nullopt, 0, 0, {{"user", "Hi *there*", 0}, {"assistant", "Hello", 0}}};
    const std::string md = exportMarkdown(c);
    EXPECT_EQ(md.substr(0, 8), "# Plan\n\n");
    EXPECT_NE(md.find("\n**You**\n\nHi *there*\n\n**Nimbo**\n\nHello\n"), std::string::npos) << md;
}

}  // namespace
