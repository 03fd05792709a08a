#pragma once
// The chat transcript: entries in order, oldest first, only ever appended to.

#include "api/Records.h"
#include "chat/markdown/FormattedReplies.h"

#include <QAbstractListModel>
#include <QString>
#include <QUuid>
#include <QtQml/qqmlregistration.h>

#include <cstddef>
#include <utility>
#include <vector>

namespace nimbo {

struct ChatMessage {
    // "user" for what the person typed, "assistant" for everything else.
    ChatMessage(QString role, QString content)
        : id(QUuid::createUuid()), role(std::move(role)), content(std::move(content)) {}

    QUuid id;
    QString role;
    QString content;

    bool isUser() const { return role == QLatin1String("user"); }
    // Replies, the greeting and the on-device answers are Markdown; what the person
    // typed and the "⚠ " notices are shown exactly as written.
    bool isMarkdown() const { return !isUser() && !content.startsWith(QStringLiteral("\u26A0 ")); }
};

class ChatMessageModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The transcript belongs to its ChatViewModel")

public:
    // BlocksRole: the entry's Markdown blocks (empty for plain entries, and while a long
    // reply is still being parsed); ReadingRole: what a screen reader reads.
    enum Role { IdRole = Qt::UserRole + 1, RoleRole, ContentRole, IsUserRole, BlocksRole, ReadingRole };

    explicit ChatMessageModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const std::vector<ChatMessage>& messages() const { return messages_; }
    void append(ChatMessage message);
    // Up to `count` entries that come before the last one, oldest first, as chat turns.
    std::vector<api::NimboChatTurn> historyBeforeLast(std::size_t count) const;

private:
    std::vector<ChatMessage> messages_;
    markdown::FormattedReplies formatted_;
};

}  // namespace nimbo
