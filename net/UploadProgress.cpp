#include "net/UploadProgress.h"

#include <QCoreApplication>
#include <QMetaObject>

UploadProgress::UploadProgress(std::function<void(double)> update)
    : m_update(std::make_shared<const std::function<void(double)>>(std::move(update))) {}

std::optional<double> UploadProgress::fraction(qint64 totalSent, qint64 totalExpected) {
    if (totalExpected < 1)
        return std::nullopt;
    return static_cast<double>(totalSent) / static_cast<double>(totalExpected);
}

void UploadProgress::report(qint64 totalSent, qint64 totalExpected) const {
    const std::optional<double> value = fraction(totalSent, totalExpected);
    if (!value || !*m_update)
        return;
    // The application object lives on the main thread; a queued call on it
    // runs there, whichever thread reported. Without one there is no main
    // loop to deliver to.
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app, [update = m_update, value = *value] { (*update)(value); }, Qt::QueuedConnection);
}
