// bench_service [--requests N] [--concurrency C] [--seconds S]
//
// Starts two nimbo-service instances on one fresh data folder (as scripts/run does), signs in
// one demo user, and sends N chat requests from C concurrent clients, alternating between the
// instances; each client keeps one conversation. Then it counts the turns stored per
// conversation against the replies acknowledged.
//
// Then, each for S seconds on an instance of its own, the latency a normal client sees while
// 64 connections send their request heads one byte every 2 s; the same while 300 connections
// read a 16 MiB model archive at 16 KiB/s and 300 more send their heads one byte a second; the
// latency of /api/health while 32 threads send wrong passwords for one account; and the latency
// of a legitimate sign-in while 5,000 invented e-mail addresses are tried from one client
// address, then from 64 (127.0.0.x), with the hashes done a second meanwhile. All on loopback.

#include "ServiceDriver.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include <fstream>

#include <sys/resource.h>
#include <unistd.h>

using namespace nimbo::service_driver;
using Clock = std::chrono::steady_clock;

namespace {

struct Outcome {
    std::string conversationId;
    int acknowledged = 0;
    int failed = 0;
    std::string lastFailure;
    std::vector<double> latenciesMs;
};

int64_t queryNumber(const std::filesystem::path &file, const std::string &sql)
{
    const auto text = queryDatabase(file, sql);
    return text ? std::stoll(*text) : -1;
}

// The source address of client or connection `i`: 32 to an address on 127.0.1.x, so that they stay
// under the service's per-address cap and are measured as many clients, not refused as one.
std::string clientAddress(size_t i)
{
    return "127.0.1." + std::to_string(1 + i / 32);
}

// One client: `count` turns of one conversation, alternating between the two instances.
Outcome converse(const std::array<int, 2> &ports, int first, int count, const std::string &cookie)
{
    Outcome outcome;
    std::array<Client, 2> clients{Client(ports[0]), Client(ports[1])};
    for (Client &client : clients) {
        client.setCookie(cookie);
        client.setSourceAddress(clientAddress(static_cast<size_t>(first)));  // many clients, not one address
    }
    for (int turn = 0; turn < count; ++turn) {
        Json body{{"message", "load turn " + std::to_string(turn)}, {"mode", "orc"}, {"history", Json::array()}};
        if (!outcome.conversationId.empty())
            body["conversationId"] = outcome.conversationId;
        const auto start = Clock::now();
        const Reply reply = clients[(first + turn) % 2].post("/api/chat/orc", body);
        outcome.latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (reply.status != 200 || !reply.json.is_object() || !reply.json["conversationId"].is_string()) {
            ++outcome.failed;
            outcome.lastFailure = reply.status ? std::to_string(reply.status) + " " + reply.error()
                                               : "transport: " + httplib::to_string(reply.transportError);
            continue;
        }
        outcome.conversationId = reply.json["conversationId"];
        ++outcome.acknowledged;
    }
    return outcome;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())))];
}

struct Probe {
    std::vector<double> latenciesMs;
    int failed = 0;
};

