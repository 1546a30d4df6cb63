#pragma once

#include <QObject>

#include <QCoro/QCoroTask>

#include <coroutine>
#include <stop_token>
#include <vector>

// A handle on a running model task that any number of callers may await or
// cancel. (A QCoro::Task yields its result to one awaiter only.) Its owner
// decides its lifetime; see ParvelModel for the model's rule.
class TaskHandle : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isFinished READ isFinished NOTIFY finished)
public:
    explicit TaskHandle(QObject* parent = nullptr) : QObject(parent) {}
    // Deleted before its task ended (its owner went away): whoever waits
    // resumes now.
    ~TaskHandle() override;

    bool isFinished() const { return m_finished; }
    // Requests cancellation; the task honours it at its next wait.
    Q_INVOKABLE void cancel() { m_stop.request_stop(); }
    std::stop_token token() const { return m_stop.get_token(); }

    // Returns at once when the task has already finished.
    QCoro::Task<> wait();

    // Called by the task itself when it ends: `finished` first, then the
    // waiters resume, in the order they began waiting.
    void markFinished();

Q_SIGNALS:
    void finished();

private:
    void resumeWaiters();

    std::stop_source m_stop;
    bool m_finished = false;
    std::vector<std::coroutine_handle<>> m_waiters;
};
