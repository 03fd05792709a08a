#include "Server.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace service {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t maxThreads = 256;
// A connection may wait this long for its next request to begin…
constexpr time_t idleSeconds = 5;
// …which must then arrive whole (request line, headers and body) within this time.
constexpr auto requestLimit = std::chrono::seconds(10);
// Each write of the answer must make progress within this time.
constexpr auto writeLimit = std::chrono::seconds(10);
constexpr size_t maxRequestsPerConnection = 100;

// Runs each job on an idle thread, and starts a new thread when none is idle, up to
// maxThreads; beyond that, jobs wait in order. Threads stay until the server stops.
class GrowingPool final : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> job) override
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        if (idle_ < jobs_.size() && threads_.size() < maxThreads)
            threads_.emplace_back([this] { work(); });
        wake_.notify_one();
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
    void work()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            ++idle_;
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            --idle_;
            if (jobs_.empty())
                return;
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    size_t idle_ = 0;
    bool stopping_ = false;
};

// Waits until `fd` is ready for `events`, at most until `until`.
bool waitUntil(int fd, short events, Clock::time_point until)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

// A connection's socket whose reads all end at the deadline of the request being read.
class DeadlineStream final : public httplib::Stream {
public:
    explicit DeadlineStream(int fd) : fd_(fd) {}
    void setDeadline(Clock::time_point deadline) { deadline_ = deadline; }

    bool is_readable() const override { return waitUntil(fd_, POLLIN, deadline_); }
    bool is_writable() const override { return waitUntil(fd_, POLLOUT, Clock::now() + writeLimit); }
    ssize_t read(char *bytes, size_t size) override
    {
        return is_readable() ? retried([&] { return ::recv(fd_, bytes, size, 0); }) : -1;
    }
    ssize_t write(const char *bytes, size_t size) override
    {
        return is_writable() ? retried([&] { return ::send(fd_, bytes, size, MSG_NOSIGNAL); }) : -1;
    }
    void get_remote_ip_and_port(std::string &ip, int &port) const override { addressOf(::getpeername, ip, port); }
    void get_local_ip_and_port(std::string &ip, int &port) const override { addressOf(::getsockname, ip, port); }
    socket_t socket() const override { return fd_; }

private:
    template <class Call>
    static ssize_t retried(Call call)
    {
        ssize_t done = 0;
        do
            done = call();
        while (done < 0 && errno == EINTR);
        return done;
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

    int fd_;
    Clock::time_point deadline_ = Clock::now();
};

// Closes a connection after its last answer. Input the client is still sending (the body of a
// request refused unread) is taken for a moment first: closing with unread input would reset
// the connection, and the client could lose the answer.
void lingeringClose(int fd)
{
    ::shutdown(fd, SHUT_WR);
    const auto until = Clock::now() + std::chrono::seconds(1);
    char discarded[16 * 1024];
    for (size_t taken = 0; taken < 16 * 1024 * 1024 && waitUntil(fd, POLLIN, until);) {
        const ssize_t got = ::recv(fd, discarded, sizeof discarded, 0);
        if (got <= 0)
            break;
        taken += static_cast<size_t>(got);
    }
    ::close(fd);
}

} // namespace

Server::Server()
{
    new_task_queue = [] { return new GrowingPool; };
    set_keep_alive_timeout(idleSeconds);
    set_keep_alive_max_count(maxRequestsPerConnection);
}

void Server::raiseBacklog()
{
    ::listen(svr_sock_, SOMAXCONN);
}

// Serves the requests of one connection in turn. The model archives answer ranges
// themselves, so the HTTP layer's own range handling is switched off.
bool Server::process_and_close_socket(socket_t sock)
{
    DeadlineStream stream(sock);
    bool open = true;
    for (size_t served = 0; open && served < keep_alive_max_count_ && is_running(); ++served) {
        if (!waitUntil(sock, POLLIN, Clock::now() + std::chrono::seconds(keep_alive_timeout_sec_)))
            break;
        stream.setDeadline(Clock::now() + requestLimit);
        bool closed = false;
        open = process_request(stream, served + 1 == keep_alive_max_count_, closed,
                               [](httplib::Request &request) { request.ranges.clear(); }) &&
               !closed;
    }
    lingeringClose(sock);
    return open;
}

} // namespace service
