#include "Http.h"

#include "Database.h"
#include "Options.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>

namespace service {

namespace {

std::vector<std::string> splitPath(const std::string &path)
{
    std::vector<std::string> segments;
    size_t start = 1;
    while (start <= path.size()) {
        const size_t slash = path.find('/', start);
        const size_t end = slash == std::string::npos ? path.size() : slash;
        segments.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return segments;
}

bool matches(const std::vector<std::string> &pattern, const std::vector<std::string> &segments, Captures &captures)
{
    if (pattern.size() != segments.size())
        return false;
    Captures found;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == "{}") {
            if (segments[i].empty())
                return false;
            found.push_back(segments[i]);
        } else if (pattern[i] != segments[i]) {
            return false;
        }
    }
    captures = std::move(found);
    return true;
}

// Text from a request as it may go into the log: bounded, with control characters, bytes
// outside ASCII and the backslash written as \xNN, so that it cannot forge or colour lines.
std::string printable(const std::string &text)
{
    std::string shown;
    for (const char c : text.substr(0, 200)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == '\\') {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string tooLarge(size_t limit)
{
    return "The request body is larger than " + std::to_string(limit / (1024 * 1024)) + " MiB.";
}

// "application/json", in any case, with or without parameters such as "; charset=utf-8".
bool declaredAsJson(const std::string &contentType)
{
    return lowerAscii(trimmed(contentType.substr(0, contentType.find(';')))) == "application/json";
}

// The answer to a failure that escaped a handler. Refusals carry their own status; a busy
// database is a 503 so that a client tries its other host; anything else is a fault of the
// service and says so without revealing details.
void answerException(httplib::Response &response, std::exception_ptr failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const HttpError &refusal) {
        sendError(response, refusal.status(), refusal.what());
    } catch (const DatabaseBusy &) {
        sendError(response, 503, "The service is busy — try again.");
    } catch (const Json::exception &) {
        sendError(response, 400, "The request does not have the expected form.");
    } catch (const std::exception &fault) {
        std::fprintf(stderr, "nimbo-service: internal error: %s\n", fault.what());
        sendError(response, 500, "Internal error.");
    } catch (...) {
        std::fprintf(stderr, "nimbo-service: internal error\n");
        sendError(response, 500, "Internal error.");
    }
}

const char *reasonFor(int status)
{
    switch (status) {
    case 400: return "Bad request.";
    case 404: return "Not found.";
    case 405: return "Method not allowed.";
    case 411: return "Send the body with a Content-Length.";
    case 413: return "The request body is too large.";
    case 414: return "The request path is too long.";
    case 415: return "Unsupported media type.";
    case 416: return "Range not satisfiable.";
    case 503: return "Service unavailable.";
    default: return status < 500 ? "The request was refused." : "The service cannot answer now.";
    }
}

// A refusal made before the body is read. The body stays unread, so the connection ends with
// this answer (see Server).
httplib::Server::HandlerResponse refuseUnread(httplib::Response &response, int status, const std::string &message)
{
    sendError(response, status, message);
    return httplib::Server::HandlerResponse::Handled;
}

// The limits a request is held to before its body is read (and before "100 Continue" is sent).
httplib::Server::HandlerResponse checkBeforeBody(const Router &router, const httplib::Request &request,
                                                 httplib::Response &response)
{
    // The HTTP layer reads a chunked body, or one without a length, to its end without the size
    // limit, so only bodies with a length are accepted.
    if (request.has_header("Transfer-Encoding") ||
        (Server::readsBodyOf(request.method) && !request.has_header("Content-Length")))
        return refuseUnread(response, 411, reasonFor(411));
    // The HTTP layer would unpack a compressed body without bound; no client compresses.
    const std::string coding = lowerAscii(trimmed(request.get_header_value("Content-Encoding")));
    if (!coding.empty() && coding != "identity")
        return refuseUnread(response, 415, "Send the body without a content coding.");
    const size_t limit = router.maxBodyBytes(request);
    if (request.get_header_value<uint64_t>("Content-Length") > limit)
        return refuseUnread(response, 413, tooLarge(limit));
    return httplib::Server::HandlerResponse::Unhandled;
}

} // namespace

void Router::add(const std::string &method, const std::string &pattern, Handler handler, size_t maxBodyBytes)
{
    routes_.push_back(Route{method, splitPath(pattern), std::move(handler), maxBodyBytes});
}

const Router::Route *Router::find(const httplib::Request &request, Captures &captures, std::string &allowed) const
{
    const auto segments = splitPath(request.path);
    for (const Route &route : routes_) {
        if (!matches(route.segments, segments, captures))
            continue;
        if (route.method == request.method || (route.method == "GET" && request.method == "HEAD"))
            return &route;
        allowed += (allowed.empty() ? "" : ", ") + route.method;
    }
    return nullptr;
}

size_t Router::maxBodyBytes(const httplib::Request &request) const
{
    Captures captures;
    std::string allowed;
    const Route *route = find(request, captures, allowed);
    return route ? route->maxBodyBytes : defaultMaxBodyBytes;
}

size_t Router::largestMaxBodyBytes() const
{
    size_t largest = defaultMaxBodyBytes;
    for (const Route &route : routes_)
        largest = std::max(largest, route.maxBodyBytes);
    return largest;
}

void Router::dispatch(const httplib::Request &request, httplib::Response &response) const
{
    Captures captures;
    std::string allowed;
    if (const Route *route = find(request, captures, allowed)) {
        // Only a JSON request can change state: a web page cannot send one to another site
        // without the browser asking first.
        if (route->method != "GET" && !declaredAsJson(request.get_header_value("Content-Type")))
            throw HttpError(415, "Send the request as application/json.");
        route->handler(request, response, captures);
        return;
    }
    if (allowed.empty()) {
        sendError(response, 404, reasonFor(404));
        return;
    }
    response.set_header("Allow", allowed);
    sendError(response, 405, reasonFor(405));
}

void configureServer(Server &server, const Router &router, const Options &options)
{
    server.set_payload_max_length(router.largestMaxBodyBytes());
    server.set_default_headers({{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}});

    server.setAnswerDelay(std::chrono::milliseconds(options.delayMs));
    server.set_pre_routing_handler([&router](const httplib::Request &request, httplib::Response &response) {
        return checkBeforeBody(router, request, response);
    });
    server.set_expect_100_continue_handler([&router](const httplib::Request &request, httplib::Response &response) {
        return checkBeforeBody(router, request, response) == httplib::Server::HandlerResponse::Handled ? response.status
                                                                                                     : 100;
    });
    // --fail-status answers once the body has been read, so that a kept-alive connection
    // stays in step for the client's next request.
    const auto route = [&router, &options](const httplib::Request &request, httplib::Response &response) {
        if (options.failStatus != 0)
            sendError(response, options.failStatus, "Failing on purpose: this instance was started with --fail-status.");
        else
            router.dispatch(request, response);
    };
    server.Get(".*", route);
    server.Post(".*", route);
    server.Put(".*", route);
    server.Patch(".*", route);
    server.Delete(".*", route);
    server.Options(".*", route);
    server.set_exception_handler(
        [](const httplib::Request &, httplib::Response &response, std::exception_ptr failure) {
            answerException(response, failure);
        });
    // Refusals that the HTTP layer makes on its own (bad request line, body too large, …)
    // get a JSON body like every other refusal.
    server.set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request &, httplib::Response &response) {
            if (!response.body.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            sendError(response, response.status, reasonFor(response.status));
            return httplib::Server::HandlerResponse::Handled;
        }));
    server.set_logger([port = options.port](const httplib::Request &request, const httplib::Response &response) {
        std::printf("[%d] %s %s %d\n", port, printable(request.method).c_str(), printable(request.path).c_str(),
                    response.status);
        std::fflush(stdout);
    });
}

void sendJson(httplib::Response &response, int status, const Json &body)
{
    response.status = status;
    response.set_content(dumpJson(body), "application/json; charset=utf-8");
}

void sendError(httplib::Response &response, int status, const std::string &message)
{
    sendJson(response, status, Json{{"error", message}});
}

std::optional<std::string> queryParam(const httplib::Request &request, const char *name)
{
    if (!request.has_param(name))
        return std::nullopt;
    return request.get_param_value(name);
}

int64_t parseBoundedInteger(const std::string &text, const char *name, int64_t min, int64_t max)
{
    int64_t value = 0;
    const char *end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || last != end || value < min || value > max)
        throw HttpError(400, std::string("\"") + name + "\" must be a whole number from " + std::to_string(min) +
                                 " to " + std::to_string(max) + ".");
    return value;
}

Json requestObject(const httplib::Request &request)
{
    return parseBodyObject(request.body);
}

} // namespace service
