#include "Schema.h"

#include "Accounts.h"
#include "Database.h"

namespace service {

namespace {

const char *const tables[] = {
    R"(CREATE TABLE IF NOT EXISTS companies (
        id INTEGER PRIMARY KEY,
        name TEXT NOT NULL,
        domain TEXT NOT NULL UNIQUE,
        plan TEXT NOT NULL,
        trial_expires_at TEXT,
        enrollment_token_hash TEXT,
        pool_balance INTEGER NOT NULL,
        created_at INTEGER NOT NULL))",
    R"(CREATE TABLE IF NOT EXISTS users (
        id INTEGER PRIMARY KEY,
        email TEXT NOT NULL UNIQUE,
        name TEXT NOT NULL,
        password_hash TEXT NOT NULL,
        role TEXT NOT NULL,
        can_chat INTEGER NOT NULL,
        is_super_admin INTEGER NOT NULL,
        company_id INTEGER REFERENCES companies(id),
        balance INTEGER,
        lifetime_tokens INTEGER NOT NULL DEFAULT 0,
        created_at INTEGER NOT NULL))",
    R"(CREATE TABLE IF NOT EXISTS sessions (
        token_hash TEXT PRIMARY KEY,
        user_id INTEGER NOT NULL REFERENCES users(id),
        expires_at INTEGER NOT NULL))",
    R"(CREATE TABLE IF NOT EXISTS password_reset_requests (
        id INTEGER PRIMARY KEY,
        email TEXT NOT NULL,
        user_id INTEGER REFERENCES users(id),
        requested_at INTEGER NOT NULL))",
    R"(CREATE TABLE IF NOT EXISTS signup_requests (
        id INTEGER PRIMARY KEY,
        company_id INTEGER NOT NULL REFERENCES companies(id),
        name TEXT NOT NULL,
        email TEXT NOT NULL,
        password_hash TEXT NOT NULL,
        status TEXT NOT NULL,
        created_at INTEGER NOT NULL))",
    R"(CREATE TABLE IF NOT EXISTS conversations (
        id TEXT PRIMARY KEY,
        user_id INTEGER NOT NULL REFERENCES users(id),
        created_at INTEGER NOT NULL))",
    R"(CREATE TABLE IF NOT EXISTS turns (
        id INTEGER PRIMARY KEY,
        conversation_id TEXT NOT NULL REFERENCES conversations(id),
        role TEXT NOT NULL,
        content TEXT NOT NULL,
        created_at INTEGER NOT NULL))",
    "CREATE INDEX IF NOT EXISTS turns_by_conversation ON turns(conversation_id)",
    // Idempotency-Key of a chat request: "status" and "body" are the answer, NULL while the
    // first request with the key is being answered.
    R"(CREATE TABLE IF NOT EXISTS idempotency_keys (
        user_id INTEGER NOT NULL REFERENCES users(id),
        key TEXT NOT NULL,
        request_digest TEXT NOT NULL,
        status INTEGER,
        body TEXT,
        created_at INTEGER NOT NULL,
        PRIMARY KEY (user_id, key)))",
    "CREATE INDEX IF NOT EXISTS idempotency_keys_by_age ON idempotency_keys(created_at)",
    R"(CREATE TABLE IF NOT EXISTS learning_sources (
        user_id INTEGER NOT NULL REFERENCES users(id),
        category TEXT NOT NULL,
        connected INTEGER NOT NULL,
        last_sync_at INTEGER,
        PRIMARY KEY (user_id, category)))",
    R"(CREATE TABLE IF NOT EXISTS learning_items (
        user_id INTEGER NOT NULL REFERENCES users(id),
        category TEXT NOT NULL,
        item_id TEXT NOT NULL,
        title TEXT NOT NULL,
        content TEXT NOT NULL,
        at TEXT,
        PRIMARY KEY (user_id, category, item_id)))",
    R"(CREATE TABLE IF NOT EXISTS deploy_runs (
        id INTEGER PRIMARY KEY,
        environment TEXT NOT NULL,
        dispatched_at INTEGER NOT NULL,
        step_ms INTEGER NOT NULL,
        html_base TEXT NOT NULL,
        triggered_by INTEGER NOT NULL REFERENCES users(id)))",
};

// Data folders of earlier versions kept enrollment tokens as they were handed out: they
// are replaced by their digests.
void hashEnrollmentTokens(Connection &connection)
{
    if (!connection.prepare("SELECT 1 FROM pragma_table_info('companies') WHERE name = 'enrollment_token'").step())
        return;
    std::vector<std::pair<int64_t, std::string>> tokens;
    for (auto query = connection.prepare("SELECT id, enrollment_token FROM companies WHERE enrollment_token IS NOT NULL");
         query.step();)
        tokens.emplace_back(query.integer(0), query.text(1));
    for (const auto &[id, token] : tokens)
        connection.prepare("UPDATE companies SET enrollment_token = ? WHERE id = ?").bind(1, tokenDigest(token)).bind(2, id).run();
    connection.run("ALTER TABLE companies RENAME COLUMN enrollment_token TO enrollment_token_hash");
}

} // namespace

void createSchema(Connection &connection)
{
    connection.transaction([&] {
        for (const char *sql : tables)
            connection.run(sql);
        hashEnrollmentTokens(connection);
    });
}

} // namespace service
