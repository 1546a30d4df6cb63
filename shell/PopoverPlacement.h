#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// Where the popover's top-left corner goes. Under the tray icon, centred on
// it, when the tray host reports where the icon is (above it when the panel
// is at the bottom); otherwise at the top-right of the screen area. Always
// kept inside `screenArea`.
QPoint popoverPosition(const QRect& icon, QSize size, const QRect& screenArea);
