#include "chat/ChatMessageModel.h"

namespace nimbo {

ChatMessageModel::ChatMessageModel(QObject* parent) : QAbstractListModel(parent) {
    connect(&formatted_, &markdown::FormattedReplies::ready, this, [this](const QUuid& id) {
        const int row = rowOf(id);
        if (row >= 0) emit dataChanged(index(row), index(row), {BlocksRole, BlockCountRole, ReadingRole});
    });
}

int ChatMessageModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(messages_.size());
}

QVariant ChatMessageModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount()) return {};
    const ChatMessage& message = messages_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case IdRole: return message.id;
    case RoleRole: return message.role;
    case ContentRole:
    case Qt::DisplayRole: return message.content;
    case IsUserRole: return message.isUser();
    case CanResendRole: return message.failedSend.has_value();
    case IsResendingRole: return message.isResending;
    case BlocksRole: {
        const markdown::Formatted* form = formattedAt(index.row());
        return form ? form->blocks.mid(0, eagerBlocks) : QVariantList();
    }
    case BlockCountRole: {
        const markdown::Formatted* form = formattedAt(index.row());
        return form ? static_cast<int>(form->blocks.size()) : 0;
    }
    case ReadingRole: {
        const markdown::Formatted* form = formattedAt(index.row());
        return form ? form->reading : message.content;
    }
    default: return {};
    }
}

const markdown::Formatted* ChatMessageModel::formattedAt(int row) const {
    const ChatMessage& message = messages_[static_cast<std::size_t>(row)];
    return message.isMarkdown() ? formatted_.find(message.id, message.content) : nullptr;
}

QVariantList ChatMessageModel::blocksOf(int row, int from, int count) const {
    if (row < 0 || row >= rowCount() || from < 0 || count < 0) return {};
    const markdown::Formatted* form = formattedAt(row);
    return form ? form->blocks.mid(from, count) : QVariantList();
}

QHash<int, QByteArray> ChatMessageModel::roleNames() const {
    return {{IdRole, "id"},         {RoleRole, "role"},           {ContentRole, "content"},
            {IsUserRole, "isUser"}, {CanResendRole, "canResend"}, {IsResendingRole, "isResending"},
            {BlocksRole, "blocks"}, {BlockCountRole, "blockCount"}, {ReadingRole, "reading"}};
}

void ChatMessageModel::append(ChatMessage message) {
    const int row = rowCount();
    beginInsertRows(QModelIndex(), row, row);
    messages_.push_back(std::move(message));
    endInsertRows();
}

void ChatMessageModel::reset(std::vector<ChatMessage> messages) {
    beginResetModel();
    messages_ = std::move(messages);
    formatted_.clear();
    endResetModel();
}

std::vector<api::NimboChatTurn> ChatMessageModel::historyBeforeLast(std::size_t count) const {
    std::vector<api::NimboChatTurn> turns;
    if (messages_.empty()) return turns;
    const std::size_t end = messages_.size() - 1;
    const std::size_t begin = end - std::min(count, end);
    turns.reserve(end - begin);
    for (std::size_t i = begin; i < end; ++i)
        turns.push_back({messages_[i].role.toStdString(), messages_[i].content.toStdString()});
    return turns;
}

int ChatMessageModel::rowOf(const QUuid& id) const {
    for (int row = rowCount() - 1; row >= 0; --row)
        if (messages_[static_cast<std::size_t>(row)].id == id) return row;
    return -1;
}

ChatMessage* ChatMessageModel::offerAt(int row) {
    if (row < 0 || row >= rowCount()) return nullptr;
    ChatMessage& message = messages_[static_cast<std::size_t>(row)];
    return message.failedSend ? &message : nullptr;
}

void ChatMessageModel::setResending(int row, bool value) {
    ChatMessage* message = offerAt(row);
    if (!message || message->isResending == value) return;
    message->isResending = value;
    emit dataChanged(index(row), index(row), {IsResendingRole});
}

void ChatMessageModel::withdrawResend(int row) {
    ChatMessage* message = offerAt(row);
    if (!message) return;
    message->failedSend.reset();
    message->isResending = false;
    emit dataChanged(index(row), index(row), {CanResendRole, IsResendingRole});
}

}  // namespace nimbo
