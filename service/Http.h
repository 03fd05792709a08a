#pragma once

#include "Json.h"
#include "Server.h"

#include <httplib.h>

#include <functional>
#include <string>
#include <vector>

namespace service {

struct Options;

// The path segments that a route's "{}" placeholders matched, in order.
using Captures = std::vector<std::string>;
using Handler = std::function<void(const httplib::Request &, httplib::Response &, const Captures &)>;

// The largest request body a route takes unless it names a larger one.
inline constexpr size_t defaultMaxBodyBytes = 1024 * 1024;

// Method-and-path routing of the service: 404 for an unknown path, 405 (with "Allow") for a
// known path asked with another method, 415 for a state-changing request that is not declared
// as "application/json" (with or without a body). A pattern is a path whose "{}" segments
// match any one non-empty segment.
class Router {
public:
    void add(const std::string &method, const std::string &pattern, Handler handler,
             size_t maxBodyBytes = defaultMaxBodyBytes);
    void dispatch(const httplib::Request &request, httplib::Response &response) const;
    // The body limit of the route that `request` goes to (the default for unknown routes).
    size_t maxBodyBytes(const httplib::Request &request) const;
    size_t largestMaxBodyBytes() const;

private:
    struct Route {
        std::string method;
        std::vector<std::string> segments;
        Handler handler;
        size_t maxBodyBytes;
    };
    const Route *find(const httplib::Request &request, Captures &captures, std::string &allowed) const;
    std::vector<Route> routes_;
};

// Sets up `server` to answer through `router`, with the limits every request is held to before
// its body is read (a Content-Length within the route's limit, no content coding), JSON errors
// for every refusal and failure, and the --fail-status / --delay-ms behaviour.
void configureServer(Server &server, const Router &router, const Options &options);

void sendJson(httplib::Response &response, int status, const Json &body);
void sendError(httplib::Response &response, int status, const std::string &message);

// A query parameter, or nothing when the request has none of that name.
std::optional<std::string> queryParam(const httplib::Request &request, const char *name);
// A whole decimal number in [min, max]; anything else is a 400 naming the parameter.
int64_t parseBoundedInteger(const std::string &text, const char *name, int64_t min, int64_t max);

// The body of a POST as a JSON object (see parseBodyObject); the router has checked its type.
Json requestObject(const httplib::Request &request);

} // namespace service
