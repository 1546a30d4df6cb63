#pragma once

#include <QObject>

// Kept apart from the test bodies: moc cannot read their raw JSON literals.
class RecordsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void decoding();
    void roundTrips();
    void byteCounts();
    void hostileInputNeverCrashes();
};
