// A formatted reply on the real chat screen, walked once: it renders (with the
// screenshots), Copy puts exactly the code on the clipboard, a link asks before it
// opens and Cancel opens nothing, javascript: is no link, nothing in the reply is
// fetched, the keyboard's focus stays visible and in view, and the text size
// changes, keeps to its range and persists.
#include "app/ui/TextScale.h"
#include "chat/ChatViewModel.h"
#include "platform/files/AppPaths.h"

#include "ChatTestSupport.h"
#include "QmlScreen.h"

#include <QAccessible>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <gtest/gtest.h>

using namespace nimbo;
using namespace nimbo::test;
using namespace std::chrono_literals;

namespace {

void collect(QQuickItem* from, const QString& name, QList<QQuickItem*>& found) {
    for (QQuickItem* child : from->childItems()) {
        if (child->objectName() == name && child->isVisible()) found << child;
        collect(child, name, found);
    }
}

QString accessibleName(QObject* item) { return QAccessible::queryAccessibleInterface(item)->text(QAccessible::Name); }

const QString kCode = QStringLiteral("cmake -S . -B build && ninja   # <all> \"targets\"\n  ctest --label '^chat$'");

TEST(ChatScreen, AFormattedReply) {
    resetServers();
    settleUpdateChecker("1.0.0");  // no update: no alert in the way
    ScriptedServer& production = productionServer();
    const QString base = QString::fromStdString(production.base());
    const QString reply = QStringLiteral(
        "## Plan\n\nHere is **the plan** with `inline code`:\n\n1. Install\n2. Run\n   - [x] done\n   - [ ] open\n\n"
        "| Tool | Use |\n|------|-----|\n| cmake | build |\n| ctest | test |\n\n```sh\n%1\n```\n\n> Ask again any time.\n\n"
        "See [the docs](https://docs.example/guide), not [this](javascript:alert(1)).\n\n"
        "Tracking: ![pixel](%2/pixel.png) ![](%2/track.gif) <img src=\"%2/raw.png\"> [local](%2/page) <%2/auto>")
                              .arg(kCode, base);
    production.on("POST", kChatPath, ScriptedResponse{200, api::Json{{"reply", reply.toStdString()}}.dump()});
    RecordingOpener opener;
    SignedInChatScreen chat;
    QmlScreen& screen = chat.screen;
    ASSERT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join('\n').toStdString();
    ChatViewModel* vm = chat.vm;
    auto item = [&](const char* name) { return qobject_cast<QQuickItem*>(screen.find(name)); };
    QQuickWindow* window = screen.root()->window();
    auto bubble = [&](int index) {
        QQuickItem* row = nullptr;
        QMetaObject::invokeMethod(item("transcript"), "itemAtIndex", Q_RETURN_ARG(QQuickItem*, row), Q_ARG(int, index));
        return row ? row->findChild<QQuickItem*>("bubble") : nullptr;
    };
    auto within = [&](QQuickItem* in, const char* name) {
        QList<QQuickItem*> found;
        collect(in, name, found);
        return found;
    };

    // Sending with Space on the Send button empties the field; the keyboard goes back to it.
    ASSERT_TRUE(waitUntil([&] { return bubble(0) != nullptr; }));
    EXPECT_EQ(accessibleName(bubble(0)), "Nimbo: " + kGreeting);  // the greeting is Markdown too
    vm->setInputText(QStringLiteral("Plan *my* <week>"));
    item("sendButton")->forceActiveFocus();
    QTest::keyClick(window, Qt::Key_Space);
    EXPECT_TRUE(item("messageField")->hasActiveFocus());
    ASSERT_TRUE(waitUntil([&] { return bubble(2) != nullptr; }));
    spinFor(300ms);
    EXPECT_EQ(accessibleName(bubble(1)->findChild<QQuickItem*>("bubbleText")), "You: Plan *my* <week>");  // as typed
    EXPECT_FALSE(screen.render("chat-formatted").isEmpty());

    // The reading has no markup characters; code is announced with its language.
    const QString reading = accessibleName(bubble(2));
    EXPECT_TRUE(reading.startsWith("Nimbo: Plan\nHere is the plan with inline code:\n1. Install")) << reading.toStdString();
    for (const char* markup : {"**", "`", "|", "##", "]("}) EXPECT_FALSE(reading.contains(markup)) << markup;
    // Each block's text is selected with the keyboard.
    QQuickItem* heading = within(bubble(2), "blockText").value(0);
    heading->forceActiveFocus();
    QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(heading->property("selectedText").toString(), "Plan");
    QQuickItem* code = within(bubble(2), "codeText").value(0);
    ASSERT_TRUE(code);
    EXPECT_EQ(accessibleName(code), "sh code: " + kCode);

    // Copy by keyboard (just before the code): exactly the code, with "Copied" shown;
    // "Copy reply" copies the reply's source.
    code->forceActiveFocus();
    QTest::keyClick(window, Qt::Key_Backtab, Qt::ShiftModifier);
    QQuickItem* copy = window->activeFocusItem();
    ASSERT_EQ(copy->objectName(), "copyCodeButton");
    EXPECT_EQ(accessibleName(copy), "Copy code");
    QTest::keyClick(window, Qt::Key_Space);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), kCode);
    EXPECT_TRUE(copy->property("isCopied").toBool());
    QQuickItem* copyReply = within(bubble(2)->parentItem(), "copyReplyButton").value(0);
    ASSERT_TRUE(copyReply);
    copyReply->forceActiveFocus();
    QTest::keyClick(window, Qt::Key_Return);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), reply);

    // Links: the allowed ones only, with the link role; javascript: is plain text.
    const QList<QQuickItem*> links = within(bubble(2), "link");
    QStringList names;
    for (QQuickItem* link : links) {
        names << accessibleName(link);
        EXPECT_EQ(QAccessible::queryAccessibleInterface(link)->role(), QAccessible::Link);
    }
    EXPECT_EQ(names, (QStringList{"the docs", "pixel", "image", "local", base + "/auto"}));

    // Return on a link asks first; Cancel (where the keyboard starts) opens nothing.
    auto questionOpen = [&] { return screen.find("linkQuestion")->property("opened").toBool(); };
    auto questionGone = [&] { return !screen.find("linkQuestion")->property("visible").toBool(); };
    links[0]->forceActiveFocus();
    QTest::keyClick(window, Qt::Key_Return);
    ASSERT_TRUE(waitUntil(questionOpen));
    EXPECT_EQ(screen.find("linkQuestion")->property("message").toString(), "docs.example");
    spinFor(300ms);
    EXPECT_FALSE(screen.render("chat-link-question").isEmpty());
    EXPECT_TRUE(item("linkCancelButton")->hasActiveFocus());
    QTest::keyClick(window, Qt::Key_Space);
    ASSERT_TRUE(waitUntil(questionGone));
    // A tap on a link's text asks too; "Open" hands it to the link gate.
    const QRectF local = links[3]->mapRectToScene(links[3]->boundingRect());
    QTest::mouseClick(window, Qt::LeftButton, {}, local.center().toPoint());
    ASSERT_TRUE(waitUntil(questionOpen));
    EXPECT_EQ(screen.find("linkQuestion")->property("message").toString(), "127.0.0.1");
    spinFor(300ms);
    screen.tap("linkOpenButton");
    ASSERT_TRUE(waitUntil(questionGone));
    EXPECT_EQ(opener.opened, QStringList{base + "/page"});
    for (const RecordedRequest& r : production.requests())  // nothing in the reply was fetched
        EXPECT_EQ(r.path.rfind("/api/", 0), 0u) << r.path;

    // A bubble reached with the keyboard is outlined and scrolled into view.
    QMetaObject::invokeMethod(item("transcript"), "positionViewAtEnd");
    item("messageField")->forceActiveFocus();
    for (int i = 0; i < 40 && !bubble(0)->isAncestorOf(window->activeFocusItem()); ++i)
        QTest::keyClick(window, Qt::Key_Backtab, Qt::ShiftModifier);
    ASSERT_TRUE(bubble(0)->isAncestorOf(window->activeFocusItem()));
    EXPECT_EQ(bubble(0)->property("border").value<QObject*>()->property("width").toInt(), 2);
    const qreal top = bubble(0)->mapToItem(item("transcript"), QPointF()).y();
    EXPECT_GE(top, 0);
    EXPECT_LE(top + bubble(0)->height(), item("transcript")->height());

    // Text size: the "Aa" popup up to 200 % (and no further), the shortcuts, and the file.
    TextScale& scale = TextScale::shared();
    screen.tap("textSizeButton");
    ASSERT_TRUE(waitUntil([&] { return item("largerTextButton") && item("largerTextButton")->isVisible(); }));
    spinFor(300ms);
    for (int i = 0; i < 10; ++i) screen.tap("largerTextButton");
    EXPECT_EQ(scale.percent(), 200);
    EXPECT_FALSE(item("largerTextButton")->isEnabled());
    QTest::keyClick(window, Qt::Key_Escape);
    QMetaObject::invokeMethod(item("transcript"), "positionViewAtEnd");
    spinFor(400ms);
    EXPECT_FALSE(screen.render("chat-text-200").isEmpty());
    EXPECT_LE(bubble(2)->mapToScene(QPointF(bubble(2)->width(), 0)).x(), 390 - 14 - 40);
    scale.flush();
    const auto file = platform::configDir() / "display.json";
    QFile stored(QString::fromStdString(file.string()));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(QJsonDocument::fromJson(stored.readAll()).object().value("textSizePercent").toInt(), 200);
    EXPECT_EQ(TextScale(file).percent(), 200);  // as the next launch reads it
    const struct { Qt::Key key; int percent; } keys[] = {
        {Qt::Key_0, 100}, {Qt::Key_Minus, 85}, {Qt::Key_Minus, 85}, {Qt::Key_Plus, 100}, {Qt::Key_Equal, 115}, {Qt::Key_0, 100}};
    for (const auto& k : keys) {
        QTest::keyClick(window, k.key, Qt::ControlModifier);
        EXPECT_EQ(scale.percent(), k.percent) << k.key;
    }
    EXPECT_TRUE(screen.warnings().isEmpty()) << screen.warnings().join('\n').toStdString();
}

}  // namespace
