#!/usr/bin/python3
"""The tray application on a Wayland desktop of its own, clicked as a user would.

Headless sway, waybar hosting our StatusNotifierItem, Parvel under XWayland with
a stored connection to the dev server; wayvnc and a small RFB client press the
real buttons. A left click on the icon opens the popover at it (within 40 px,
on screen); a second click closes it, and so does Escape; a right click shows
our menu (drawn by waybar from dbusmenu), whose "Settings…" opens the settings
window and whose "Quit Parvel" ends Parvel with status 0. Runs in harness.sh's
session, as uid 65534 when started as root.

    app_sway.py PARVEL PARVEL_DEVSERVER
PARVEL_SWAY_FIGURES=FILE gets the seconds from start to registration and from
click to the popover's first frame (bench/app-sway).
"""
import datetime, glob, json, os, socket, struct, subprocess, sys, time

if "WORK" not in os.environ:
    harness = f"{os.path.dirname(os.path.realpath(__file__))}/harness.sh"
    os.execv(harness, [harness, "--nobody", os.path.realpath(__file__)] + sys.argv[1:])
work, env, processes = os.environ["WORK"], dict(os.environ), []


def wait_for(seconds, check, what):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if result := check():
            return result
        time.sleep(0.1)
    raise AssertionError(f"timed out: {what}")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Rfb:
    """Just enough of RFB 3.8 to press buttons and keys."""

    def __init__(self, path):
        wait_for(10, lambda: os.path.exists(path), "wayvnc listening")
        self.sock = socket.socket(socket.AF_UNIX)
        self.sock.connect(path)
        self.sock.recv(12)
        self.sock.sendall(b"RFB 003.008\n")
        assert 1 in self.sock.recv(self.sock.recv(1)[0]), "wayvnc asks for authentication"
        self.sock.sendall(b"\x01")
        assert self.sock.recv(4) == b"\0\0\0\0", "RFB security handshake failed"
        self.sock.sendall(b"\x01")  # ClientInit, shared; then ServerInit and the desktop's name
        header = self.sock.recv(24, socket.MSG_WAITALL)
        self.sock.recv(struct.unpack(">I", header[20:24])[0], socket.MSG_WAITALL)

    def click(self, x, y, button=1):
        for mask in (0, button, 0):
            self.sock.sendall(struct.pack(">BBHH", 5, mask, x, y))
            time.sleep(0.05)

    def key(self, keysym):
        for down in (1, 0):
            self.sock.sendall(struct.pack(">BBxxI", 4, down, keysym))
            time.sleep(0.05)


def start(name, command, **extra):
    log = open(f"{work}/{name}.log", "w")
    processes.append(subprocess.Popen(command, env=dict(env, **extra), stdout=log, stderr=log))
    return processes[-1]


def log(name):
    return open(f"{work}/{name}.log", errors="replace").read() if os.path.exists(f"{work}/{name}.log") else ""


def output_of(*command):
    return subprocess.run(command, env=env, capture_output=True, text=True, check=True).stdout


