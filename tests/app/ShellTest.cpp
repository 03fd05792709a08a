// The root view's switch, and every screen of the app as a screen reader meets it, fed
// with hostile server text.
#include "api/Json.h"
#include "app/session/SessionStore.h"

#include "QmlScreen.h"
#include "TestEnvironment.h"

#include <QAccessible>
#include <QQmlContext>
#include <QQuickItem>
#include <gtest/gtest.h>

#include <set>

using namespace nimbo;
using namespace std::chrono_literals;
using test::ScriptedResponse;

namespace {

// Every item in the window: list delegates, hidden items, and popups open or not.
void collect(QObject* object, std::set<QObject*>& seen, std::vector<QQuickItem*>& items) {
    if (!object || !seen.insert(object).second) return;
    if (auto* item = qobject_cast<QQuickItem*>(object)) {
        items.push_back(item);
        for (QQuickItem* child : item->childItems()) collect(child, seen, items);
    }
    // A popup's items hang below its own root item, which is the parent of its content item.
    if (auto* content = object->property("contentItem").value<QQuickItem*>()) collect(content->parentItem(), seen, items);
    for (QObject* child : object->children()) collect(child, seen, items);
}

bool isInteractive(const QAccessibleInterface* a, const QQuickItem* item) {
    static const std::set<QAccessible::Role> roles{QAccessible::Button,   QAccessible::Link,      QAccessible::CheckBox,
                                                   QAccessible::RadioButton, QAccessible::EditableText, QAccessible::PageTab,
                                                   QAccessible::MenuItem, QAccessible::ButtonMenu, QAccessible::ComboBox};
    return roles.count(a->role()) > 0 || item->activeFocusOnTab();
}

// Every text is plain text (a field's own placeholder aside) but the blocks of a formatted reply,
// which show only the rich text the Markdown unit built (never an image); every control has a
// name and every link is announced as one; `shot` also renders the screen to <where>.png.
void checkEveryItem(test::QmlScreen& screen, const char* where, bool shot = false) {
    std::set<QObject*> seen;
    std::vector<QQuickItem*> items;
    collect(screen.root()->window()->contentItem(), seen, items);
    for (QQuickItem* item : items) {
        const QString text = item->property("text").toString();
        const QQmlContext* context = qmlContext(item);
        const std::string what = std::string(where) + ": " + item->metaObject()->className() + " '" + text.toStdString() +
                                 "' in " + (context ? context->baseUrl().fileName().toStdString() : "?");
        // Not drawn: a field's own placeholder, and a style's default part that the screen replaced.
        const bool drawn = item->parentItem() && item->parentItem()->property("placeholderText") != text;
        const bool isReplyBlock = item->objectName() == "blockText" &&
                                  QByteArray(item->metaObject()->className()).startsWith("BlockText_QMLTYPE");
        if (isReplyBlock) {
            EXPECT_FALSE(text.contains("<img", Qt::CaseInsensitive)) << what;
            EXPECT_FALSE(item->property("inline").toMap().value("rich").toString().contains("<img")) << what;
        } else if ((item->inherits("QQuickText") || item->inherits("QQuickTextEdit")) && drawn) {
            EXPECT_EQ(item->property("textFormat").toInt(), Qt::PlainText) << what;
        }
        const QAccessibleInterface* a = QAccessible::queryAccessibleInterface(item);
        if (a && isInteractive(a, item)) { EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << what; }
        static const std::set<QString> links{"forgotLink", "signupLink", "topUpLink"};  // "Back" links are buttons
        if (links.count(item->objectName())) { EXPECT_TRUE(a && a->role() == QAccessible::Link) << what; }
    }
    if (shot) screen.render(where);
}

TEST(Screens, ShowServerTextPlainAndNameEveryControl) {
    QAccessible::setActive(true);
    test::ScriptedServer& server = test::productionServer();
    const std::string hostile = "<img src=\"" + server.base() + "/x.png\"><b>x</b>";
    server.on("GET", "/api/agent/latest-version",
              ScriptedResponse{200, api::Json{{"version", "99." + hostile}, {"url", "https://store.example"}}.dump()});
    server.on("GET", "/api/auth/me", ScriptedResponse{200, api::Json{{"email", hostile}, {"isSuperAdmin", true}}.dump()});
    server.on("GET", "/api/v1/credits/balance", ScriptedResponse{200, R"({"companyBalance":300})"});
    server.on("POST", "/api/superadmin/deploy", ScriptedResponse{200, R"({"triggered":true,"dispatchedAtUtc":"t"})"});
    server.on("GET", "/api/superadmin/deploy/status", ScriptedResponse{200, api::Json{{"runs", {{{"runId", 7},
        {"status", hostile}, {"jobs", {{{"name", hostile}, {"steps", {{{"name", hostile}}}}}}}}}}}.dump()});

    SessionStore session;
    test::QmlScreen screen(R"(
        import QtQuick
        import Nimbo.Session
        import Nimbo.App
        import Nimbo.Learning
        Item {
            id: window
            property SessionStore session
            RootView { anchors.fill: parent; session: window.session }
            PermissionPromptHost { anchors.fill: parent }
        }
    )", {{"session", QVariant::fromValue(&session)}});
    ASSERT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join("\n").toStdString();

    checkEveryItem(screen, "sign-in", true);
    screen.tap("signupLink");
    ASSERT_TRUE(test::waitUntil([&] { return screen.isShown("signUpButton"); }));
    test::spinFor(400ms);  // the push transition
    checkEveryItem(screen, "sign-up", true);
    screen.tap("signupBackLink");
    ASSERT_TRUE(test::waitUntil([&] { return !screen.find("signUpButton"); }));
    screen.tap("forgotLink");
    ASSERT_TRUE(test::waitUntil([&] { return screen.isShown("sendButton"); }));
    test::spinFor(400ms);
    checkEveryItem(screen, "forgot-password", true);

    // Signing in replaces the whole sign-in navigation, the pushed screen included.
    session.setIsLoggedIn(true);
    ASSERT_TRUE(test::waitUntil([&] { return screen.find("updateAlert")->property("opened").toBool(); }));
    EXPECT_EQ(screen.find("loginPage"), nullptr);
    ASSERT_TRUE(test::waitUntil([&] { return screen.find("headerSubtitle")->property("text") == QString::fromStdString(hostile); }));
    checkEveryItem(screen, "chat");  // plain text: no markup, no image fetch

    QMetaObject::invokeMethod(screen.find("updateAlert"), "close");
    // The pushed screens, the deploy console with a run.
    QObject* chat = screen.find("chatView")->property("viewModel").value<QObject*>();
    for (const char* flag : {"showCredits", "showLearningSources", "showSuperAdminDeploy"}) {
        chat->setProperty(flag, true);
        test::spinFor(500ms);
        checkEveryItem(screen, flag);
    }
    ASSERT_TRUE(test::waitUntil([&] { return screen.isShown("deployBody"); }));
    screen.tap("triggerButton");
    ASSERT_TRUE(test::waitUntil([&] { return test::lastRequest(server).path == "/api/superadmin/deploy/status"; }));
    test::spinFor(300ms);
    checkEveryItem(screen, "deploy runs");

    session.setIsLoggedIn(false);
    ASSERT_TRUE(test::waitUntil([&] { return screen.isShown("loginPage"); }));
    EXPECT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join("\n").toStdString();
}

}  // namespace
