#pragma once
// The conversations kept on this device: one SQLite database (WAL journal) holding one
// row per conversation and one per transcript entry, each conversation tied to the
// account that had it, with a full-text index over every entry.
//
// One object owns one connection and is used by one thread (ChatHistory's writer).
// Opening never throws: a file that cannot be read is moved aside and a new one
// started; a file from a newer version of the app is opened read-only, untouched;
// a folder that cannot be written leaves the database unavailable. Reads of an
// unavailable database give nothing; writes report failure.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace nimbo::history {

// One entry to write: `conversation` is the conversation's local id (a UUID made by
// the app), `serverId` the service's conversation id when it is known.
struct NewEntry {
    std::string account;
    std::string conversation;
    std::string role;
    std::string content;
    std::int64_t timeMs = 0;
    std::optional<std::string> serverId;
};

struct StoredEntry {
    std::string role;
    std::string content;
    std::int64_t timeMs = 0;
};

struct StoredConversation {
    std::string id;
    std::string title;
    std::optional<std::string> serverId;
    std::int64_t createdMs = 0;
    std::int64_t updatedMs = 0;
    std::vector<StoredEntry> entries;
};

// A row of the chats list: `preview` is the last entry, or for a search result the
// matching passage with each match between kMatchStart and kMatchEnd.
struct ConversationSummary {
    std::string id;
    std::string title;
    std::string preview;
    std::int64_t updatedMs = 0;

    bool operator==(const ConversationSummary&) const = default;
};

inline constexpr const char* kMatchStart = "\xEE\x80\x80";  // U+E000
inline constexpr const char* kMatchEnd = "\xEE\x80\x81";    // U+E001

class HistoryDatabase {
public:
    // The schema this version of the app writes (PRAGMA user_version).
    static constexpr int kSchemaVersion = 2;
    // How many conversations a search returns at most.
    static constexpr std::size_t kMaxSearchResults = 100;

    enum class State {
        Ready,        // readable and writable
        SetAside,     // the earlier file could not be read: moved aside, a new one started
        ReadOnly,     // written by a newer version of the app: read, never changed
        Unavailable,  // no database could be opened or created here
    };

    explicit HistoryDatabase(std::filesystem::path file);
    ~HistoryDatabase();
    HistoryDatabase(const HistoryDatabase&) = delete;
    HistoryDatabase& operator=(const HistoryDatabase&) = delete;

    State state() const { return state_; }
    bool isWritable() const { return state_ == State::Ready || state_ == State::SetAside; }

    // Writes the entries in one transaction, in order (an account that does not keep
    // chats gets none). Returns false when nothing could be written (full disk, …).
    bool append(const std::vector<NewEntry>& entries);

    // The account's conversations, most recently active first.
    std::vector<ConversationSummary> conversations(const std::string& account);
    // Conversations of the account with an entry matching every word of `text`, the one
    // with the most recent match first, each with the passage of that match.
    std::vector<ConversationSummary> search(const std::string& account, const std::string& text);
    std::optional<StoredConversation> conversation(const std::string& account, const std::string& id);
    int count(const std::string& account);

    // Deletes one or every conversation of the account; false on failure.
    bool remove(const std::string& account, const std::string& id);
    bool removeAll(const std::string& account);
    // Copies what the journal holds into the file, so that it stays small.
    void checkpoint();

    // Whether the account keeps its chats (on unless turned off).
    bool keepsChats(const std::string& account);
    // Turning it off deletes every conversation of the account in the same transaction.
    bool setKeepsChats(const std::string& account, bool keep);

private:
    enum class Opened { Ready, Damaged, Failed };
    Opened start();
    bool openFile(int flags);
    Opened prepareSchema();
    // Deleted text leaves the journal as well as the file (secure_delete clears the pages).
    void forgetDeleted();
    void close();

    std::filesystem::path file_;
    sqlite3* db_ = nullptr;
    State state_ = State::Unavailable;
};

// The FTS5 query for what a person typed: every word must occur, each as the start of
// a word; quotes and operators are taken literally. Empty when no word is left.
std::string searchQuery(const std::string& text);
// The words a person typed into the search field (at most 16).
std::vector<std::string> searchWords(const std::string& text);
// Up to 14 words of `content` around the first one that starts like a searched word,
// each such word between kMatchStart and kMatchEnd ("…" where the text was cut).
std::string matchedPassage(const std::string& content, const std::vector<std::string>& searched);
// A title from the first message: its first line, at most `maxChars` characters, with
// "…" when shortened.
std::string shortTitle(const std::string& text, std::size_t maxChars = 60);

}  // namespace nimbo::history
