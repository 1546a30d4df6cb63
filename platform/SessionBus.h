#pragma once

#include <QDBusConnection>

// Whether this process may talk to a D-Bus session bus. Configured means
// DBUS_SESSION_BUS_ADDRESS names one, or a bus socket sits at
// $XDG_RUNTIME_DIR/bus (libdbus and GLib both connect there by themselves
// when the address is unset). Decided from the environment alone, before
// any connection is made: without a configured bus, both libraries would
// try to autolaunch one, which can hang on a keyring prompt.
namespace SessionBus {

bool configured();

// configured(), and Qt's connection to it is up. Inline so that the
// keyring's users (the import mode) need no Qt D-Bus.
inline bool connected() {
    return configured() && QDBusConnection::sessionBus().isConnected();
}

} // namespace SessionBus