def bus_names():
    return output_of("dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                     "/org/freedesktop/DBus", "org.freedesktop.DBus.ListNames").split('"')[1::2]


def parvel_window(kind):
    """The rectangle of Parvel's popover, or of its settings window (tiled: any other size)."""
    nodes = [json.loads(output_of("swaymsg", "-t", "get_tree", "-r"))]
    while nodes:
        node = nodes.pop()
        nodes += node.get("nodes", []) + node.get("floating_nodes", [])
        rect = node["rect"]
        if node.get("name") == "Parvel" and ((rect["width"], rect["height"]) == (336, 560)) == (kind == "popover"):
            return rect
    return None


def menu_entries():
    """The menu's visible entries as waybar reads them: labels, None for separators."""
    from gi.repository import Gio, GLib
    service = next(n for n in bus_names() if n.startswith("org.kde.StatusNotifierItem-"))
    reply = Gio.bus_get_sync(Gio.BusType.SESSION, None).call_sync(
        service, "/MenuBar", "com.canonical.dbusmenu", "GetLayout", GLib.Variant("(iias)", (0, -1, [])),
        None, 0, 5000, None)
    return [None if p.get("type") == "separator" else p["label"]
            for _, p, _ in reply.unpack()[1][2] if p.get("visible", True)]


def choose_from_menu(rfb, icon, label):
    """Right-clicks the icon and clicks `label` in the menu waybar draws above the pointer."""
    rfb.click(*icon, button=4)  # mask 4: the right button
    entries = menu_entries()
    assert label in entries, f"{label!r} is not in the menu {entries}"
    wait_for(10, lambda: "AboutToShow" in log("monitor"), "waybar reading the menu over dbusmenu")
    column = icon[0] + 12  # left of the labels

    def menu_rows():  # the menu's light rows, from a PPM screenshot
        data = subprocess.run(["grim", "-t", "ppm", "-"], env=env, capture_output=True).stdout
        _, width, _, _, pixels = data.split(maxsplit=4)
        light = lambda y: min(pixels[3 * (y * int(width) + column):][:3]) > 200
        rows = iter(range(icon[1], 0, -1))
        bottom = next((y for y in rows if light(y)), None)
        top = next((y for y in rows if not light(y)), 0) + 1
        return (top, bottom) if bottom and bottom - top > 40 else None
    top, bottom = wait_for(5, menu_rows, "the menu drawn above the icon")
    padding, separator = 4, 1
    separators = entries.count(None)
    height = (bottom - top + 1 - 2 * padding - separators * separator) / (len(entries) - separators)
    y = top + padding
    for entry in entries[:entries.index(label)]:
        y += separator if entry is None else height
    rfb.click(column + 40, int(y + height / 2))


def logged(text):
    line = next(line for line in log("parvel").splitlines() if text in line)
    return datetime.datetime.strptime(line.split(" | ")[0], "%Y-%m-%d %H:%M:%S.%f").timestamp()


def run(parvel, devserver):
    start("server", [devserver, "--data", f"{work}/server", "--port", str(free_port())])
    wait_for(10, lambda: os.path.exists(f"{work}/server/connection.json"), "the dev server")
    env["SSL_CERT_FILE"] = f"{work}/server/ca.pem"
    output_of(parvel, "--import-connection", f"{work}/server/connection.json")
    start("monitor", ["dbus-monitor", "--session", "interface='com.canonical.dbusmenu'"])

    with open(f"{work}/waybar.json", "w") as file:
        json.dump({"position": "bottom", "height": 30, "modules-center": ["tray"], "tray": {"icon-size": 22}}, file)
    with open(f"{work}/sway.conf", "w") as file:
        # XWayland from the start, as in a session where X clients ran before.
        file.write(f"xwayland force\noutput * bg #336699 solid_color\nexec waybar -c {work}/waybar.json\n")
    start("sway", ["sway", "-c", f"{work}/sway.conf"], WLR_BACKENDS="headless", WLR_RENDERER="pixman",
          WLR_LIBINPUT_NO_DEVICES="1", WLR_HEADLESS_OUTPUTS="1")
    env["SWAYSOCK"] = wait_for(10, lambda: glob.glob(f"{work}/runtime/sway-ipc.*.sock"), "sway's IPC socket")[0]
    env["WAYLAND_DISPLAY"] = os.path.basename(wait_for(
        10, lambda: [p for p in glob.glob(f"{work}/runtime/wayland-*") if "lock" not in p], "sway's socket")[0])
    output = json.loads(output_of("swaymsg", "-t", "get_outputs", "-r"))[0]["rect"]
    start("wayvnc", ["wayvnc", "--unix-socket", f"{work}/vnc"])
    rfb = Rfb(f"{work}/vnc")
    wait_for(20, lambda: "org.kde.StatusNotifierWatcher" in bus_names(), "waybar's StatusNotifierWatcher")

    # Parvel from sway, for the session's DISPLAY; the script keeps its status.
    with open(f"{work}/run-parvel", "w") as file:
        file.write("#!/bin/sh\nexport QT_LOGGING_RULES=parvel.shell.debug=true\n"
                   "export QT_MESSAGE_PATTERN='%{time yyyy-MM-dd hh:mm:ss.zzz} | %{message}'\n"
                   f"{parvel} >{work}/parvel.log 2>&1\necho $? >{work}/status\n")
    os.chmod(f"{work}/run-parvel", 0o755)
    started = time.time()
    output_of("swaymsg", "exec", f"{work}/run-parvel")
    wait_for(20, lambda: "status icon registered" in log("parvel"), "the item registered")
    icon = (output["x"] + output["width"] // 2, output["y"] + output["height"] - 15)  # alone, centred
    time.sleep(1)

    clicked = time.time()
    rfb.click(*icon)
    wait_for(10, lambda: "popover first frame" in log("parvel"), "a click showing the popover")
    with open(f"{work}/figures", "w") as file:
        file.write(f"{logged('status icon registered') - started:.3f} {logged('popover first frame') - clicked:.3f}\n")
    wait_for(10, lambda: parvel_window("popover"), "the popover on screen")
    time.sleep(0.5)  # sway moves it a moment after mapping it
    rect = parvel_window("popover")
    for axis, size in (("x", "width"), ("y", "height")):
        low, high = rect[axis], rect[axis] + rect[size]
        assert low - 40 <= icon[axis == "y"] <= high + 40, f"the popover is at {rect}, the icon at {icon}"
        assert output[axis] <= low and high <= output[axis] + output[size], f"the popover leaves the screen: {rect}"

    rfb.click(*icon)
    wait_for(5, lambda: not parvel_window("popover"), "a second click closing the popover")
    time.sleep(0.6)  # not a double click
    rfb.click(*icon)
    wait_for(10, lambda: parvel_window("popover"), "a third click showing the popover")
    time.sleep(0.5)
    rfb.key(0xFF1B)  # Escape: the popover has the keyboard
    wait_for(5, lambda: not parvel_window("popover"), "Escape closing the popover")

    choose_from_menu(rfb, icon, "Settings…")
    wait_for(10, lambda: parvel_window("settings"), "the settings window from the menu")
    # Closed as its title bar's button would, so the next menu shows on the bare desktop.
    output_of("swaymsg", '[title="^Parvel$"] kill')
    wait_for(5, lambda: not parvel_window("settings"), "the settings window closing")
    choose_from_menu(rfb, icon, "Quit Parvel")
    status = wait_for(10, lambda: os.path.exists(f"{work}/status") and open(f"{work}/status").read().strip(),
                      "Parvel quitting from the menu")
    assert status == "0", f"Parvel ended with status {status}"


try:
    run(*sys.argv[1:3])
    print("app_sway: passed")
finally:
    for process in reversed(processes):
        process.terminate()
        process.wait()
