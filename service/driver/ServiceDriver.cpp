#include "ServiceDriver.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <sqlite3.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace nimbo::service_driver {

namespace {

using Clock = std::chrono::steady_clock;

std::string readFile(const std::filesystem::path &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Starts `args` with stdout and stderr going to the given files; the child's pid.
pid_t spawn(const std::vector<std::string> &args, const std::filesystem::path &out, const std::filesystem::path &err)
{
    std::vector<char *> argv;
    std::vector<std::string> copy = args;
    for (auto &arg : copy)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(outFd, 1);
        ::dup2(errFd, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (pid < 0)
        throw std::runtime_error("fork failed");
    return pid;
}

// Waits up to `timeout` for `pid` to end; its exit status, or nothing while it runs.
std::optional<int> waitFor(pid_t pid, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    do {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (Clock::now() < deadline);
    return std::nullopt;
}

std::string sessionCookieOf(const httplib::Headers &headers)
{
    const auto found = headers.find("Set-Cookie");
    if (found == headers.end())
        return "";
    return found->second.substr(0, found->second.find(';'));
}

} // namespace

std::string programPath()
{
    return NIMBO_SERVICE_PROGRAM;
}

TempFolder::TempFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "nimbo-service-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

ServiceInstance::ServiceInstance(const std::filesystem::path &dataDir, const std::vector<std::string> &args)
{
    static std::atomic<int> counter{0};
    log_ = std::filesystem::temp_directory_path() /
           ("nimbo-service-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".log");
    std::vector<std::string> command{programPath(), "--listen", "127.0.0.1:0", "--data", dataDir.string()};
    command.insert(command.end(), args.begin(), args.end());
    pid_ = spawn(command, log_, log_.string() + ".err");
    const std::regex listening("listening on http://127\\.0\\.0\\.1:([0-9]+)");
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < deadline) {
        std::smatch match;
        const std::string text = output();
        if (std::regex_search(text, match, listening)) {
            port_ = std::stoi(match[1]);
            return;
        }
        if (waitFor(pid_, std::chrono::milliseconds(20))) {
            pid_ = -1;
            throw std::runtime_error("nimbo-service exited: " + readFile(log_.string() + ".err"));
        }
    }
    kill();
    throw std::runtime_error("nimbo-service did not come up");
}

ServiceInstance::~ServiceInstance()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        if (!waitFor(pid_, std::chrono::seconds(10)))
            kill();
    }
    std::error_code ignored;
    std::filesystem::remove(log_, ignored);
    std::filesystem::remove(log_.string() + ".err", ignored);
}

void ServiceInstance::kill()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::optional<int> ServiceInstance::terminate(std::chrono::milliseconds within)
{
    if (pid_ <= 0)
        return std::nullopt;
    ::kill(pid_, SIGTERM);
    const auto status = waitFor(pid_, within);
    if (status)
        pid_ = -1;
    else
        kill();
    return status;
}

std::string ServiceInstance::output() const
{
    return readFile(log_);
}

int numberOption(int argc, char **argv, const char *name, int fallback)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0)
            return std::max(1, std::atoi(argv[i + 1]));
    }
    return fallback;
}

std::optional<std::string> queryDatabase(const std::filesystem::path &file, const std::string &sql)
{
    sqlite3 *db = nullptr;
    std::optional<std::string> value;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 5000);
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_type(statement, 0) != SQLITE_NULL)
            value = reinterpret_cast<const char *>(sqlite3_column_text(statement, 0));
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return value;
}

int connectToLoopback(int port, const char *from, int receiveBuffer)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in source{};
    source.sin_family = AF_INET;
    sockaddr_in address = source;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if (fd >= 0 && ::inet_pton(AF_INET, from, &source.sin_addr) == 1 &&
        ::bind(fd, reinterpret_cast<sockaddr *>(&source), sizeof source) == 0 &&
        ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

bool sendSlowly(int fd, char byte)
{
    char answer[512];
    const ssize_t got = ::recv(fd, answer, sizeof answer, MSG_DONTWAIT);
    return got < 0 && errno == EAGAIN && ::send(fd, &byte, 1, MSG_NOSIGNAL) == 1;
}

std::string readUntilClosed(int fd, Clock::time_point until)
{
    std::string received;
    char buffer[64 * 1024];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        pollfd entry{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&entry, 1, static_cast<int>(left)) <= 0)
            return received;
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return received;
        received.append(buffer, static_cast<size_t>(got));
    }
}

std::string exchange(int port, const std::string &bytes, int seconds)
{
    const int fd = connectToLoopback(port);
    if (fd < 0)
        return "";
    const auto until = Clock::now() + std::chrono::seconds(seconds);
    for (size_t sent = 0; sent < bytes.size();) {
        const ssize_t done = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (done <= 0)
            break;
        sent += static_cast<size_t>(done);
    }
    std::string received = readUntilClosed(fd, until);
    ::close(fd);
    return received;
}

int runProgram(const std::vector<std::string> &args, int timeoutSeconds, std::string *errors, std::string *output)
{
    const TempFolder folder;
    std::vector<std::string> command{programPath()};
    command.insert(command.end(), args.begin(), args.end());
    const pid_t pid = spawn(command, folder.path() / "out", folder.path() / "err");
    auto status = waitFor(pid, std::chrono::seconds(timeoutSeconds));
    if (!status) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    if (errors)
        *errors = readFile(folder.path() / "err");
    if (output)
        *output = readFile(folder.path() / "out");
    return status.value_or(-1);
}

Client::Client(int port, int timeoutSeconds) : http_("127.0.0.1", port)
{
    std::signal(SIGPIPE, SIG_IGN); // a refused upload ends in a closed connection, not a signal

    http_.set_connection_timeout(timeoutSeconds, 0);
    http_.set_read_timeout(timeoutSeconds, 0);
    http_.set_write_timeout(timeoutSeconds, 0);
}

Reply Client::get(const std::string &path)
{
    return send("GET", path);
}

Reply Client::post(const std::string &path, const Json &body)
{
    return send("POST", path, body.dump());
}

Reply Client::send(const std::string &method, const std::string &path, const std::string &body,
                   const std::string &contentType, const httplib::Headers &headers)
{
    httplib::Request request;
    request.method = method;
    request.path = path;
    request.body = body;
    request.headers = headers;
    if (!cookie_.empty())
        request.headers.emplace("Cookie", cookie_);
    if (method != "GET" && !contentType.empty())
        request.headers.emplace("Content-Type", contentType);
    Reply reply;
    const auto result = http_.send(request);
    if (!result) {
        reply.transportError = result.error();
        return reply;
    }
    reply.status = result->status;
    reply.body = result->body;
    reply.headers = result->headers;
    reply.json = Json::parse(reply.body, nullptr, false);
    if (reply.json.is_discarded())
        reply.json = nullptr;
    return reply;
}

bool Client::signIn(const std::string &email, const std::string &password)
{
    const Reply reply = post("/api/auth/local-login", Json{{"email", email}, {"password", password}});
    const std::string cookie = sessionCookieOf(reply.headers);
    if (reply.status / 100 != 2 || cookie.empty())
        return false;
    cookie_ = cookie;
    return true;
}

} // namespace nimbo::service_driver
