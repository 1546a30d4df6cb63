#!/usr/bin/env bash
# The end-to-end tests' session: `harness.sh [--nobody] COMMAND ARGS…` runs
# COMMAND in a D-Bus session of its own with GNOME Keyring, a fresh HOME
# under $WORK and nothing from outside but PATH and the sanitizers' options;
# with --nobody and as root, as uid 65534 (sway refuses root). It prints
# $WORK/*.log when COMMAND fails. A script sourcing it is run again so.
set -euo pipefail
harness="$(realpath "${BASH_SOURCE[0]}")"
name="$(basename "${0%.*}")"

# wait_for SECONDS COMMAND…: polls every 0.1 s.
wait_for() {
    local deadline=$((SECONDS + $1)); shift
    until "$@" >/dev/null 2>&1; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}
fail() { echo "$name: $*" >&2; exit 1; }
# ctest shows no output of a skipped test (status 77): the runner hands the
# reason to $PARVEL_SKIP_LOG, which scripts/test prints.
skip() { echo "$name: $*; skipped" | tee "$WORK/skipped" >&2; exit 77; }
owned() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:"$1" | grep -q 'boolean true'
}

if [ -z "${WORK:-}" ]; then
    run=()
    if [ "${1:-}" = --nobody ]; then
        shift
        [ "$(id -u)" -ne 0 ] || run=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    fi
    [ "${BASH_SOURCE[0]}" = "$0" ] || set -- "$0" "$@"
    name="$(basename "${1%.*}")"
    WORK="$(mktemp -d "${TMPDIR:-/tmp}/parvel-$name.XXXXXX")"
    # `parvel --upload` wakes the document portal, which mounts itself there.
    trap 'set +e; cp "$WORK/skipped" "${PARVEL_SKIP_LOG:-/dev/null}" 2>/dev/null
        fusermount -uz "$WORK/runtime/doc" 2>/dev/null; rm -rf "$WORK"' EXIT
    mkdir -m 0700 "$WORK/home" "$WORK/runtime"
    if [ ${#run[@]} -gt 0 ]; then
        chown -R 65534:65534 "$WORK"
        "${run[@]}" true 2>/dev/null || skip "cannot run as uid 65534"
    fi
    status=0
    env -i PATH="$PATH" LANG=C.UTF-8 WORK="$WORK" HOME="$WORK/home" XDG_RUNTIME_DIR="$WORK/runtime" \
        ASAN_OPTIONS="${ASAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" \
        "${run[@]}" dbus-run-session -- "$harness" "$@" || status=$?
    if [ "$status" -eq 0 ] && [ -n "${PARVEL_SWAY_FIGURES:-}" ]; then cp "$WORK/figures" "$PARVEL_SWAY_FIGURES"; fi
    [ "$status" -eq 0 ] || [ "$status" -eq 77 ] || tail -n 30 "$WORK"/*.log >&2 || true
    exit "$status"
fi

# Inside the session.
owned org.freedesktop.secrets || {
    printf 'parvel-test' | gnome-keyring-daemon --unlock --components=secrets >/dev/null
    wait_for 30 owned org.freedesktop.secrets || fail "GNOME Keyring did not start"
}
[ "${BASH_SOURCE[0]}" != "$0" ] || exec "$@"

# spawn NAME COMMAND…: runs until the session ends, output in $WORK/NAME.log.
pids=()
spawn() {
    local log="$WORK/$1.log"; shift
    "$@" >"$log" 2>&1 &
    pids+=($!)
}
trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true' EXIT

# An X display of our own (Xvfb tells its free number on fd 3) with trayer as
# the tray host, started again if it shows no panel (the test is about Parvel,
# not about a tray host that lost a race at start-up), else skipped.
start_x() {
    spawn xvfb Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$WORK/display"
    wait_for 30 test -s "$WORK/display" || fail "Xvfb did not start"
    export DISPLAY=":$(cat "$WORK/display")" QT_QPA_PLATFORM=xcb
    if [ "${1:-}" = --wm ]; then
        spawn openbox openbox --sm-disable
        wait_for 30 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' ||
            fail "openbox did not start"
    fi
    for _ in 1 2; do
        spawn trayer trayer --edge top --align right --widthtype request --height 24 \
            --SetDockType true --transparent false
        wait_for 20 xdotool search --classname '^panel$' && break
        kill "${pids[-1]}" 2>/dev/null || true
    done
    tray="$(xdotool search --classname '^panel$' | head -1)" || skip "trayer showed no panel"
}

# A private dev server on a free loopback port, its CA trusted and its
# connection imported. The first start makes certificates: slow under the
# sanitizers on a busy machine, hence the long wait.
start_devserver() {
    local port
    port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
    spawn server "$1" --data "$WORK/server" --port "$port"
    wait_for 30 test -s "$WORK/server/connection.json" || fail "the dev server did not start"
    export SSL_CERT_FILE="$WORK/server/ca.pem"
    "$parvel" --import-connection "$WORK/server/connection.json" >/dev/null || fail "import failed"
}
