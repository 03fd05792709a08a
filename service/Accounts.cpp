#include "Accounts.h"

#include "Clock.h"
#include "Database.h"
#include "HashQueue.h"
#include "Throttle.h"

#include <sodium.h>

#include <algorithm>
#include <array>
#include <thread>

namespace service {

namespace {

constexpr const char *sessionCookie = "nimbo_session";
constexpr int64_t sessionLifetimeMs = 7LL * 24 * 3600 * 1000;
constexpr int64_t trialLengthMs = 14LL * 24 * 3600 * 1000;
constexpr int64_t trialPoolCredits = 1000;
constexpr size_t maxEmailBytes = 254;
constexpr size_t maxPasswordBytes = 1024;
constexpr size_t maxNameBytes = 200;
constexpr size_t minPasswordChars = 8;

const char *const userColumns =
    "u.id, u.email, u.name, u.role, u.can_chat, u.is_super_admin, u.company_id, u.balance, u.lifetime_tokens";

User readUser(const Statement &row)
{
    User user;
    user.id = row.integer(0);
    user.email = row.text(1);
    user.name = row.text(2);
    user.role = row.text(3);
    user.canChat = row.integer(4) != 0;
    user.isSuperAdmin = row.integer(5) != 0;
    user.companyId = row.optionalInteger(6);
    user.balance = row.optionalInteger(7);
    user.lifetimeTokens = row.integer(8);
    return user;
}

// Argon2id at the interactive cost takes 64 MiB and most of a core per hash. Hashes run on
// at most half of the cores, so that other requests always find one free, and take turns
// between client addresses (see HashQueue).
HashQueue hashQueue(std::max(1u, std::thread::hardware_concurrency() / 2));

// Sign-in attempts that have not succeeded, per account (by e-mail, known or not) and per
// client address; password-reset requests per e-mail address and per client address.
Throttle signInAttempts(5, 60'000);
Throttle signInAttemptsPerAddress(20, 60'000);
Throttle resetRequestsPerEmail(3, 15 * 60'000);
Throttle resetRequestsPerAddress(10, 60'000);

HttpError tooManySignIns()
{
    return HttpError(429, "Too many sign-in attempts. Try again in a minute.");
}

// A sign-in attempt, counted against its account and its client address from the start so that
// concurrent attempts cannot pass a limit together. It counts only once it has had its hashing
// turn: an attempt that ends before (the service being busy, say) is taken back.
class SignInAttempt {
public:
    SignInAttempt(std::string email, std::string address) : email_(std::move(email)), address_(std::move(address))
    {
        if (!signInAttemptsPerAddress.tryRecord(address_))
            throw tooManySignIns();
        if (!signInAttempts.tryRecord(email_)) {
            signInAttemptsPerAddress.takeBack(address_);
            throw tooManySignIns();
        }
    }
    ~SignInAttempt()
    {
        if (!hashed_) {
            signInAttempts.takeBack(email_);
            signInAttemptsPerAddress.takeBack(address_);
        }
    }
    SignInAttempt(const SignInAttempt &) = delete;
    SignInAttempt &operator=(const SignInAttempt &) = delete;

    // The password was checked against `hash`: the attempt counts unless it succeeded.
    bool check(const std::string &hash, const std::string &password)
    {
        HashQueue::Turn turn(hashQueue, address_);
        hashed_ = true;
        if (crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) != 0)
            return false;
        signInAttempts.clear(email_);
        signInAttemptsPerAddress.takeBack(address_);
        turn.forgive();
        return true;
    }

private:
    const std::string email_;
    const std::string address_;
    bool hashed_ = false;
};

// `address`: the client address the hash is made for ("" for the service's own).
std::string hashPassword(const std::string &password, const std::string &address = "")
{
    std::array<char, crypto_pwhash_STRBYTES> hash{};
    const HashQueue::Turn turn(hashQueue, address);
    if (crypto_pwhash_str(hash.data(), password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw std::runtime_error("password hashing ran out of memory");
    return hash.data();
}

// Verified against when the e-mail is unknown, so that a wrong address takes as long as a
// wrong password.
const std::string &decoyHash()
{
    static const std::string hash = hashPassword(randomHex(16));
    return hash;
}

bool isHexToken(const std::string &text)
{
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::optional<std::string> sessionToken(const httplib::Request &request)
{
    const std::string prefix = std::string(sessionCookie) + "=";
    const size_t headers = request.get_header_value_count("Cookie");
    for (size_t h = 0; h < headers; ++h) {
        const std::string cookies = request.get_header_value("Cookie", h);
        size_t start = 0;
        while (start < cookies.size()) {
            size_t end = cookies.find(';', start);
            if (end == std::string::npos)
                end = cookies.size();
            const std::string pair = trimmed(cookies.substr(start, end - start));
            if (pair.rfind(prefix, 0) == 0)
                return pair.substr(prefix.size());
            start = end + 1;
        }
    }
    return std::nullopt;
}

bool isEmailShaped(const std::string &email)
{
    const size_t at = email.find('@');
    if (at == 0 || at == std::string::npos || email.find('@', at + 1) != std::string::npos)
        return false;
    if (at + 1 >= email.size() || email.size() > maxEmailBytes)
        return false;
    for (const char c : email) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

bool isDomainShaped(const std::string &domain)
{
    return !domain.empty() && domain.size() <= 253 && domain.front() != '.' && domain.back() != '.' &&
           domain.find("..") == std::string::npos &&
           domain.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789.-") == std::string::npos;
}

// A required text field, trimmed, that must not be empty.
std::string requiredText(const Json &body, const char *key, size_t maxBytes)
{
    std::string value = trimmed(requireString(body, key, maxBytes));
    if (value.empty())
        throw HttpError(400, std::string("\"") + key + "\" must not be empty.");
    return value;
}

void insertUser(Connection &connection, const std::string &email, const std::string &name,
                const std::string &passwordHash, const std::string &role, bool superAdmin, int64_t companyId,
                std::optional<int64_t> balance)
{
    connection
        .prepare("INSERT OR IGNORE INTO users (email, name, password_hash, role, can_chat, is_super_admin, "
                 "company_id, balance, created_at) VALUES (?, ?, ?, ?, 1, ?, ?, ?, ?)")
        .bind(1, email)
        .bind(2, name)
        .bind(3, passwordHash)
        .bind(4, role)
        .bind(5, int64_t{superAdmin})
        .bind(6, companyId)
        .bind(7, balance)
        .bind(8, nowMs())
        .run();
}

bool emailTaken(Connection &connection, const std::string &email)
{
    auto query = connection.prepare("SELECT 1 FROM users WHERE email = ? UNION ALL "
                                    "SELECT 1 FROM signup_requests WHERE email = ? AND status = 'pending'");
    return query.bind(1, email).bind(2, email).step();
}

std::optional<int64_t> companyByDomain(Connection &connection, const std::string &domain)
{
    auto query = connection.prepare("SELECT id FROM companies WHERE domain = ?");
    if (!query.bind(1, domain).step())
        return std::nullopt;
    return query.integer(0);
}

void login(Database &database, const httplib::Request &request, httplib::Response &response)
{
    const Json body = requestObject(request);
    const std::string email = normalizedEmail(requireString(body, "email", maxEmailBytes));
    const std::string &password = requireString(body, "password", maxPasswordBytes);
    SignInAttempt attempt(email, request.remote_addr);
    auto connection = database.acquire();
    std::optional<std::pair<int64_t, std::string>> account;
    {
        auto query = connection->prepare("SELECT id, password_hash FROM users WHERE email = ?");
        if (query.bind(1, email).step())
            account.emplace(query.integer(0), query.text(1));
    }
    const bool ok = attempt.check(account ? account->second : decoyHash(), password) && account;
    if (!ok)
        throw HttpError(401, "Invalid email or password.");
    const std::string token = randomHex(32);
    const int64_t now = nowMs();
    connection->transaction([&] {
        connection->prepare("DELETE FROM sessions WHERE expires_at <= ?").bind(1, now).run();
        connection->prepare("INSERT INTO sessions (token_hash, user_id, expires_at) VALUES (?, ?, ?)")
            .bind(1, tokenDigest(token))
            .bind(2, account->first)
            .bind(3, now + sessionLifetimeMs)
            .run();
    });
    response.set_header("Set-Cookie", std::string(sessionCookie) + "=" + token + "; Path=/; HttpOnly; SameSite=Lax; Max-Age=" +
                                          std::to_string(sessionLifetimeMs / 1000));
    sendJson(response, 200, Json{{"ok", true}, {"email", email}});
}

void me(Database &database, const httplib::Request &request, httplib::Response &response)
{
    auto connection = database.acquire();
    const User user = requireUser(*connection, request);
    sendJson(response, 200,
             Json{{"email", user.email},
                  {"name", user.name},
                  {"role", user.role},
                  {"canChat", user.canChat},
                  {"companyId", user.companyId ? Json(*user.companyId) : Json()},
                  {"isSuperAdmin", user.isSuperAdmin}});
}

// The same answer whether or not the address has an account; the request is recorded.
void forgotPassword(Database &database, const httplib::Request &request, httplib::Response &response)
{
    const Json body = requestObject(request);
    const std::string email = normalizedEmail(requireString(body, "email", maxEmailBytes));
    if (email.empty())
        throw HttpError(400, "\"email\" must not be empty.");
    if (!resetRequestsPerAddress.tryRecord(request.remote_addr) || !resetRequestsPerEmail.tryRecord(email))
        throw HttpError(429, "Too many password-reset requests. Try again later.");
    auto connection = database.acquire();
    const auto user = findUserByEmail(*connection, email);
    connection->prepare("INSERT INTO password_reset_requests (email, user_id, requested_at) VALUES (?, ?, ?)")
        .bind(1, email)
        .bind(2, user ? std::optional<int64_t>(user->id) : std::nullopt)
        .bind(3, nowMs())
        .run();
    sendJson(response, 200, Json{{"ok", true}, {"message", "If that email exists, a reset link is on its way."}});
}

struct SignupForm {
    std::string companyName;
    std::string domain;
    std::string name;
    std::string email;
    std::string password;
    std::string plan;
};

SignupForm readSignup(const Json &body)
{
    SignupForm form;
    form.companyName = requiredText(body, "companyName", maxNameBytes);
    form.domain = lowerAscii(requiredText(body, "primaryDomain", 253));
    form.name = requiredText(body, "signupName", maxNameBytes);
    form.email = normalizedEmail(requireString(body, "signupEmail", maxEmailBytes));
    form.password = requireString(body, "password", maxPasswordBytes);
    form.plan = requireString(body, "plan", 40);
    const Json &services = requireArray(body, "servicesRequested", 10);
    if (!isEmailShaped(form.email))
        throw HttpError(400, "\"signupEmail\" is not a valid email address.");
    if (!isDomainShaped(form.domain))
        throw HttpError(400, "\"primaryDomain\" is not a valid domain.");
    if (form.email.substr(form.email.find('@') + 1) != form.domain)
        throw HttpError(400, "\"primaryDomain\" must be the domain of \"signupEmail\".");
    if (utf8Length(form.password) < minPasswordChars)
        throw HttpError(400, "Password must be at least 8 characters.");
    if (form.plan != "pro_trial")
        throw HttpError(400, "Unknown plan.");
    if (services.empty())
        throw HttpError(400, "\"servicesRequested\" must name at least one service.");
    for (const Json &service : services) {
        if (!service.is_string() || service.get_ref<const std::string &>() != "chat")
            throw HttpError(400, "\"servicesRequested\" may only hold \"chat\".");
    }
    return form;
}

// A new domain gets a trial company whose first account can sign in at once; a known domain
// gets a pending request that a super-admin's approval completes.
void signup(Database &database, const httplib::Request &request, httplib::Response &response)
{
    const SignupForm form = readSignup(requestObject(request));
    const std::string passwordHash = hashPassword(form.password, request.remote_addr);
    auto connection = database.acquire();
    const int64_t now = nowMs();
    const Json answer = connection->transaction([&] {
        if (emailTaken(*connection, form.email))
            throw HttpError(409, "An account with this email already exists.");
        if (const auto company = companyByDomain(*connection, form.domain)) {
            connection->prepare("INSERT INTO signup_requests (company_id, name, email, password_hash, status, "
                                "created_at) VALUES (?, ?, ?, ?, 'pending', ?)")
                .bind(1, *company)
                .bind(2, form.name)
                .bind(3, form.email)
                .bind(4, passwordHash)
                .bind(5, now)
                .run();
            return Json{{"ok", true}, {"status", "pending"}, {"requestId", connection->lastInsertId()}};
        }
        const std::string token = randomHex(16);
        const std::string expires = isoUtc(now + trialLengthMs);
        connection->prepare("INSERT INTO companies (name, domain, plan, trial_expires_at, enrollment_token_hash, "
                            "pool_balance, created_at) VALUES (?, ?, ?, ?, ?, ?, ?)")
            .bind(1, form.companyName)
            .bind(2, form.domain)
            .bind(3, form.plan)
            .bind(4, expires)
            .bind(5, tokenDigest(token))
            .bind(6, trialPoolCredits)
            .bind(7, now)
            .run();
        const int64_t companyId = connection->lastInsertId();
        insertUser(*connection, form.email, form.name, passwordHash, "owner", false, companyId, std::nullopt);
        return Json{{"ok", true},
                    {"companyId", companyId},
                    {"enrollmentToken", token},
                    {"plan", form.plan},
                    {"trialExpiresAt", expires}};
    });
    sendJson(response, answer.contains("enrollmentToken") ? 201 : 202, answer);
}

void approveSignup(Database &database, const httplib::Request &request, httplib::Response &response,
                   const std::string &requestId)
{
    const int64_t id = parseBoundedInteger(requestId, "request id", 1, INT64_MAX);
    auto connection = database.acquire();
    requireSuperAdmin(*connection, request);
    requestObject(request); // the body carries nothing, but it must not be malformed either
    const Json answer = connection->transaction([&] {
        auto pending = connection->prepare("SELECT company_id, name, email, password_hash FROM signup_requests "
                                           "WHERE id = ? AND status = 'pending'");
        if (!pending.bind(1, id).step())
            throw HttpError(404, "No pending sign-up request with that id.");
        const std::string email = pending.text(2);
        insertUser(*connection, email, pending.text(1), pending.text(3), "member", false, pending.integer(0),
                   std::nullopt);
        if (connection->changes() == 0)
            throw HttpError(409, "An account with this email already exists.");
        connection->prepare("UPDATE signup_requests SET status = 'approved' WHERE id = ?").bind(1, id).run();
        return Json{{"ok", true}, {"email", email}, {"companyId", pending.integer(0)}};
    });
    sendJson(response, 200, answer);
}

struct DemoAccount {
    const char *email;
    const char *password;
    const char *name;
    const char *role;
    bool superAdmin;
    std::optional<int64_t> balance;
};

const DemoAccount demoAccounts[] = {
    {"demo@nimbo.test", "demo-password-1", "Demo User", "member", false, 1200},
    {"low@nimbo.test", "low-password-1", "Low Balance", "member", false, 300},
    {"broke@nimbo.test", "broke-password-1", "Broke User", "member", false, 0},
    {"admin@nimbo.test", "admin-password-1", "Nimbo Admin", "superadmin", true, std::nullopt},
};

} // namespace

std::string normalizedEmail(const std::string &email)
{
    return lowerAscii(trimmed(email));
}

std::string tokenDigest(const std::string &token)
{
    std::array<unsigned char, crypto_generichash_BYTES> digest{};
    crypto_generichash(digest.data(), digest.size(), reinterpret_cast<const unsigned char *>(token.data()),
                       token.size(), nullptr, 0);
    std::array<char, crypto_generichash_BYTES * 2 + 1> hex{};
    sodium_bin2hex(hex.data(), hex.size(), digest.data(), digest.size());
    return hex.data();
}

std::string randomHex(size_t bytes)
{
    std::string raw(bytes, '\0');
    randombytes_buf(raw.data(), raw.size());
    std::string hex(bytes * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), reinterpret_cast<const unsigned char *>(raw.data()), raw.size());
    hex.pop_back();
    return hex;
}

User requireUser(Connection &connection, const httplib::Request &request)
{
    const auto token = sessionToken(request);
    if (token && isHexToken(*token)) {
        auto query = connection.prepare(std::string("SELECT ") + userColumns +
                                        " FROM sessions s JOIN users u ON u.id = s.user_id "
                                        "WHERE s.token_hash = ? AND s.expires_at > ?");
        if (query.bind(1, tokenDigest(*token)).bind(2, nowMs()).step())
            return readUser(query);
    }
    throw HttpError(401, "Sign in first.");
}

User requireSuperAdmin(Connection &connection, const httplib::Request &request)
{
    User user = requireUser(connection, request);
    if (!user.isSuperAdmin)
        throw HttpError(403, "Super-admin access required.");
    return user;
}

std::optional<User> findUserByEmail(Connection &connection, const std::string &email)
{
    auto query = connection.prepare(std::string("SELECT ") + userColumns + " FROM users u WHERE u.email = ?");
    if (!query.bind(1, email).step())
        return std::nullopt;
    return readUser(query);
}

void ensureDemoAccounts(Database &database)
{
    auto connection = database.acquire();
    std::vector<std::pair<const DemoAccount *, std::string>> missing;
    for (const DemoAccount &account : demoAccounts) {
        if (!findUserByEmail(*connection, account.email))
            missing.emplace_back(&account, hashPassword(account.password));
    }
    if (missing.empty())
        return;
    connection->transaction([&] {
        connection->prepare("INSERT OR IGNORE INTO companies (name, domain, plan, pool_balance, created_at) "
                            "VALUES ('Demo Co', 'nimbo.test', 'business', 1200, ?)")
            .bind(1, nowMs())
            .run();
        const int64_t companyId = *companyByDomain(*connection, "nimbo.test");
        for (const auto &[account, hash] : missing)
            insertUser(*connection, account->email, account->name, hash, account->role, account->superAdmin, companyId,
                       account->balance);
    });
}

void addAccountRoutes(Router &router, Database &database)
{
    Database *db = &database;
    router.add("POST", "/api/auth/local-login",
               [db](const auto &request, auto &response, const Captures &) { login(*db, request, response); });
    router.add("GET", "/api/auth/me",
               [db](const auto &request, auto &response, const Captures &) { me(*db, request, response); });
    router.add("POST", "/api/auth/forgot-password", [db](const auto &request, auto &response, const Captures &) {
        forgotPassword(*db, request, response);
    });
    router.add("POST", "/api/clients/signup",
               [db](const auto &request, auto &response, const Captures &) { signup(*db, request, response); });
    router.add("POST", "/api/superadmin/signup-requests/{}/approve",
               [db](const auto &request, auto &response, const Captures &captures) {
                   approveSignup(*db, request, response, captures[0]);
               });
}

} // namespace service
