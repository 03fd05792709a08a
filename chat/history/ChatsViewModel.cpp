#include "chat/history/ChatsViewModel.h"

#include "app/ui/Assign.h"
#include "chat/history/HistoryAsync.h"
#include "chat/history/MarkdownExport.h"
#include "platform/files/AppPaths.h"

#include <QStandardPaths>

#include <filesystem>
#include <optional>

namespace nimbo {
namespace {
using history::HistoryDatabase;

const QString kSetAside = QStringLiteral("Earlier chats could not be read and were set aside.");
const QString kNotSaving = QStringLiteral("Chats are not being saved on this device right now.");

struct Listing {
    std::vector<history::ConversationSummary> rows;
    int count = 0;
    bool keep = true;
};
}  // namespace

ChatsViewModel::ChatsViewModel(QObject* parent) : QObject(parent) {}

void ChatsViewModel::setAccount(const QString& value) {
    if (!assignIfChanged(account_, value)) return;
    emit accountChanged();
    refresh();
}

void ChatsViewModel::setSearchText(const QString& value) {
    if (!assignIfChanged(searchText_, value)) return;
    emit searchTextChanged();
    refresh();
}

void ChatsViewModel::setExportMessage(const QString& value) {
    if (assignIfChanged(exportMessage_, value)) emit exportMessageChanged();
}

// Reads the list, or the search results, on the history's thread; only the answer to
// the latest request is shown, and a request overtaken before it runs is skipped.
void ChatsViewModel::refresh() {
    if (account_.isEmpty()) return;
    const int request = ++*latest_;
    queryHistory(
        history::ChatHistory::shared(), this,
        [account = account_.toStdString(), text = searchText_.trimmed().toStdString(), latest = latest_,
         request](HistoryDatabase& db) -> std::optional<Listing> {
            if (*latest != request) return std::nullopt;
            Listing listing{text.empty() ? db.conversations(account) : db.search(account, text), db.count(account),
                            db.keepsChats(account)};
            return listing;
        },
        [this, request](Outcome<std::optional<Listing>> outcome) {
            if (*latest_ != request || !outcome.ok() || !outcome.value()) return;
            Listing& listing = *outcome.value();
            rows_.reset(std::move(listing.rows));
            if (assignIfChanged(storedCount_, listing.count)) emit storedCountChanged();
            if (assignIfChanged(keepChats_, listing.keep)) emit keepChatsChanged();
            if (history::ChatHistory::shared().takeSetAsideNotice()) notice_ = kSetAside;
            const QString notice = notice_ == kSetAside ? kSetAside : history::ChatHistory::shared().isSaving() ? QString() : kNotSaving;
            if (assignIfChanged(notice_, notice)) emit noticeChanged();
            if (assignIfChanged(isLoaded_, true)) emit isLoadedChanged();
        });
}

void ChatsViewModel::changeThenRefresh(std::function<bool(HistoryDatabase&)> change) {
    if (account_.isEmpty()) return;
    setExportMessage(QString());  // about a chat that may be gone now
    queryHistory(history::ChatHistory::shared(), this, std::move(change), [this](Outcome<bool>) { refresh(); });
}

void ChatsViewModel::remove(const QString& conversationId) {
    if (account_.isEmpty()) return;
    emit chatsDeleted(conversationId);
    changeThenRefresh([account = account_.toStdString(), id = conversationId.toStdString()](HistoryDatabase& db) {
        return db.remove(account, id);
    });
}

void ChatsViewModel::removeAll() {
    if (account_.isEmpty()) return;
    emit chatsDeleted(QString());
    changeThenRefresh([account = account_.toStdString()](HistoryDatabase& db) { return db.removeAll(account); });
}

void ChatsViewModel::setKeepChats(bool value) {
    if (value == keepChats_) return;
    keepChats_ = value;  // shown at once; the refresh confirms what was stored
    emit keepChatsChanged();
    if (!value && !account_.isEmpty()) emit chatsDeleted(QString());
    changeThenRefresh([account = account_.toStdString(), value](HistoryDatabase& db) {
        return db.setKeepsChats(account, value);
    });
}

QUrl ChatsViewModel::suggestedFile(const QString& title) const {
    QString name;
    for (const QChar c : title.left(60))
        name += c.isLetterOrNumber() || c == QLatin1Char(' ') || c == QLatin1Char('-') ? c : QLatin1Char('_');
    name = name.trimmed();
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QUrl::fromLocalFile(folder + QLatin1Char('/') + (name.isEmpty() ? QStringLiteral("Chat") : name) +
                               QStringLiteral(".md"));
}

// Reads the conversation on the history's thread, then writes the file on a worker.
void ChatsViewModel::exportConversation(const QString& conversationId, const QUrl& file) {
    setExportMessage(QString());
    if (account_.isEmpty()) return;
    if (!file.isLocalFile()) {
        setExportMessage(QStringLiteral("The chat could not be exported \u2014 choose a folder on this device."));
        return;
    }
    const std::filesystem::path target = file.toLocalFile().toStdString();
    queryHistory(
        history::ChatHistory::shared(), this,
        [account = account_.toStdString(), id = conversationId.toStdString()](HistoryDatabase& db) {
            return db.conversation(account, id);
        },
        [this, target](Outcome<std::optional<history::StoredConversation>> found) {
            if (!found.ok() || !found.value()) {
                setExportMessage(QStringLiteral("The chat could not be exported \u2014 it is no longer stored."));
                return;
            }
            runAsync(
                this,
                [target, text = history::exportMarkdown(*found.value())] {
                    platform::writeFileAtomically(target, text);
                },
                [this, target](Outcome<void> written) {
                    QString failure;
                    try {
                        written.value();
                    } catch (const std::filesystem::filesystem_error& e) {
                        failure = QString::fromStdString(e.code().message());
                    } catch (...) {
                        failure = QStringLiteral("the file could not be written");
                    }
                    const QString name = QString::fromStdString(target.filename().string());
                    setExportMessage(failure.isEmpty()
                                         ? QStringLiteral("Exported to %1.").arg(name)
                                         : QStringLiteral("The chat could not be exported \u2014 %1.").arg(failure));
                });
        });
}

}  // namespace nimbo
