// Calendar as a learning source against the real stand-in service: switching it on
// uploads the calendar's events, disconnecting with deletion removes them.
#include "learning/LearningSourcesApi.h"
#include "learning/LearningSourcesViewModel.h"

#include "api/NimboApi.h"
#include "platform/files/AppPaths.h"

#include "Doubles.h"

#include <gtest/gtest.h>

using namespace nimbo;
using namespace std::chrono_literals;
using platform::Permission;
using platform::PermissionStatus;

namespace {

std::optional<LearningSourceState> serviceState(const QString& id) {
    for (const LearningSourceState& state : LearningSourcesApi::list()) {
        if (state.category == id) return state;
    }
    return std::nullopt;
}

TEST(LearningEndToEnd, CalendarOnUploadsEventsAndDisconnectWithDeletionRemovesThem) {
    test::resetServers();
    api::NimboApi::shared().login("demo@nimbo.test", "demo-password-1");

    // Three events in the app's own calendar folder, one of them repeating twice.
    const std::filesystem::path folder = platform::applicationSupportDir() / "Calendars";
    std::filesystem::create_directories(folder);
    const QDateTime start = QDateTime::currentDateTime().addDays(1);
    test::writeText(folder / "e2e.ics",
                    test::calendarText({"UID:e2e-standup\r\nSUMMARY:Standup\r\nDTSTART:" + test::icsLocal(start) +
                                            "\r\nDURATION:PT15M\r\nRRULE:FREQ=DAILY;COUNT=2\r\nLOCATION:Room 4\r\n",
                                        "UID:e2e-lunch\r\nSUMMARY:Lunch\r\nDTSTART:" +
                                            test::icsLocal(start.addDays(3)) + "\r\nDURATION:PT1H\r\n"}));

    test::MemoryKeyValueStore store;
    test::ScriptedPermissionCenter permissions;
    permissions.answers[Permission::Calendar] = PermissionStatus::Authorized;
    test::RecordingScheduler scheduler;
    test::InstalledDoubles installed{&store, &permissions, &scheduler, nullptr};  // the real calendar store

    LearningSourcesViewModel vm;
    vm.refreshFromServer();
    ASSERT_TRUE(test::waitUntil([&] { return !vm.serverState().empty(); }));
    EXPECT_FALSE(vm.toggleState("calendar"));

    vm.setSwitch(test::rowOf("calendar"), true);
    ASSERT_TRUE(test::waitUntil([&] { return !scheduler.calls.empty(); }, 15s));  // scheduled after the sync
    EXPECT_EQ(vm.toastMessage(), "Calendar connected.");
    auto state = serviceState("calendar");
    ASSERT_TRUE(state);
    EXPECT_TRUE(state->connected);
    EXPECT_EQ(state->itemCount, 3);
    EXPECT_TRUE(state->lastSyncAt);

    vm.refreshFromServer();
    ASSERT_TRUE(test::waitUntil([&] {
        return vm.data(vm.index(test::rowOf("calendar")), LearningSourcesViewModel::SyncedTextRole).toString() ==
               "3 item(s) synced";
    }));

    vm.setSwitch(test::rowOf("calendar"), false);
    ASSERT_TRUE(vm.showDisconnectConfirm());
    vm.confirmDisconnect(true);
    ASSERT_TRUE(test::waitUntil([&] {
        const auto after = serviceState("calendar");
        return after && !after->connected && after->itemCount == 0;
    }, 15s));
    EXPECT_EQ(scheduler.whats(), (std::vector<QString>{"submit", "cancel"}));
}

}  // namespace
