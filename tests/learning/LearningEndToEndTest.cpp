// Calendar as a learning source against the real stand-in service: switching it on
// uploads the calendar's events, disconnecting with deletion removes them.
#include "learning/LearningSourcesApi.h"
#include "learning/LearningSourcesViewModel.h"

#include "api/NimboApi.h"

#include "Doubles.h"

#include <gtest/gtest.h>

using namespace nimbo;
using namespace std::chrono_literals;

TEST(LearningEndToEnd, CalendarOnUploadsEventsAndDisconnectWithDeletionRemovesThem) {
    test::resetServers();
    api::NimboApi::shared().login("demo@nimbo.test", "demo-password-1");
    test::DeviceStandIns standIns;
    standIns.permissions.setStatus(test::Permission::Calendar, test::Status::Authorized);
    const QDateTime start = QDateTime::currentDateTime().addDays(1);
    standIns.writeCalendar({test::event("standup", start, "RRULE:FREQ=DAILY;COUNT=2\r\nLOCATION:Room 4\r\n"),
                            test::event("lunch", start.addDays(3))});
    const auto calendarState = [] {
        for (const LearningSourceState& state : LearningSourcesApi::list()) {
            if (state.category == "calendar") return std::make_pair(state.connected, state.itemCount);
        }
        return std::make_pair(false, std::int64_t{-1});
    };
    LearningSourcesViewModel vm;
    const int row = test::rowOf("calendar");
    vm.setSwitch(row, true);
    ASSERT_TRUE(test::waitUntil([&] { return !standIns.scheduler.whats.empty(); }, 15s));  // scheduled after the sync
    EXPECT_EQ(vm.toastMessage(), "Calendar connected.");
    EXPECT_EQ(calendarState(), std::make_pair(true, std::int64_t{3}));
    vm.refreshFromServer();
    EXPECT_TRUE(test::waitUntil([&] { return vm.data(vm.index(row), LearningSourcesViewModel::SyncedTextRole) == "3 item(s) synced"; }));
    vm.setSwitch(row, false);
    vm.confirmDisconnect(true);
    EXPECT_TRUE(test::waitUntil([&] { return calendarState() == std::make_pair(false, std::int64_t{0}); }, 15s));
    EXPECT_EQ(standIns.scheduler.whats, (std::vector<QString>{"submit", "cancel"}));
}
