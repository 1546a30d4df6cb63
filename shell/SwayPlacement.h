#pragma once

#include <QByteArray>
#include <QPoint>
#include <QRect>

#include <functional>
#include <optional>

class QObject;
class QWindow;

// sway centres every managed XWayland window it maps, whatever position the
// window asked for; only sway itself can then move it, when asked over its
// IPC socket ($SWAYSOCK). Override-redirect windows and Qt::Popup would be
// placed as asked but lose the keyboard there, so the popover stays managed
// and is moved this way right after it is mapped.
//
// Where to move it: panels do not agree on what the point of a click means
// (swaybar sends global coordinates, waybar coordinates inside its icon), and
// under XWayland we never see the pointer over a panel. sway knows it, though:
// it centres the window on the pointer when asked (`move position cursor`),
// and where it put the window tells where the pointer is.

// An i3-IPC message: "i3-ipc", the payload's length and the type as 32-bit
// integers in this machine's byte order, then the payload.
QByteArray i3IpcMessage(quint32 type, const QByteArray& payload);
// Whether a RUN_COMMAND reply (`[{"success": true}, …]`) says every command
// succeeded.
bool i3IpcCommandsSucceeded(const QByteArray& reply);

// Where an X11 window is in sway's tree (GET_TREE's answer), with the output
// it is on and the area of that output that panels leave free.
struct SwayPlace {
    QRect window;
    QRect output;
    QRect usable;
};
std::optional<SwayPlace> swayPlaceOf(const QByteArray& tree, quint64 windowId);

// The pointer, from a window that sway centred on it. sway keeps that window
// on its output, so along an axis where it touches the output's edge the
// pointer was nearer that edge than the window's half size: when a panel takes
// that edge, the pointer is taken to be in the panel, at its inner edge.
QPoint pointerOf(const SwayPlace& centred);

// Whether windows must be moved by sway: Qt on XWayland under sway.
bool swayPlacesWindows();

// Once sway has mapped `window` (retrying for up to a second), finds the
// pointer, asks `position` where the window goes for that pointer and the
// output's usable area, and has sway move it there; then `done(moved)` runs,
// unless `context` is gone.
void placeBySway(QWindow& window, std::function<QPoint(QPoint pointer, QRect usable)> position,
                 QObject* context, std::function<void(bool moved)> done);
