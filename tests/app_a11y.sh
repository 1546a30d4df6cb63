#!/usr/bin/env bash
# The application as a screen reader meets it: a D-Bus session of its own
# with GNOME Keyring and the accessibility bus, Xvfb, the dev server on
# loopback holding 20 files, Parvel with Qt's accessibility bridge on, and
# app_a11y.py reading the tree through pyatspi while xdotool types.
#
#   app_a11y.sh PARVEL PARVEL_DEVSERVER
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

# Everything below runs in a session bus of its own, never the caller's.
if [ -z "${PARVEL_A11Y_SESSION:-}" ]; then
    for tool in dbus-run-session gnome-keyring-daemon Xvfb trayer xdotool /usr/libexec/at-spi-bus-launcher; do
        command -v "$tool" >/dev/null || { echo "app_a11y: $tool is missing (scripts/install-deps)" >&2; exit 1; }
    done
    /usr/bin/python3 -c 'import pyatspi' || { echo "app_a11y: python3-pyatspi is missing (scripts/install-deps)" >&2; exit 1; }
    env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u AT_SPI_BUS_ADDRESS \
        PARVEL_A11Y_SESSION=1 dbus-run-session -- bash "${BASH_SOURCE[0]}" "$@"
    exit
fi

parvel="$(realpath "$1")"
devserver="$(realpath "$2")"
work="$(mktemp -d "${TMPDIR:-/tmp}/parvel-a11y.XXXXXX")"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    # `parvel --upload` wakes the desktop portal, whose document store
    # mounts itself in the runtime folder while the session lasts.
    fusermount -uz "$work/runtime/doc" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "app_a11y: $*" >&2
    for log in parvel bus server; do
        [ -s "$work/$log.log" ] && { echo "--- $log log" >&2; tail -n 30 "$work/$log.log" >&2; }
    done
    exit 1
}
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$work/files"
chmod 0700 "$XDG_RUNTIME_DIR"

printf 'parvel-test' | gnome-keyring-daemon --unlock --components=secrets >/dev/null
secrets() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets | grep -q true
}
wait_for 30 secrets || fail "gnome-keyring-daemon did not take org.freedesktop.secrets"

# The accessibility bus, registered on this session bus as org.a11y.Bus.
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/bus.log" 2>&1 &
pids+=($!)
a11y_bus() {
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress |
        grep -q 'unix:'
}
if ! wait_for 20 a11y_bus; then
    echo "app_a11y: the accessibility bus did not start; skipped" >&2
    cat "$work/bus.log" >&2
    exit 77
fi

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
wait_for 10 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb

# A tray host, or Parvel gives up waiting for one and swaps the popover for
# the settings window in the middle of the checks.
panel() { xdotool search --classname '^panel$'; }
for attempt in 1 2 3; do
    trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
        --transparent false >>"$work/trayer.log" 2>&1 &
    pids+=($!)
    wait_for 10 panel && break
    kill "${pids[-1]}" 2>/dev/null || true
    [ "$attempt" -lt 3 ] || fail "trayer showed no panel"
done

start_devserver
for i in $(seq -w 1 20); do
    printf 'file %s' "$i" >"$work/files/file-$i.txt"
    "$parvel" --upload "$work/files/file-$i.txt" >/dev/null 2>&1 || fail "upload of file $i failed"
done
printf 'to share' >"$work/files/report.txt"

QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$parvel" --show >"$work/parvel.log" 2>&1 &
pids+=($!)
PARVEL_A11Y_FILE="$work/files/report.txt" /usr/bin/python3 "$here/app_a11y.py" "$parvel" ||
    fail "the accessibility checks failed"
echo "app_a11y: passed"
