#pragma once

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

class QTimer;

// The files whose link a copy button copied in the last 1.6 s, by file id.
// The recent-files rows are rebuilt whenever the file list is assigned (every
// refresh); kept here, a confirmation lasts its full time across that and
// follows its file to another row.
class CopyConfirmations : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QStringList ids READ ids NOTIFY idsChanged)
public:
    using QObject::QObject;

    QStringList ids() const { return m_timers.keys(); }

    // Shows the confirmation for `id` for 1.6 s from now, also when it shows
    // already.
    Q_INVOKABLE void confirm(const QString& id);
    // Ends at once every confirmation but those of `shown`: the rows that
    // left the screen.
    Q_INVOKABLE void keepOnly(const QStringList& shown);
    Q_INVOKABLE void clear() { keepOnly({}); }

Q_SIGNALS:
    void idsChanged();

private:
    void end(const QString& id);

    QHash<QString, QTimer*> m_timers;
};
