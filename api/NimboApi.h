#pragma once
// The one client of the hosted service's JSON API. Every call blocks its (worker)
// thread until the answer is in; screens call it through runAsync().
//
// Bases are tried in order (production, then test), moving on only after a transport
// failure or a status of 500 or more. Authentication is the session cookie kept in
// the process-wide cookie store.

#include "Json.h"
#include "NimboApiError.h"
#include "Records.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace nimbo::api {

class NimboApi {
public:
    // The process-wide client, built on first use from ServiceEndpoints::current().
    static NimboApi& shared();

    // A client of its own over the given bases (tests and benchmarks).
    explicit NimboApi(std::vector<std::string> bases,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(10'000));

    const std::vector<std::string>& generalApiBases() const { return bases_; }

    // Transport. Each throws NimboApiError; the result is absent for a 2xx answer
    // whose body is empty or not a JSON object.
    std::optional<Json> getJson(const std::string& path);
    std::optional<Json> postJson(const std::string& path, const std::optional<Json>& bodyJson);
    std::optional<Json> api(const std::string& path, const std::string& method = "GET",
                            const std::optional<Json>& bodyJson = std::nullopt);

    // Account, credit and chat endpoints. Each throws NimboApiError.
    void login(const std::string& email, const std::string& password);
    NimboMe fetchMe();
    NimboCreditBalance fetchCreditBalance(std::optional<std::int64_t> companyId,
                                          std::optional<std::string> email);
    void forgotPassword(const std::string& email);
    NimboSignupResult signup(const std::string& fullName, const std::string& companyName,
                             const std::string& primaryDomain, const std::string& email,
                             const std::string& password);
    // `idempotencyKey`, when given, goes as the "Idempotency-Key" header: a service that
    // honours it answers a repeat of the request with its first answer instead of running
    // (and charging) it again, so a failed send may be sent again with the same key.
    NimboChatResponse sendChat(const std::string& message, const std::vector<NimboChatTurn>& history,
                               const std::optional<std::string>& conversationId,
                               const std::optional<std::string>& idempotencyKey = std::nullopt);

    NimboApi(const NimboApi&) = delete;
    NimboApi& operator=(const NimboApi&) = delete;

private:
    struct Answer {
        long status = 0;
        std::optional<std::string> text;  // absent when the body is not valid UTF-8
    };
    using Headers = std::vector<std::pair<std::string, std::string>>;
    // `headers` go with the request on every base, beside those every request carries.
    Answer callWithFallback(const std::string& path, const std::string& method,
                            const std::optional<Json>& bodyJson, const Headers& headers = {});
    Answer attempt(const std::string& base, const std::string& path, const std::string& method,
                   const std::optional<Json>& bodyJson, const Headers& headers);
    // The result of api() for an answer: the error it stands for, or its JSON object.
    static std::optional<Json> resultOf(const Answer& answer);
    static bool isFailoverWorthy(long status) { return status >= 500; }

    std::vector<std::string> bases_;
    std::chrono::milliseconds timeout_;
};

// Percent-encodes `value` for a URL query value, leaving letters, digits and
// - . _ ~ ! $ ' ( ) * , ; : @ / ? as they are (UTF-8 bytes, upper-case hex).
std::string percentEncodeQueryValue(const std::string& value);

}  // namespace nimbo::api
