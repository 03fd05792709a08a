#pragma once

#include "Http.h"

namespace service {

class Database;

// "/api/v1/learning-sources" and its connect, disconnect and sync sub-paths: per user and
// category, a connected flag, the synced items and the time of the last sync.
void addLearningRoutes(Router &router, Database &database);

} // namespace service
