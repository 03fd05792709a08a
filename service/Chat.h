#pragma once

#include "Http.h"

#include <string>

namespace service {

class Database;

// "/api/chat/orc": one round trip to the orchestrator, answered by a small local responder.
// `node` names this instance in the answers.
void addChatRoutes(Router &router, Database &database, const std::string &node);

} // namespace service
