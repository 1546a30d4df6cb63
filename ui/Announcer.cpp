#include "ui/Announcer.h"

#include <QAccessible>
#include <QAccessibleValueInterface>

// A screen reader speaks an alert or a notification when it appears: a new
// message in the same item appears again, hidden first.
void Announcer::announce(QObject* item) {
    if (!item || !QAccessible::isActive())
        return;
    QAccessibleEvent hidden(item, QAccessible::ObjectHide);
    QAccessible::updateAccessibility(&hidden);
    QAccessibleEvent shown(item, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}

void Announcer::valueChanged(QObject* item) {
    if (!item || !QAccessible::isActive())
        return;
    QAccessibleValueChangeEvent event(item, item->property("value"));
    QAccessible::updateAccessibility(&event);
}
