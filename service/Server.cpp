#include "Server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <linux/sockios.h>
#include <netdb.h>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace service {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Connections served at once (a thread each), and accepted connections that may wait for one.
constexpr size_t maxThreads = 1024;
constexpr size_t maxWaiting = 64;
// Connections open at once from one client address; past them, a connection is answered 503.
constexpr size_t maxPerAddress = 64;
// A connection may wait this long for its next request to begin…
constexpr auto idleLimit = 5s;
// …which must then arrive whole (request line, headers and body) within this time.
constexpr auto requestLimit = 10s;
// No request begins on a connection older than this.
constexpr auto lifetimeLimit = 15s;
// An answer may take this long, and one second more for each minBytesPerSecond the client took.
constexpr auto answerGrace = 10s;
constexpr int64_t minBytesPerSecond = 64 * 1024;
// A request head (line and headers) longer than this is refused.
constexpr size_t maxHeadBytes = 64 * 1024;
// Once the server stops, every connection ends within this time.
constexpr auto stopGrace = 3s;
// Under this name the HTTP layer never sees a "Range" header: it would refuse one it cannot
// parse (a unit other than bytes, say) on any route, while only the model route answers ranges,
// by its own rules. The header is restored before the request reaches the routes.
constexpr char rangeAsSent[] = "X-Nimbo-Range-As-Sent";

// Connections of the thread that answers them (set while it serves one).
struct Connection;
thread_local Connection *current = nullptr;
// Set while the accept loop runs a connection that no thread can take.
thread_local bool turnedAway = false;

} // namespace

// Raised once when the server stops; wakes every connection that waits.
class StopSignal {
public:
    StopSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~StopSignal() { ::close(fd_); }
    StopSignal(const StopSignal &) = delete;
    StopSignal &operator=(const StopSignal &) = delete;

    void raise()
    {
        deadline_ = (Clock::now() + stopGrace).time_since_epoch().count();
        raised_ = true;
        const uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(fd_, &one, sizeof one);
    }
    bool raised() const { return raised_; }
    Clock::time_point deadline() const { return Clock::time_point(Clock::duration(deadline_.load())); }
    int fd() const { return fd_; }

private:
    const int fd_;
    std::atomic<Clock::rep> deadline_{0};
    std::atomic<bool> raised_{false};
};

namespace {

// Waits until `fd` is ready for `events`, at most until `until`. Once the server stops, the wait
// ends at once when `endsOnStop`, and at the stop deadline otherwise.
bool waitFor(int fd, short events, Clock::time_point until, const StopSignal &stop, bool endsOnStop = false)
{
    for (;;) {
        const bool stopping = stop.raised();
        if (stopping && endsOnStop)
            return false;
        if (stopping)
            until = std::min(until, stop.deadline());
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd entries[2] = {{fd, events, 0}, {stop.fd(), POLLIN, 0}};
        const int ready = ::poll(entries, stopping ? 1 : 2, static_cast<int>(std::min<int64_t>(left, INT_MAX)));
        if (ready > 0 && entries[0].revents != 0)
            return true;
        if (ready == 0 || (ready < 0 && errno != EINTR))
            return false;
    }
}

// Runs each job on a thread of its own, starting threads as needed up to maxThreads; beyond
// that, up to maxWaiting jobs wait in order, and a job past those runs at once on the
// caller's thread with turnedAway set. Threads stay until the server stops.
class GrowingPool final : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> job) override
    {
        {
            std::lock_guard lock(mutex_);
            if (admitted_ < maxThreads + maxWaiting) {
                ++admitted_;
                jobs_.push_back(std::move(job));
                if (threads_.size() < std::min(admitted_, maxThreads))
                    startThread();
                wake_.notify_one();
                return;
            }
        }
        turnedAway = true;
        job();
        turnedAway = false;
    }

    void shutdown() override
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread &thread : threads_)
            thread.join();
    }

