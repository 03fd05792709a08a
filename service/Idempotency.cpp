#include "Idempotency.h"

#include "Accounts.h"
#include "Clock.h"
#include "Database.h"

#include <exception>

namespace service {

namespace {

constexpr int64_t keptMs = 24 * 3600 * 1000;
// A claim still unanswered after this long belongs to an instance that stopped half-way (no
// request takes that long): a repeat takes it over.
constexpr int64_t abandonedAfterMs = 60 * 1000;

bool printableAscii(const std::string &text)
{
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E)
            return false;
    }
    return true;
}

} // namespace

std::optional<std::string> idempotencyKey(const httplib::Request &request)
{
    if (!request.has_header("Idempotency-Key"))
        return std::nullopt;
    std::string key = request.get_header_value("Idempotency-Key");
    if (key.empty() || key.size() > maxIdempotencyKeyBytes || !printableAscii(key))
        throw HttpError(400, "The Idempotency-Key header must be 1 to 255 printable ASCII characters.");
    return key;
}

IdempotencyClaim::IdempotencyClaim(Connection &connection, int64_t userId, std::string key, const Json &body)
    : connection_(connection), userId_(userId), key_(std::move(key)), exceptionsAtClaim_(std::uncaught_exceptions())
{
    // Objects keep their keys sorted, so equal bodies give equal text whatever their layout.
    const std::string digest = tokenDigest(dumpJson(body));
    connection.transaction([&] {
        const int64_t now = nowMs();
        connection.prepare("DELETE FROM idempotency_keys WHERE created_at < ?").bind(1, now - keptMs).run();
        auto found = connection.prepare(
            "SELECT request_digest, status, body, created_at FROM idempotency_keys WHERE user_id = ? AND key = ?");
        if (found.bind(1, userId_).bind(2, key_).step()) {
            const auto status = found.optionalInteger(1);
            if (!status && found.integer(3) >= now - abandonedAfterMs)
                throw HttpError(409, "A request with this Idempotency-Key is still being answered.");
            if (status && found.text(0) != digest)
                throw HttpError(422, "This Idempotency-Key was already used for a different request.");
            if (status) {
                stored_ = Answer{static_cast<int>(*status), found.text(2)};
                completed_ = true;
                return;
            }
        }
        connection.prepare("INSERT OR REPLACE INTO idempotency_keys (user_id, key, request_digest, created_at) "
                           "VALUES (?, ?, ?, ?)")
            .bind(1, userId_)
            .bind(2, key_)
            .bind(3, digest)
            .bind(4, now)
            .run();
    });
}

IdempotencyClaim::~IdempotencyClaim()
{
    if (completed_ && std::uncaught_exceptions() == exceptionsAtClaim_)
        return;
    try {
        connection_.transaction([&] {
            connection_.prepare("DELETE FROM idempotency_keys WHERE user_id = ? AND key = ? AND status IS NULL")
                .bind(1, userId_)
                .bind(2, key_)
                .run();
        });
    } catch (...) {
        // The claim then counts as abandoned once abandonedAfterMs has passed.
    }
}

void IdempotencyClaim::complete(int status, const Json &answer)
{
    connection_.prepare("UPDATE idempotency_keys SET status = ?, body = ? WHERE user_id = ? AND key = ?")
        .bind(1, int64_t{status})
        .bind(2, dumpJson(answer))
        .bind(3, userId_)
        .bind(4, key_)
        .run();
    completed_ = true;
}

void sendStoredAnswer(httplib::Response &response, const IdempotencyClaim::Answer &answer)
{
    response.status = answer.status;
    response.set_header("Idempotent-Replayed", "true");
    response.set_content(answer.body, "application/json; charset=utf-8");
}

} // namespace service
