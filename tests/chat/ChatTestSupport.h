#pragma once
// Shared pieces of the chat tests: the scripted chat and version routes, a stand-in
// on-device model and a recording URL opener.

#include "api/Json.h"
#include "chat/ChatViewModel.h"
#include "chat/OnDeviceModel.h"
#include "chat/UpdateChecker.h"
#include "platform/url/UrlOpener.h"

#include "QmlScreen.h"
#include "TestEnvironment.h"

#include <QString>
#include <QStringList>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace nimbo::test {

inline constexpr const char* kChatPath = "/api/chat/orc";
inline const QString kGreeting = QStringLiteral("Hi! I'm Nimbo. Ask me anything to get started.");

// The chat screen at the root of a navigation stack, as the signed-in app shows it, with
// the window's text-size shortcuts; give it the session as the root's "session".
inline constexpr const char* kChatStackQml = R"(
    import QtQuick
    import QtQuick.Controls
    import Nimbo.Ui
    import Nimbo.Chat
    StackView {
        id: stack
        property var session
        initialItem: ChatView { session: stack.session }
        TextSizeShortcuts {}
        function goBack() { stack.pop() }
    })";

// The chat screen of a signed-in session, drawn as the app shows it, and its view model.
struct SignedInChatScreen {
    SessionStore session;
    bool isSignedIn = (session.setIsLoggedIn(true), true);
    QmlScreen screen{kChatStackQml, {{"session", QVariant::fromValue(&session)}}};
    ChatViewModel* vm = qobject_cast<ChatViewModel*>(screen.find("chatView")->property("viewModel").value<QObject*>());
};

// The app's style settings (its qtquickcontrols2.conf), read when QML first loads.
inline void useAppStyle() {
    for (const auto& [name, value] : {std::pair{"ACCENT", "#D4A34A"}, {"PRIMARY", "#1C1C1E"}, {"BACKGROUND", "#000000"},
                                      {"FOREGROUND", "#FFFFFF"}})
        ::setenv(("QT_QUICK_CONTROLS_MATERIAL_" + std::string(name)).c_str(), value, 0);
}

// Runs one version check against the production server answering `version` and
// waits for it, so the shared checker holds an update (newer version) or none.
inline void settleUpdateChecker(const std::string& version, const std::string& url = "https://store.example/nimbo") {
    productionServer().on("GET", "/api/agent/latest-version", ScriptedResponse{200, api::Json{{"version", version}, {"url", url}}.dump()});
    bool done = false;
    UpdateChecker::shared().checkOnLaunch([&done](bool) { done = true; });
    EXPECT_TRUE(waitUntil([&] { return done; }));
}

// The bodies of the chat requests the production server received, in arrival order.
inline std::vector<api::Json> chatBodies() {
    std::vector<api::Json> bodies;
    for (const RecordedRequest& r : productionServer().requests())
        if (r.path == kChatPath) bodies.push_back(api::Json::parse(r.body));
    return bodies;
}

// A chat route that echoes the message as the reply, with an optional conversation id.
inline void scriptEcho(const std::string& conversationId = {}) {
    productionServer().on("POST", kChatPath, [conversationId](const RecordedRequest& r) {
        api::Json reply{{"reply", "echo: " + api::Json::parse(r.body).value("message", std::string())}};
        if (!conversationId.empty()) reply["conversationId"] = conversationId;
        return ScriptedResponse{200, reply.dump()};
    });
}

struct FakeOnDeviceModel : OnDeviceModel {
    std::string downloadFailure;  // thrown by ensureDownloaded() when not empty
    OnDeviceInferResult result{true, "Hello there!", 12.0};
    std::vector<std::string> prompts;

    void ensureDownloaded() override {
        if (!downloadFailure.empty()) throw std::runtime_error(downloadFailure);
    }
    OnDeviceInferResult generate(const std::string& prompt) override {
        prompts.push_back(prompt);
        return result;
    }
};

// Records what would have been opened; installed for the lifetime of the object.
struct RecordingOpener : platform::UrlOpener {
    RecordingOpener() { install(this); }
    ~RecordingOpener() override { install(nullptr); }
    bool open(const QString& url) override { return opened << url, true; }
    QStringList opened;
};

}  // namespace nimbo::test
