#pragma once
// The chat transcript: entries in order, oldest first, only ever appended to.

#include "api/Records.h"

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
};

class ChatMessageModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The transcript belongs to its ChatViewModel")

public:
    enum Role { IdRole = Qt::UserRole + 1, RoleRole, ContentRole, IsUserRole };

    explicit ChatMessageModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const std::vector<ChatMessage>& messages() const { return messages_; }
    void append(ChatMessage message);
    // Replaces every entry (another conversation shown).
    void reset(std::vector<ChatMessage> messages);
    // Up to `count` entries that come before the last one, oldest first, as chat turns.
    std::vector<api::NimboChatTurn> historyBeforeLast(std::size_t count) const;

private:
    std::vector<ChatMessage> messages_;
};

}  // namespace nimbo
