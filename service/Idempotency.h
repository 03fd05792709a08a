#pragma once
// The Idempotency-Key header: a client names each logical request once and repeats the name
// on every retry, and a repeat gets the first answer instead of running again. Keys are kept
// per account for 24 hours in the database, so every instance on one data folder recognises
// a repeat that failed over from another.

#include "Json.h"

#include <httplib.h>

#include <cstdint>
#include <optional>
#include <string>

namespace service {

class Connection;

inline constexpr size_t maxIdempotencyKeyBytes = 255;

// The request's Idempotency-Key: nothing without the header; a 400 unless it is 1 to 255
// printable ASCII characters.
std::optional<std::string> idempotencyKey(const httplib::Request &request);

// The key of one request, claimed for as long as that request is being answered.
class IdempotencyClaim {
public:
    struct Answer {
        int status = 0;
        std::string body;
    };

    // Claims `key` of `userId` for a request with `body`. When the key was answered before for
    // the same body, storedAnswer() holds that answer and nothing is claimed. A 422 when it was
    // used for a different body, a 409 while another request with it is being answered.
    IdempotencyClaim(Connection &connection, int64_t userId, std::string key, const Json &body);
    // Gives the key up again unless complete() was reached by a request that then succeeded:
    // a refusal or a failure changed nothing, so its repeat runs afresh.
    ~IdempotencyClaim();
    IdempotencyClaim(const IdempotencyClaim &) = delete;
    IdempotencyClaim &operator=(const IdempotencyClaim &) = delete;

    const std::optional<Answer> &storedAnswer() const { return stored_; }
    // Keeps the answer; called inside the transaction that does the request's work.
    void complete(int status, const Json &answer);

private:
    Connection &connection_;
    int64_t userId_;
    std::string key_;
    std::optional<Answer> stored_;
    bool completed_ = false;
    int exceptionsAtClaim_;
};

// Sends a stored answer as it was first sent, marked as a repeat.
void sendStoredAnswer(httplib::Response &response, const IdempotencyClaim::Answer &answer);

} // namespace service
