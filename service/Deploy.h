#pragma once

#include "Http.h"

#include <string>

namespace service {

class Database;

// The super-admin deploy workflow: a trigger records a run, which appears one step
// length later and then walks its jobs and steps, one step per `stepSeconds`, to "success".
// Progress is computed from the stored dispatch time, so every instance reports the same.
// `baseUrl` is this instance's address, used for the runs' "htmlUrl".
void addDeployRoutes(Router &router, Database &database, int stepSeconds, const std::string &baseUrl);

} // namespace service
