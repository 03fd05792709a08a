#include "chat/ChatViewModel.h"

#include "api/NimboApi.h"
#include "app/ui/Assign.h"
#include "platform/async/Async.h"
#include "platform/url/UrlOpener.h"

#include <cmath>
#include <cstdint>
#include <exception>

namespace nimbo {
namespace {

const QString kUser = QStringLiteral("user");
const QString kAssistant = QStringLiteral("assistant");
const QString kGreeting = QStringLiteral("Hi! I'm Nimbo. Ask me anything to get started.");
const QString kNoticePrefix = QStringLiteral("\u26A0 ");
const QString kSomethingWentWrong = QStringLiteral("Something went wrong.");
const QString kOnDeviceLoading =
    QStringLiteral("\U0001F504 Loading on-device model (first run may take a moment to download)\u2026");
constexpr const char* kOnDevicePrompt = "Say hello in one short sentence.";

// Milliseconds as a whole number, the fraction dropped (toward zero).
std::int64_t wholeMilliseconds(double ms) {
    if (!std::isfinite(ms)) return 0;
    constexpr double limit = 9.2e18;  // inside the signed 64-bit range
    return static_cast<std::int64_t>(std::trunc(std::fmax(-limit, std::fmin(ms, limit))));
}

// The hidden test, on a worker: download, then one prompt. Gives the entry to append.
std::string onDeviceTestOutcome(OnDeviceModel& model) {
    try {
        model.ensureDownloaded();
    } catch (const std::exception& e) {
        return std::string("\u26A0 On-device model download failed: ") + e.what();
    }
    const OnDeviceInferResult result = model.generate(kOnDevicePrompt);
    if (!result.ok) return "\u26A0 On-device inference failed: " + result.text;
    return "\u2705 On-device model responded in " + std::to_string(wholeMilliseconds(result.elapsedMs)) + "ms:\n" +
           result.text;
}

}  // namespace

ChatViewModel::ChatViewModel(QObject* parent) : QObject(parent), onDevice_(OnDeviceModel::device()) {}

void ChatViewModel::setInputText(const QString& value) {
    const bool couldSend = canSend();
    if (assignIfChanged(inputText_, value)) emit inputTextChanged();
    if (couldSend != canSend()) emit canSendChanged();
}
void ChatViewModel::setShowUpdateAlert(bool value) {
    if (assignIfChanged(showUpdateAlert_, value)) emit showUpdateAlertChanged();
}
void ChatViewModel::setShowLearningSources(bool value) {
    if (assignIfChanged(showLearningSources_, value)) emit showLearningSourcesChanged();
}
void ChatViewModel::setShowSuperAdminDeploy(bool value) {
    if (assignIfChanged(showSuperAdminDeploy_, value)) emit showSuperAdminDeployChanged();
}
void ChatViewModel::setShowCredits(bool value) {
    if (assignIfChanged(showCredits_, value)) emit showCreditsChanged();
}
void ChatViewModel::setSession(SessionStore* value) {
    if (session_ != value) {
        session_ = value;
        emit sessionChanged();
    }
}
void ChatViewModel::setTyping(bool value) {
    if (assignIfChanged(isTyping_, value)) emit isTypingChanged();
}

QString ChatViewModel::updateMessage() const {
    if (!updateInfo_) return {};
    return QStringLiteral("A newer version of Nimbo Chat (") + QString::fromStdString(updateInfo_->version) +
           QStringLiteral(") is available.");
}

void ChatViewModel::append(const QString& role, const QString& content) {
    messages_.append(ChatMessage(role, content));
}

void ChatViewModel::signOut() {
    if (session_) session_->setIsLoggedIn(false);
}

void ChatViewModel::onAppear() {
    loadMe();
    greet();
    checkForUpdate();
}

void ChatViewModel::loadMe() {
    runAsync(
        this, [] { return api::NimboApi::shared().fetchMe(); },
        [this](Outcome<api::NimboMe> outcome) {
            if (outcome.ok()) {
                if (assignIfChanged(headerSubtitle_, QString::fromStdString(outcome.value().email)))
                    emit headerSubtitleChanged();
                return;
            }
            const auto error = api::asNimboApiError(outcome.error());
            if (error && error->kind() == api::NimboApiError::Kind::Unauthorized) signOut();
        });
}

void ChatViewModel::greet() {
    if (messages_.rowCount() == 0) append(kAssistant, kGreeting);
}

void ChatViewModel::presentUpdate(const AvailableUpdate& update) {
    if (assignIfChanged(updateInfo_, update)) emit updateInfoChanged();
    setShowUpdateAlert(true);
}

void ChatViewModel::checkForUpdate() {
    UpdateChecker& checker = UpdateChecker::shared();
    if (const auto known = checker.available()) {
        presentUpdate(*known);
        return;
    }
    checker.checkOnLaunch([guard = QPointer<ChatViewModel>(this)](bool found) {
        if (!guard || !found) return;
        if (const auto update = UpdateChecker::shared().available()) guard->presentUpdate(*update);
    });
}

void ChatViewModel::sendMessage() {
    const QString text = inputText_.trimmed();
    if (text.isEmpty()) return;
    append(kUser, text);
    setInputText(QString());
    setTyping(true);
    runAsync(
        this,
        [message = text.toStdString(), history = messages_.historyBeforeLast(maxHistoryTurns), conversationId = conversationId_] {
            return api::NimboApi::shared().sendChat(message, history, conversationId);
        },
        [this](Outcome<api::NimboChatResponse> outcome) {
            setTyping(false);
            if (outcome.ok()) {
                const api::NimboChatResponse& response = outcome.value();
                if (response.conversationId) conversationId_ = response.conversationId;
                append(kAssistant, QString::fromStdString(response.reply));
                return;
            }
            const auto error = api::asNimboApiError(outcome.error());
            if (error && error->kind() == api::NimboApiError::Kind::Unauthorized) {
                signOut();
                return;
            }
            const std::string description = error ? error->errorDescription() : std::string();
            append(kAssistant,
                   kNoticePrefix + (description.empty() ? kSomethingWentWrong : QString::fromStdString(description)));
        });
}

void ChatViewModel::runOnDeviceModelTest() {
    append(kAssistant, kOnDeviceLoading);
    runAsync(
        this, [model = onDevice_] { return onDeviceTestOutcome(*model); },
        [this](Outcome<std::string> outcome) {
            // The work catches every failure it can describe; anything else is still reported.
            append(kAssistant, outcome.ok() ? QString::fromStdString(outcome.value())
                                            : kNoticePrefix + kSomethingWentWrong);
        });
}

void ChatViewModel::openUpdate() {
    if (!updateInfo_) return;
    platform::UrlOpener::current().open(QString::fromStdString(updateInfo_->storeUrl));  // web pages only
}

bool ChatViewModel::openLink(const QString& url) const { return platform::UrlOpener::links().open(url); }

}  // namespace nimbo