// One normal client asking for `path` again and again (every 20 ms) until `until`.
Probe probe(int port, const std::string &path, const std::string &cookie, Clock::time_point until)
{
    Probe result;
    Client client(port, 30);
    client.setCookie(cookie);
    while (Clock::now() < until) {
        const auto start = Clock::now();
        result.failed += client.get(path).status != 200;
        result.latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return result;
}

// `count` connections that send a request head one byte every 2 s until `until`; a connection
// that the service cuts off is opened again. How many were cut off.
int slowClients(int port, int count, Clock::time_point until)
{
    const std::string head = "GET /api/health HTTP/1.1\r\nX-Slow: " + std::string(4096, 'a');
    std::vector<std::pair<int, size_t>> slow; // socket, bytes sent
    for (int i = 0; i < count; ++i)
        slow.emplace_back(connectToLoopback(port, clientAddress(static_cast<size_t>(i)).c_str()), 0);
    int cut = 0;
    while (Clock::now() < until) {
        for (size_t i = 0; i < slow.size(); ++i) {
            auto &[fd, sent] = slow[i];
            if (!sendSlowly(fd, head[sent++ % head.size()])) {
                ::close(fd);
                fd = connectToLoopback(port, clientAddress(i).c_str());
                sent = 0;
                ++cut;
            }
        }
        std::this_thread::sleep_for(std::chrono::seconds(2));
    }
    for (const auto &[fd, sent] : slow)
        ::close(fd);
    return cut;
}

void printLatencies(const char *what, const Probe &probe)
{
    std::printf("  %-16s: p50 %.1f ms, p95 %.1f ms, max %.1f ms (%zu requests, %d failed)\n", what,
                percentile(probe.latenciesMs, 0.50), percentile(probe.latenciesMs, 0.95),
                percentile(probe.latenciesMs, 1.0), probe.latenciesMs.size(), probe.failed);
}

// A normal signed-in client during 64 slow connections.
int underSlowClients(int seconds)
{
    TempFolder data;
    ServiceInstance instance(data.path(), {"--demo"});
    Client user(instance.port());
    user.signIn("demo@nimbo.test", "demo-password-1");
    const auto until = Clock::now() + std::chrono::seconds(seconds);
    int cut = 0;
    std::thread attacker([&] { cut = slowClients(instance.port(), 64, until); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const Probe normal = probe(instance.port(), "/api/v1/credits/balance", user.cookie(), until);
    attacker.join();
    std::printf("slow clients: 64 connections sending a request head one byte every 2 s for %d s (%d cut off and reopened)\n",
                seconds, cut);
    printLatencies("normal client", normal);
    return normal.failed;
}

// /api/health during 32 threads of wrong passwords for one account.
int underSignInFlood(int seconds)
{
    TempFolder data;
    ServiceInstance instance(data.path(), {"--demo"});
    const auto until = Clock::now() + std::chrono::seconds(seconds);
    std::mutex mutex;
    std::map<int, int> statuses;
    std::vector<std::thread> flood;
    for (int t = 0; t < 32; ++t) {
        flood.emplace_back([&] {
            Client attacker(instance.port());
            while (Clock::now() < until) {
                const int status = attacker.post("/api/auth/local-login", Json{{"email", "demo@nimbo.test"}, {"password", "guess"}}).status;
                std::lock_guard lock(mutex);
                ++statuses[status];
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const Probe health = probe(instance.port(), "/api/health", "", until);
    for (auto &thread : flood)
        thread.join();
    std::printf("sign-in flood: 32 threads of wrong passwords for one account for %d s; answers:", seconds);
    for (const auto &[status, count] : statuses)
        std::printf(" %d×%d", count, status);
    std::printf("\n");
    printLatencies("/api/health", health);
    return health.failed;
}

// `count` connections that each read a model archive 8 KiB every 0.5 s and `count` that send a
// request head one byte a second, until `until`; a connection that is cut off is opened again.
// How many were cut off.
int slowReadersAndSenders(int port, int count, Clock::time_point until)
{
    const std::string get = "GET /models/big.zip HTTP/1.1\r\n\r\n";
    const std::string head = "GET /api/health HTTP/1.1\r\nX-Slow: " + std::string(4096, 'a');
    std::vector<int> readers(static_cast<size_t>(count), -1);
    std::vector<std::pair<int, size_t>> senders(static_cast<size_t>(count), {-1, 0});
    int cut = 0;
    for (int tick = 0; Clock::now() < until; ++tick) {
        char chunk[8192];
        for (size_t i = 0; i < readers.size(); ++i) {
            int &fd = readers[i];
            if (fd >= 0 && ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT) == 0) {
                ::close(fd);
                fd = -1;
                ++cut;
            }
            if (fd < 0 && (fd = connectToLoopback(port, clientAddress(i).c_str())) >= 0)
                ::send(fd, get.data(), get.size(), MSG_NOSIGNAL);
        }
        for (size_t i = 0; i < senders.size(); ++i) {
            auto &[fd, sent] = senders[i];
            if (tick % 2 == 0 && (fd < 0 || !sendSlowly(fd, head[sent++ % head.size()]))) {
                cut += fd >= 0;
                if (fd >= 0)
                    ::close(fd);
                fd = connectToLoopback(port, clientAddress(readers.size() + i).c_str());
                sent = 0;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    for (const int fd : readers)
        ::close(fd);
    for (const auto &[fd, sent] : senders)
        ::close(fd);
    return cut;
}

// A normal signed-in client during 300 slow readers and 300 slow senders.
int underSlowReadersAndSenders(int seconds)
{
    TempFolder data;
    ServiceInstance instance(data.path(), {"--demo"});
    std::ofstream(data.path() / "models" / "big.zip") << std::string(16 << 20, 'z');
    Client user(instance.port());
    user.signIn("demo@nimbo.test", "demo-password-1");
    const auto until = Clock::now() + std::chrono::seconds(seconds);
    int cut = 0;
    std::thread attacker([&] { cut = slowReadersAndSenders(instance.port(), 300, until); });
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const Probe normal = probe(instance.port(), "/api/v1/credits/balance", user.cookie(), until);
    attacker.join();
    std::printf("slow readers and senders: 300 connections reading a 16 MiB archive at 16 KiB/s and 300 sending a head "
                "one byte a second for %d s (%d cut off and reopened)\n", seconds, cut);
    printLatencies("normal client", normal);
    return normal.failed;
}

// A legitimate sign-in (from 127.0.0.200, every 100 ms) while 16 threads try 5,000 invented
// e-mail addresses from `addresses` client addresses, for at most `seconds`.
int underInventedAddresses(int addresses, int seconds)
{
    TempFolder data;
    ServiceInstance instance(data.path(), {"--demo"});
    const auto until = Clock::now() + std::chrono::seconds(seconds);
    std::atomic<int> next{0};
    std::mutex mutex;
    std::map<int, int> statuses;
    std::vector<std::thread> flood;
    for (int t = 0; t < 16; ++t) {
        flood.emplace_back([&] {
            for (int i = next++; i < 5000 && Clock::now() < until; i = next++) {
                Client attacker(instance.port());
                attacker.setSourceAddress("127.0.0." + std::to_string(1 + i % addresses));
                const int status = attacker.post("/api/auth/local-login", Json{{"email", "invented-" + std::to_string(i) + "@x.test"}, {"password", "guess"}}).status;
                std::lock_guard lock(mutex);
                ++statuses[status];
            }
        });
    }
    Probe legit;
    while (Clock::now() < until && next < 5000) {
        Client user(instance.port(), 30);
        user.setSourceAddress("127.0.0.200");
        const auto start = Clock::now();
        legit.failed += !user.signIn("demo@nimbo.test", "demo-password-1");
        legit.latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (auto &thread : flood)
        thread.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - (until - std::chrono::seconds(seconds))).count();
    std::printf("invented addresses: %d of 5,000 tried from %d client address%s in at most %d s; answers:", std::min(next.load(), 5000),
                addresses, addresses == 1 ? "" : "es", seconds);
    for (const auto &[status, count] : statuses)
        std::printf(" %d×%d", count, status);
    // Every 401 and every legitimate sign-in took one hash.
    const size_t hashed = static_cast<size_t>(statuses[401]) + legit.latenciesMs.size() - static_cast<size_t>(legit.failed);
    std::printf("\n  hashes          : %zu in %.1f s, %.1f a second\n", hashed, elapsed, static_cast<double>(hashed) / elapsed);
    printLatencies("legit sign-in", legit);
    return 0;
}

int argument(int argc, char **argv, const char *name, int fallback)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0)
            return std::max(1, std::atoi(argv[i + 1]));
    }
    return fallback;
}

} // namespace

int main(int argc, char **argv)
{
    const int requests = argument(argc, argv, "--requests", 200);
    const int concurrency = std::min(requests, argument(argc, argv, "--concurrency", 200));

    TempFolder data;
    ServiceInstance production(data.path(), {"--demo"});
    ServiceInstance test(data.path(), {"--demo"});
    const auto database = data.path() / "nimbo-service.db";
    queryNumber(database, "UPDATE users SET balance = " + std::to_string(requests) + " WHERE email = 'demo@nimbo.test'");
    Client signIn(production.port());
    if (!signIn.signIn("demo@nimbo.test", "demo-password-1")) {
        std::fprintf(stderr, "bench_service: cannot sign in\n");
        return 1;
    }

    const std::array<int, 2> ports{production.port(), test.port()};
    std::vector<Outcome> outcomes(static_cast<size_t>(concurrency));
    std::vector<std::thread> clients;
    const auto start = Clock::now();
    for (int c = 0; c < concurrency; ++c) {
        const int count = requests / concurrency + (c < requests % concurrency ? 1 : 0);
        clients.emplace_back([&, c, count] { outcomes[static_cast<size_t>(c)] = converse(ports, c, count, signIn.cookie()); });
    }
    for (auto &client : clients)
        client.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    int failed = 0;
    int acknowledged = 0;
    int64_t lostTurns = 0;
    std::vector<double> latencies;
    for (const Outcome &outcome : outcomes) {
        failed += outcome.failed;
        if (outcome.failed)
            std::fprintf(stderr, "bench_service: %d failed, last: %s\n", outcome.failed, outcome.lastFailure.c_str());
        acknowledged += outcome.acknowledged;
        latencies.insert(latencies.end(), outcome.latenciesMs.begin(), outcome.latenciesMs.end());
        if (outcome.conversationId.empty())
            continue;
        const int64_t stored =
            queryNumber(database, "SELECT COUNT(*) FROM turns WHERE conversation_id = '" + outcome.conversationId + "'");
        lostTurns += std::max<int64_t>(0, 2 * outcome.acknowledged - stored);
    }
    const int64_t balance = queryNumber(database, "SELECT balance FROM users WHERE email = 'demo@nimbo.test'");

    std::printf("nimbo-service load: %d chat requests from %d concurrent clients, two instances on one data folder\n",
                requests, concurrency);
    std::printf("  failed requests : %d\n", failed);
    std::printf("  lost turns      : %lld (of %d acknowledged replies, %d turns)\n", static_cast<long long>(lostTurns),
                acknowledged, 2 * acknowledged);
    std::printf("  credits charged : %lld for %d replies\n", static_cast<long long>(requests - balance), acknowledged);
    std::printf("  latency p50     : %.1f ms\n", percentile(latencies, 0.50));
    std::printf("  latency p99     : %.1f ms\n", percentile(latencies, 0.99));
    std::printf("  throughput      : %.1f requests/s (%.2f s in all)\n", requests / seconds, seconds);
    std::fflush(stdout);
    const int hostileSeconds = argument(argc, argv, "--seconds", 12);
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 8192);
    ::setrlimit(RLIMIT_NOFILE, &files);
    const int probesFailed = underSlowClients(hostileSeconds) + underSlowReadersAndSenders(hostileSeconds) +
                             underSignInFlood(hostileSeconds) + underInventedAddresses(1, hostileSeconds) +
                             underInventedAddresses(64, hostileSeconds);
    return failed == 0 && lostTurns == 0 && probesFailed == 0 ? 0 : 1;
}
