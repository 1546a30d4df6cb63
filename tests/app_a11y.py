"""Parvel as a screen reader meets it, from the keyboard only: run by app_a11y.sh
with Parvel showing its popover, 20 shared files on the server and FILE to hand
over. Reads AT-SPI's tree and events, types with xdotool.

    app_a11y.py PARVEL FILE
"""
import os, subprocess, sys, time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

S = Atspi.StateType
NAMED = {"push button", "radio button", "page tab", "check box", "toggle button", "password text",
         "text", "menu item", "entry", "dialog", "alert", "menu"}
events = []  # (type, role, name, detail1, data) as they came, names read at once
typed = "s3cret-word"


def on_event(event):
    try:
        events.append((event.type, event.source.get_role_name(), event.source.get_name() or "",
                       event.detail1, str(event.any_data or "")))
    except GLib.Error:
        pass


listener = Atspi.EventListener.new(on_event)
for kind in ("object:state-changed:showing", "object:text-changed", "object:property-change:accessible-value"):
    listener.register(kind)


def pump():
    while GLib.MainContext.default().iteration(False):
        pass


def wait(what, condition, seconds=15):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        pump()
        try:
            value = condition()
        except GLib.Error:
            value = None
        if value:
            return value
        time.sleep(0.05)
    print("on screen (role, name, focused):",
          [(n.get_role_name(), n.get_name(), has(n, S.FOCUSED)) for n in showing()], file=sys.stderr)
    sys.exit("app_a11y: timed out waiting for " + what)


def check(ok, what):
    if not ok:
        sys.exit("app_a11y: " + what)


def key(*keys):
    subprocess.run(["xdotool", "key", "--delay", "30", *keys], check=True)


def app():
    desktop = Atspi.get_desktop(0)
    apps = (desktop.get_child_at_index(i) for i in range(desktop.get_child_count()))
    return next((a for a in apps if a and a.get_name() == "Parvel"), None)


def walk(node):
    node.clear_cache()  # names and states as they are now, not as first read
    yield node
    for child in filter(None, map(node.get_child_at_index, range(node.get_child_count()))):
        yield from walk(child)


def has(node, state):
    return node.get_state_set().contains(state)


def showing():
    return [n for frame in walk(app()) if frame.get_role_name() == "frame" and has(frame, S.SHOWING)
            for n in walk(frame) if has(n, S.SHOWING)]


def named(node, name, prefix=False):
    return node is not None and (node.get_name() == name or prefix and node.get_name().startswith(name))


def find(role, name, prefix=False):
    return next((n for n in showing() if n.get_role_name() == role and named(n, name, prefix)), None)


def focused():
    # A focus scope (a menu) reports focus along with its focused item: the deepest wins.
    nodes = [n for n in showing() if has(n, S.FOCUSED)]
    return nodes[-1] if nodes else None


def press(step, expected, limit, prefix=False):
    for _ in range(limit):
        node = focused()
        if named(node, expected, prefix):
            return
        key(step)
        wait("the focus to move on from " + str(node and node.get_name()), lambda: focused() != node, 3)
    wait("the focus on " + expected, lambda: named(focused(), expected, prefix), 2)


def tab_to(name, prefix=False):
    press("Tab", name, 40, prefix)


def choose(item):
    wait("the menu with " + item, lambda: find("menu item", item))
    press("Down", item, 6)
    key("Return")


def all_named(where):
    unnamed = [n.get_role_name() for n in showing() if n.get_role_name() in NAMED and not n.get_name()]
    check(not unnamed, where + ": unnamed " + ", ".join(unnamed))


def announced(text):
    return any(e[0] == "object:state-changed:showing" and e[3] == 1 and e[1] in ("notification", "alert")
               and e[2] == text for e in events)


# The popover, connected: its recent rows show.
wait("the popover", lambda: app() and find("push button", "Copy link for file-20.txt"))
check(find("heading", "Parvel") is not None, "the popover's heading is not named")
check(not has(find("push button", "Upload and copy link"), S.ENABLED), "the upload button is enabled without files")
all_named("popover")

# A handed-over file: its name is text; the access choice is radio buttons.
parvel, chosen = sys.argv[1:3]
subprocess.run([parvel, chosen], check=True, timeout=20)
wait("the selected file's name as text", lambda: find("label", os.path.basename(chosen)))
check(find("label", "Who can open it?") is not None, "\"Who can open it?\" is no text")
wait("\"Anyone with link\" as a checked radio button",
     lambda: has(find("radio button", "Anyone with link"), S.CHECKED), 5)

