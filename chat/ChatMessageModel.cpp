#include "chat/ChatMessageModel.h"

#include <algorithm>

namespace nimbo {

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
    default: return {};
    }
}

QHash<int, QByteArray> ChatMessageModel::roleNames() const {
    return {{IdRole, "id"},         {RoleRole, "role"},           {ContentRole, "content"},
            {IsUserRole, "isUser"}, {CanResendRole, "canResend"}, {IsResendingRole, "isResending"}};
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

void ChatMessageModel::setResending(int row, bool value) {
    if (row < 0 || row >= rowCount()) return;
    ChatMessage& message = messages_[static_cast<std::size_t>(row)];
    if (!message.failedSend || message.isResending == value) return;
    message.isResending = value;
    emit dataChanged(index(row), index(row), {IsResendingRole});
}

void ChatMessageModel::withdrawResend(int row) {
    if (row < 0 || row >= rowCount()) return;
    ChatMessage& message = messages_[static_cast<std::size_t>(row)];
    if (!message.failedSend) return;
    message.failedSend.reset();
    message.isResending = false;
    emit dataChanged(index(row), index(row), {CanResendRole, IsResendingRole});
}

}  // namespace nimbo
