#pragma once
// Running work off the UI thread and handing its result back to the UI thread.
//
// runAsync(receiver, work, done): `work` runs on a background worker; `done` then
// runs on the UI thread with an Outcome<T> holding work's value or the exception it
// threw. If `receiver` is destroyed before that moment (its screen went away), `done`
// is dropped and never runs.

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace nimbo {

template <class T>
class Outcome {
public:
    static Outcome success(T value) { Outcome o; o.value_.emplace(std::move(value)); return o; }
    static Outcome failure(std::exception_ptr error) { Outcome o; o.error_ = std::move(error); return o; }

    bool ok() const { return value_.has_value(); }
    const T& value() const { if (!value_) std::rethrow_exception(error_); return *value_; }
    T& value() { if (!value_) std::rethrow_exception(error_); return *value_; }
    std::exception_ptr error() const { return error_; }

private:
    std::optional<T> value_;
    std::exception_ptr error_;
};

template <>
class Outcome<void> {
public:
    static Outcome success() { return Outcome(); }
    static Outcome failure(std::exception_ptr error) { Outcome o; o.error_ = std::move(error); return o; }

    bool ok() const { return !error_; }
    void value() const { if (error_) std::rethrow_exception(error_); }
    std::exception_ptr error() const { return error_; }

private:
    std::exception_ptr error_;
};

namespace detail {
// Posts `fn` to the UI thread. Thread-safe; does nothing once the application is gone.
void postToUiThread(std::function<void()> fn);
// Starts `fn` on the shared pool of background workers (sized for blocking I/O).
void startOnWorker(std::function<void()> fn);
// Starts `fn` on a small pool of its own, for work that must go ahead even while the
// shared pool is full of slow requests (the update check).
void startOnReservedWorker(std::function<void()> fn);

template <class Work>
auto captureOutcome(Work& work) {
    using T = std::invoke_result_t<Work&>;
    try {
        if constexpr (std::is_void_v<T>) {
            work();
            return Outcome<void>::success();
        } else {
            return Outcome<T>::success(work());
        }
    } catch (...) {
        return Outcome<T>::failure(std::current_exception());
    }
}
}  // namespace detail

template <class Work, class Done>
void runAsync(QObject* receiver, Work work, Done done) {
    QPointer<QObject> guard(receiver);
    detail::startOnWorker([guard, work = std::move(work), done = std::move(done)]() mutable {
        auto outcome = detail::captureOutcome(work);
        detail::postToUiThread([guard, outcome = std::move(outcome), done = std::move(done)]() mutable {
            if (guard) done(std::move(outcome));
        });
    });
}

// Ends background work at shutdown: asks running transfers to stop and waits for
// the workers. Called once by the application object as the process exits.
void shutdownBackgroundWork();

}  // namespace nimbo