# The password: named, a password field, never readable.
tab_to("Password")
key("space")
wait("\"Password\" checked", lambda: has(find("radio button", "Password"), S.CHECKED))
key("Tab")
field = wait("the password field focused",
             lambda: focused() if focused().get_role_name() == "password text" else None)
subprocess.run(["xdotool", "type", "--delay", "20", typed], check=True)
wait("the typed password", lambda: Atspi.Text.get_character_count(field) == len(typed))
check(typed not in Atspi.Text.get_text(field, 0, -1), "the password is readable as text")
pump()
check(not any(typed[:4] in e[4] for e in events), "the password is readable in text-changed events")
all_named("popover with a selection")

# Upload: the focus stays on screen, progress has a value, the result is heard.
tab_to("Upload and copy link")
key("space")
wait("the upload's result announced", lambda: announced("Link copied. Ready to share."))
check(any(e[0].endswith("accessible-value") and e[1] == "progress bar" for e in events),
      "the progress bar sent no value change")
wait("a named control focused after Upload", lambda: focused() and focused().get_name())

# Clear moves the focus to the drop zone instead of a hidden button.
subprocess.run([parvel, chosen], check=True, timeout=20)
wait("the selection", lambda: find("push button", "Clear selected files"))
tab_to("Clear selected files")
key("space")
wait("the selection cleared", lambda: find("push button", "Clear selected files") is None)
name = wait("a named control focused after Clear", lambda: focused() and focused().get_name())
check(name != "Clear selected files", "the focus stayed on the hidden Clear")

# The row menu: Escape closes only the menu; "Copy link" keeps the row's focus.
tab_to("Copy link for ", prefix=True)
row = focused().get_name()
key("shift+F10")
wait("the row menu", lambda: find("menu item", "Copy link"))
all_named("row menu")
key("Escape")
wait("the menu closed, the focus back on " + row,
     lambda: find("menu item", "Copy link") is None and named(focused(), row))
key("shift+F10")
choose("Copy link")
wait("the link copied", lambda: announced("Link copied"))
wait("the focus kept on " + row, lambda: focused().get_name() in (row, row.replace("Copy link", "Link copied")))

# Settings: page tabs, the current checked, Left/Right moving the focus.
key("ctrl+comma")
wait("the current section's tab checked, the files list", lambda: has(find("page tab", "Files"), S.CHECKED)
     and find("list", "Shared files") and find("list item", "file-20.txt"))
all_named("settings")
check(find("label", "21 shared files") is not None, "\"21 shared files\" is no text")
tab_to("Files")
key("Right")
wait("Right selects and focuses the next tab",
     lambda: named(focused(), "Your computers") and has(find("page tab", "Your computers"), S.CHECKED))
key("Left")
wait("Left back to Files", lambda: named(focused(), "Files") and has(find("page tab", "Files"), S.CHECKED))

# Tab reaches every one of the 20 rows, in the list's order, once.
tab_to("Copy link for file-20.txt")
reached = [focused().get_name()]
while reached[-1] != "Copy link for file-01.txt" and len(reached) < 60:
    key("Tab")
    wait("the focus to move on", lambda: not named(focused(), reached[-1]), 3)
    reached.append(focused().get_name())
rows = [name for name in reached if name.startswith("Copy link for ")]
check(rows == ["Copy link for file-%02d.txt" % i for i in range(20, 0, -1)], "Tab reached the rows as %s" % rows)

# A sheet and a question: named dialogs, their texts readable, Escape hands
# the focus back to the row's actions button.
key("Tab")
wait("the actions button", lambda: named(focused(), "Actions for file-01.txt"))
for item, dialog, text in (("Change access…", ("dialog", "Link access"), "file-01.txt"),
                           ("Delete…", ("dialog", "Delete this file?"), "Its share link will stop working")):
    key("space")
    choose(item)
    wait(dialog[1], lambda: find(*dialog))
    check(find("label", text, prefix=True) is not None, dialog[1] + ": \"" + text + "\" is no text")
    all_named(dialog[1])
    key("Escape")
    wait(dialog[1] + " closed, focus on the opener",
         lambda: find(*dialog) is None and named(focused(), "Actions for file-01.txt"))

print("app_a11y: every check held")
