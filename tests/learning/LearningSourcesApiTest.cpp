// The catalogue and LearningSourcesApi's paths and reading rules against scripted servers.
#include "learning/LearningSourceTypes.h"
#include "learning/LearningSourcesApi.h"

#include "api/Json.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

using namespace nimbo;
using api::Json;
using test::ScriptedResponse;

namespace {

class LearningApi : public ::testing::Test {
protected:
    void SetUp() override { test::resetServers(); }
    test::ScriptedServer& production = test::productionServer();
    test::ScriptedServer& testing = test::testServer();

    std::vector<LearningSourceState> listWith(const std::string& body) {
        production.on("GET", "/api/v1/learning-sources", ScriptedResponse{200, body});
        return LearningSourcesApi::list();
    }
};

TEST(LearningCatalogue, TenCategoriesInOrderWithOnlyCalendarWired) {
    const auto& all = LearningSourceCategory::all();
    ASSERT_EQ(all.size(), 10u);
    std::vector<QString> ids;
    for (const auto& c : all) ids.push_back(c.id);
    EXPECT_EQ(ids, (std::vector<QString>{"messages", "email", "calendar", "photos", "videos", "files", "screen",
                                         "location", "sensors", "network"}));
    using Kind = LearningSourcePermissionKind;
    EXPECT_EQ(all[3].permissionKind, Kind::photos);
    EXPECT_EQ(all[4].permissionKind, Kind::photos);
    EXPECT_EQ(all[6].permissionKind, Kind::notDetermined);
    EXPECT_EQ(all[8].permissionKind, Kind::motion);
    EXPECT_EQ(all[9].permissionKind, Kind::localNetwork);
    EXPECT_EQ(all[9].displayName, "Network (WAN/LAN activity)");
    for (const auto& c : all) EXPECT_EQ(c.fullyWired, c.id == "calendar") << c.id.toStdString();

    EXPECT_EQ(LearningSourceCategory::byId("Calendar"), nullptr);
    ASSERT_NE(LearningSourceCategory::byId("calendar"), nullptr);
    EXPECT_EQ(LearningSourceCategory::byId("calendar"), &all[2]);
}

TEST_F(LearningApi, ListReadsEachFieldWithItsFallback) {
    auto states = listWith(R"({"categories":[{"category":"calendar","connected":true,"lastSyncAt":"2026-03-02T09:30:00.123Z","itemCount":12}]})");
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0].category, "calendar");
    EXPECT_TRUE(states[0].connected);
    EXPECT_EQ(states[0].lastSyncAt, QString("2026-03-02T09:30:00.123Z"));
    EXPECT_EQ(states[0].itemCount, 12);
    EXPECT_EQ(production.requests().back().method, "GET");
    EXPECT_EQ(production.requests().back().target, "/api/v1/learning-sources");

    states = listWith(R"({"categories":[{}]})");
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0].category, "");
    EXPECT_FALSE(states[0].connected);
    EXPECT_FALSE(states[0].lastSyncAt);
    EXPECT_EQ(states[0].itemCount, 0);

    states = listWith(R"({"categories":[{"category":7,"connected":"true","lastSyncAt":null,"itemCount":"5"},
                                         {"category":"x","connected":1,"lastSyncAt":1700000000,"itemCount":3.5}]})");
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[0].category, "");
    EXPECT_FALSE(states[0].connected);
    EXPECT_FALSE(states[0].lastSyncAt);
    EXPECT_EQ(states[0].itemCount, 0);
    EXPECT_FALSE(states[1].connected);  // only a JSON boolean counts
    EXPECT_FALSE(states[1].lastSyncAt);
    EXPECT_EQ(states[1].itemCount, 0);  // not a whole number
}

TEST_F(LearningApi, ListKeepsTheServersOrderDuplicatesAndUnknownIds) {
    const auto states = listWith(R"({"categories":[{"category":"zzz","connected":true},{"category":"photos"},
                                                  {"category":"photos","connected":true}]})");
    ASSERT_EQ(states.size(), 3u);
    EXPECT_EQ(states[0].category, "zzz");
    EXPECT_FALSE(states[1].connected);
    EXPECT_TRUE(states[2].connected);
}

