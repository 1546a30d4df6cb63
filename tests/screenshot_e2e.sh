#!/usr/bin/env bash
# "Share a screenshot…" through the real desktop portal: headless sway,
# pipewire, xdg-desktop-portal with its wlr and gtk backends, the permission
# granted beforehand (no dialog). `parvel --screenshot` to a running Parvel:
# the picture becomes its selection, a PNG of the screen's size in its cache
# folder, gone once Parvel has quit.
#
#   screenshot_e2e.sh PARVEL
source "$(dirname "$0")/harness.sh" --nobody "$@"
parvel="$(realpath "$1")"
export XDG_CURRENT_DESKTOP=sway
echo "output HEADLESS-1 mode 1024x640" >"$WORK/sway.conf"
WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 WLR_HEADLESS_OUTPUTS=1 \
    spawn sway sway -c "$WORK/sway.conf"
socket() { ls "$XDG_RUNTIME_DIR" | grep -m1 '^wayland-[0-9]*$'; }
wait_for 20 socket || fail "sway did not start"
export WAYLAND_DISPLAY="$(socket)" SWAYSOCK="$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock | head -1)"

# The portal and its backends are started by the bus: they need the desktop.
# GTK's accessibility bridge can keep the gtk backend from taking its name
# for longer than the portal waits (seen on a loaded machine).
dbus-update-activation-environment WAYLAND_DISPLAY XDG_CURRENT_DESKTOP XDG_RUNTIME_DIR SWAYSOCK \
    NO_AT_BRIDGE=1 GTK_A11Y=none GDK_BACKEND=wayland
# Without the bus: at start-up pipewire asks the portal for realtime
# priority while the portal, started by that very call, connects to pipewire.
# Each waits for the other until the bus gives up, 25 s later.
spawn pipewire env -u DBUS_SESSION_BUS_ADDRESS pipewire
wait_for 10 test -S "$XDG_RUNTIME_DIR/pipewire-0" || fail "pipewire did not start"
# Started by the bus, the wlr backend at times kept the portal from answering
# at all; started first, never.
spawn portal-wlr /usr/libexec/xdg-desktop-portal-wlr
wait_for 10 owned org.freedesktop.impl.portal.desktop.wlr || fail "xdg-desktop-portal-wlr did not start"
dbus-send --session --print-reply --dest=org.freedesktop.impl.portal.PermissionStore \
    /org/freedesktop/impl/portal/PermissionStore org.freedesktop.impl.portal.PermissionStore.SetPermission \
    string:screenshot boolean:true string:screenshot string: array:string:yes >/dev/null ||
    fail "the permission store did not take the screenshot permission"

QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="parvel.shell.debug=true;parvel.portal.debug=true" spawn parvel "$parvel"
app=${pids[-1]}
wait_for 20 test -S "$XDG_RUNTIME_DIR/dev.parvel.Parvel.socket" || fail "Parvel did not start"
timeout 10 "$parvel" --screenshot || fail "the second parvel failed"
selection() { grep -o "selection: QList(QUrl(\"file://[^\"]*\"))" "$WORK/parvel.log" | tail -1; }
wait_for 30 selection || fail "no screenshot became the selection"
path="$(selection | sed -e 's/^selection: QList(QUrl("file:\/\///' -e 's/"))$//')"
case "$path" in
    "$HOME"/.cache/Parvel/shared/*/"Screenshot "????-??-??" at "??.??.??.png) ;;
    *) fail "unexpected screenshot file: $path" ;;
esac
# A PNG's signature and header: 1024 x 640, the screen's size.
[ "$(od -An -tx1 -N24 "$path" | tr -d ' \n')" = 89504e470d0a1a0a0000000d494844520000040000000280 ] ||
    fail "the screenshot is not a PNG of the screen's size: $(od -An -tx1 -N24 "$path")"

kill -TERM "$app"
status=0
wait "$app" || status=$?
[ "$status" -eq 0 ] || fail "Parvel ended with status $status on SIGTERM"
[ ! -e "$path" ] && [ ! -e "$(dirname "$path")" ] || fail "the screenshot outlived Parvel"
echo "screenshot_e2e: passed"
