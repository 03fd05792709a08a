#include "chat/history/HistoryDatabase.h"

#include "platform/files/AppPaths.h"

#include <sqlite3.h>

#include <cctype>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <unordered_set>

#include <fcntl.h>
#include <unistd.h>

namespace nimbo::history {
namespace {
namespace fs = std::filesystem;

// The first version: conversations and their entries.
constexpr const char* kSchemaV1 = R"(
CREATE TABLE conversations(
    id INTEGER PRIMARY KEY,
    uid TEXT NOT NULL UNIQUE,
    account TEXT NOT NULL,
    server_id TEXT,
    title TEXT NOT NULL DEFAULT '',
    created_ms INTEGER NOT NULL,
    updated_ms INTEGER NOT NULL);
CREATE INDEX conversations_by_account ON conversations(account, updated_ms);
CREATE TABLE entries(
    id INTEGER PRIMARY KEY,
    conversation INTEGER NOT NULL REFERENCES conversations(id),
    seq INTEGER NOT NULL,
    role TEXT NOT NULL,
    content TEXT NOT NULL,
    time_ms INTEGER NOT NULL,
    UNIQUE(conversation, seq));
)";

// The second: full-text search over every entry, and the per-account keep switch.
constexpr const char* kSchemaV2 = R"(
CREATE VIRTUAL TABLE entries_fts USING fts5(content, content='entries', content_rowid='id');
INSERT INTO entries_fts(rowid, content) SELECT id, content FROM entries;
CREATE TRIGGER entries_indexed AFTER INSERT ON entries BEGIN
    INSERT INTO entries_fts(rowid, content) VALUES (new.id, new.content);
END;
CREATE TRIGGER entries_unindexed AFTER DELETE ON entries BEGIN
    INSERT INTO entries_fts(entries_fts, rowid, content) VALUES ('delete', old.id, old.content);
END;
CREATE TABLE settings(account TEXT PRIMARY KEY, keep INTEGER NOT NULL);
)";

constexpr const char* kMigrations[] = {kSchemaV1, kSchemaV2};
static_assert(std::size(kMigrations) == HistoryDatabase::kSchemaVersion);

struct SqlError : std::runtime_error {
    SqlError(sqlite3* db) : std::runtime_error(sqlite3_errmsg(db)), code(sqlite3_errcode(db) & 0xFF) {}
    int code;
};

// One prepared statement; bind() takes values in order, step() gives true per row.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) throw SqlError(db);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(const std::string& text) {
        check(sqlite3_bind_text(stmt_, ++index_, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Statement& bind(std::int64_t value) {
        check(sqlite3_bind_int64(stmt_, ++index_, value));
        return *this;
    }
    Statement& bind(const std::optional<std::string>& text) {
        if (text) return bind(*text);
        check(sqlite3_bind_null(stmt_, ++index_));
        return *this;
    }
    bool step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw SqlError(db_);
    }
    void reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
        index_ = 0;
    }
    std::string text(int column) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column))) : std::string();
    }
    std::optional<std::string> optionalText(int column) const {
        if (sqlite3_column_type(stmt_, column) == SQLITE_NULL) return std::nullopt;
        return text(column);
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }

private:
    void check(int rc) {
        if (rc != SQLITE_OK) throw SqlError(db_);
    }
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
    int index_ = 0;
};

void exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) throw SqlError(db);
}

