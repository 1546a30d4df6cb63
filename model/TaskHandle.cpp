#include "model/TaskHandle.h"

#include <QPointer>

#include <utility>

namespace {

// Suspends until the handle finishes. Resumed directly by the handle (not
// through a queued signal), so a handle deleted right after finishing still
// resumes everyone waiting on it.
struct Finished {
    bool ready;
    std::vector<std::coroutine_handle<>>* waiters;
    bool await_ready() const noexcept { return ready; }
    void await_suspend(std::coroutine_handle<> waiting) const { waiters->push_back(waiting); }
    void await_resume() const noexcept {}
};

} // namespace

TaskHandle::~TaskHandle() {
    m_finished = true;
    resumeWaiters();
}

QCoro::Task<> TaskHandle::wait() {
    // Nothing of `this` is touched after the resumption: the handle may be
    // gone by then.
    co_await Finished{m_finished, &m_waiters};
}

void TaskHandle::markFinished() {
    if (m_finished)
        return;
    m_finished = true;
    const QPointer<TaskHandle> self(this);
    Q_EMIT finished();
    // A receiver may have deleted the handle; its destructor resumed them.
    if (self)
        resumeWaiters();
}

void TaskHandle::resumeWaiters() {
    // Taken out first: a waiter that resumes may delete this handle.
    const std::vector<std::coroutine_handle<>> waiters = std::exchange(m_waiters, {});
    for (const std::coroutine_handle<> waiting : waiters)
        waiting.resume();
}
