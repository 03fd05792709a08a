#include "deploy/SuperAdminDeployApi.h"

#include "api/Json.h"
#include "api/NimboApi.h"

namespace nimbo {
namespace {
using api::Json;

// The JSON object the call answers with, or nothing for any failure.
template <class Call>
std::optional<Json> answerOf(Call&& call) {
    try {
        return call();
    } catch (...) {
        return std::nullopt;
    }
}

// One record per element of the array of objects under `key`; none when the value
// is missing, not an array, or holds anything but objects.
template <class Record, class Read>
std::vector<Record> readEach(const Json& object, std::string_view key, Read read) {
    std::vector<Record> records;
    if (const auto elements = api::readObjectArray(object, key)) {
        records.reserve(elements->size());
        for (const Json* element : *elements) records.push_back(read(*element));
    }
    return records;
}

DeployStep readStep(const Json& object) {
    return {api::readString(object, "name").value_or(""), api::readString(object, "status"),
            api::readString(object, "conclusion")};
}

DeployJob readJob(const Json& object) {
    return {api::readString(object, "name").value_or(""), api::readString(object, "status"),
            api::readString(object, "conclusion"), readEach<DeployStep>(object, "steps", readStep)};
}

DeployRun readRun(const Json& object) {
    return {api::readInteger(object, "runId").value_or(0), api::readString(object, "status"),
            api::readString(object, "conclusion"), api::readString(object, "htmlUrl").value_or(""),
            readEach<DeployJob>(object, "jobs", readJob)};
}

std::string statusPath(const std::optional<std::string>& since) {
    constexpr const char* kPath = "/api/superadmin/deploy/status";
    if (!since) return std::string(kPath) + "?take=1";
    return std::string(kPath) + "?since=" + *since + "&take=3";
}
}  // namespace

std::optional<SuperAdminMeResult> SuperAdminDeployApi::me() {
    const auto object = answerOf([] { return api::NimboApi::shared().getJson("/api/auth/me"); });
    if (!object) return std::nullopt;
    return SuperAdminMeResult{api::readString(*object, "email").value_or(""),
                              api::readBool(*object, "isSuperAdmin").value_or(false)};
}

std::optional<DeployTriggerResult> SuperAdminDeployApi::trigger(const std::string& environment) {
    const auto object = answerOf([&] {
        return api::NimboApi::shared().postJson("/api/superadmin/deploy", Json{{"environment", environment}});
    });
    if (!object) return std::nullopt;
    return DeployTriggerResult{api::readBool(*object, "triggered").value_or(false),
                               api::readString(*object, "environment").value_or(environment),
                               api::readString(*object, "dispatchedAtUtc").value_or("")};
}

std::vector<DeployRun> SuperAdminDeployApi::status(const std::optional<std::string>& since) {
    const auto object = answerOf([&] { return api::NimboApi::shared().getJson(statusPath(since)); });
    if (!object) return {};
    return readEach<DeployRun>(*object, "runs", readRun);
}

}  // namespace nimbo
