// Learning sources: per user and category, connect, disconnect (with or without purge), sync.

#include "ServiceTest.h"

namespace nimbo::service_test {
namespace {

Json item(const std::string &id, const std::string &title, const char *at = nullptr)
{
    Json entry{{"itemId", id}, {"title", title}, {"content", "content of " + id}};
    if (at)
        entry["at"] = at;
    return entry;
}

Json stateOf(Client &client, const std::string &category)
{
    const Reply reply = client.get("/api/v1/learning-sources");
    for (const Json &state : reply.json["categories"]) {
        if (state["category"] == category)
            return state;
    }
    return nullptr;
}

Reply sync(Client &client, const std::string &category, const Json &items)
{
    return client.post("/api/v1/learning-sources/" + category + "/sync", Json{{"items", items}});
}

TEST_F(ServiceTest, ListGivesTheTenCategoriesOffByDefault)
{
    Client client = signedIn(demo);
    const Reply reply = client.get("/api/v1/learning-sources");
    ASSERT_EQ(reply.status, 200);
    std::vector<std::string> ids;
    for (const Json &state : reply.json["categories"]) {
        ids.push_back(state["category"]);
        EXPECT_EQ(state["connected"], false);
        EXPECT_TRUE(state["lastSyncAt"].is_null());
        EXPECT_EQ(state["itemCount"], 0);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"messages", "email", "calendar", "photos", "videos", "files", "screen",
                                             "location", "sensors", "network"}));
}

TEST_F(ServiceTest, SyncNeedsAConnectedCategory)
{
    Client client = signedIn(demo);
    EXPECT_TRUE(refused(sync(client, "calendar", Json::array({item("e1", "Standup")})), 409));
    ASSERT_EQ(client.post("/api/v1/learning-sources/calendar/connect", Json::object()).status, 200);
    EXPECT_EQ(stateOf(client, "calendar")["connected"], true);
    EXPECT_EQ(sync(client, "calendar", Json::array({item("e1", "Standup")})).json["imported"], 1);
}

TEST_F(ServiceTest, SyncImportsNewAndChangedItemsAndSkipsUnchangedOnes)
{
    Client client = signedIn(demo);
    client.post("/api/v1/learning-sources/calendar/connect", Json::object());
    const Reply first = sync(client, "calendar",
                             Json::array({item("e1", "Standup", "2026-12-07T09:00:00Z"), item("e2", "Review"), item("e3", "Lunch")}));
    ASSERT_EQ(first.status, 200) << first.body;
    EXPECT_EQ(first.json["imported"], 3);
    EXPECT_EQ(first.json["skipped"], 0);

    const Reply second = sync(client, "calendar",
                              Json::array({item("e1", "Standup", "2026-12-07T09:00:00Z"), item("e2", "Design review"),
                                           item("e3", "Lunch", "2026-12-07T12:00:00Z"), item("e4", "Gym"), item("e4", "Gym")}));
    EXPECT_EQ(second.json["imported"], 3); // e2 retitled, e3 given a time, e4 new
    EXPECT_EQ(second.json["skipped"], 2);  // e1 unchanged, e4 repeated
    const Json state = stateOf(client, "calendar");
    EXPECT_EQ(state["itemCount"], 4);
    EXPECT_TRUE(state["lastSyncAt"].is_string());
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM learning_items WHERE title = 'Design review'"), 1);
}

TEST_F(ServiceTest, DisconnectKeepsTheItemsUnlessAskedToPurge)
{
    Client client = signedIn(demo);
    client.post("/api/v1/learning-sources/photos/connect", Json::object());
    sync(client, "photos", Json::array({item("p1", "IMG_1"), item("p2", "IMG_2")}));

    ASSERT_EQ(client.post("/api/v1/learning-sources/photos/disconnect?purge=false", Json::object()).status, 200);
    Json state = stateOf(client, "photos");
    EXPECT_EQ(state["connected"], false);
    EXPECT_EQ(state["itemCount"], 2);

    const Reply purged = client.post("/api/v1/learning-sources/photos/disconnect?purge=true", Json::object());
    EXPECT_EQ(purged.json["purged"], 2);
    state = stateOf(client, "photos");
    EXPECT_EQ(state["itemCount"], 0);
    EXPECT_TRUE(state["lastSyncAt"].is_null());
}

TEST_F(ServiceTest, LearningSourcesBelongToEachUser)
{
    Client owner = signedIn(demo);
    owner.post("/api/v1/learning-sources/calendar/connect", Json::object());
    sync(owner, "calendar", Json::array({item("e1", "Private")}));
    Client other = signedIn(low);
    const Json state = stateOf(other, "calendar");
    EXPECT_EQ(state["connected"], false);
    EXPECT_EQ(state["itemCount"], 0);
    EXPECT_TRUE(refused(sync(other, "calendar", Json::array({item("e1", "Overwrite")})), 409));
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM learning_items WHERE title = 'Private'"), 1);
}

TEST_F(ServiceTest, LearningSourcesRefuseBadInputAndKeepWhatIsStored)
{
    Client client = signedIn(demo);
    client.post("/api/v1/learning-sources/calendar/connect", Json::object());
    sync(client, "calendar", Json::array({item("e1", "Kept")}));

    EXPECT_TRUE(refused(client.post("/api/v1/learning-sources/Calendar/connect", Json::object()), 404));
    EXPECT_TRUE(refused(client.post("/api/v1/learning-sources/diary/sync", Json{{"items", Json::array()}}), 404));
    EXPECT_TRUE(refused(client.post("/api/v1/learning-sources/calendar/disconnect?purge=yes", Json::object()), 400));
    EXPECT_TRUE(refused(client.post("/api/v1/learning-sources/calendar/connect", Json::array()), 400));
    const Json badBodies[] = {
        Json::object(),
        Json{{"items", "e1"}},
        Json{{"items", Json::array({7})}},
        Json{{"items", Json::array({item("ok", "Fine"), Json{{"itemId", "e1"}, {"title", "No content"}}})}},
        Json{{"items", Json::array({Json{{"itemId", 1}, {"title", "t"}, {"content", "c"}}})}},
        Json{{"items", Json::array({Json{{"itemId", ""}, {"title", "t"}, {"content", "c"}}})}},
        Json{{"items", Json::array({Json{{"itemId", "e1"}, {"title", "t"}, {"content", "c"}, {"at", 5}}})}},
        Json{{"items", Json(std::vector<Json>(1001, item("x", "y")))}},
    };
    for (const Json &body : badBodies)
        EXPECT_TRUE(refused(client.post("/api/v1/learning-sources/calendar/sync", body), 400)) << body.dump().substr(0, 100);
    const Json state = stateOf(client, "calendar");
    EXPECT_EQ(state["itemCount"], 1);
    EXPECT_EQ(state["connected"], true);
    EXPECT_EQ(queryNumber("SELECT COUNT(*) FROM learning_items WHERE title = 'Kept'"), 1);
}

} // namespace
} // namespace nimbo::service_test
