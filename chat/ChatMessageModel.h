#pragma once
// The chat transcript: entries in order, oldest first, only ever appended to.

#include "api/Records.h"
#include "chat/markdown/FormattedReplies.h"

#include <QAbstractListModel>
#include <QString>
#include <QUuid>
#include <QtQml/qqmlregistration.h>

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace nimbo {

// One chat request as it was sent. Its failure notice keeps it, so that it can be sent again
// unchanged: same message, history, conversation id and idempotency key.
struct ChatSend {
    std::string message;
    std::vector<api::NimboChatTurn> history;
    std::optional<std::string> conversationId;
    std::string idempotencyKey;
};

struct ChatMessage {
    // "user" for what the person typed, "assistant" for everything else.
    ChatMessage(QString role, QString content)
        : id(QUuid::createUuid()), role(std::move(role)), content(std::move(content)) {}

    QUuid id;
    QString role;
    QString content;
    // On the notice of a failed send, for as long as the app runs: the request it offers to
    // send again, and whether that is under way.
    std::optional<ChatSend> failedSend;
    bool isResending = false;

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
    // canResend: the entry offers "Send again"; isResending: that send is under way.
    // BlocksRole: the first (up to eagerBlocks) of the entry's Markdown blocks, drawn with
    // its bubble; BlockCountRole: how many there are (0 for plain entries; a preview
    // while a long reply is being parsed); ReadingRole: what a screen reader reads.
    enum Role {
        IdRole = Qt::UserRole + 1,
        RoleRole,
        ContentRole,
        IsUserRole,
        CanResendRole,
        IsResendingRole,
        BlocksRole,
        BlockCountRole,
        ReadingRole
    };
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
    // Replaces every entry (another conversation shown).
    void reset(std::vector<ChatMessage> messages);
    // Up to `count` entries that come before the last one, oldest first, as chat turns.
    std::vector<api::NimboChatTurn> historyBeforeLast(std::size_t count) const;

    // The row of the entry `id`, or -1.
    int rowOf(const QUuid& id) const;
    // Marks the offer of entry `row` as under way or not; ignored for an entry without one.
    void setResending(int row, bool value);
    // Ends the offer of entry `row` to send its request again.
    void withdrawResend(int row);

private:
    const markdown::Formatted* formattedAt(int row) const;
    // Entry `row` when it offers to send its request again, else null.
    ChatMessage* offerAt(int row);

    std::vector<ChatMessage> messages_;
    mutable markdown::FormattedReplies formatted_;  // made on first use, then kept
};

}  // namespace nimbo
