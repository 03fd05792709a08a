#pragma once
// The rows of the Chats screen: stored conversations, most recently active first,
// or the conversations a search found.

#include "chat/history/HistoryDatabase.h"

#include <QAbstractListModel>
#include <QDateTime>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <vector>

namespace nimbo {

class ChatsListModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The rows belong to their ChatsViewModel")

public:
    enum Role { IdRole = Qt::UserRole + 1, TitleRole, PreviewRole, PlainPreviewRole, LastActiveRole };

    explicit ChatsListModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    void reset(std::vector<history::ConversationSummary> rows);
    const std::vector<history::ConversationSummary>& rows() const { return rows_; }

private:
    std::vector<history::ConversationSummary> rows_;
};

// The title shown for a conversation ("Chat" when it has none).
QString displayTitle(const std::string& title);
// One line of styled text built from escaped text: the preview with line breaks as
// spaces, each match (between kMatchStart and kMatchEnd) in bold gold. Nothing of
// `text` is ever read as markup.
QString previewMarkup(const std::string& text);
// The same line as a screen reader reads it: plain text, no marks.
QString plainPreview(const std::string& text);
// When a conversation was last active, as the list shows it: the time today,
// "Yesterday", the weekday within a week, else the date.
QString lastActiveText(const QDateTime& when, const QDateTime& now);

}  // namespace nimbo
