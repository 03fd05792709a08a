#pragma once

#include "Http.h"

namespace service {

class Connection;
class Database;
struct User;

// Takes the price of one chat reply from the user's own balance, or from the company pool
// when the user has none; a 402 when that balance is empty. Call inside a transaction.
void chargeChatReply(Connection &connection, const User &user, int64_t tokens);

// "/api/v1/credits/balance".
void addCreditRoutes(Router &router, Database &database);

} // namespace service
