#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

// Collects the file URLs of one drop. Deliveries may come from any thread;
// the list keeps the order of the `add` calls, duplicates included.
class DropURLs : public QObject {
    Q_OBJECT
    QML_ELEMENT
public:
    using QObject::QObject;

    Q_INVOKABLE void add(const QUrl& url);
    // A copy of what was collected so far.
    Q_INVOKABLE QList<QUrl> values() const;

private:
    mutable QMutex m_lock;
    QList<QUrl> m_urls;
};
