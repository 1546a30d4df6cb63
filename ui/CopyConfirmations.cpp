#include "ui/CopyConfirmations.h"

#include <QTimer>

namespace {
constexpr int confirmationMs = 1600;
}

void CopyConfirmations::confirm(const QString& id) {
    if (QTimer* running = m_timers.value(id)) {
        running->start();
        return;
    }
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setInterval(confirmationMs);
    QObject::connect(timer, &QTimer::timeout, this, [this, id] { end(id); });
    m_timers.insert(id, timer);
    timer->start();
    Q_EMIT idsChanged();
}

void CopyConfirmations::keepOnly(const QStringList& shown) {
    for (const QString& id : m_timers.keys())
        if (!shown.contains(id))
            end(id);
}

void CopyConfirmations::end(const QString& id) {
    if (QTimer* timer = m_timers.take(id)) {
        timer->deleteLater();
        Q_EMIT idsChanged();
    }
}
