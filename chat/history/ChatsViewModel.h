#pragma once
// State and actions of the Chats screen: the account's stored conversations (or the
// ones a search found), deleting one or all, the keep switch, export, and the notices
// about chats that could not be read or are not being saved.

#include "chat/history/ChatsListModel.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

#include <atomic>
#include <memory>

namespace nimbo {

class ChatsViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString account READ account WRITE setAccount NOTIFY accountChanged)
    Q_PROPERTY(nimbo::ChatsListModel* conversations READ conversations CONSTANT)
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)
    Q_PROPERTY(int storedCount READ storedCount NOTIFY storedCountChanged)
    Q_PROPERTY(bool isLoaded READ isLoaded NOTIFY isLoadedChanged)
    Q_PROPERTY(bool keepChats READ keepChats WRITE setKeepChats NOTIFY keepChatsChanged)
    Q_PROPERTY(QString notice READ notice NOTIFY noticeChanged)
    Q_PROPERTY(QString exportMessage READ exportMessage NOTIFY exportMessageChanged)

public:
    explicit ChatsViewModel(QObject* parent = nullptr);

    QString account() const { return account_; }
    // The signed-in account's key; nothing is read before it is set.
    void setAccount(const QString& value);
    ChatsListModel* conversations() { return &rows_; }
    QString searchText() const { return searchText_; }
    // Searches as the text changes; the latest text wins.
    void setSearchText(const QString& value);
    int storedCount() const { return storedCount_; }
    bool isLoaded() const { return isLoaded_; }
    bool keepChats() const { return keepChats_; }
    // Turning it off deletes every stored chat of the account (the screen asks first).
    void setKeepChats(bool value);
    QString notice() const { return notice_; }
    QString exportMessage() const { return exportMessage_; }

    Q_INVOKABLE void refresh();
    Q_INVOKABLE void remove(const QString& conversationId);
    Q_INVOKABLE void removeAll();
    // Writes the conversation as Markdown to `file` (a local file URL), atomically.
    Q_INVOKABLE void exportConversation(const QString& conversationId, const QUrl& file);
    // The file to offer for the export: the title, made safe, with ".md", in the documents folder.
    Q_INVOKABLE QUrl suggestedFile(const QString& title) const;

signals:
    // Stored chats are being deleted: `conversationId`, or every one of the account when empty.
    void chatsDeleted(const QString& conversationId);
    void accountChanged();
    void searchTextChanged();
    void storedCountChanged();
    void isLoadedChanged();
    void keepChatsChanged();
    void noticeChanged();
    void exportMessageChanged();

private:
    void setExportMessage(const QString& value);
    void changeThenRefresh(std::function<bool(history::HistoryDatabase&)> change);

    QString account_;
    ChatsListModel rows_;
    QString searchText_;
    int storedCount_ = 0;
    bool isLoaded_ = false;
    bool keepChats_ = true;
    QString notice_;
    QString exportMessage_;
    // The newest list or search asked for; older answers are dropped.
    std::shared_ptr<std::atomic<int>> latest_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace nimbo
