#pragma once
// Flows that nothing cancels (signing in, signing up, answering a permission prompt)
// must finish even when the screen that started them has gone: their result belongs
// to an object that lives for the process, such as the session store.
//
// runOwnedFlow(owner, screen, work, show, finish): `work` runs on a background worker.
// Back on the UI thread, `show(outcome)` updates the screen while `screen` still exists,
// then `finish(outcome)` completes the flow for `owner` whether the screen is there or
// not. `finish` must not touch the screen. Without an owner the flow ends with its screen.

#include "platform/async/Async.h"

#include <QObject>
#include <QPointer>

#include <utility>

namespace nimbo {

template <class Work, class Show, class Finish>
void runOwnedFlow(QObject* owner, QObject* screen, Work work, Show show, Finish finish) {
    runAsync(owner ? owner : screen, std::move(work),
             [screen = QPointer<QObject>(screen), show = std::move(show), finish = std::move(finish)](
                 auto outcome) mutable {
                 if (screen) show(outcome);
                 finish(outcome);
             });
}

}  // namespace nimbo
