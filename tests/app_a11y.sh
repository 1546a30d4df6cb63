#!/usr/bin/env bash
# The application as a screen reader meets it: the accessibility bus, Xvfb
# with trayer, the dev server holding 20 files, Parvel with Qt's bridge on;
# app_a11y.py reads the tree through pyatspi while xdotool types.
#
#   app_a11y.sh PARVEL PARVEL_DEVSERVER
source "$(dirname "$0")/harness.sh" "$@"
parvel="$(realpath "$1")"

# The accessibility bus, registered on this session bus as org.a11y.Bus.
spawn bus /usr/libexec/at-spi-bus-launcher --launch-immediately
wait_for 20 sh -c 'dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
    org.a11y.Bus.GetAddress | grep -q unix:' || skip "the accessibility bus did not start"
# A tray host, or Parvel gives up waiting for one and swaps the popover for
# the settings window in the middle of the checks.
start_x
start_devserver "$2"
mkdir "$WORK/files"
for i in $(seq -w 1 20); do
    printf 'file %s' "$i" >"$WORK/files/file-$i.txt"
    "$parvel" --upload "$WORK/files/file-$i.txt" >/dev/null 2>&1 || fail "upload of file $i failed"
done
printf 'to share' >"$WORK/files/report.txt"

QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 spawn parvel "$parvel" --show
/usr/bin/python3 "${harness%/*}/app_a11y.py" "$parvel" "$WORK/files/report.txt" ||
    fail "the accessibility checks failed"
echo "app_a11y: passed"
