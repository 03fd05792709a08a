// bench_retry_storm [--messages N] [--retries R] [--wave W]
//
// Starts two nimbo-service instances on one fresh data folder (as scripts/run does), signs in
// one demo user, and sends N logical chat messages, each under an Idempotency-Key of its own
// and each sent R times at once, the copies alternating between the instances; W messages are
// in flight together. A copy answered 409 (another copy is being answered) asks again after
// 20 ms, up to 50 times, as a client's retry would. Then it prints the credits charged and the
// turns stored against the logical messages, and whether every copy of a message got the
// same answer.

#include "ServiceDriver.h"

#include <chrono>
#include <cstdio>
#include <future>
#include <set>
#include <thread>

using namespace nimbo::service_driver;
using Clock = std::chrono::steady_clock;

namespace {

struct Tally {
    int requests = 0;
    int conflicts = 0; // 409 answers
    int replayed = 0;  // answers marked Idempotent-Replayed
    int failed = 0;    // copies that never got a 200
};

struct Copy {
    std::string body; // the 200 answer, empty when none came
    Tally tally;
};

// One copy of a message: sent until it gets an answer other than 409, at most 50 times.
Copy sendCopy(int port, const std::string &cookie, const std::string &key, const std::string &body)
{
    Copy copy;
    Client client(port);
    client.setCookie(cookie);
    for (int attempt = 0; attempt < 50; ++attempt) {
        const Reply reply = client.send("POST", "/api/chat/orc", body, "application/json", {{"Idempotency-Key", key}});
        ++copy.tally.requests;
        if (reply.status == 409) {
            ++copy.tally.conflicts;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        if (reply.status == 200) {
            copy.body = reply.body;
            const auto replayed = reply.headers.find("Idempotent-Replayed");
            copy.tally.replayed += replayed != reply.headers.end() && replayed->second == "true";
        }
        break;
    }
    copy.tally.failed = copy.body.empty();
    return copy;
}

int64_t queryNumber(const std::filesystem::path &file, const std::string &sql)
{
    return std::stoll(queryDatabase(file, sql).value_or("-1"));
}

} // namespace

int main(int argc, char **argv)
{
    const int messages = numberOption(argc, argv, "--messages", 50);
    const int retries = numberOption(argc, argv, "--retries", 10);
    const int wave = numberOption(argc, argv, "--wave", 5);
    TempFolder data;
    ServiceInstance first(data.path());
    ServiceInstance second(data.path(), {});
    const std::array<int, 2> ports{first.port(), second.port()};
    Client signIn(first.port());
    if (!signIn.signIn("demo@nimbo.test", "demo-password-1")) {
        std::fprintf(stderr, "bench_retry_storm: cannot sign in\n");
        return 1;
    }
    const auto database = data.path() / "nimbo-service.db";
    const std::string balance = "SELECT balance FROM users WHERE email = 'demo@nimbo.test'";
    const int64_t balanceBefore = queryNumber(database, balance);
    const int64_t turnsBefore = queryNumber(database, "SELECT COUNT(*) FROM turns");

    Tally total;
    int answeredDifferently = 0;
    const auto started = Clock::now();
    for (int from = 0; from < messages; from += wave) {
        std::vector<std::vector<std::future<Copy>>> inFlight;
        for (int m = from; m < std::min(messages, from + wave); ++m) {
            const std::string key = "storm-" + std::to_string(m);
            const std::string body = Json{{"message", "retry storm message " + std::to_string(m)}, {"mode", "orc"},
                                          {"history", Json::array()}}.dump();
            auto &copies = inFlight.emplace_back();
            for (int r = 0; r < retries; ++r)
                copies.push_back(std::async(std::launch::async, sendCopy, ports[r % 2], signIn.cookie(), key, body));
        }
        for (auto &copies : inFlight) {
            std::set<std::string> answers;
            for (auto &copy : copies) {
                const Copy done = copy.get();
                total.requests += done.tally.requests;
                total.conflicts += done.tally.conflicts;
                total.replayed += done.tally.replayed;
                total.failed += done.tally.failed;
                answers.insert(done.body);
            }
            answeredDifferently += answers.size() != 1;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    const int64_t charges = balanceBefore - queryNumber(database, balance);
    const int64_t turns = queryNumber(database, "SELECT COUNT(*) FROM turns") - turnsBefore;

    std::printf("retry storm: %d logical messages x %d copies at once (%d messages in flight), two instances, %.2f s\n",
                messages, retries, wave, seconds);
    std::printf("  requests sent            %d (409 \"still being answered\": %d, stored answers: %d, no answer: %d)\n",
                total.requests, total.conflicts, total.replayed, total.failed);
    std::printf("  credits charged          %lld for %d logical messages (%.2f per message)\n",
                static_cast<long long>(charges), messages, static_cast<double>(charges) / messages);
    std::printf("  turns added              %lld (2 per message expected: %d)\n", static_cast<long long>(turns), 2 * messages);
    std::printf("  messages whose copies got different answers: %d\n", answeredDifferently);
    return charges == messages && turns == 2 * messages && answeredDifferently == 0 && total.failed == 0 ? 0 : 1;
}
