#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace service {

// The name of the database file in the data folder.
inline constexpr const char *databaseFileName = "nimbo-service.db";

// SQLite reported that another writer held the database for longer than the busy time-out.
class DatabaseBusy : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Any other SQLite failure.
class DatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Connection;

// One prepared statement of a connection's cache. Reset (and unbound) when it goes out of scope.
class Statement {
public:
    Statement(Connection &connection, sqlite3_stmt *statement);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &bind(int index, int64_t value);
    Statement &bind(int index, const std::string &value);
    Statement &bind(int index, const std::optional<int64_t> &value);
    Statement &bind(int index, const std::optional<std::string> &value);

    // Runs to the next row; false once the statement is done.
    bool step();
    // Runs a statement that returns no rows.
    void run();

    int64_t integer(int column) const;
    std::optional<int64_t> optionalInteger(int column) const;
    std::string text(int column) const;
    std::optional<std::string> optionalText(int column) const;

private:
    Connection &connection_;
    sqlite3_stmt *statement_;
};

// One SQLite connection with its own statement cache. Used by one thread at a time.
class Connection {
public:
    // `writers` is held for the length of each transaction: writers of one process queue on
    // it instead of polling SQLite's lock, which only the other processes then contend for.
    Connection(const std::filesystem::path &file, std::mutex &writers);
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    Statement prepare(const std::string &sql);
    void run(const std::string &sql) { prepare(sql).run(); }
    int64_t lastInsertId() const;
    int64_t changes() const;

    // Runs `work` inside BEGIN IMMEDIATE … COMMIT; any exception rolls back and passes on.
    template <class Work>
    auto transaction(Work &&work) -> decltype(work())
    {
        std::lock_guard writing(writers_);
        run("BEGIN IMMEDIATE");
        try {
            if constexpr (std::is_void_v<decltype(work())>) {
                work();
                run("COMMIT");
            } else {
                auto result = work();
                run("COMMIT");
                return result;
            }
        } catch (...) {
            rollback();
            throw;
        }
    }

    [[noreturn]] void fail(int code, const std::string &what) const;

private:
    void rollback() noexcept;

    // Closed with sqlite3_close_v2, which also copes with statements still in the cache when
    // the constructor fails half-way.
    std::unique_ptr<sqlite3, int (*)(sqlite3 *)> handle_{nullptr, &sqlite3_close_v2};
    sqlite3 *db_ = nullptr;
    std::mutex &writers_;
    // Finalized before the handle closes (members are destroyed in reverse order).
    struct StatementCache : std::unordered_map<std::string, sqlite3_stmt *> {
        StatementCache() = default;
        StatementCache(const StatementCache &) = delete;
        ~StatementCache();
    } cache_;
};

// The service's database file, shared with any other process started on the same data
// folder: WAL journal, synchronous=FULL, a busy time-out, and a pool of connections.
class Database {
public:
    explicit Database(std::filesystem::path file);

    class Lease {
    public:
        Lease(Database &owner, std::unique_ptr<Connection> connection);
        ~Lease();
        Lease(Lease &&) = default;
        Connection *operator->() const { return connection_.get(); }
        Connection &operator*() const { return *connection_; }

    private:
        Database *owner_;
        std::unique_ptr<Connection> connection_;
    };

    // A connection for the calling thread until the lease ends.
    Lease acquire();

private:
    std::filesystem::path file_;
    std::mutex mutex_;   // guards idle_
    std::mutex writers_; // see Connection
    std::vector<std::unique_ptr<Connection>> idle_;
};

} // namespace service
