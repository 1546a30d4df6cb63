#pragma once

#include <QObject>

#include <QCoro/QCoroTask>

#include <stop_token>

// A handle on a running model task that any number of callers may await or
// cancel. (A QCoro::Task yields its result to one awaiter only.)
class TaskHandle : public QObject {
    Q_OBJECT
public:
    explicit TaskHandle(QObject* parent = nullptr) : QObject(parent) {}

    bool isFinished() const { return m_finished; }
    // Requests cancellation; the task honours it at its next wait.
    void cancel() { m_stop.request_stop(); }
    std::stop_token token() const { return m_stop.get_token(); }

    // Returns at once when the task has already finished.
    QCoro::Task<> wait();

    // Called by the task itself when it ends.
    void markFinished();

Q_SIGNALS:
    void finished();

private:
    std::stop_source m_stop;
    bool m_finished = false;
};
