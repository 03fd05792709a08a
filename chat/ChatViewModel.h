#pragma once
// State and actions of the chat screen: the transcript, the input, the typing flag,
// the conversation identifier, the update offer and the flags of the pushed screens.

#include "api/NimboApi.h"
#include "app/session/SessionStore.h"
#include "chat/ChatMessageModel.h"
#include "chat/OnDeviceModel.h"
#include "chat/UpdateChecker.h"
#include "chat/history/TranscriptRecorder.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <memory>
#include <optional>
#include <string>

namespace nimbo {

class ChatViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(nimbo::ChatMessageModel* messages READ messages CONSTANT)
    Q_PROPERTY(QString inputText READ inputText WRITE setInputText NOTIFY inputTextChanged)
    Q_PROPERTY(bool canSend READ canSend NOTIFY canSendChanged)
    Q_PROPERTY(bool isTyping READ isTyping NOTIFY isTypingChanged)
    Q_PROPERTY(QString headerSubtitle READ headerSubtitle NOTIFY headerSubtitleChanged)
    Q_PROPERTY(bool showUpdateAlert READ showUpdateAlert WRITE setShowUpdateAlert NOTIFY showUpdateAlertChanged)
    Q_PROPERTY(QString updateMessage READ updateMessage NOTIFY updateInfoChanged)
    Q_PROPERTY(bool showLearningSources READ showLearningSources WRITE setShowLearningSources NOTIFY showLearningSourcesChanged)
    Q_PROPERTY(bool showSuperAdminDeploy READ showSuperAdminDeploy WRITE setShowSuperAdminDeploy NOTIFY showSuperAdminDeployChanged)
    Q_PROPERTY(bool showCredits READ showCredits WRITE setShowCredits NOTIFY showCreditsChanged)
    Q_PROPERTY(nimbo::SessionStore* session READ session WRITE setSession NOTIFY sessionChanged)
    // The signed-in account whose chats are kept (empty until the user record arrives).
    Q_PROPERTY(QString accountKey READ accountKey NOTIFY accountKeyChanged)

public:
    static constexpr std::size_t maxHistoryTurns = 20;

    explicit ChatViewModel(QObject* parent = nullptr);

    ChatMessageModel* messages() { return &messages_; }
    const ChatMessageModel& transcript() const { return messages_; }
    QString inputText() const { return inputText_; }
    void setInputText(const QString& value);
    // The send button is enabled exactly when the trimmed input is not empty.
    bool canSend() const { return !inputText_.trimmed().isEmpty(); }
    bool isTyping() const { return isTyping_; }
    QString headerSubtitle() const { return headerSubtitle_; }
    const std::optional<std::string>& conversationId() const { return conversationId_; }
    bool showUpdateAlert() const { return showUpdateAlert_; }
    void setShowUpdateAlert(bool value);
    const std::optional<AvailableUpdate>& updateInfo() const { return updateInfo_; }
    QString updateMessage() const;
    bool showLearningSources() const { return showLearningSources_; }
    void setShowLearningSources(bool value);
    bool showSuperAdminDeploy() const { return showSuperAdminDeploy_; }
    void setShowSuperAdminDeploy(bool value);
    bool showCredits() const { return showCredits_; }
    void setShowCredits(bool value);
    SessionStore* session() const { return session_; }
    void setSession(SessionStore* value);
    // The on-device model the hidden test talks to (the device's unless replaced).
    void setOnDeviceModel(std::shared_ptr<OnDeviceModel> model) { onDevice_ = std::move(model); }
    // The service client that chat requests go through (NimboApi::shared() unless replaced).
    void setApi(std::shared_ptr<api::NimboApi> client) { api_ = std::move(client); }

    QString accountKey() const { return QString::fromStdString(recorder_.account()); }
    // The local id of the conversation on screen.
    QString conversationKey() const { return QString::fromStdString(recorder_.conversation()); }

    // A fresh conversation with the greeting; the one on screen stays stored.
    Q_INVOKABLE void startNewChat();
    // Shows a stored conversation and continues it (its history and server id go with the next send).
    Q_INVOKABLE void openConversation(const QString& conversationId);
    // Stored chats were deleted (`conversationId`, or all when empty): when the one on
    // screen is among them, a fresh conversation takes its place.
    Q_INVOKABLE void storedChatsDeleted(const QString& conversationId);

    // Each time the screen becomes visible: loadMe(), greet(), checkForUpdate().
    Q_INVOKABLE void onAppear();
    Q_INVOKABLE void loadMe();
    Q_INVOKABLE void greet();
    Q_INVOKABLE void checkForUpdate();
    // Appends the trimmed input and starts one chat request (not serialised), named by a
    // fresh idempotency key.
    Q_INVOKABLE void sendMessage();
    // "Send again" on the failure notice in transcript row `row`: sends the failed request
    // again, unchanged and with the same key, under the rules of any send. Does nothing for
    // an entry that offers no resend or whose resend is under way.
    Q_INVOKABLE void resend(int row);
    // The hidden test: downloads the on-device model if needed and asks it one prompt.
    Q_INVOKABLE void runOnDeviceModelTest();
    // "Update" of the update alert: opens the store page outside the app.
    Q_INVOKABLE void openUpdate();
    // A link of a reply the person chose to open: web pages and mail addresses only.
    Q_INVOKABLE bool openLink(const QString& url) const;

signals:
    void inputTextChanged();
    void canSendChanged();
    void isTypingChanged();
    void headerSubtitleChanged();
    void showUpdateAlertChanged();
    void updateInfoChanged();
    void showLearningSourcesChanged();
    void showSuperAdminDeployChanged();
    void showCreditsChanged();
    void sessionChanged();
    void accountKeyChanged();

private:
    void append(const QString& role, const QString& content, std::optional<ChatSend> failedSend = std::nullopt);
    // Sends `request` with the typing row; `notice` is the failure notice it is sent again
    // from (null for a first send).
    void startSend(ChatSend request, const QUuid& notice);
    void setTyping(bool value);
    void presentUpdate(const AvailableUpdate& update);
    void signOut();
    void recordAppended(int first, int last);
    void appendFor(const std::string& conversation, const QString& content,
                   const std::optional<std::string>& serverId = std::nullopt,
                   std::optional<ChatSend> failedSend = std::nullopt);
    // Replaces the conversation on screen (a late reply of the old one is kept with it).
    void switchConversation(std::vector<ChatMessage> messages, std::optional<std::string> conversationId);

    ChatMessageModel messages_;
    QString inputText_;
    bool isTyping_ = false;
    QString headerSubtitle_;
    std::optional<std::string> conversationId_;
    bool showUpdateAlert_ = false;
    std::optional<AvailableUpdate> updateInfo_;
    bool showLearningSources_ = false;
    bool showSuperAdminDeploy_ = false;
    bool showCredits_ = false;
    QPointer<SessionStore> session_;
    std::shared_ptr<OnDeviceModel> onDevice_;
    std::shared_ptr<api::NimboApi> api_;
    history::TranscriptRecorder recorder_;
    int opening_ = 0;  // the latest openConversation(); older ones are dropped
};

}  // namespace nimbo
