#pragma once
// Drives nimbo-service from outside, for its tests and its load bench: starts instances of
// the real program on loopback and talks to them over HTTP with a session cookie.

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace nimbo::service_driver {

using Json = nlohmann::json;

// The path of the nimbo-service program that was built with this driver.
std::string programPath();

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    const std::filesystem::path &path() const { return path_; }

private:
    std::filesystem::path path_;
};

// One running instance: `nimbo-service --listen 127.0.0.1:0 --data DIR <args…>`. The
// constructor returns once the instance listens (it prints the port it was given); it throws
// std::runtime_error when the program exits or does not come up within 30 seconds.
class ServiceInstance {
public:
    ServiceInstance(const std::filesystem::path &dataDir, const std::vector<std::string> &args = {"--demo"});
    ~ServiceInstance();
    ServiceInstance(const ServiceInstance &) = delete;
    ServiceInstance &operator=(const ServiceInstance &) = delete;

    int port() const { return port_; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // SIGKILL, as a crash would end it, and waits until it is gone.
    void kill();
    // SIGTERM, as systemd stops it; its exit status once it is gone, or nothing when it is still
    // running after `within` (it is then killed).
    std::optional<int> terminate(std::chrono::milliseconds within);
    // What the instance printed so far.
    std::string output() const;

private:
    int pid_ = -1;
    int port_ = 0;
    std::filesystem::path log_;
};

// Runs the program with `args` to its end (at most `timeoutSeconds`); its exit status, or -1
// when it had to be killed. What it wrote to stderr goes to `errors`, and what it wrote to
// stdout to `output`, when given.
int runProgram(const std::vector<std::string> &args, int timeoutSeconds, std::string *errors = nullptr,
               std::string *output = nullptr);

// A TCP connection to 127.0.0.1:`port` from the loopback address `from`, as a plain socket (-1
// when it cannot connect), for clients that misbehave on purpose. A receive buffer of
// `receiveBuffer` bytes when not 0.
int connectToLoopback(int port, const char *from = "127.0.0.1", int receiveBuffer = 0);
// Sends `bytes` on a new connection and returns all that comes back until the service closes
// it or `seconds` pass.
std::string exchange(int port, const std::string &bytes, int seconds);
// Reads from `fd` until the service closes it or `until`; what came.
std::string readUntilClosed(int fd, std::chrono::steady_clock::time_point until);
// Sends one byte more on such a connection, as a slow client does; false once the service has
// answered or closed it.
bool sendSlowly(int fd, char byte);

// Runs one SQL statement on a database file, on a connection of its own (5 s busy time-out);
// the first column of the first row as text, or nothing (no row, NULL, or a failure).
std::optional<std::string> queryDatabase(const std::filesystem::path &file, const std::string &sql);

// The number N of `--name N` among a bench's arguments (at least 1), or `fallback`.
int numberOption(int argc, char **argv, const char *name, int fallback);

struct Reply {
    int status = 0; // 0: no HTTP answer (see `transportError`)
    httplib::Error transportError = httplib::Error::Success;
    std::string body;
    Json json; // the body parsed, or null when it is not JSON
    httplib::Headers headers;

    std::string error() const { return json.is_object() && json.contains("error") && json["error"].is_string() ? json["error"].get<std::string>() : ""; }
};

// An HTTP client of one instance that keeps the session cookie it was given.
class Client {
public:
    explicit Client(int port, int timeoutSeconds = 30);

    Reply get(const std::string &path);
    Reply post(const std::string &path, const Json &body);
    // Sends `contentType` with every request but a GET (none when it is empty).
    Reply send(const std::string &method, const std::string &path, const std::string &body = "",
               const std::string &contentType = "application/json", const httplib::Headers &headers = {});

    // Signs in; true on a 2xx answer that set the session cookie.
    bool signIn(const std::string &email, const std::string &password);
    const std::string &cookie() const { return cookie_; }
    void setCookie(const std::string &cookie) { cookie_ = cookie; }
    // Off by default: each request on a connection of its own.
    void setKeepAlive(bool on) { http_.set_keep_alive(on); }
    // Connects from this loopback address (127.0.0.1 unless set).
    void setSourceAddress(const std::string &address) { http_.set_interface(address); }

private:
    httplib::Client http_;
    std::string cookie_;
};

} // namespace nimbo::service_driver
