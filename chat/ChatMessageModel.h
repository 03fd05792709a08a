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
    // BlocksRole: the first (up to eagerBlocks) of the entry's Markdown blocks, drawn with
    // its bubble; BlockCountRole: how many there are (0 for plain entries; a preview
    // while a long reply is being parsed); ReadingRole: what a screen reader reads.
    enum Role { IdRole = Qt::UserRole + 1, RoleRole, ContentRole, IsUserRole, BlocksRole, BlockCountRole, ReadingRole };
    static constexpr int eagerBlocks = 8;

    explicit ChatMessageModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;
    // Up to `count` blocks of entry `row` from `from` on: the rest of a long reply, which
    // the bubble builds over later frames in pieces.
    Q_INVOKABLE QVariantList blocksOf(int row, int from, int count) const;

    const std::vector<ChatMessage>& messages() const { return messages_; }
    void append(ChatMessage message);
    // Up to `count` entries that come before the last one, oldest first, as chat turns.
    std::vector<api::NimboChatTurn> historyBeforeLast(std::size_t count) const;

private:
    const markdown::Formatted* formattedAt(int row) const;

    std::vector<ChatMessage> messages_;
    mutable markdown::FormattedReplies formatted_;  // made on first use, then kept
};

}  // namespace nimbo