// BEGIN IMMEDIATE … COMMIT, rolled back when the body throws.
template <class Body>
void inTransaction(sqlite3* db, Body&& body) {
    exec(db, "BEGIN IMMEDIATE");
    try {
        body();
        exec(db, "COMMIT");
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

int userVersion(sqlite3* db) {
    Statement version(db, "PRAGMA user_version");
    return version.step() ? static_cast<int>(version.integer(0)) : 0;
}

bool quickCheckPasses(sqlite3* db) {
    Statement check(db, "PRAGMA quick_check");
    return check.step() && check.text(0) == "ok";
}

// The first line of `text`, spaces at both ends removed.
std::string_view firstLine(std::string_view text) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    text = text.substr(0, text.find('\n'));
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

// `text` without the match marks, so that only a passage's own marks ever highlight.
static_assert(std::string_view(kMatchStart).size() == std::string_view(kMatchEnd).size());

// `text` without the match marks, in one pass.
std::string withoutMatchMarks(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::string_view rest = std::string_view(text).substr(at);
        if (rest.starts_with(kMatchStart) || rest.starts_with(kMatchEnd)) {
            at += std::string_view(kMatchStart).size();  // both marks are three bytes
            continue;
        }
        out += text[at++];
    }
    return out;
}

std::vector<ConversationSummary> readSummaries(Statement& rows) {
    std::vector<ConversationSummary> result;
    while (rows.step())
        result.push_back({rows.text(0), rows.text(1), withoutMatchMarks(rows.text(2)), rows.integer(3)});
    return result;
}

void deleteConversations(sqlite3* db, const char* where, const std::string& account,
                         const std::optional<std::string>& id) {
    const std::string filter = std::string("SELECT id FROM conversations WHERE ") + where;
    for (const std::string& sql : {"DELETE FROM entries WHERE conversation IN (" + filter + ")",
                                   "DELETE FROM conversations WHERE id IN (" + filter + ")"}) {
        Statement statement(db, sql.c_str());
        statement.bind(account);
        if (id) statement.bind(*id);
        statement.step();
    }
    // The full-text index only marks deleted rows; rebuilding it drops their words from
    // the file (secure_delete then blanks the pages it frees).
    Statement(db, "INSERT INTO entries_fts(entries_fts) VALUES ('optimize')").step();
}
}  // namespace

namespace {
constexpr std::size_t kMaxWords = 16;

bool isWordByte(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x80 || std::isalnum(u);
}

std::string lowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}
}  // namespace

std::vector<std::string> searchWords(const std::string& text) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (words.size() < kMaxWords) {
        at = text.find_first_not_of(" \t\r\n", at);
        if (at == std::string::npos) break;
        const std::size_t end = std::min(text.find_first_of(" \t\r\n", at), text.size());
        words.push_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

std::string searchQuery(const std::string& text) {
    std::string query;
    for (const std::string& word : searchWords(text)) {
        query += query.empty() ? "\"" : " \"";
        for (char c : word) query += c == '"' ? std::string("\"\"") : std::string(1, c);
        query += "\"*";
    }
    return query;
}

// The words around the first match, each word that starts like a searched one marked.
std::string matchedPassage(const std::string& text, const std::vector<std::string>& searched) {
    const std::string content = withoutMatchMarks(text);
    constexpr std::size_t kBefore = 4, kLength = 14;
    std::vector<std::string> wanted;
    for (const std::string& word : searched) {
        std::string letters;
        for (char c : word) if (isWordByte(c)) letters += c;
        if (!letters.empty()) wanted.push_back(lowerAscii(letters));
    }
    struct Word { std::size_t begin, end; bool match; };
    std::vector<Word> words;
    for (std::size_t i = 0; i < content.size();) {
        if (!isWordByte(content[i])) { ++i; continue; }
        std::size_t end = i;
        while (end < content.size() && isWordByte(content[end])) ++end;
        const std::string lower = lowerAscii(std::string_view(content).substr(i, end - i));
        bool match = false;
        for (const std::string& w : wanted) match = match || lower.rfind(w, 0) == 0;
        words.push_back({i, end, match});
        i = end;
    }
    if (words.empty()) return content.substr(0, 200);
    std::size_t first = 0;
    while (first < words.size() && !words[first].match) ++first;
    if (first == words.size()) first = 0;
    const std::size_t from = first > kBefore ? first - kBefore : 0, to = std::min(words.size(), from + kLength);
    std::string out = from > 0 ? "\u2026" : "";
    std::size_t at = from > 0 ? words[from].begin : 0;
    for (std::size_t i = from; i < to; ++i) {
        out += content.substr(at, words[i].begin - at);
        const std::string word = content.substr(words[i].begin, words[i].end - words[i].begin);
        out += words[i].match ? kMatchStart + word + kMatchEnd : word;
        at = words[i].end;
    }
    return out + (to < words.size() ? "\u2026" : content.substr(at));
}

std::string shortTitle(const std::string& text, std::size_t maxChars) {
    const std::string_view line = firstLine(text);
    std::size_t chars = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if ((static_cast<unsigned char>(line[i]) & 0xC0) == 0x80) continue;  // inside a character
        if (chars++ == maxChars) return std::string(line.substr(0, i)) + "\u2026";
    }
    return std::string(line);
}

HistoryDatabase::HistoryDatabase(fs::path file) : file_(std::move(file)) {
    try {
        platform::createPrivateDirectories(file_.parent_path());
    } catch (const fs::filesystem_error&) {
        return;  // Unavailable
    }
    if (start() != Opened::Damaged) return;
    // Damaged or not a database: set it aside with its journal, and start again.
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm"})
        if (fs::exists(file_.string() + suffix, ec)) platform::keepUnreadableCopy(file_.string() + suffix);
    if (start() == Opened::Ready) state_ = State::SetAside;
}

