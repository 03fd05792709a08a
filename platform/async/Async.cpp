#include "platform/async/Async.h"

#include "platform/http/HttpClient.h"

#include <QThreadPool>

namespace nimbo::detail {
namespace {
QThreadPool* makePool(int threads) {
    auto* pool = new QThreadPool;
    pool->setMaxThreadCount(threads);
    pool->setExpiryTimeout(30'000);
    return pool;
}

QThreadPool& workerPool() {
    // Blocking network calls wait up to 10 s per base, and chat sends are not
    // serialised, so the pool is sized for many waiting workers, not for CPU cores.
    static QThreadPool* pool = makePool(64);
    return *pool;
}

QThreadPool& reservedPool() {
    // Only the few short jobs that must not queue behind the shared pool use these.
    static QThreadPool* pool = makePool(8);
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

void startOnReservedWorker(std::function<void()> fn) {
    reservedPool().start(std::move(fn));
}
}  // namespace nimbo::detail

namespace nimbo {
void shutdownBackgroundWork() {
    platform::http::abortAllTransfers();
    for (QThreadPool* pool : {&detail::workerPool(), &detail::reservedPool()}) {
        pool->clear();
        pool->waitForDone(3'000);
    }
}
}  // namespace nimbo
