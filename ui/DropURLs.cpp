#include "ui/DropURLs.h"

void DropURLs::add(const QUrl& url) {
    const QMutexLocker locker(&m_lock);
    m_urls.append(url);
}

QList<QUrl> DropURLs::values() const {
    const QMutexLocker locker(&m_lock);
    return m_urls;
}
