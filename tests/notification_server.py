"""The desktop's notification server as far as Parvel sees it, for app_e2e:
owns org.freedesktop.Notifications on the session bus, offers actions, and
writes each notification's body as a line of LOG. LOG.ready appears once the
name is owned.

    /usr/bin/python3 notification_server.py LOG
"""
import sys

from gi.repository import Gio, GLib

NODE = Gio.DBusNodeInfo.new_for_xml("""<node>
<interface name="org.freedesktop.Notifications">
  <method name="GetCapabilities"><arg type="as" direction="out"/></method>
  <method name="Notify">
    <arg type="s"/><arg type="u"/><arg type="s"/><arg type="s"/><arg type="s"/>
    <arg type="as"/><arg type="a{sv}"/><arg type="i"/><arg type="u" direction="out"/>
  </method>
</interface></node>""")
log = open(sys.argv[1], "a", buffering=1)
sent = 0


def call(connection, sender, path, interface, method, arguments, invocation):
    global sent
    if method == "GetCapabilities":
        invocation.return_value(GLib.Variant("(as)", (["actions", "body"],)))
        return
    sent += 1
    log.write(arguments.unpack()[4].replace("\n", " ") + "\n")
    invocation.return_value(GLib.Variant("(u)", (sent,)))


def bus_acquired(connection, name):
    connection.register_object("/org/freedesktop/Notifications", NODE.interfaces[0], call)


def name_acquired(connection, name):
    open(sys.argv[1] + ".ready", "w").close()


Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.Notifications",
                 Gio.BusNameOwnerFlags.NONE, bus_acquired, name_acquired, None)
GLib.MainLoop().run()
