#pragma once
// State and actions of the chat screen: the transcript, the input, the typing flag,
// the conversation identifier, the update offer and the flags of the pushed screens.

#include "app/session/SessionStore.h"
#include "chat/ChatMessageModel.h"
#include "chat/OnDeviceModel.h"
#include "chat/UpdateChecker.h"

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

    // Each time the screen becomes visible: loadMe(), greet(), checkForUpdate().
    Q_INVOKABLE void onAppear();
    Q_INVOKABLE void loadMe();
    Q_INVOKABLE void greet();
    Q_INVOKABLE void checkForUpdate();
    // Appends the trimmed input and starts one chat request (not serialised).
    Q_INVOKABLE void sendMessage();
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

private:
    void append(const QString& role, const QString& content);
    void setTyping(bool value);
    void presentUpdate(const AvailableUpdate& update);
    void signOut();

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
};

}  // namespace nimbo
