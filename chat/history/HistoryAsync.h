#pragma once
// Reading or changing the chats database from a screen: `query(db)` runs on the
// history's writer thread, in order with every write asked for before it; `done`
// then runs on the UI thread with its Outcome, unless `receiver` is gone by then.

#include "chat/history/ChatHistory.h"
#include "platform/async/Async.h"

#include <QObject>
#include <QPointer>

#include <utility>

namespace nimbo::history {

template <class Query, class Done>
void queryHistory(ChatHistory& history, QObject* receiver, Query query, Done done) {
    history.post([guard = QPointer<QObject>(receiver), query = std::move(query),
                  done = std::move(done)](HistoryDatabase& db) mutable {
        auto run = [&] { return query(db); };
        auto outcome = nimbo::detail::captureOutcome(run);
        nimbo::detail::postToUiThread([guard, outcome = std::move(outcome), done = std::move(done)]() mutable {
            if (guard) done(std::move(outcome));
        });
    });
}

}  // namespace nimbo::history