TEST_F(LearningApi, ListIsEmptyForAnyUnusableAnswer) {
    EXPECT_TRUE(listWith(R"({"items":[]})").empty());
    EXPECT_TRUE(listWith(R"({"categories":"calendar"})").empty());
    EXPECT_TRUE(listWith(R"({"categories":[{"category":"calendar"},3]})").empty());
    EXPECT_TRUE(listWith(R"([{"category":"calendar"}])").empty());
    EXPECT_TRUE(listWith("").empty());

    production.onAnything(ScriptedResponse{401, R"({"error":"sign in"})"});
    EXPECT_TRUE(LearningSourcesApi::list().empty());
    production.onAnything(ScriptedResponse{500, ""});
    testing.onAnything(ScriptedResponse{503, ""});
    EXPECT_TRUE(LearningSourcesApi::list().empty());
}

TEST_F(LearningApi, ConnectAndDisconnectPathsAndBodies) {
    production.onAnything(ScriptedResponse{200, "{}"});
    LearningSourcesApi::connect("network");
    LearningSourcesApi::disconnect("photos", true);
    LearningSourcesApi::disconnect("calendar", false);
    const auto requests = production.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].target, "/api/v1/learning-sources/network/connect");
    EXPECT_EQ(requests[1].target, "/api/v1/learning-sources/photos/disconnect?purge=true");
    EXPECT_EQ(requests[2].target, "/api/v1/learning-sources/calendar/disconnect?purge=false");
    for (const auto& r : requests) {
        EXPECT_EQ(r.method, "POST");
        EXPECT_EQ(Json::parse(r.body), Json::object());
    }

    production.onAnything(ScriptedResponse{500, "down"});
    testing.onAnything(ScriptedResponse{404, "gone"});
    LearningSourcesApi::connect("network");  // swallowed
    LearningSourcesApi::disconnect("network", true);
    EXPECT_EQ(testing.requestCount(), 2u);
}

TEST_F(LearningApi, SyncSendsAllItemsInOneRequestAndReadsTheCounts) {
    EXPECT_EQ(LearningSourcesApi::sync("calendar", {}), (std::pair<std::int64_t, std::int64_t>(0, 0)));
    EXPECT_EQ(production.requestCount(), 0u);

    production.on("POST", "/api/v1/learning-sources/calendar/sync", ScriptedResponse{200, R"({"imported":3})"});
    const std::vector<LearningSourceSyncItem> items{{"a", "Standup", "Event: Standup\n", std::nullopt},
                                                    {"b", "Lunch", "Event: Lunch\n", QString("2026-03-02T12:00:00Z")}};
    EXPECT_EQ(LearningSourcesApi::sync("calendar", items), (std::pair<std::int64_t, std::int64_t>(3, 0)));
    ASSERT_EQ(production.requestCount(), 1u);
    const auto request = production.requests().back();
    EXPECT_EQ(request.target, "/api/v1/learning-sources/calendar/sync");
    const Json body = Json::parse(request.body);
    EXPECT_EQ(body, (Json{{"items",
                           {{{"itemId", "a"}, {"title", "Standup"}, {"content", "Event: Standup\n"}},
                            {{"itemId", "b"}, {"title", "Lunch"}, {"content", "Event: Lunch\n"}, {"at", "2026-03-02T12:00:00Z"}}}}}));
    EXPECT_EQ(body["items"][0].size(), 3u);

    production.on("POST", "/api/v1/learning-sources/calendar/sync",
                  ScriptedResponse{200, R"({"imported":"2","skipped":4})"});
    EXPECT_EQ(LearningSourcesApi::sync("calendar", items), (std::pair<std::int64_t, std::int64_t>(0, 4)));
    production.on("POST", "/api/v1/learning-sources/calendar/sync", ScriptedResponse{409, R"({"error":"connect first"})"});
    EXPECT_EQ(LearningSourcesApi::sync("calendar", items), (std::pair<std::int64_t, std::int64_t>(0, 0)));
}

}  // namespace
