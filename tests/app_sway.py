#!/usr/bin/python3
"""The tray application on a Wayland desktop of its own, clicked as a user would.

Headless sway with waybar as the StatusNotifierItem host, Parvel under
XWayland, the dev server on loopback and a stored connection; wayvnc and a
small RFB client of our own press the real mouse buttons and keys. The icon
is registered; a left click on it in the bar opens the popover at the icon
(within 40 px, fully on screen); a second click closes it, and so does
Escape; a right click shows our menu (waybar reads it over dbusmenu);
"Settings…" from it opens the settings window and "Quit Parvel" ends Parvel
with status 0.

sway refuses to run as root: as root the whole session runs as uid 65534
(setpriv), in a folder that user owns. Exit status 77 (skipped) only when
even that cannot start.

    app_sway.py PARVEL PARVEL_DEVSERVER
PARVEL_SWAY_SCREENSHOT=FILE keeps the screenshot of the open popover;
PARVEL_SWAY_FIGURES=FILE writes the milliseconds from start to the item's
registration and from the click to the popover's first frame (bench/app-sway).
"""
import datetime
import glob
import json
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time

NOBODY = 65534
TOOLS = ["sway", "swaymsg", "waybar", "wayvnc", "grim", "dbus-run-session", "dbus-monitor",
         "gnome-keyring-daemon", "setpriv"]


def wait_for(seconds, check, what):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        result = check()
        if result:
            return result
        time.sleep(0.1)
    raise AssertionError(f"timed out: {what}")


def connect(port):
    try:
        return socket.create_connection(("127.0.0.1", port))
    except OSError:
        return None


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Rfb:
    """Just enough of RFB 3.8 to move the pointer, press buttons and keys."""

    def __init__(self, port):
        self.sock = wait_for(10, lambda: connect(port), "wayvnc listening")
        self.sock.recv(12)
        self.sock.sendall(b"RFB 003.008\n")
        count = self.sock.recv(1)[0]
        assert 1 in self.sock.recv(count), "wayvnc offers no unauthenticated access"
        self.sock.sendall(b"\x01")
        assert self.sock.recv(4) == b"\0\0\0\0", "RFB security handshake failed"
        self.sock.sendall(b"\x01")  # shared
        header = self.sock.recv(24, socket.MSG_WAITALL)  # ServerInit, then the desktop's name
        self.sock.recv(struct.unpack(">I", header[20:24])[0], socket.MSG_WAITALL)

    def click(self, x, y, button=1):
        for mask in (0, button, 0):
            self.sock.sendall(struct.pack(">BBHH", 5, mask, x, y))
            time.sleep(0.05)

    def key(self, keysym):
        for down in (1, 0):
            self.sock.sendall(struct.pack(">BBxxI", 4, down, keysym))
            time.sleep(0.05)


def outer(parvel, devserver):
    for tool in TOOLS:
        if not shutil.which(tool):
            print(f"app_sway: {tool} is missing (scripts/install-deps)", file=sys.stderr)
            return 1
    work = tempfile.mkdtemp(prefix="parvel-sway.")
    try:
        # Everything the session runs comes from a folder its user can read.
        os.makedirs(f"{work}/bin")
        # The command-line modes are libraries beside the executable.
        beside = glob.glob(os.path.join(os.path.dirname(parvel), "lib*.so*"))
        for program in [parvel, devserver, os.path.abspath(__file__)] + beside:
            shutil.copy(program, f"{work}/bin/")
        command = ["dbus-run-session", "--", "/usr/bin/python3",
                   f"{work}/bin/{os.path.basename(__file__)}", "--inner", work]
        if os.getuid() == 0:
            for folder, _, files in os.walk(work):
                for name in [folder] + [os.path.join(folder, f) for f in files]:
                    os.chown(name, NOBODY, NOBODY)
            command = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups"] + command
            probe = subprocess.run(command[:4] + ["true"], capture_output=True, text=True)
            if probe.returncode != 0:
                reason = f"app_sway: skipped, cannot run as uid {NOBODY}: {probe.stderr}"
                print(reason, file=sys.stderr)
                # ctest shows no output of a skipped test; scripts/test prints this file.
                if os.environ.get("PARVEL_SKIP_LOG"):
                    with open(os.environ["PARVEL_SKIP_LOG"], "w") as log:
                        log.write(reason + "\n")
                return 77
        env = {"PATH": "/usr/local/bin:/usr/bin:/bin", "LANG": "C.UTF-8", "HOME": f"{work}/home"}
        # The session's services talk a lot on standard error: shown only on failure.
        session = subprocess.run(command, env=env, cwd=work, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, text=True, errors="replace")
        status = session.returncode
        print(session.stdout if status else session.stdout.splitlines()[-1], file=sys.stderr)
        for variable, name in (("PARVEL_SWAY_SCREENSHOT", "popover.png"), ("PARVEL_SWAY_FIGURES", "figures")):
            if os.environ.get(variable) and os.path.exists(f"{work}/{name}"):
                shutil.copy(f"{work}/{name}", os.environ[variable])
        return status
    finally:
        shutil.rmtree(work, ignore_errors=True)


