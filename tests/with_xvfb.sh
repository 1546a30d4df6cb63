#!/usr/bin/env bash
# Runs a command on an X display of its own (Xvfb on a free number), with
# Qt's xcb platform: for the tests of the real clipboard.
#
#   with_xvfb.sh COMMAND…
set -euo pipefail
command -v Xvfb >/dev/null || { echo "with_xvfb: Xvfb is missing (scripts/install-deps)" >&2; exit 1; }
work="$(mktemp -d "${TMPDIR:-/tmp}/parvel-xvfb.XXXXXX")"
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
exec 3>&-
trap 'kill "$xvfb" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; echo "with_xvfb: Xvfb did not start" >&2; exit 1; }
DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb "$@"
