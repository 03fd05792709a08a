// A chat request named by an Idempotency-Key is answered and charged once, whichever instance
// on the data folder its repeats reach, and however many arrive at once.

#include "ServiceTest.h"

#include <set>

namespace nimbo::service_test {
namespace {

TEST_F(ServiceTest, ARepeatedIdempotencyKeyGetsTheFirstAnswerFromEitherInstanceAndIsChargedOnce)
{
    ServiceInstance other(data.path(), {});
    const std::string demoCookie = signedIn(demo).cookie();
    const auto post = [&](int port, const std::string &key, const std::string &body, const std::string &cookie) {
        Client client(port);
        client.setCookie(cookie);
        return client.send("POST", "/api/chat/orc", body, "application/json", {{"Idempotency-Key", key}});
    };
    const auto demoPost = [&](int port, const std::string &key, const std::string &body) { return post(port, key, body, demoCookie); };
    const auto charged = [&] { return queryDatabase(databaseFile(), "SELECT (SELECT 1200 - balance FROM users WHERE email = 'demo@nimbo.test') "
                                                                    "|| ' credits, ' || (SELECT COUNT(*) FROM turns) || ' turns'"); };
    const std::string body = R"({"message":"once","history":[]})";
    const std::string key(255, 'k');
    const Reply first = demoPost(service->port(), key, body);
    ASSERT_EQ(first.status, 200) << first.body;
    EXPECT_EQ(header(first, "Idempotent-Replayed"), "");
    const Reply again = demoPost(other.port(), key, R"({ "history": [], "message": "once" })"); // the same request, laid out anew
    EXPECT_TRUE(again.status == 200 && again.body == first.body && header(again, "Idempotent-Replayed") == "true") << again.body;
    EXPECT_TRUE(refused(demoPost(other.port(), key, R"({"message":"twice"})"), 422));
    EXPECT_EQ(charged(), "1 credits, 2 turns");

    // Twelve repeats of one new key at once, across both instances.
    std::vector<std::future<Reply>> storm;
    for (int i = 0; i < 12; ++i)
        storm.push_back(std::async(std::launch::async, [&, i] { return demoPost(i % 2 ? other.port() : service->port(), "storm", body); }));
    std::map<int, int> statuses;
    std::set<std::string> answers;
    for (auto &repeat : storm) {
        const Reply reply = repeat.get();
        ++statuses[reply.status];
        if (reply.status == 200)
            answers.insert(reply.body);
    }
    EXPECT_TRUE(statuses[200] >= 1 && statuses[200] + statuses[409] == 12 && answers.size() == 1) << statuses.size() << " statuses";
    EXPECT_EQ(charged(), "2 credits, 4 turns");
    // A key belongs to its account.
    const Reply others = post(service->port(), "storm", body, signedIn(low).cookie());
    EXPECT_TRUE(others.status == 200 && !answers.count(others.body)) << others.body;

    // A key is kept 24 hours; an unanswered claim is taken over after a minute.
    const auto age = [&](const std::string &which, int64_t ms, const char *status = "status") {
        queryDatabase(databaseFile(), "UPDATE idempotency_keys SET status = " + std::string(status) + ", created_at = "
                                      "CAST((julianday('now') - 2440587.5) * 86400000 AS INTEGER) - " + std::to_string(ms) + " WHERE key = '" + which + "'");
    };
    age("storm", 24 * 3600'000 - 60'000);
    EXPECT_EQ(demoPost(service->port(), "storm", body).body, *answers.begin());
    age(key, 24 * 3600'000 + 1000);
    EXPECT_NE(demoPost(service->port(), key, body).body, first.body);
    EXPECT_EQ(charged(), "3 credits, 8 turns"); // low's two turns among them
    age(key, 59'000, "NULL");
    EXPECT_TRUE(refused(demoPost(other.port(), key, body), 409));
    age(key, 61'000, "NULL");
    EXPECT_EQ(demoPost(other.port(), key, body).status, 200);
    age("storm", 24 * 3600'000 + 1000);
    demoPost(service->port(), "sweep", body); // any keyed request sweeps what has expired
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM idempotency_keys"), 2); // the taken-over key and the new one
}

} // namespace
} // namespace nimbo::service_test
