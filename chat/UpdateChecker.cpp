#include "chat/UpdateChecker.h"

#include "NimboConfig.h"
#include "api/Json.h"
#include "api/ServiceEndpoints.h"
#include "platform/async/Async.h"
#include "platform/http/HttpClient.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <string_view>
#include <vector>

namespace nimbo {
namespace {

std::string installedVersion() {
    const std::string version = config::appVersion;
    return version.empty() ? std::string("0.0.0") : version;
}

// A base-10 integer with an optional leading sign; anything else (or out of range) is 0.
std::int64_t versionPiece(std::string_view piece) {
    std::string_view digits = piece;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
    if (digits.empty() || digits.front() < '0' || digits.front() > '9') return 0;
    const std::string_view number = piece.front() == '+' ? digits : piece;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    return error == std::errc() && end == number.data() + number.size() ? value : 0;
}

// The numeric pieces of a version; empty pieces ("1..2", ".1", "1.") are dropped.
std::vector<std::int64_t> versionPieces(std::string_view version) {
    std::vector<std::int64_t> pieces;
    while (!version.empty()) {
        const std::size_t dot = std::min(version.find('.'), version.size());
        if (dot > 0) pieces.push_back(versionPiece(version.substr(0, dot)));
        version.remove_prefix(std::min(dot + 1, version.size()));
    }
    return pieces;
}

// The answer of one base, or nothing when the transfer failed.
std::optional<platform::http::Response> fetch(const std::string& url) {
    platform::http::Request request;
    request.url = url;
    request.headers = {{"Accept", "application/json"}};
    request.timeout = std::chrono::milliseconds(UpdateChecker::kTimeoutMs);
    try {
        return platform::http::send(request);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The update a usable answer announces: a 2xx status and a JSON object holding
// non-empty strings under "version" and "url".
std::optional<AvailableUpdate> usableAnswer(const std::optional<platform::http::Response>& response) {
    if (!response || response->status < 200 || response->status > 299) return std::nullopt;
    const std::optional<api::Json> object = api::parseJsonObject(response->body);
    if (!object) return std::nullopt;
    std::optional<std::string> version = api::readString(*object, "version");
    std::optional<std::string> url = api::readString(*object, "url");
    if (!version || version->empty() || !url || url->empty()) return std::nullopt;
    return AvailableUpdate{std::move(*version), std::move(*url)};
}

}  // namespace

UpdateChecker& UpdateChecker::shared() {
    static UpdateChecker* checker = new UpdateChecker;
    return *checker;
}

void UpdateChecker::checkOnLaunch(std::function<void(bool)> completion) {
    detail::startOnReservedWorker([this, completion = std::move(completion)] {
        const bool found = check();
        detail::postToUiThread([completion, found] {
            if (completion) completion(found);
        });
    });
}

std::optional<AvailableUpdate> UpdateChecker::available() const {
    std::lock_guard lock(mutex_);
    return available_;
}

void UpdateChecker::store(std::optional<AvailableUpdate> update) {
    std::lock_guard lock(mutex_);
    available_ = std::move(update);
}

bool UpdateChecker::check() {
    const std::string installed = installedVersion();
    for (const std::string& base : api::ServiceEndpoints::current().apiBases) {
        if (ask(base, installed)) return available().has_value();
    }
    return false;
}

bool UpdateChecker::ask(const std::string& base, const std::string& installed) {
    const std::string url = base + kPath;
    if (!platform::http::isValidUrl(url)) return false;
    // The transfer runs on a worker of its own so that this wait stays bounded even
    // if the transfer overruns its time-out; an answer that comes later still counts
    // for `available`, but no longer for this check.
    auto answered = std::make_shared<std::promise<bool>>();
    std::future<bool> result = answered->get_future();
    detail::startOnReservedWorker([this, url, installed, answered] {
        const std::optional<AvailableUpdate> answer = usableAnswer(fetch(url));
        if (answer) store(isNewer(answer->version, installed) ? answer : std::nullopt);
        answered->set_value(answer.has_value());
    });
    if (result.wait_for(std::chrono::milliseconds(kWaitPerBaseMs)) != std::future_status::ready) return false;
    try {
        return result.get();
    } catch (const std::future_error&) {  // the transfer was dropped at shutdown
        return false;
    }
}

bool UpdateChecker::isNewer(const std::string& a, const std::string& b) {
    const std::vector<std::int64_t> left = versionPieces(a);
    const std::vector<std::int64_t> right = versionPieces(b);
    const std::size_t count = std::max(left.size(), right.size());
    for (std::size_t i = 0; i < count; ++i) {
        const std::int64_t x = i < left.size() ? left[i] : 0;
        const std::int64_t y = i < right.size() ? right[i] : 0;
        if (x != y) return x > y;
    }
    return false;
}

}  // namespace nimbo
