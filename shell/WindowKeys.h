#pragma once

#include <QObject>

#include <functional>

class QWindow;

// Keyboard commands of a window, seen before its views get the keys (QML
// shortcuts would need the view's cooperation): Escape, Ctrl+Q, Ctrl+,.
// A command left empty lets its key through.
struct WindowKeys {
    std::function<void()> escape;
    std::function<void()> quit;
    std::function<void()> settings;

    void installOn(QWindow& window) const;
};
