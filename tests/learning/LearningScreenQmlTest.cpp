// The learning-sources screen and the permission prompt as drawn: loading without
// warnings, taps reaching the view model, and the screenshots.
#include "learning/LearningSourcesViewModel.h"

#include "Doubles.h"
#include "QmlScreen.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <gtest/gtest.h>

using namespace nimbo;
using namespace std::chrono_literals;
using test::ScriptedResponse;

namespace {

const QString kScreen = R"(
import QtQuick
import QtQuick.Controls
import Nimbo.Learning
Item {
    StackView { anchors.fill: parent; initialItem: LearningSourcesView {} }
    PermissionPromptHost { anchors.fill: parent }
}
)";

QQuickItem* findItem(QQuickItem* item, const QString& name) {
    if (!item) return nullptr;
    if (item->objectName() == name) return item;
    for (QQuickItem* child : item->childItems()) {
        if (QQuickItem* found = findItem(child, name)) return found;
    }
    return nullptr;
}

class LearningScreenQml : public ::testing::Test {
protected:
    void SetUp() override {
        test::resetServers();
        production.onAnything(ScriptedResponse{200, "{}"});
        production.on("GET", "/api/v1/learning-sources",
                      ScriptedResponse{200, R"({"categories":[{"category":"calendar","connected":true,"itemCount":12},
                                                              {"category":"network","connected":true,"itemCount":0}]})"});
    }

    QQuickItem* item(test::QmlScreen& screen, const QString& name) {
        return findItem(screen.root()->window()->contentItem(), name);
    }
    bool visibleItem(test::QmlScreen& screen, const QString& name) {
        QQuickItem* found = item(screen, name);
        return found && found->isVisible();
    }
    void tap(test::QmlScreen& screen, const QString& name) {
        QQuickItem* target = item(screen, name);
        ASSERT_NE(target, nullptr) << name.toStdString();
        const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
        QTest::mouseClick(screen.root()->window(), Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    }
    static LearningSourcesViewModel* viewModelOf(test::QmlScreen& screen) {
        QQuickItem* page = findItem(screen.root(), "learningSourcesPage");
        return page ? page->property("viewModel").value<LearningSourcesViewModel*>() : nullptr;
    }

    test::ScriptedServer& production = test::productionServer();
    test::MemoryKeyValueStore store;
    test::RecordingScheduler scheduler;
    platform::IcsCalendarStore calendar{{test::freshFolder("qml-calendars")}};
    // The permission centre is the app's own, so that its prompt is drawn.
    test::InstalledDoubles installed{&store, nullptr, &scheduler, &calendar};
};

TEST_F(LearningScreenQml, ListsTheServersStateAndShowsAToast) {
    test::QmlScreen screen(kScreen);
    EXPECT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join("\n").toStdString();
    ASSERT_TRUE(test::waitUntil([&] { return item(screen, "switch_calendar") &&
                                             item(screen, "switch_calendar")->property("checked").toBool(); }));
    EXPECT_TRUE(visibleItem(screen, "synced_calendar"));
    EXPECT_FALSE(visibleItem(screen, "synced_network"));
    EXPECT_FALSE(item(screen, "switch_messages")->property("checked").toBool());
    screen.render("learning-sources");

    tap(screen, "switch_messages");
    ASSERT_TRUE(visibleItem(screen, "toast"));
    EXPECT_EQ(viewModelOf(screen)->toastMessage(),
              "Messages (SMS) connection flow isn't built yet -- toggle recorded, no data will be collected.");
    EXPECT_FALSE(item(screen, "switch_messages")->property("checked").toBool());
    screen.render("learning-toast");
    EXPECT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join("\n").toStdString();
}

TEST_F(LearningScreenQml, PhotosPromptsInTheWindowAndLimitedAccessConnects) {
    test::QmlScreen screen(kScreen);
    ASSERT_TRUE(test::waitUntil([&] { return production.requestCount() >= 1; }));
    EXPECT_FALSE(visibleItem(screen, "permissionPromptHost"));
    tap(screen, "switch_photos");
    ASSERT_TRUE(test::waitUntil([&] { return visibleItem(screen, "permissionPromptHost"); }));
    EXPECT_FALSE(item(screen, "switch_photos")->property("checked").toBool());
    screen.render("learning-permission-prompt");

    tap(screen, "permissionOption0");  // "Allow Limited Access"
    ASSERT_TRUE(test::waitUntil([&] { return item(screen, "switch_photos")->property("checked").toBool(); }));
    EXPECT_FALSE(visibleItem(screen, "permissionPromptHost"));
    EXPECT_TRUE(test::waitUntil([&] { return viewModelOf(screen)->toastMessage() == "Photos connected."; }));
    EXPECT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join("\n").toStdString();
}

TEST_F(LearningScreenQml, TurningOffAsksInAnActionSheet) {
    test::QmlScreen screen(kScreen);
    ASSERT_TRUE(test::waitUntil([&] { return viewModelOf(screen) && viewModelOf(screen)->toggleState("calendar"); }));
    tap(screen, "switch_calendar");
    ASSERT_TRUE(test::waitUntil([&] { return visibleItem(screen, "disconnectDeleteButton"); }));
    EXPECT_EQ(scheduler.whats(), (std::vector<QString>{"cancel"}));
    test::spinFor(300ms);  // the sheet's opening transition
    screen.render("learning-disconnect");

    tap(screen, "disconnectDeleteButton");
    ASSERT_TRUE(test::waitUntil([&] { return production.requests().back().target ==
                                             "/api/v1/learning-sources/calendar/disconnect?purge=true"; }));
    EXPECT_FALSE(viewModelOf(screen)->showDisconnectConfirm());
    ASSERT_TRUE(test::waitUntil([&] { return !visibleItem(screen, "disconnectDeleteButton"); }));

    // Network sits below the fold; its sheet is dismissed by a tap on the dimmed area.
    viewModelOf(screen)->setSwitch(test::rowOf("network"), false);
    ASSERT_TRUE(test::waitUntil([&] { return visibleItem(screen, "disconnectCancelButton"); }));
    test::spinFor(300ms);
    QTest::mouseClick(screen.root()->window(), Qt::LeftButton, Qt::NoModifier, QPoint(195, 100));
    ASSERT_TRUE(test::waitUntil([&] { return !viewModelOf(screen)->showDisconnectConfirm(); }));
    EXPECT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join("\n").toStdString();
}

}  // namespace
