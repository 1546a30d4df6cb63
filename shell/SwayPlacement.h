#pragma once

#include <QByteArray>
#include <QPoint>
#include <QString>

#include <functional>

class QObject;
class QWindow;

// sway centres every managed XWayland window it maps, whatever position the
// window asked for; only sway itself can then move it, when asked over its
// IPC socket ($SWAYSOCK). Override-redirect windows and Qt::Popup would be
// placed as asked but lose the keyboard there, so the popover stays managed
// and is moved this way right after it is mapped.

// An i3-IPC message: "i3-ipc", the payload's length and the type as 32-bit
// integers in this machine's byte order, then the payload.
QByteArray i3IpcMessage(quint32 type, const QByteArray& payload);
// Whether a RUN_COMMAND reply (`[{"success": true}, …]`) says every command
// succeeded.
bool i3IpcCommandsSucceeded(const QByteArray& reply);

// Whether windows must be moved by sway: Qt on XWayland under sway.
bool swayPlacesWindows();

// Asks sway to move `window` (an X11 window) so that its top-left corner is
// at `position`, retrying for up to a second while sway has not yet mapped
// it; then `done(moved)` runs, unless `context` is gone.
void moveBySway(QWindow& window, QPoint position, QObject* context,
                std::function<void(bool moved)> done);
