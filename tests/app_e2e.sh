#!/usr/bin/env bash
# The tray application end to end on an X display of its own: openbox,
# trayer as the tray host, the dev server, a notification server, and
# DRAGSOURCE as another application's window to drag files from.
#
#   app_e2e.sh PARVEL PARVEL_DEVSERVER DRAGSOURCE
source "$(dirname "$0")/harness.sh" "$@"
parvel="$(realpath "$1")"
start_x --wm
spawn notifications /usr/bin/python3 "${harness%/*}/notification_server.py" "$WORK/notifications"
wait_for 30 owned org.freedesktop.Notifications || fail "the notification server did not start"
start_devserver "$2"

# Another application's window to drag files from, at the left, away from
# the popover (under the icon, top right) and the settings window (centred).
spawn source "$3" "$WORK/dragged"
wait_for 30 xdotool search --onlyvisible --name '^Drag source$' || fail "no drag source window"
# drag FILE X Y: press on it, move to X Y, release there.
drag() {
    printf '%s\n' "$1" >"$WORK/dragged"
    xdotool mousemove 120 400 sleep 0.3 mousedown 1 sleep 0.5 mousemove 140 420 sleep 0.2 \
        mousemove "$2" "$3" sleep 0.3 mousemove $(($2 + 4)) $(($3 + 4)) sleep 0.5 mouseup 1
}
# selected FILE: the selection is FILE alone; with "+", FILE was added last.
selected() {
    if [ "$1" = + ]; then grep -qF "\"file://$2\"))" "$WORK/parvel.log"
    else grep -qF "selection: QList(QUrl(\"file://$1\"))" "$WORK/parvel.log"; fi
}
logged() { grep -qF "$1" "$WORK/parvel.log"; }
shown() { xdotool search --onlyvisible --name '^Parvel$'; }
hidden() { ! shown | grep -qx "$popover"; }
active() { [ "$(xdotool getactivewindow)" = "$popover" ]; }
centre_of() { eval "$(xdotool getwindowgeometry --shell "$1")"; x=$((X + WIDTH / 2)) y=$((Y + HEIGHT / 2)); }

# A screenshot made by a session that crashed: the next one clears it.
mkdir -p "$HOME/.cache/Parvel/shared/left" && : >"$HOME/.cache/Parvel/shared/left/Screenshot.png"
QT_LOGGING_RULES="parvel.shell.debug=true" spawn parvel "$parvel"
app=${pids[-1]}
wait_for 30 logged "status icon registered" || fail "the icon was not registered"
[ ! -e "$HOME/.cache/Parvel/shared" ] || fail "a crashed session's screenshot was kept"
wait_for 30 sh -c "xwininfo -tree -id $tray | grep -q '(\"parvel\" '" || fail "the tray holds no icon"

# A click on the icon shows the popover (clicked again when the first came
# before the tray had the icon in place).
centre_of "$tray"
for _ in 1 2 3; do
    xdotool mousemove "$x" "$y" click 1
    wait_for 3 logged "popover shown" && break
done
wait_for 10 shown || fail "a click did not show the popover"
popover="$(shown | head -1)"

# Escape in the popover closes it; so does the focus going elsewhere (here
# to the drag source's window, as Alt+Tab would). The pauses keep two clicks
# from making a double click.
xdotool windowfocus --sync "$popover" key Escape
wait_for 10 hidden || fail "Escape did not close the popover"
sleep 0.5
xdotool mousemove "$x" "$y" click 1
wait_for 10 active || fail "a click did not show the popover again"
xdotool windowactivate "$(xdotool search --name '^Drag source$' | head -1)"
wait_for 10 hidden || fail "the popover stayed open without the focus"
sleep 0.5

# A second `parvel FILE`, from another folder and with a relative path,
# hands the file over and ends at once.
mkdir -p "$WORK/files"
for file in "report one" popover tray settings one two; do printf '%s' "$file" >"$WORK/files/$file.txt"; done
(cd "$WORK/files" && timeout 10 "$parvel" "report one.txt") || fail "the second parvel failed"
wait_for 10 logged "file://$WORK/files/report one.txt" || fail "the file did not reach the running instance"
wait_for 10 active || fail "the handed-over file did not show the popover"

# Onto the open popover's drop zone: it stays through the press, takes the
# drop and has the focus again; a plain click elsewhere still closes it.
centre_of "$popover"
drag "$WORK/files/popover.txt" "$x" $((Y + 100))
wait_for 10 logged "kept until the release" || fail "the press closed the popover"
wait_for 10 selected + "$WORK/files/popover.txt" || fail "the drop on the popover was not taken"
wait_for 5 grep -qx "drag done 1" "$WORK/source.log" || fail "the source saw no copy"
wait_for 5 active || fail "the popover closed or has no focus after the drop"
xdotool mousemove 120 400 click 1
wait_for 5 hidden || fail "a click elsewhere left the popover open"

# Onto the tray icon, then onto the settings window (the popover makes way
# for it): the file is the selection and the popover opens.
centre_of "$tray"
drag "$WORK/files/tray.txt" "$x" "$y"
wait_for 10 selected "$WORK/files/tray.txt" || fail "the drop on the tray icon was not taken"
wait_for 5 active || fail "the drop on the tray icon did not open the popover"
timeout 10 "$parvel" --settings || fail "parvel --settings failed"
wait_for 10 sh -c "xdotool search --onlyvisible --name '^Parvel$' | grep -vx $popover" || fail "no settings window"
wait_for 5 hidden || fail "the popover stayed over the settings window"
centre_of "$(shown | head -1)"
drag "$WORK/files/settings.txt" "$x" $((Y + HEIGHT - 60))
wait_for 10 selected "$WORK/files/settings.txt" || fail "the drop on the settings window was not taken"
wait_for 5 active || fail "the drop on the settings window did not open the popover"

# `--share` with the popover closed: two links on the clipboard, the index
# updated, one notification.
xdotool mousemove 120 400 click 1
wait_for 5 hidden || fail "a click elsewhere left the popover open"
(cd "$WORK/files" && timeout 10 "$parvel" --share one.txt two.txt) || fail "parvel --share failed"
wait_for 20 grep -q . "$WORK/notifications" || fail "no notification after --share"
links="$(xclip -selection clipboard -o)"
[ "$(grep -c '^https\?://' <<<"$links")" -eq 2 ] || fail "not two links on the clipboard: $links"
index="$("$parvel" --json)"
for file in one.txt two.txt; do grep -qF "\"$file\"" <<<"$index" || fail "$file is not in the index: $index"; done
sleep 1
[ "$(cat "$WORK/notifications")" = "2 links copied. Ready to share." ] ||
    fail "not one notification \"2 links copied. Ready to share.\": $(cat "$WORK/notifications")"

# Ctrl+Q in the popover ends the application cleanly.
timeout 10 "$parvel" --show || fail "parvel --show failed"
wait_for 5 active || fail "--show did not show the popover"
xdotool windowfocus --sync "$popover" key ctrl+q
wait_for 10 eval '! kill -0 $app' || fail "Ctrl+Q did not end the application"
status=0
wait "$app" || status=$?
[ "$status" -eq 0 ] || fail "the application ended with status $status"
echo "app_e2e: passed"