private:
    // A job waits for a running thread when the system refuses another one.
    void startThread()
    {
        try {
            threads_.emplace_back([this] { work(); });
        } catch (const std::system_error &) {
        }
    }

    void work()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty())
                return;
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
            --admitted_;
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    size_t admitted_ = 0; // jobs running or waiting
    bool stopping_ = false;
};

// A connection's socket as the HTTP layer reads and writes it. The head of each request is read
// here first, whole and within the request's deadline (so that "Range" can be renamed before
// the HTTP layer parses it); the body then comes straight from the socket, within the same
// deadline. Writes of an answer end at its deadline, which moves on as the client takes bytes.
class ConnectionStream final : public httplib::Stream {
public:
    ConnectionStream(int fd, const StopSignal &stop) : fd_(fd), stop_(stop) {}

    // Waits until the next request begins, at most until `until`; false when it does not, or
    // the server stops.
    bool awaitRequest(Clock::time_point until) const
    {
        return offset_ < buffer_.size() || waitFor(fd_, POLLIN, until, stop_, true);
    }

    void beginRequest()
    {
        buffer_.erase(0, offset_);
        offset_ = consumed_ = 0;
        failed_ = answering_ = false;
        deadline_ = Clock::now() + requestLimit;
        size_t end = buffer_.find("\n\r\n");
        while (end == std::string::npos && buffer_.size() < maxHeadBytes && waitFor(fd_, POLLIN, deadline_, stop_)) {
            char chunk[16 * 1024];
            const ssize_t got = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
                break;
            const size_t searched = buffer_.size() < 2 ? 0 : buffer_.size() - 2;
            buffer_.append(chunk, static_cast<size_t>(std::max<ssize_t>(got, 0)));
            end = buffer_.find("\n\r\n", searched);
        }
        headComplete_ = end != std::string::npos;
        headBytes_ = headComplete_ ? hideRanges(end + 3) : buffer_.size();
    }

    // True when the request was read exactly to its end, so that the next one can follow.
    bool readWhole(const httplib::Request &request) const
    {
        const bool sized = request.has_header("Content-Length");
        return !failed_ && !request.has_header("Transfer-Encoding") && (sized || !Server::readsBodyOf(request.method)) &&
               consumed_ == headBytes_ + (sized ? request.get_header_value<uint64_t>("Content-Length") : 0);
    }

    void beginAnswer()
    {
        answering_ = true;
        answerStart_ = Clock::now();
        written_ = 0;
    }

    bool is_readable() const override
    {
        return offset_ < buffer_.size() || (headComplete_ && waitFor(fd_, POLLIN, deadline_, stop_));
    }
    bool is_writable() const override { return waitFor(fd_, POLLOUT, answerDeadline(), stop_); }

    ssize_t read(char *bytes, size_t size) override
    {
        ssize_t got = -1;
        if (offset_ < buffer_.size()) {
            got = static_cast<ssize_t>(std::min(size, buffer_.size() - offset_));
            std::memcpy(bytes, buffer_.data() + offset_, static_cast<size_t>(got));
            offset_ += static_cast<size_t>(got);
        } else {
            while (is_readable() && (got = ::recv(fd_, bytes, size, MSG_DONTWAIT)) < 0 && (errno == EINTR || errno == EAGAIN))
                ;
        }
        failed_ = failed_ || got <= 0;
        consumed_ += static_cast<size_t>(std::max<ssize_t>(got, 0));
        return got;
    }

