#pragma once

#include "platform/ConnectionStore.h"

#include <QCoreApplication>
#include <QFuture>
#include <QPromise>
#include <QTimer>

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// The connection store's calls, one after the other on a thread of their
// own: the Secret Service may wait on an unlock prompt for as long as the
// user takes, or hang outright, and the main thread must go on answering
// meanwhile. Calls keep their order (a save, then a clear, end cleared).
// The thread is never joined, so a call nobody answers never holds up the
// end of the process.
class StoreWorker {
public:
    explicit StoreWorker(std::shared_ptr<ConnectionStore> store);
    ~StoreWorker();
    StoreWorker(const StoreWorker&) = delete;
    StoreWorker& operator=(const StoreWorker&) = delete;

    // The call's answer on the main thread; none when it did not come within
    // `limit` (a late answer is dropped).
    template <class T>
    QCoro::Task<std::optional<T>> run(std::function<T(ConnectionStore&)> call,
                                      std::chrono::milliseconds limit) {
        auto promise = std::make_shared<QPromise<std::optional<T>>>();
        QFuture<std::optional<T>> answer = promise->future();
        promise->start();
        // Both ends run on the main thread, so the first one wins without a lock.
        const auto settle = [promise](std::optional<T> value) {
            if (promise->future().isFinished())
                return;
            promise->addResult(std::move(value));
            promise->finish();
        };
        QTimer::singleShot(limit, QCoreApplication::instance(), [settle] { settle(std::nullopt); });
        post([call = std::move(call), settle](ConnectionStore& store) {
            T value = call(store);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [settle, value = std::move(value)]() mutable { settle(std::move(value)); },
                Qt::QueuedConnection);
        });
        co_return co_await answer;
    }

    // A call whose end nobody waits for.
    void post(std::function<void(ConnectionStore&)> call);

private:
    struct Queue;
    std::shared_ptr<Queue> m_queue;
};
