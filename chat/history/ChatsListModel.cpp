#include "chat/history/ChatsListModel.h"

#include <QLocale>

namespace nimbo {

QString displayTitle(const std::string& title) {
    return title.empty() ? QStringLiteral("Chat") : QString::fromStdString(title);
}

QString previewMarkup(const std::string& text) {
    QString escaped = QString::fromStdString(text).toHtmlEscaped();
    escaped.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    escaped.replace(QString::fromUtf8(history::kMatchStart), QStringLiteral("<b><font color=\"#D4A34A\">"));
    escaped.replace(QString::fromUtf8(history::kMatchEnd), QStringLiteral("</font></b>"));
    return escaped;
}

QString plainPreview(const std::string& text) {
    QString plain = QString::fromStdString(text);
    plain.remove(QString::fromUtf8(history::kMatchStart)).remove(QString::fromUtf8(history::kMatchEnd));
    return plain.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
}

QString lastActiveText(const QDateTime& when, const QDateTime& now) {
    const qint64 days = when.date().daysTo(now.date());
    const QLocale locale;
    if (days <= 0) return when.time().toString(QStringLiteral("HH:mm"));
    if (days == 1) return QStringLiteral("Yesterday");
    if (days < 7) return locale.dayName(when.date().dayOfWeek(), QLocale::LongFormat);
    return locale.toString(when.date(), QStringLiteral("d MMM yyyy"));
}

int ChatsListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant ChatsListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount()) return {};
    const history::ConversationSummary& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case IdRole: return QString::fromStdString(row.id);
    case TitleRole:
    case Qt::DisplayRole: return displayTitle(row.title);
    case PreviewRole: return previewMarkup(row.preview);
    case PlainPreviewRole: return plainPreview(row.preview);
    case LastActiveRole:
        return lastActiveText(QDateTime::fromMSecsSinceEpoch(row.updatedMs), QDateTime::currentDateTime());
    default: return {};
    }
}

QHash<int, QByteArray> ChatsListModel::roleNames() const {
    return {{IdRole, "conversationId"}, {TitleRole, "title"}, {PreviewRole, "preview"},
            {PlainPreviewRole, "plainPreview"}, {LastActiveRole, "lastActive"}};
}

void ChatsListModel::reset(std::vector<history::ConversationSummary> rows) {
    if (rows == rows_) return;  // the rows (and an open menu of one) stay as they are
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

}  // namespace nimbo
