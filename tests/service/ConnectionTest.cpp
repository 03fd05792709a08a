// How the service holds its connections: one request per connection after a body it did not
// read, bounded time and count for every connection, a prompt stop on SIGTERM, and sign-in
// and reset limits per client address that a flood cannot turn against other users.

#include "ServiceTest.h"
#include "Throttle.h"

#include <fstream>
#include <mutex>
#include <regex>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

namespace nimbo::service_test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The statuses of the answers in `text`, in order.
std::string statuses(const std::string &text)
{
    std::string found;
    const std::regex statusLine("HTTP/1\\.1 ([0-9]{3}) ");
    for (std::sregex_iterator it(text.begin(), text.end(), statusLine), end; it != end; ++it)
        found += (found.empty() ? "" : " ") + (*it)[1].str();
    return found;
}

TEST_F(ServiceTest, NothingAfterARequestWhoseBodyWasNotReadIsAnsweredAndUnknownRangesAreIgnored)
{
    const std::string health = "GET /api/health HTTP/1.1\r\nHost: x\r\n\r\n";
    const std::string last = "GET /api/health HTTP/1.1\r\nConnection: close\r\n\r\n";
    const std::string reset = "POST /api/auth/forgot-password HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n";
    const std::string body = R"({"email":"a@b.test"})";
    const std::pair<std::string, const char *> cases[] = {
        {reset + "Content-Length: 2000000\r\n\r\n" + health, "413"},
        {reset + "Expect: 100-continue\r\nContent-Length: 2000000\r\n\r\n", "413"},
        {reset + "\r\n" + std::string(3 << 20, ' '), "411"},
        {reset + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n" + health, "411"},
        {"GET /api/health HTTP/1.1\r\nContent-Length: " + std::to_string(health.size()) + "\r\n\r\n" + health, "200"},
        {reset + "Expect: 100-continue\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body + last, "100 200 200"},
        {"GET /api/health HTTP/1.1\r\nRange: items=0-1\r\n\r\nGET /api/health HTTP/1.1\r\nRange: bytes=9-1\r\nConnection: close\r\n\r\n", "200 200"},
    };
    std::vector<std::future<std::string>> replies;
    for (const auto &[request, expected] : cases)
        replies.push_back(std::async(std::launch::async, [&, port = service->port()] { return exchange(port, request, 7); }));
    for (size_t i = 0; i < replies.size(); ++i)
        EXPECT_EQ(statuses(replies[i].get()), cases[i].second) << cases[i].first.substr(0, 120);
}

// A client that keeps its connection busy, one that reads an archive slowly, and an answer
// held back by --delay-ms, each on an instance of its own.
TEST_F(ServiceTest, ConnectionsAndAnswersAreBoundedInTimeAndTheDelayLeavesTheRequestItsDeadline)
{
    auto busy = std::async(std::launch::async, [port = service->port()] {
        const int fd = connectToLoopback(port);
        const auto start = Clock::now();
        int answered = 0;
        while (Clock::now() - start < 22s && ::send(fd, "GET /api/health HTTP/1.1\r\n\r\n", 28, MSG_NOSIGNAL) == 28 &&
               !statuses(readUntilClosed(fd, Clock::now() + 1s)).empty())
            ++answered;
        ::close(fd);
        return std::make_pair(answered, Clock::now() - start);
    });
    auto slowReader = std::async(std::launch::async, [] {
        TempFolder folder;
        ServiceInstance instance(folder.path());
        std::ofstream(folder.path() / "models" / "big.zip") << std::string(16 << 20, 'z');
        const int fd = connectToLoopback(instance.port(), "127.0.0.1", 4096);
        const auto start = Clock::now();
        ::send(fd, "GET /models/big.zip HTTP/1.1\r\n\r\n", 32, MSG_NOSIGNAL);
        size_t received = 0;
        char chunk[8192];
        for (ssize_t got = 1; got != 0 && Clock::now() < start + 16s; std::this_thread::sleep_for(500ms))
            received += static_cast<size_t>(std::max<ssize_t>(got = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT), 0));
        received += readUntilClosed(fd, Clock::now() + 3s).size();
        ::close(fd);
        return received;
    });
    TempFolder other;
    ServiceInstance delayed(other.path(), {"--delay-ms", "10500"});
    const Reply reply = Client(delayed.port()).post("/api/auth/forgot-password", Json{{"email", "a@b.test"}});
    EXPECT_EQ(reply.status, 200) << reply.body;
    const auto [answered, lasted] = busy.get();
    EXPECT_GE(answered, 12);
    EXPECT_LE(lasted, 17s) << answered << " answers";
    const size_t received = slowReader.get();
    EXPECT_GT(received, 0u);
    EXPECT_LT(received, size_t{4} << 20);
}

// One client address holds at most 64 connections, so that a flood of idle ones from it keeps
// no one else out. Past every thread and the waiting room, a connection gets 503 at once, and
// turning it away holds up no connection behind it.
TEST_F(ServiceTest, ConnectionsAreCappedPerClientAddressAndAFullServiceAnswers503AtOnce)
{
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 4096);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &files), 0);
    const auto ask = [port = service->port()](const char *from) {
        const int fd = connectToLoopback(port, from);
        ::send(fd, "GET /api/health HTTP/1.1\r\nConnection: close\r\n\r\n", 48, MSG_NOSIGNAL);
        const std::string answer = statuses(readUntilClosed(fd, Clock::now() + 3s));
        ::close(fd);
        return answer;
    };
    std::vector<int> idle;
    // Idle connections, all opened well within the 5 s a connection may wait for a request.
    const auto open = [&](int count, const std::string &from) {
        for (int i = 0; i < count; ++i)
            idle.push_back(connectToLoopback(service->port(), from.c_str()));
    };
    open(64, "127.0.0.2");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(ask("127.0.0.2"), "503");
    open(1100, "127.0.0.2");
    auto start = Clock::now();
    EXPECT_EQ(ask("127.0.0.3"), "200");
    EXPECT_LE(Clock::now() - start, 1s);
    ::close(idle.front());
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(ask("127.0.0.2"), "200");
    for (int a = 0; a < 17; ++a)
        open(64, "127.0.2." + std::to_string(a));
    std::this_thread::sleep_for(300ms);
    start = Clock::now();
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(ask("127.0.0.4"), "503") << i;
    EXPECT_LE(Clock::now() - start, 1s);
    std::for_each(idle.begin() + 1, idle.end(), ::close);
    EXPECT_EQ(Client(service->port()).get("/api/health").status, 200);
}

