#include "Learning.h"

#include "Accounts.h"
#include "Clock.h"
#include "Database.h"

#include <algorithm>
#include <array>

namespace service {

namespace {

constexpr std::array<const char *, 10> categories = {"messages", "email",  "calendar", "photos",   "videos",
                                                     "files",    "screen", "location", "sensors", "network"};
// A sync request may carry up to 8 MiB: a hundred events with long notes. Its items are taken
// one by one; the invalid, the oversized and those past the first thousand are skipped.
constexpr size_t maxSyncBodyBytes = 8 * 1024 * 1024;
constexpr size_t maxItemsPerSync = 1000;
constexpr size_t maxItemIdBytes = 256;
constexpr size_t maxTitleBytes = 1024;
constexpr size_t maxContentBytes = 64 * 1024;
constexpr size_t maxAtBytes = 64;

const std::string &knownCategory(const std::string &id)
{
    static const std::vector<std::string> known(categories.begin(), categories.end());
    const auto found = std::find(known.begin(), known.end(), id);
    if (found == known.end())
        throw HttpError(404, "Unknown learning source.");
    return *found;
}

Json categoryState(Connection &connection, int64_t userId, const std::string &category)
{
    bool connected = false;
    std::optional<int64_t> lastSync;
    {
        auto state = connection.prepare("SELECT connected, last_sync_at FROM learning_sources "
                                        "WHERE user_id = ? AND category = ?");
        if (state.bind(1, userId).bind(2, category).step()) {
            connected = state.integer(0) != 0;
            lastSync = state.optionalInteger(1);
        }
    }
    auto count = connection.prepare("SELECT COUNT(*) FROM learning_items WHERE user_id = ? AND category = ?");
    count.bind(1, userId).bind(2, category).step();
    return Json{{"category", category},
                {"connected", connected},
                {"lastSyncAt", lastSync ? Json(isoUtc(*lastSync)) : Json()},
                {"itemCount", count.integer(0)}};
}

void setConnected(Connection &connection, int64_t userId, const std::string &category, bool connected)
{
    connection
        .prepare("INSERT INTO learning_sources (user_id, category, connected) VALUES (?, ?, ?) "
                 "ON CONFLICT (user_id, category) DO UPDATE SET connected = excluded.connected")
        .bind(1, userId)
        .bind(2, category)
        .bind(3, int64_t{connected})
        .run();
}

void list(Database &database, const httplib::Request &request, httplib::Response &response)
{
    auto connection = database.acquire();
    const User user = requireUser(*connection, request);
    Json states = Json::array();
    for (const char *category : categories)
        states.push_back(categoryState(*connection, user.id, category));
    sendJson(response, 200, Json{{"categories", states}});
}

void connect(Database &database, const httplib::Request &request, httplib::Response &response,
             const std::string &id)
{
    auto connection = database.acquire();
    const User user = requireUser(*connection, request);
    requestObject(request); // the body carries nothing, but it must not be malformed either
    const std::string &category = knownCategory(id);
    setConnected(*connection, user.id, category, true);
    sendJson(response, 200, categoryState(*connection, user.id, category));
}

void disconnect(Database &database, const httplib::Request &request, httplib::Response &response,
                const std::string &id)
{
    auto connection = database.acquire();
    const User user = requireUser(*connection, request);
    requestObject(request);
    const std::string &category = knownCategory(id);
    const std::string purgeText = queryParam(request, "purge").value_or("false");
    if (purgeText != "true" && purgeText != "false")
        throw HttpError(400, "\"purge\" must be true or false.");
    const bool purge = purgeText == "true";
    const int64_t purged = connection->transaction([&]() -> int64_t {
        setConnected(*connection, user.id, category, false);
        if (!purge)
            return 0;
        connection->prepare("UPDATE learning_sources SET last_sync_at = NULL WHERE user_id = ? AND category = ?")
            .bind(1, user.id)
            .bind(2, category)
            .run();
        connection->prepare("DELETE FROM learning_items WHERE user_id = ? AND category = ?")
            .bind(1, user.id)
            .bind(2, category)
            .run();
        return connection->changes();
    });
    Json state = categoryState(*connection, user.id, category);
    state["purged"] = purged;
    sendJson(response, 200, state);
}

struct SyncItem {
    std::string itemId;
    std::string title;
    std::string content;
    std::optional<std::string> at;
};

// The item that `value` describes, or nothing when it is not a valid item within the limits.
std::optional<SyncItem> readItem(const Json &value)
{
    try {
        if (!value.is_object())
            return std::nullopt;
        SyncItem item{requireString(value, "itemId", maxItemIdBytes), requireString(value, "title", maxTitleBytes),
                      requireString(value, "content", maxContentBytes), optionalString(value, "at", maxAtBytes)};
        return item.itemId.empty() ? std::nullopt : std::optional(std::move(item));
    } catch (const HttpError &) {
        return std::nullopt;
    }
}

// The valid items of the batch, and how many others it held.
std::pair<std::vector<SyncItem>, int64_t> readItems(const Json &body)
{
    const Json &batch = requireArray(body, "items", SIZE_MAX);
    std::vector<SyncItem> items;
    for (size_t i = 0; i < std::min(batch.size(), maxItemsPerSync); ++i) {
        if (auto item = readItem(batch[i]))
            items.push_back(std::move(*item));
    }
    return {std::move(items), static_cast<int64_t>(batch.size() - items.size())};
}

// Stores `item` unless the same item is already there unchanged; true when it was stored.
bool upsertItem(Connection &connection, int64_t userId, const std::string &category, const SyncItem &item)
{
    {
        auto existing = connection.prepare("SELECT title, content, at FROM learning_items "
                                           "WHERE user_id = ? AND category = ? AND item_id = ?");
        if (existing.bind(1, userId).bind(2, category).bind(3, item.itemId).step() &&
            existing.text(0) == item.title && existing.text(1) == item.content && existing.optionalText(2) == item.at)
            return false;
    }
    connection
        .prepare("INSERT INTO learning_items (user_id, category, item_id, title, content, at) VALUES (?, ?, ?, ?, ?, ?) "
                 "ON CONFLICT (user_id, category, item_id) DO UPDATE SET "
                 "title = excluded.title, content = excluded.content, at = excluded.at")
        .bind(1, userId)
        .bind(2, category)
        .bind(3, item.itemId)
        .bind(4, item.title)
        .bind(5, item.content)
        .bind(6, item.at)
        .run();
    return true;
}

void sync(Database &database, const httplib::Request &request, httplib::Response &response, const std::string &id)
{
    auto connection = database.acquire();
    const User user = requireUser(*connection, request);
    const auto [items, invalid] = readItems(requestObject(request));
    const std::string &category = knownCategory(id);
    const auto [imported, skipped] = connection->transaction([&] {
        auto state = connection->prepare("SELECT connected FROM learning_sources WHERE user_id = ? AND category = ?");
        if (!state.bind(1, user.id).bind(2, category).step() || state.integer(0) == 0)
            throw HttpError(409, "Connect this learning source before syncing it.");
        int64_t stored = 0;
        for (const SyncItem &item : items)
            stored += upsertItem(*connection, user.id, category, item) ? 1 : 0;
        connection->prepare("UPDATE learning_sources SET last_sync_at = ? WHERE user_id = ? AND category = ?")
            .bind(1, nowMs())
            .bind(2, user.id)
            .bind(3, category)
            .run();
        return std::pair<int64_t, int64_t>(stored, static_cast<int64_t>(items.size()) - stored + invalid);
    });
    Json state = categoryState(*connection, user.id, category);
    state["imported"] = imported;
    state["skipped"] = skipped;
    sendJson(response, 200, state);
}

} // namespace

void addLearningRoutes(Router &router, Database &database)
{
    Database *db = &database;
    router.add("GET", "/api/v1/learning-sources",
               [db](const auto &request, auto &response, const Captures &) { list(*db, request, response); });
    router.add("POST", "/api/v1/learning-sources/{}/connect",
               [db](const auto &request, auto &response, const Captures &id) { connect(*db, request, response, id[0]); });
    router.add("POST", "/api/v1/learning-sources/{}/disconnect", [db](const auto &request, auto &response, const Captures &id) {
        disconnect(*db, request, response, id[0]);
    });
    router.add(
        "POST", "/api/v1/learning-sources/{}/sync",
        [db](const auto &request, auto &response, const Captures &id) { sync(*db, request, response, id[0]); },
        maxSyncBodyBytes);
}

} // namespace service
