#!/usr/bin/env bash
# "Share a screenshot…" through the real desktop portal: a headless sway
# session with pipewire, xdg-desktop-portal and its wlr and gtk backends, the
# screenshot permission granted in the permission store (no dialog). A
# running Parvel gets `parvel --screenshot` from a second start; the picture
# must become its selection, a PNG of the screen's size in Parvel's cache
# folder, and be gone once Parvel has quit. The session runs as uid 65534
# when started as root (sway refuses root).
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
python3 - "$path" "$(swaymsg -t get_outputs -r)" <<'PY' || fail "the screenshot is not a PNG of the screen's size"
import json, struct, sys
head = open(sys.argv[1], "rb").read(24)
output = json.loads(sys.argv[2])[0]["current_mode"]
assert head[:16] == b"\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", head[:16]
assert struct.unpack(">II", head[16:24]) == (output["width"], output["height"]), (head[16:24], output)
PY

kill -TERM "$app"
status=0
wait "$app" || status=$?
[ "$status" -eq 0 ] || fail "Parvel ended with status $status on SIGTERM"
[ ! -e "$path" ] && [ ! -e "$(dirname "$path")" ] || fail "the screenshot outlived Parvel"
echo "screenshot_e2e: passed"
