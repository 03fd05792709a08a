#include "Database.h"

#include <chrono>
#include <thread>

#include <sys/stat.h>

namespace service {

namespace {

constexpr int busyTimeoutMs = 5000;

} // namespace

Statement::Statement(Connection &connection, sqlite3_stmt *statement)
    : connection_(connection), statement_(statement)
{
}

Statement::~Statement()
{
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

Statement &Statement::bind(int index, int64_t value)
{
    const int rc = sqlite3_bind_int64(statement_, index, value);
    if (rc != SQLITE_OK)
        connection_.fail(rc, "bind");
    return *this;
}

Statement &Statement::bind(int index, const std::string &value)
{
    const int rc = sqlite3_bind_text(statement_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK)
        connection_.fail(rc, "bind");
    return *this;
}

Statement &Statement::bind(int index, const std::optional<int64_t> &value)
{
    if (value)
        return bind(index, *value);
    sqlite3_bind_null(statement_, index);
    return *this;
}

Statement &Statement::bind(int index, const std::optional<std::string> &value)
{
    if (value)
        return bind(index, *value);
    sqlite3_bind_null(statement_, index);
    return *this;
}

bool Statement::step()
{
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    connection_.fail(rc, sqlite3_sql(statement_));
}

void Statement::run()
{
    while (step()) {
    }
}

int64_t Statement::integer(int column) const
{
    return sqlite3_column_int64(statement_, column);
}

std::optional<int64_t> Statement::optionalInteger(int column) const
{
    if (sqlite3_column_type(statement_, column) == SQLITE_NULL)
        return std::nullopt;
    return integer(column);
}

std::string Statement::text(int column) const
{
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(statement_, column));
    return data ? std::string(data, static_cast<size_t>(sqlite3_column_bytes(statement_, column))) : std::string();
}

std::optional<std::string> Statement::optionalText(int column) const
{
    if (sqlite3_column_type(statement_, column) == SQLITE_NULL)
        return std::nullopt;
    return text(column);
}

Connection::Connection(const std::filesystem::path &file, std::mutex &writers) : writers_(writers)
{
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    sqlite3 *handle = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &handle, flags, nullptr);
    handle_.reset(handle);
    if (rc != SQLITE_OK)
        throw DatabaseError("cannot open " + file.string() + ": " + (handle ? sqlite3_errmsg(handle) : sqlite3_errstr(rc)));
    db_ = handle;
    ::chmod(file.c_str(), 0600);
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, busyTimeoutMs);
    // Two instances opening a fresh data folder at once race to switch it to WAL, and
    // SQLite can refuse the loser as busy without consulting the busy handler; retry
    // for as long as the busy time-out would have waited.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(busyTimeoutMs);
    for (;;) {
        try {
            run("PRAGMA journal_mode=WAL");
            break;
        } catch (const DatabaseBusy &) {
            if (std::chrono::steady_clock::now() > deadline)
                throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    run("PRAGMA synchronous=FULL");
    run("PRAGMA foreign_keys=ON");
}

Connection::StatementCache::~StatementCache()
{
    for (auto &[sql, statement] : *this)
        sqlite3_finalize(statement);
}

Statement Connection::prepare(const std::string &sql)
{
    auto found = cache_.find(sql);
    if (found == cache_.end()) {
        sqlite3_stmt *statement = nullptr;
        const int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr);
        if (rc != SQLITE_OK)
            fail(rc, sql);
        found = cache_.emplace(sql, statement).first;
    }
    return Statement(*this, found->second);
}

int64_t Connection::lastInsertId() const
{
    return sqlite3_last_insert_rowid(db_);
}

int64_t Connection::changes() const
{
    return sqlite3_changes(db_);
}

void Connection::fail(int code, const std::string &what) const
{
    const int primary = code & 0xFF;
    const std::string message = what + ": " + sqlite3_errmsg(db_);
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        throw DatabaseBusy(message);
    throw DatabaseError(message);
}

void Connection::rollback() noexcept
{
    if (sqlite3_get_autocommit(db_))
        return;
    try {
        run("ROLLBACK");
    } catch (...) {
        // The connection stays in its transaction only if SQLite itself cannot roll back;
        // the next BEGIN then fails and reports it.
    }
}

Database::Database(std::filesystem::path file) : file_(std::move(file))
{
    idle_.push_back(std::make_unique<Connection>(file_, writers_));
}

Database::Lease::Lease(Database &owner, std::unique_ptr<Connection> connection)
    : owner_(&owner), connection_(std::move(connection))
{
}

Database::Lease::~Lease()
{
    if (!connection_)
        return;
    std::lock_guard lock(owner_->mutex_);
    owner_->idle_.push_back(std::move(connection_));
}

Database::Lease Database::acquire()
{
    {
        std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            auto connection = std::move(idle_.back());
            idle_.pop_back();
            return Lease(*this, std::move(connection));
        }
    }
    return Lease(*this, std::make_unique<Connection>(file_, writers_));
}

} // namespace service
