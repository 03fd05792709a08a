#include "chat/ChatViewModel.h"

#include "api/NimboApi.h"
#include "app/ui/Assign.h"
#include "chat/history/HistoryAsync.h"
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

ChatViewModel::ChatViewModel(QObject* parent)
    : QObject(parent),
      onDevice_(OnDeviceModel::device()),
      api_(&api::NimboApi::shared(), [](api::NimboApi*) {}) {  // the shared client is never destroyed
    connect(&messages_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { recordAppended(first, last); });
}

// Every entry shown goes to the chats database as it appears.
void ChatViewModel::recordAppended(int first, int last) {
    for (int row = first; row <= last; ++row) {
        const ChatMessage& message = messages_.messages()[static_cast<std::size_t>(row)];
        recorder_.entryAppended(message.role.toStdString(), message.content.toStdString(), conversationId_);
    }
}

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

void ChatViewModel::append(const QString& role, const QString& content, std::optional<ChatSend> failedSend) {
    ChatMessage message(role, content);
    message.failedSend = std::move(failedSend);
    messages_.append(std::move(message));
}

// An assistant entry for `conversation`: shown when it is on screen, else only kept with it.
void ChatViewModel::appendFor(const std::string& conversation, const QString& content,
                              const std::optional<std::string>& serverId, std::optional<ChatSend> failedSend) {
    if (conversation == recorder_.conversation()) return append(kAssistant, content, std::move(failedSend));
    recorder_.entryForConversation(conversation, kAssistant.toStdString(), content.toStdString(), serverId);
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
                const QString email = QString::fromStdString(outcome.value().email);
                if (assignIfChanged(headerSubtitle_, email)) emit headerSubtitleChanged();
                const std::string account = email.trimmed().toLower().toStdString();
                if (!account.empty() && account != recorder_.account()) {
                    recorder_.setAccount(account);
                    emit accountKeyChanged();
                }
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
    startSend({text.toStdString(), messages_.historyBeforeLast(maxHistoryTurns), conversationId_,
               QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString()},
              QUuid());
}

void ChatViewModel::resend(int row) {
    if (row < 0 || row >= messages_.rowCount()) return;
    const ChatMessage& notice = messages_.messages()[static_cast<std::size_t>(row)];
    if (!notice.failedSend || notice.isResending) return;
    messages_.setResending(row, true);
    startSend(*notice.failedSend, notice.id);
}

void ChatViewModel::startSend(ChatSend request, const QUuid& notice) {
    setTyping(true);
    auto sent = std::make_shared<const ChatSend>(std::move(request));
    runAsync(
        this,
        [client = api_, sent] {
            return client->sendChat(sent->message, sent->history, sent->conversationId, sent->idempotencyKey);
        },
        [this, sent, notice, conversation = recorder_.conversation()](Outcome<api::NimboChatResponse> outcome) {
            setTyping(false);
            const int noticeRow = notice.isNull() ? -1 : messages_.rowOf(notice);
            const auto error = outcome.ok() ? std::nullopt : api::asNimboApiError(outcome.error());
            if (error && error->kind() == api::NimboApiError::Kind::Unauthorized) {
                messages_.setResending(noticeRow, false);
                signOut();
                return;
            }
            // A new answer or a new notice replaces the offer of the notice sent again from.
            messages_.withdrawResend(noticeRow);
            if (outcome.ok()) {
                const api::NimboChatResponse& response = outcome.value();
                if (conversation == recorder_.conversation() && response.conversationId)
                    conversationId_ = response.conversationId;
                appendFor(conversation, QString::fromStdString(response.reply), response.conversationId);
                return;
            }
            const std::string description = error ? error->errorDescription() : std::string();
            appendFor(conversation,
                      kNoticePrefix + (description.empty() ? kSomethingWentWrong : QString::fromStdString(description)),
                      std::nullopt, *sent);
        });
}

void ChatViewModel::switchConversation(std::vector<ChatMessage> messages, std::optional<std::string> conversationId) {
    ++opening_;
    setTyping(false);
    conversationId_ = std::move(conversationId);
    messages_.reset(std::move(messages));
}

void ChatViewModel::startNewChat() {
    recorder_.startNew();
    switchConversation({}, std::nullopt);
    greet();
}

void ChatViewModel::storedChatsDeleted(const QString& conversationId) {
    if (conversationId.isEmpty() || conversationId == conversationKey()) startNewChat();
}

void ChatViewModel::openConversation(const QString& conversationId) {
    if (recorder_.account().empty()) return;
    const int request = ++opening_;
    history::queryHistory(
        history::ChatHistory::shared(), this,
        [account = recorder_.account(), id = conversationId.toStdString()](history::HistoryDatabase& db) {
            return db.conversation(account, id);
        },
        [this, request](Outcome<std::optional<history::StoredConversation>> found) {
            if (request != opening_ || !found.ok() || !found.value()) return;
            const history::StoredConversation& stored = *found.value();
            std::vector<ChatMessage> messages;
            messages.reserve(stored.entries.size());
            for (const history::StoredEntry& entry : stored.entries)
                messages.emplace_back(QString::fromStdString(entry.role), QString::fromStdString(entry.content));
            recorder_.continueStored(stored.id);
            switchConversation(std::move(messages), stored.serverId);
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