HistoryDatabase::~HistoryDatabase() { close(); }

void HistoryDatabase::close() {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
    if (state_ != State::ReadOnly) state_ = State::Unavailable;
}

HistoryDatabase::Opened HistoryDatabase::start() {
    // Created owner-only before SQLite opens it (its journal files take the same mode).
    const int fd = ::open(file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return Opened::Failed;
    ::close(fd);
    if (!openFile(SQLITE_OPEN_READWRITE)) return Opened::Failed;
    const Opened opened = prepareSchema();
    if (opened != Opened::Ready && state_ != State::ReadOnly) close();
    return opened;
}

bool HistoryDatabase::openFile(int flags) {
    if (sqlite3_open_v2(file_.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        close();
        return false;
    }
    sqlite3_busy_timeout(db_, 2000);
    return true;
}

// Brings the schema to this version in place. A newer schema is reopened read-only.
HistoryDatabase::Opened HistoryDatabase::prepareSchema() {
    try {
        if (!quickCheckPasses(db_)) return Opened::Damaged;
        const int version = userVersion(db_);
        if (version > kSchemaVersion) {
            close();
            if (openFile(SQLITE_OPEN_READONLY)) state_ = State::ReadOnly;
            return Opened::Failed;
        }
        // Checkpoints are the writer's to run when it is idle (checkpoint()), not inside an append.
        exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA secure_delete=ON; "
                  "PRAGMA wal_autocheckpoint=0");
        if (version < kSchemaVersion)
            inTransaction(db_, [&] {
                for (int v = version; v < kSchemaVersion; ++v) exec(db_, kMigrations[v]);
                exec(db_, ("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
            });
        state_ = State::Ready;
        return Opened::Ready;
    } catch (const SqlError& e) {
        return e.code == SQLITE_CORRUPT || e.code == SQLITE_NOTADB ? Opened::Damaged : Opened::Failed;
    }
}

bool HistoryDatabase::append(const std::vector<NewEntry>& entries) {
    if (!isWritable()) return false;
    try {
        inTransaction(db_, [&] {
            Statement conversation(db_, R"(INSERT INTO conversations(uid, account, server_id, created_ms, updated_ms)
                VALUES (?1, ?2, ?3, ?4, ?4) ON CONFLICT(uid) DO UPDATE SET updated_ms = excluded.updated_ms,
                server_id = coalesce(excluded.server_id, server_id) WHERE account = excluded.account RETURNING id)");
            Statement entry(db_, R"(INSERT INTO entries(conversation, seq, role, content, time_ms)
                VALUES (?1, (SELECT coalesce(max(seq), -1) + 1 FROM entries WHERE conversation = ?1), ?2, ?3, ?4))");
            Statement title(db_, "UPDATE conversations SET title = ? WHERE id = ? AND title = ''");
            for (const NewEntry& e : entries) {
                if (!keepsChats(e.account)) continue;
                conversation.bind(e.conversation).bind(e.account).bind(e.serverId).bind(e.timeMs);
                // RETURNING gives the row's id; none when the id is another account's.
                const bool isOwn = conversation.step();
                const std::int64_t id = isOwn ? conversation.integer(0) : 0;
                conversation.reset();
                if (!isOwn) continue;
                entry.bind(id).bind(e.role).bind(e.content).bind(e.timeMs).step();
                entry.reset();
                if (e.role != "user") continue;
                title.bind(shortTitle(e.content)).bind(id).step();
                title.reset();
            }
        });
        return true;
    } catch (const SqlError&) {
        return false;
    }
}

std::vector<ConversationSummary> HistoryDatabase::conversations(const std::string& account) {
    if (!db_) return {};
    try {
        Statement rows(db_, R"(SELECT c.uid, c.title,
            (SELECT substr(content, 1, 300) FROM entries WHERE conversation = c.id ORDER BY seq DESC LIMIT 1),
            c.updated_ms FROM conversations c WHERE c.account = ? ORDER BY c.updated_ms DESC, c.id DESC)");
        rows.bind(account);
        return readSummaries(rows);
    } catch (const SqlError&) {
        return {};
    }
}

// Walks the matching entries newest first (the index's own order, no sort) and takes
// each of the account's conversations at its most recent match.
std::vector<ConversationSummary> HistoryDatabase::search(const std::string& account, const std::string& text) {
    const std::string query = searchQuery(text);
    if (!db_ || query.empty()) return {};
    try {
        Statement hits(db_, "SELECT rowid FROM entries_fts WHERE entries_fts MATCH ? ORDER BY rowid DESC");
        Statement entry(db_, "SELECT conversation FROM entries WHERE id = ?");
        Statement owner(db_, "SELECT uid, title, updated_ms FROM conversations WHERE id = ? AND account = ?");
        Statement passage(db_, "SELECT content FROM entries WHERE id = ?");
        const std::vector<std::string> words = searchWords(text);
        hits.bind(query);
        std::vector<ConversationSummary> found;
        std::unordered_set<std::int64_t> seen;
        while (found.size() < kMaxSearchResults && hits.step()) {
            entry.bind(hits.integer(0));
            const std::int64_t conversation = entry.step() ? entry.integer(0) : -1;
            entry.reset();
            if (!seen.insert(conversation).second) continue;
            owner.bind(conversation).bind(account);
            if (owner.step()) {
                passage.bind(hits.integer(0));
                found.push_back({owner.text(0), owner.text(1),
                                 passage.step() ? matchedPassage(passage.text(0), words) : std::string(),
                                 owner.integer(2)});
                passage.reset();
            }
            owner.reset();
        }
        return found;
    } catch (const SqlError&) {
        return {};
    }
}

std::optional<StoredConversation> HistoryDatabase::conversation(const std::string& account, const std::string& id) {
    if (!db_) return std::nullopt;
    try {
        Statement head(db_, R"(SELECT id, title, server_id, created_ms, updated_ms FROM conversations
            WHERE account = ? AND uid = ?)");
        head.bind(account).bind(id);
        if (!head.step()) return std::nullopt;
        StoredConversation found{id, head.text(1), head.optionalText(2), head.integer(3), head.integer(4), {}};
        Statement rows(db_, "SELECT role, content, time_ms FROM entries WHERE conversation = ? ORDER BY seq");
        rows.bind(head.integer(0));
        while (rows.step()) found.entries.push_back({rows.text(0), rows.text(1), rows.integer(2)});
        return found;
    } catch (const SqlError&) {
        return std::nullopt;
    }
}

int HistoryDatabase::count(const std::string& account) {
    if (!db_) return 0;
    try {
        Statement rows(db_, "SELECT count(*) FROM conversations WHERE account = ?");
        rows.bind(account);
        return rows.step() ? static_cast<int>(rows.integer(0)) : 0;
    } catch (const SqlError&) {
        return 0;
    }
}

bool HistoryDatabase::remove(const std::string& account, const std::string& id) {
    if (!isWritable()) return false;
    try {
        inTransaction(db_, [&] { deleteConversations(db_, "account = ? AND uid = ?", account, id); });
        forgetDeleted();
        return true;
    } catch (const SqlError&) {
        return false;
    }
}

bool HistoryDatabase::removeAll(const std::string& account) {
    if (!isWritable()) return false;
    try {
        inTransaction(db_, [&] { deleteConversations(db_, "account = ?", account, std::nullopt); });
        forgetDeleted();
        return true;
    } catch (const SqlError&) {
        return false;
    }
}

void HistoryDatabase::checkpoint() {
    if (isWritable()) sqlite3_exec(db_, "PRAGMA wal_checkpoint(PASSIVE)", nullptr, nullptr, nullptr);
}

void HistoryDatabase::forgetDeleted() {
    sqlite3_exec(db_, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
}

bool HistoryDatabase::keepsChats(const std::string& account) {
    if (!db_) return true;
    try {
        Statement keep(db_, "SELECT keep FROM settings WHERE account = ?");
        keep.bind(account);
        return !keep.step() || keep.integer(0) != 0;
    } catch (const SqlError&) {
        return true;
    }
}

bool HistoryDatabase::setKeepsChats(const std::string& account, bool keep) {
    if (!isWritable()) return false;
    try {
        inTransaction(db_, [&] {
            if (!keep) deleteConversations(db_, "account = ?", account, std::nullopt);
            Statement setting(db_, "INSERT OR REPLACE INTO settings(account, keep) VALUES (?, ?)");
            setting.bind(account).bind(std::int64_t{keep ? 1 : 0}).step();
        });
        forgetDeleted();
        return true;
    } catch (const SqlError&) {
        return false;
    }
}

}  // namespace nimbo::history
