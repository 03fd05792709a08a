#pragma once

#include "Http.h"

#include <filesystem>
#include <string>

namespace service {

struct Options;

// The routes that need no account: "/api/health", "/api/agent/latest-version", the model
// archives under "/models/" (files of <data>/models, 404 while absent) and the two web
// pages the app opens in the browser (billing and the store page).
void addPublicRoutes(Router &router, const Options &options, const std::string &baseUrl);

} // namespace service
