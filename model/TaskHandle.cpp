#include "model/TaskHandle.h"

#include <QCoro/QCoroSignal>

QCoro::Task<> TaskHandle::wait() {
    if (m_finished)
        co_return;
    co_await qCoro(this, &TaskHandle::finished);
}

void TaskHandle::markFinished() {
    if (m_finished)
        return;
    m_finished = true;
    Q_EMIT finished();
}
