#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

// Where the popover's top-left corner goes. `anchor` is what is known of the
// tray icon: its rectangle, or the click point as a 1×1 rectangle; empty when
// nothing is known. `screenAreas` are the available areas of the screens, the
// primary first.
//
// The popover is centred horizontally on the anchor, 6 px below it when the
// anchor lies in the top half of its screen and 6 px above it otherwise, and
// kept inside the screen's area. The anchor's screen is the one holding its
// centre, else the nearest. Without an anchor it goes to the top-right corner
// of the primary screen.
QPoint popoverPosition(const QRect& anchor, QSize size, const QList<QRect>& screenAreas);
