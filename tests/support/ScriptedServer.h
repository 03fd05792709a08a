#pragma once
// A scripted HTTP server on 127.0.0.1 for tests: records every request and answers
// with scripted statuses, bodies, cookies and delays.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib { class Server; }

namespace nimbo::test {

struct RecordedRequest {
    std::string method;
    std::string target;  // path with its query, as sent
    std::string path;    // without the query
    std::string body;
    std::multimap<std::string, std::string> headers;  // names in lower case
    std::multimap<std::string, std::string> query;    // the query's parameters, decoded as a server reads them

    bool hasHeader(const std::string& lowerName) const { return headers.count(lowerName) > 0; }
    std::string header(const std::string& lowerName) const {
        const auto it = headers.find(lowerName);
        return it == headers.end() ? std::string() : it->second;
    }
};

struct ScriptedResponse {
    ScriptedResponse(int status = 200, std::string body = {}, std::string contentType = "application/json",
                     std::vector<std::string> setCookies = {}, std::chrono::milliseconds delay = {},
                     bool cutBodyMidway = false)
        : status(status), body(std::move(body)), contentType(std::move(contentType)),
          setCookies(std::move(setCookies)), delay(delay), cutBodyMidway(cutBodyMidway) {}

    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::vector<std::string> setCookies;
    std::chrono::milliseconds delay{0};
    bool cutBodyMidway = false;  // declares the full length, sends half, then drops the connection
};

class ScriptedServer {
public:
    using Handler = std::function<ScriptedResponse(const RecordedRequest&)>;

    ScriptedServer();
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::string base() const;  // "http://127.0.0.1:<port>"

    // Answers `method` requests to `path` (query ignored). The latest rule for a
    // method and path wins. Unscripted requests get 404 {"error":"not scripted"}.
    void on(const std::string& method, const std::string& path, ScriptedResponse response);
    void on(const std::string& method, const std::string& path, Handler handler);
    // Answers every request that no rule matches.
    void onAnything(ScriptedResponse response);

    // Forgets every rule and every recorded request.
    void reset();
    std::vector<RecordedRequest> requests() const;
    std::size_t requestCount() const;
    // Waits (without an event loop) until at least `count` requests arrived.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

private:
    ScriptedResponse answer(const RecordedRequest& request);

    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    std::map<std::string, Handler> rules_;
    Handler fallback_;
    std::vector<RecordedRequest> requests_;
};

// A loopback port that nothing listens on right now.
int freeLoopbackPort();
// A loopback base on which nothing listens (connections are refused).
std::string refusingBase();

}  // namespace nimbo::test