class Session:
    def __init__(self, work):
        self.work = work
        self.processes = []
        self.env = dict(os.environ)
        self.env.update(HOME=f"{work}/home", XDG_RUNTIME_DIR=f"{work}/runtime",
                        XDG_CONFIG_HOME=f"{work}/home/.config",
                        XDG_DATA_HOME=f"{work}/home/.local/share", XDG_CACHE_HOME=f"{work}/home/.cache")
        for folder in ("home", "runtime"):
            os.makedirs(f"{work}/{folder}", mode=0o700, exist_ok=True)
            os.chmod(f"{work}/{folder}", 0o700)

    def start(self, name, command, env=None, **kwargs):
        log = open(f"{self.work}/{name}.log", "w")
        process = subprocess.Popen(command, env=env or self.env, stdout=log, stderr=subprocess.STDOUT,
                                   **kwargs)
        self.processes.append(process)
        return process

    def log(self, name):
        try:
            with open(f"{self.work}/{name}.log", errors="replace") as file:
                return file.read()
        except FileNotFoundError:
            return ""

    def stop(self):
        for process in reversed(self.processes):
            process.terminate()
            process.wait()

    def swaymsg(self, *arguments):
        return subprocess.run(["swaymsg", "-s", self.sway_socket, *arguments], env=self.env,
                              capture_output=True, text=True, check=True).stdout


def parvel_window(session, kind):
    """The rectangle of Parvel's popover, or of its settings window (tiled: any other size)."""
    nodes = [json.loads(session.swaymsg("-t", "get_tree", "-r"))]
    while nodes:
        node = nodes.pop()
        nodes += node.get("nodes", []) + node.get("floating_nodes", [])
        rect = node["rect"]
        is_popover = (rect["width"], rect["height"]) == (336, 560)
        if node.get("name") == "Parvel" and is_popover == (kind == "popover"):
            return rect
    return None


def menu_entries(service):
    """The menu's visible entries as the host draws them: labels, None for separators."""
    from gi.repository import Gio, GLib
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    reply = bus.call_sync(service, "/MenuBar", "com.canonical.dbusmenu", "GetLayout",
                          GLib.Variant("(iias)", (0, -1, [])), None, 0, 5000, None)
    _, (_, _, children) = reply.unpack()
    return [None if p.get("type") == "separator" else p["label"]
            for _, p, _ in children if p.get("visible", True)]


def screenshot(env):
    data = subprocess.run(["grim", "-t", "ppm", "-"], env=env, capture_output=True, check=True).stdout
    magic, width, height, _, pixels = data.split(maxsplit=4)
    assert magic == b"P6", "grim wrote no PPM"
    width = int(width)
    return lambda x, y: pixels[3 * (y * width + x):3 * (y * width + x) + 3]


