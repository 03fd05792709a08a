#include "learning/LearningSourcesApi.h"

#include "api/Json.h"
#include "api/NimboApi.h"

#include <exception>
#include <optional>
#include <string>

namespace nimbo {
namespace {
using api::Json;

const std::string kBase = "/api/v1/learning-sources";

std::string categoryPath(const QString& id, const char* action) {
    return kBase + "/" + id.toStdString() + "/" + action;
}

// The answer of `call`, or nothing when it failed in any way.
template <class Call>
std::optional<Json> quietly(Call&& call) {
    try {
        return call();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

LearningSourceState readState(const Json& object) {
    LearningSourceState state;
    state.category = QString::fromStdString(api::readString(object, "category").value_or(""));
    state.connected = api::readBool(object, "connected").value_or(false);
    if (const auto lastSync = api::readString(object, "lastSyncAt")) state.lastSyncAt = QString::fromStdString(*lastSync);
    state.itemCount = api::readInteger(object, "itemCount").value_or(0);
    return state;
}

Json itemJson(const LearningSourceSyncItem& item) {
    Json object{{"itemId", item.itemId.toStdString()},
                {"title", item.title.toStdString()},
                {"content", item.content.toStdString()}};
    if (item.atIso) object["at"] = item.atIso->toStdString();
    return object;
}
}  // namespace

std::vector<LearningSourceState> LearningSourcesApi::list() {
    std::vector<LearningSourceState> states;
    const std::optional<Json> reply = quietly([] { return api::NimboApi::shared().getJson(kBase); });
    if (!reply) return states;
    const auto entries = api::readObjectArray(*reply, "categories");
    if (!entries) return states;
    for (const Json* entry : *entries) states.push_back(readState(*entry));
    return states;
}

void LearningSourcesApi::connect(const QString& id) {
    quietly([&] { return api::NimboApi::shared().postJson(categoryPath(id, "connect"), Json::object()); });
}

void LearningSourcesApi::disconnect(const QString& id, bool purge) {
    const std::string path = categoryPath(id, "disconnect") + "?purge=" + (purge ? "true" : "false");
    quietly([&] { return api::NimboApi::shared().postJson(path, Json::object()); });
}

std::pair<std::int64_t, std::int64_t> LearningSourcesApi::sync(const QString& id,
                                                                const std::vector<LearningSourceSyncItem>& items) {
    if (items.empty()) return {0, 0};
    Json array = Json::array();
    for (const LearningSourceSyncItem& item : items) array.push_back(itemJson(item));
    const Json body{{"items", std::move(array)}};
    const std::optional<Json> reply =
        quietly([&] { return api::NimboApi::shared().postJson(categoryPath(id, "sync"), body); });
    if (!reply) return {0, 0};
    return {api::readInteger(*reply, "imported").value_or(0), api::readInteger(*reply, "skipped").value_or(0)};
}

}  // namespace nimbo