// SIGTERM ends a kept-alive connection that goes on sending at once, lets a request in flight
// finish and ends the program within 5 s.
TEST_F(ServiceTest, SigtermFinishesTheRequestInFlightAndClosesKeptAliveConnectionsAtOnce)
{
    std::atomic<bool> stopped{false};
    auto keeper = std::async(std::launch::async, [&] {
        Client client(service->port(), 2);
        client.setKeepAlive(true);
        int afterStop = 0;
        while (client.get("/api/health").status == 200 && afterStop < 50) {
            afterStop += stopped;
            std::this_thread::sleep_for(100ms);
        }
        return afterStop;
    });
    const std::string body = R"({"email":"a@b.test"})";
    const int inFlight = connectToLoopback(service->port());
    const std::string head = "POST /api/auth/forgot-password HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: " +
                             std::to_string(body.size()) + "\r\n\r\n";
    ::send(inFlight, head.data(), head.size(), MSG_NOSIGNAL);
    std::this_thread::sleep_for(500ms);
    stopped = true;
    std::thread stopper([&] { EXPECT_EQ(service->terminate(5s), 0); });
    std::this_thread::sleep_for(300ms);
    ::send(inFlight, body.data(), body.size(), MSG_NOSIGNAL);
    const std::string answer = readUntilClosed(inFlight, Clock::now() + 3s);
    EXPECT_EQ(statuses(answer), "200");
    EXPECT_NE(answer.find("Connection: close"), std::string::npos) << answer;
    ::close(inFlight);
    EXPECT_LE(keeper.get(), 1);
    stopper.join();
}

// A flood of invented addresses from 24 client addresses keeps the hash queue full, yet a
// sign-in from an address that has not been hashing gets the next turn. The tries the queue
// turned away do not count; 20 that did throttle their address alone.
TEST_F(ServiceTest, AFloodFromManyAddressesNeitherKeepsOthersOutNorCountsItsBusyAnswers)
{
    const auto signIn = [&](const std::string &from, const std::string &email, const char *password = "wrong-password") {
        Client client(service->port());
        client.setSourceAddress(from);
        return client.post("/api/auth/local-login", Json{{"email", email}, {"password", password}}).status;
    };
    std::atomic<bool> flooding{true};
    std::mutex mutex;
    std::map<int, std::map<int, int>> answers; // by flooding address 127.0.1.t, then status
    std::vector<std::thread> flood;
    for (int t = 0; t < 24; ++t) {
        flood.emplace_back([&, t] {
            for (int i = 0; flooding; ++i) {
                const int status = signIn("127.0.1." + std::to_string(t), "flood-" + std::to_string(t * 1000 + i) + "@x.test");
                std::lock_guard lock(mutex);
                ++answers[t][status];
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(signIn("127.0.0.3", demo.email, demo.password), 200) << i;
    flooding = false;
    std::for_each(flood.begin(), flood.end(), [](std::thread &t) { t.join(); });
    auto &[address, busiest] = *std::max_element(answers.begin(), answers.end(), [](auto &a, auto &b) { return a.second[503] < b.second[503]; });
    ASSERT_GT(busiest[503], 0);
    ASSERT_LT(busiest[401], 20);
    const std::string from = "127.0.1." + std::to_string(address);
    for (int i = busiest[401]; i < 20; ++i)
        EXPECT_EQ(signIn(from, "made-up-" + std::to_string(i) + "@x.test"), 401) << i << " after " << busiest[503] << " busy";
    EXPECT_EQ(signIn(from, "one-more@x.test"), 429);
    EXPECT_EQ(signIn("127.0.0.2", "one-more@x.test"), 401);
}

// A full table forgets the key whose latest attempt is oldest; a newcomer is never refused.
TEST(Throttle, AFullTableForgetsItsOldestKey)
{
    service::Throttle throttle(1, 60'000);
    for (size_t i = 0; i < service::Throttle::maxKeys; ++i)
        ASSERT_TRUE(throttle.tryRecord(std::to_string(i)));
    EXPECT_FALSE(throttle.tryRecord("1"));
    EXPECT_TRUE(throttle.tryRecord("newcomer"));
    EXPECT_TRUE(throttle.tryRecord("0"));
    EXPECT_FALSE(throttle.tryRecord("2"));
}

} // namespace
} // namespace nimbo::service_test
