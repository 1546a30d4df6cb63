#pragma once

#include <QString>

class ParvelModel;
class QQmlEngine;
class QQuickView;

// Puts a view of the `Parvel` QML module (MainView, SettingsView) into a
// window by its type name, with `model` and `dark` set as it is created.
void hostView(QQuickView& window, const QString& typeName, ParvelModel& model, bool dark);
// Follows the desktop's colour scheme: sets `dark` on the hosted view.
void setViewDark(QQuickView& window, bool dark);
