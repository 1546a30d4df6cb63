#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

// Tells a screen reader what changed where nothing takes the focus: a new
// status message (an alert or notification appearing) and a progress bar's
// new value.
class Announcer : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
public:
    using QObject::QObject;

    // `item` (with the alert or notification role) shows a new text.
    Q_INVOKABLE static void announce(QObject* item);
    // `item` (a progress bar) has a new value.
    Q_INVOKABLE static void valueChanged(QObject* item);
};
