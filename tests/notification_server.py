"""app_e2e's notification server, with actions: each notification's body becomes
a line of LOG.  Usage: /usr/bin/python3 notification_server.py LOG"""
import sys

from gi.repository import Gio, GLib

NODE = Gio.DBusNodeInfo.new_for_xml(
    '<node><interface name="org.freedesktop.Notifications">'
    '<method name="GetCapabilities"><arg type="as" direction="out"/></method>'
    '<method name="Notify"><arg type="s"/><arg type="u"/><arg type="s"/><arg type="s"/>'
    '<arg type="s"/><arg type="as"/><arg type="a{sv}"/><arg type="i"/>'
    '<arg type="u" direction="out"/></method></interface></node>')
log = open(sys.argv[1], "a", buffering=1)


def call(connection, sender, path, interface, method, arguments, invocation):
    if method == "GetCapabilities":
        invocation.return_value(GLib.Variant("(as)", (["actions", "body"],)))
    else:
        log.write(arguments.unpack()[4].replace("\n", " ") + "\n")
        invocation.return_value(GLib.Variant("(u)", (1,)))


Gio.bus_own_name(
    Gio.BusType.SESSION, "org.freedesktop.Notifications", Gio.BusNameOwnerFlags.NONE,
    lambda bus, _: bus.register_object("/org/freedesktop/Notifications", NODE.interfaces[0], call))
GLib.MainLoop().run()