def choose_from_menu(session, rfb, icon, label):
    """Right-clicks the icon and clicks `label` in the menu that waybar draws."""
    rfb.click(*icon, button=4)  # button mask 4: the right button
    service = wait_for(10, lambda: item_service(session), "our item on the bus")
    entries = menu_entries(service)
    assert label in entries, f"{label!r} is not in the menu {entries}"
    wait_for(10, lambda: "AboutToShow" in session.log("monitor"), "waybar reading the menu over dbusmenu")
    # The menu hangs above the pointer, to its right: find its light rows in
    # the margin left of the labels, then click in the middle of the entry.
    column = icon[0] + 12
    def menu_rows():
        pixel = screenshot(session.env)
        rows = iter(range(icon[1], 0, -1))
        bottom = next((y for y in rows if min(pixel(column, y)) > 200), None)
        top = next((y for y in rows if min(pixel(column, y)) <= 200), 0) + 1
        return (top, bottom) if bottom and bottom - top > 40 else None
    top, bottom = wait_for(5, menu_rows, "the menu drawn above the icon")
    separators = entries.count(None)
    items = len(entries) - separators
    padding, separator = 4, 1
    height = (bottom - top + 1 - 2 * padding - separators * separator) / items
    y = top + padding
    for entry in entries:
        if entry == label:
            rfb.click(column + 40, int(y + height / 2))
            return
        y += separator if entry is None else height


def logged(session, text):
    """When Parvel logged the first line with `text`, in seconds since the epoch."""
    line = next(line for line in session.log("parvel").splitlines() if text in line)
    return datetime.datetime.strptime(line.split(" | ")[0], "%Y-%m-%d %H:%M:%S.%f").timestamp()


def bus_names(env):
    out = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                          "/org/freedesktop/DBus", "org.freedesktop.DBus.ListNames"],
                         env=env, capture_output=True, text=True).stdout
    return out.split('"')[1::2]


def item_service(session):
    return next((n for n in bus_names(session.env) if n.startswith("org.kde.StatusNotifierItem-")), None)


def inner(work):
    session = Session(work)
    try:
        run(session)
        print("app_sway: passed")
        return 0
    except AssertionError as error:
        print(f"app_sway: {error}", file=sys.stderr)
        for name in ("parvel", "sway", "waybar", "wayvnc", "monitor", "server"):
            text = session.log(name)
            if text:
                print(f"--- {name} log", file=sys.stderr)
                print("\n".join(text.splitlines()[-40:]), file=sys.stderr)
        return 1
    finally:
        session.stop()