    // Sends all of `bytes`, or fails: the HTTP layer writes an answer's head, and a body it holds
    // whole, each in one call and never retries a rest. Waits for the client to take them up to
    // the answer's deadline.
    ssize_t write(const char *bytes, size_t size) override
    {
        for (size_t sent = 0; sent < size;) {
            if (!is_writable())
                return -1;
            const ssize_t done = ::send(fd_, bytes + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (done < 0 && errno != EINTR && errno != EAGAIN)
                return -1;
            sent += static_cast<size_t>(std::max<ssize_t>(done, 0));
            written_ += static_cast<size_t>(std::max<ssize_t>(done, 0));
        }
        return static_cast<ssize_t>(size);
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override { addressOf(::getpeername, ip, port); }
    void get_local_ip_and_port(std::string &ip, int &port) const override { addressOf(::getsockname, ip, port); }
    socket_t socket() const override { return fd_; }

private:
    // Renames the "Range" headers of the head that ends at `end`; where the head now ends.
    size_t hideRanges(size_t end)
    {
        for (size_t line = buffer_.find('\n'); line + 1 < end; line = buffer_.find('\n', line + 1)) {
            if (::strncasecmp(buffer_.data() + line + 1, "Range:", 6) == 0) {
                buffer_.replace(line + 1, 5, rangeAsSent);
                end += std::strlen(rangeAsSent) - 5;
            }
        }
        return end;
    }

    // Before the answer begins ("100 Continue"), each write may wait the grace period.
    Clock::time_point answerDeadline() const
    {
        if (!answering_)
            return Clock::now() + answerGrace;
        int queued = 0;
        ::ioctl(fd_, SIOCOUTQ, &queued);
        const auto taken = static_cast<int64_t>(written_ - std::min(written_, static_cast<size_t>(std::max(queued, 0))));
        return answerStart_ + answerGrace + std::chrono::milliseconds(taken * 1000 / minBytesPerSecond);
    }

    void addressOf(int (*query)(int, sockaddr *, socklen_t *), std::string &ip, int &port) const
    {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        char host[NI_MAXHOST] = "";
        char service[NI_MAXSERV] = "";
        if (query(fd_, reinterpret_cast<sockaddr *>(&address), &length) == 0 &&
            ::getnameinfo(reinterpret_cast<sockaddr *>(&address), length, host, sizeof host, service, sizeof service,
                          NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
            ip = host;
            port = std::atoi(service);
        }
    }

    const int fd_;
    const StopSignal &stop_;
    std::string buffer_; // the head of the request being read, and whatever came after it
    size_t offset_ = 0;  // how much of buffer_ the HTTP layer has read
    size_t headBytes_ = 0;
    bool headComplete_ = false;
    size_t consumed_ = 0; // bytes of this request the HTTP layer has read
    bool failed_ = false; // a read of this request failed
    Clock::time_point deadline_ = Clock::now();
    bool answering_ = false;
    Clock::time_point answerStart_;
    size_t written_ = 0;
};

struct Connection {
    ConnectionStream &stream;
    const Clock::time_point lastStart; // no request begins after this
    bool ends = false;                 // the answer being written is the last
};

// Closes a connection after its last answer. Input the client is still sending (the body of a
// request refused unread) is taken first, what has come at once and what comes within `linger`:
// closing with unread input would reset the connection, and the client could lose the answer.
void lingeringClose(int fd, Clock::duration linger, const StopSignal &stop)
{
    ::shutdown(fd, SHUT_WR);
    const auto until = Clock::now() + linger;
    char discarded[16 * 1024];
    for (size_t taken = 0; taken < 16 * 1024 * 1024;) {
        const ssize_t got = ::recv(fd, discarded, sizeof discarded, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN) ||
            (got < 0 && errno == EAGAIN && !waitFor(fd, POLLIN, until, stop)))
            break;
        taken += static_cast<size_t>(std::max<ssize_t>(got, 0));
    }
    ::close(fd);
}

// The answer to a connection refused a place: no thread can take it, its client address has all
// of its places, or the server stops. It is closed without waiting for more input, since on the
// accept loop a wait would hold up every connection behind it.
void answerBusy(int fd, const StopSignal &stop)
{
    static const std::string body = R"({"error":"The service is busy — try again."})";
    static const std::string answer = "HTTP/1.1 503 Service Unavailable\r\nCache-Control: no-store\r\n"
                                      "Content-Type: application/json; charset=utf-8\r\nContent-Length: " +
                                      std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    lingeringClose(fd, 0ms, stop);
}

} // namespace

// How many connections each client address has open.
class ClientAddresses {
public:
    // Counts a connection from `address`; false, counting nothing, when that address has all its places.
    bool enter(const std::string &address)
    {
        std::lock_guard lock(mutex_);
        size_t &open = counts_[address];
        if (open >= maxPerAddress)
            return false;
        ++open;
        return true;
    }
    void leave(const std::string &address)
    {
        std::lock_guard lock(mutex_);
        if (--counts_[address] == 0)
            counts_.erase(address);
    }

private:
    std::mutex mutex_;
    std::unordered_map<std::string, size_t> counts_;
};

Server::Server() : stop_(std::make_unique<StopSignal>()), addresses_(std::make_unique<ClientAddresses>())
{
    new_task_queue = [] { return new GrowingPool; };
    set_keep_alive_timeout(std::chrono::seconds(idleLimit).count());
    set_keep_alive_max_count(100);
    set_post_routing_handler(
        [this](const httplib::Request &request, httplib::Response &response) { prepareAnswer(request, response); });
}

Server::~Server() = default;

void Server::raiseBacklog()
{
    ::listen(svr_sock_, SOMAXCONN);
}

void Server::stopServing()
{
    stop_->raise();
    stop();
}

bool Server::readsBodyOf(const std::string &method)
{
    return method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE" || method == "PRI";
}

// Serves the requests of one connection in turn.
bool Server::process_and_close_socket(socket_t sock)
{
    ConnectionStream stream(sock, *stop_);
    std::string address;
    int port = 0;
    if (!turnedAway && !stop_->raised())
        stream.get_remote_ip_and_port(address, port);
    if (turnedAway || stop_->raised() || !addresses_->enter(address)) {
        answerBusy(sock, *stop_);
        return false;
    }
    // The kernel holds at most this much of an answer for a client that does not read it.
    const int sendBuffer = 256 * 1024;
    ::setsockopt(sock, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    Connection connection{stream, Clock::now() + lifetimeLimit};
    current = &connection;
    bool open = true;
    for (size_t served = 0; open && served < keep_alive_max_count_; ++served) {
        if (!stream.awaitRequest(std::min(Clock::now() + idleLimit, connection.lastStart)))
            break;
        stream.beginRequest();
        bool closed = false;
        open = process_request(stream, served + 1 == keep_alive_max_count_, closed,
                               [](httplib::Request &request) {
                                   const auto [first, last] = request.headers.equal_range(rangeAsSent);
                                   const std::vector<std::pair<std::string, std::string>> ranges(first, last);
                                   request.headers.erase(rangeAsSent);
                                   for (const auto &range : ranges)
                                       request.headers.emplace("Range", range.second);
                               }) &&
               !closed && !connection.ends;
    }
    current = nullptr;
    lingeringClose(sock, 1s, *stop_);
    addresses_->leave(address);
    return open;
}

void Server::prepareAnswer(const httplib::Request &request, httplib::Response &response)
{
    Connection *connection = current;
    if (!connection)
        return;
    if (answerDelay_ > 0ms && !stop_->raised()) {
        pollfd entry{stop_->fd(), POLLIN, 0};
        ::poll(&entry, 1, static_cast<int>(answerDelay_.count()));
    }
    connection->ends = ::strcasecmp(response.get_header_value("Connection").c_str(), "close") == 0 ||
                       !connection->stream.readWhole(request) || stop_->raised() ||
                       Clock::now() >= connection->lastStart;
    if (connection->ends) {
        response.headers.erase("Keep-Alive");
        response.headers.erase("Connection");
        response.set_header("Connection", "close");
    }
    connection->stream.beginAnswer();
}

} // namespace service
