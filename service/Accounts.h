#pragma once

#include "Http.h"

#include <cstdint>
#include <optional>
#include <string>

namespace service {

class Connection;
class Database;

struct User {
    int64_t id = 0;
    std::string email;
    std::string name;
    std::string role;
    bool canChat = false;
    bool isSuperAdmin = false;
    std::optional<int64_t> companyId;
    std::optional<int64_t> balance; // absent: the user draws on the company pool
    int64_t lifetimeTokens = 0;
};

// The user whose session cookie `request` carries; a 401 without a valid session.
User requireUser(Connection &connection, const httplib::Request &request);
// As requireUser, and a 403 unless the user is a super-admin.
User requireSuperAdmin(Connection &connection, const httplib::Request &request);
std::optional<User> findUserByEmail(Connection &connection, const std::string &email);

// Trimmed and lower-cased (ASCII), the form in which addresses are stored and looked up.
std::string normalizedEmail(const std::string &email);
// The form in which secrets handed to clients (session cookies, enrollment tokens) are
// stored: a keyless BLAKE2b digest in lower-case hexadecimal.
std::string tokenDigest(const std::string &token);
// Random bytes written as lower-case hexadecimal.
std::string randomHex(size_t bytes);

// The demo company and its four accounts, created when absent (never reset).
void ensureDemoAccounts(Database &database);

// Sign-in, the user record, password reset, sign-up and the approval of pending sign-ups.
void addAccountRoutes(Router &router, Database &database);

} // namespace service