def run(session):
    work, env = session.work, session.env
    bin = f"{work}/bin"
    keyring = subprocess.run(["gnome-keyring-daemon", "--unlock", "--components=secrets"],
                             input="parvel-test", env=env, capture_output=True, text=True)
    assert keyring.returncode == 0, f"gnome-keyring-daemon: {keyring.stderr}"
    wait_for(10, lambda: "org.freedesktop.secrets" in bus_names(env), "the keyring on the bus")
    port = free_port()
    session.start("server", [f"{bin}/parvel-devserver", "--data", f"{work}/server", "--port", str(port)])
    wait_for(10, lambda: os.path.exists(f"{work}/server/connection.json"), "the dev server")
    env["SSL_CERT_FILE"] = f"{work}/server/ca.pem"
    imported = subprocess.run([f"{bin}/parvel", "--import-connection", f"{work}/server/connection.json"],
                              env=env, capture_output=True, text=True)
    assert imported.returncode == 0, f"--import-connection: {imported.stdout}{imported.stderr}"
    session.start("monitor", ["dbus-monitor", "--session", "interface='com.canonical.dbusmenu'"])

    with open(f"{work}/waybar.json", "w") as file:
        json.dump({"position": "bottom", "height": 30, "modules-center": ["tray"],
                   "modules-left": [], "modules-right": [], "tray": {"icon-size": 22}}, file)
    with open(f"{work}/sway.conf", "w") as file:
        # XWayland from the start, as in a session where X clients ran before.
        file.write("xwayland force\n"
                   "output * bg #336699 solid_color\n"
                   f"exec waybar -c {work}/waybar.json\n")
    sway_env = dict(env, WLR_BACKENDS="headless", WLR_RENDERER="pixman", WLR_LIBINPUT_NO_DEVICES="1",
                    WLR_HEADLESS_OUTPUTS="1")
    sway = session.start("sway", ["sway", "-c", f"{work}/sway.conf"], env=sway_env)
    session.sway_socket = wait_for(
        10, lambda: (glob.glob(f"{work}/runtime/sway-ipc.*.sock") or [None])[0] or sway.poll() is not None,
        "sway's IPC socket")
    assert sway.poll() is None, "sway did not start"
    display = wait_for(10, lambda: [p for p in glob.glob(f"{work}/runtime/wayland-*") if "lock" not in p],
                       "sway's Wayland socket")[0]
    env["WAYLAND_DISPLAY"] = os.path.basename(display)
    output = json.loads(session.swaymsg("-t", "get_outputs", "-r"))[0]["rect"]
    vnc = free_port()
    session.start("wayvnc", ["wayvnc", "127.0.0.1", str(vnc)])
    rfb = Rfb(vnc)
    wait_for(20, lambda: "org.kde.StatusNotifierWatcher" in bus_names(env), "waybar's StatusNotifierWatcher")

    # Parvel from sway, so it gets the session's DISPLAY; the shell records its status.
    with open(f"{work}/run-parvel", "w") as file:
        file.write("#!/bin/sh\nexport QT_LOGGING_RULES=parvel.shell.debug=true\n"
                   "export QT_MESSAGE_PATTERN='%{time yyyy-MM-dd hh:mm:ss.zzz} | %{message}'\n"
                   f"{bin}/parvel >{work}/parvel.log 2>&1\necho $? >{work}/status\n")
    os.chmod(f"{work}/run-parvel", 0o755)
    started = time.time()
    session.swaymsg("exec", f"{work}/run-parvel")
    wait_for(20, lambda: "status icon registered" in session.log("parvel"), "the item registered")
    # The only icon in a bar centred at the bottom.
    icon = (output["x"] + output["width"] // 2, output["y"] + output["height"] - 15)
    time.sleep(1)

    clicked = time.time()
    rfb.click(*icon)
    wait_for(10, lambda: "popover first frame" in session.log("parvel"), "a click showing the popover")
    with open(f"{work}/figures", "w") as file:
        file.write(f"{logged(session, 'status icon registered') - started:.3f} "
                   f"{logged(session, 'popover first frame') - clicked:.3f}\n")
    popover = "popover"
    wait_for(10, lambda: parvel_window(session, popover), "the popover on screen")

    def near_icon():  # sway moves it a moment after mapping it
        rect = parvel_window(session, popover)
        dx = max(rect["x"] - icon[0], 0, icon[0] - (rect["x"] + rect["width"]))
        dy = max(rect["y"] - icon[1], 0, icon[1] - (rect["y"] + rect["height"]))
        return rect if dx <= 40 and dy <= 40 else None
    time.sleep(0.5)
    rect = near_icon()
    assert rect, f"the popover is at {parvel_window(session, popover)}, the icon at {icon}"
    assert rect["x"] >= output["x"] and rect["y"] >= output["y"] and \
        rect["x"] + rect["width"] <= output["x"] + output["width"] and \
        rect["y"] + rect["height"] <= output["y"] + output["height"], f"the popover leaves the screen: {rect}"
    subprocess.run(["grim", f"{work}/popover.png"], env=env, check=True)

    rfb.click(*icon)
    wait_for(5, lambda: not parvel_window(session, popover), "a second click closing the popover")
    # It has the keyboard: Escape closes it. (Apart enough not to be a double click.)
    time.sleep(0.6)
    rfb.click(*icon)
    wait_for(10, lambda: parvel_window(session, popover), "a third click showing the popover")
    time.sleep(0.5)
    rfb.key(0xFF1B)  # Escape
    wait_for(5, lambda: not parvel_window(session, popover), "Escape closing the popover")

    choose_from_menu(session, rfb, icon, "Settings…")
    wait_for(10, lambda: parvel_window(session, "settings"), "the settings window from the menu")

    # Closed as its title bar's button would; the menu then shows on the bare desktop.
    session.swaymsg('[title="^Parvel$"] kill')
    wait_for(5, lambda: not parvel_window(session, "settings"), "the settings window closing")
    choose_from_menu(session, rfb, icon, "Quit Parvel")
    status = wait_for(10, lambda: os.path.exists(f"{work}/status") and open(f"{work}/status").read().strip(),
                      "Parvel quitting from the menu")
    assert status == "0", f"Parvel ended with status {status}"


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--inner":
        sys.exit(inner(sys.argv[2]))
    sys.exit(outer(os.path.realpath(sys.argv[1]), os.path.realpath(sys.argv[2])))
