#include "platform/async/Async.h"

#include "platform/http/HttpClient.h"

#include <QThreadPool>

namespace nimbo::detail {
namespace {
QThreadPool& workerPool() {
    // Blocking network calls wait up to 10 s per base, and chat sends are not
    // serialised, so the pool is sized for many waiting workers, not for CPU cores.
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(64);
        p->setExpiryTimeout(30'000);
        return p;
    }();
    return *pool;
}
}  // namespace

void postToUiThread(std::function<void()> fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void startOnWorker(std::function<void()> fn) {
    workerPool().start(std::move(fn));
}
}  // namespace nimbo::detail

namespace nimbo {
void shutdownBackgroundWork() {
    platform::http::abortAllTransfers();
    detail::workerPool().clear();
    detail::workerPool().waitForDone(3'000);
}
}  // namespace nimbo
