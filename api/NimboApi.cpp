#include "api/NimboApi.h"

#include "api/ServiceEndpoints.h"
#include "platform/http/HttpClient.h"

#include <cctype>
#include <cstdio>

namespace nimbo::api {
namespace http = platform::http;

NimboApi& NimboApi::shared() {
    static NimboApi* instance = new NimboApi(ServiceEndpoints::current().apiBases);
    return *instance;
}

NimboApi::NimboApi(std::vector<std::string> bases, std::chrono::milliseconds timeout)
    : bases_(std::move(bases)), timeout_(timeout) {}

// ---- transport -------------------------------------------------------------------

NimboApi::Answer NimboApi::attempt(const std::string& base, const std::string& path, const std::string& method,
                                   const std::optional<Json>& bodyJson, const Headers& headers) {
    const std::string url = base + path;
    if (!http::isValidUrl(url)) throw NimboApiError::api("invalid URL", -1);
    http::Request request;
    request.method = method;
    request.url = url;
    request.timeout = timeout_;
    request.headers.emplace_back("Accept", "application/json");
    if (bodyJson) {
        request.headers.emplace_back("Content-Type", "application/json");
        request.body = toCompactJson(*bodyJson);
    }
    request.headers.insert(request.headers.end(), headers.begin(), headers.end());
    http::Response response = http::send(request);
    if (response.status <= 0) throw NimboApiError::api("no HTTP response", -1);
    Answer answer{response.status, std::nullopt};
    if (isValidUtf8(response.body)) answer.text = std::move(response.body);
    return answer;
}

NimboApi::Answer NimboApi::callWithFallback(const std::string& path, const std::string& method,
                                            const std::optional<Json>& bodyJson, const Headers& headers) {
    std::optional<NimboApiError> lastError;
    for (const std::string& base : bases_) {
        try {
            Answer answer = attempt(base, path, method, bodyJson, headers);
            if (!isFailoverWorthy(answer.status)) return answer;
            lastError = NimboApiError::api(std::to_string(answer.status) + " from " + base,
                                           static_cast<int>(answer.status));
        } catch (const std::exception& e) {
            lastError = NimboApiError::network(e.what());
        }
    }
    if (lastError) throw *lastError;
    throw NimboApiError::api("all bases failed", -1);
}

std::optional<Json> NimboApi::api(const std::string& path, const std::string& method,
                                  const std::optional<Json>& bodyJson) {
    return resultOf(callWithFallback(path, method, bodyJson));
}

std::optional<Json> NimboApi::resultOf(const Answer& answer) {
    if (answer.status == 401) throw NimboApiError::unauthorized();
    if (answer.status < 200 || answer.status > 299) {
        std::string message = std::to_string(answer.status) + " " + answer.text.value_or("");
        if (answer.text) {
            if (auto object = parseJsonObject(*answer.text)) {
                if (auto error = readString(*object, "error")) message = *error;
            }
        }
        throw NimboApiError::api(message, static_cast<int>(answer.status));
    }
    if (!answer.text || answer.text->empty()) return std::nullopt;
    return parseJsonObject(*answer.text);
}

std::optional<Json> NimboApi::getJson(const std::string& path) { return api(path, "GET", std::nullopt); }

std::optional<Json> NimboApi::postJson(const std::string& path, const std::optional<Json>& bodyJson) {
    return api(path, "POST", bodyJson);
}

// ---- endpoints -------------------------------------------------------------------

void NimboApi::login(const std::string& email, const std::string& password) {
    api("/api/auth/local-login", "POST", Json{{"email", email}, {"password", password}});
}

NimboMe NimboApi::fetchMe() {
    const auto object = api("/api/auth/me");
    if (!object) throw NimboApiError::empty("/api/auth/me");
    return NimboMe::fromJson(*object);
}

NimboCreditBalance NimboApi::fetchCreditBalance(std::optional<std::int64_t> companyId,
                                                std::optional<std::string> email) {
    constexpr const char* kPath = "/api/v1/credits/balance";
    std::string query;
    if (companyId) query = "companyId=" + std::to_string(*companyId);
    if (email) query += (query.empty() ? "" : "&") + std::string("email=") + percentEncodeQueryValue(*email);
    const auto object = api(query.empty() ? kPath : std::string(kPath) + "?" + query);
    if (!object) throw NimboApiError::empty(kPath);
    return NimboCreditBalance::fromJson(*object);
}

void NimboApi::forgotPassword(const std::string& email) {
    api("/api/auth/forgot-password", "POST", Json{{"email", email}});
}

NimboSignupResult NimboApi::signup(const std::string& fullName, const std::string& companyName,
                                   const std::string& primaryDomain, const std::string& email,
                                   const std::string& password) {
    const Json body{{"companyName", companyName},   {"primaryDomain", primaryDomain},
                    {"signupName", fullName},       {"signupEmail", email},
                    {"password", password},         {"plan", "pro_trial"},
                    {"servicesRequested", Json::array({"chat"})}};
    const Answer answer = callWithFallback("/api/clients/signup", "POST", body);
    std::optional<Json> object;
    if (answer.text && !answer.text->empty()) object = parseJsonObject(*answer.text);
    if (answer.status < 200 || answer.status > 299) {
        std::string message = "signup failed (" + std::to_string(answer.status) + ")";
        if (object) {
            if (auto error = readString(*object, "error")) message = *error;
        }
        throw NimboApiError::api(message, static_cast<int>(answer.status));
    }
    return NimboSignupResult::fromJson(object ? &*object : nullptr);
}

NimboChatResponse NimboApi::sendChat(const std::string& message, const std::vector<NimboChatTurn>& history,
                                     const std::optional<std::string>& conversationId,
                                     const std::optional<std::string>& idempotencyKey) {
    Json turns = Json::array();
    for (const NimboChatTurn& turn : history) turns.push_back(Json{{"role", turn.role}, {"content", turn.content}});
    Json body{{"message", message}, {"mode", "orc"}, {"history", std::move(turns)}};
    if (conversationId) body["conversationId"] = *conversationId;
    Headers headers;
    if (idempotencyKey) headers.emplace_back("Idempotency-Key", *idempotencyKey);
    const auto object = resultOf(callWithFallback("/api/chat/orc", "POST", body, headers));
    if (!object) throw NimboApiError::empty("/api/chat/orc");
    return NimboChatResponse::fromJson(*object);
}

std::string percentEncodeQueryValue(const std::string& value) {
    // "&", "=" and "+" are escaped too: a query decoder would split the value at "&" or
    // "=" and read "+" as a space.
    static constexpr std::string_view kAllowed = "-._~!$'()*,;:@/?";
    std::string out;
    out.reserve(value.size());
    for (const unsigned char c : value) {
        if (std::isalnum(c) && c < 0x80) {
            out += static_cast<char>(c);
        } else if (kAllowed.find(static_cast<char>(c)) != std::string_view::npos) {
            out += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            out += escaped;
        }
    }
    return out;
}

}  // namespace nimbo::api
