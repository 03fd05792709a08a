#pragma once
// Plain records of the account, credit and chat endpoints, built from JSON objects.

#include "Json.h"

#include <cstdint>
#include <optional>
#include <string>

namespace nimbo::api {

struct NimboMe {
    std::string email;
    std::optional<std::string> name;
    std::string role;
    bool canChat = false;
    std::optional<std::int64_t> companyId;

    static NimboMe fromJson(const Json& object);
};

struct NimboCreditBalance {
    std::optional<std::int64_t> companyId;
    std::int64_t companyBalance = 0;
    bool companyPoolExists = false;
    std::optional<std::int64_t> userBalance;
    std::optional<std::int64_t> userLifetimeTokens;

    static NimboCreditBalance fromJson(const Json& object);
};

struct NimboSignupResult {
    bool ok = true;
    std::optional<std::int64_t> companyId;
    std::optional<std::string> enrollmentToken;
    std::optional<std::string> plan;
    std::optional<std::string> trialExpiresAt;

    bool isTrial() const { return enrollmentToken.has_value(); }
    // `object` may be absent (empty or unusable body): every optional field stays absent.
    static NimboSignupResult fromJson(const Json* object);
};

struct NimboChatTurn {
    std::string role;
    std::string content;
};

struct NimboChatResponse {
    std::string reply;
    std::string routedTo = "orc";
    std::string node;
    std::optional<std::string> note;
    std::optional<std::string> conversationId;

    static NimboChatResponse fromJson(const Json& object);
};

}  // namespace nimbo::api
