#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <libsecret/secret.h>

#include <memory>

// Direct access to the Secret Service of the test's private D-Bus session,
// beside the code under test. Fails where scripts/test promised one
// (PARVEL_REQUIRE_SECRET_SERVICE), skips where nobody did.
#define PARVEL_REQUIRE_SECRET_SERVICE(available)                                                   \
    do {                                                                                           \
        if (!(available) && qEnvironmentVariableIsSet("PARVEL_REQUIRE_SECRET_SERVICE"))            \
            QFAIL("no Secret Service on the session bus");                                         \
        if (!(available))                                                                          \
            QSKIP("no Secret Service on the session bus: run through scripts/test");               \
    } while (false)

namespace SecretServiceKit {

using Reply = std::unique_ptr<GVariant, decltype(&g_variant_unref)>;

// One method call of the Secret Service; none, with a warning, when it fails.
inline Reply call(const char* path, const char* interface, const char* method, GVariant* parameters,
                  const char* replyType) {
    g_autoptr(GVariant) owned = g_variant_ref_sink(parameters);
    // Only ever the configured bus: g_bus_get would autolaunch one otherwise.
    g_autoptr(GDBusConnection) bus = qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")
                                         ? nullptr
                                         : g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    g_autoptr(GError) failure = nullptr;
    GVariant* answer =
        bus ? g_dbus_connection_call_sync(bus, "org.freedesktop.secrets", path, interface, method,
                                          owned, G_VARIANT_TYPE(replyType),
                                          G_DBUS_CALL_FLAGS_NO_AUTO_START, 10000, nullptr, &failure)
            : nullptr;
    if (failure)
        qWarning("%s", failure->message);
    return Reply(answer, g_variant_unref);
}

// org.freedesktop.secrets answers on the configured session bus. Never starts a bus.
inline bool available() {
    return bool(call("/", "org.freedesktop.DBus.Peer", "Ping", g_variant_new("()"), "()"));
}

// Locks or unlocks the login collection, which scripts/test-session created
// with this password. GNOME Keyring's own interface takes the password
// directly, in a plain session, so no prompt is ever shown.
inline bool setLoginLocked(bool locked) {
    static constexpr auto service = "/org/freedesktop/secrets";
    static constexpr auto login = "/org/freedesktop/secrets/collection/login";
    if (locked)
        return bool(call(service, "org.freedesktop.Secret.Service", "Lock",
                         g_variant_new("(@ao)", g_variant_new_objv(&login, 1)), "(aoo)"));
    const Reply opened = call(service, "org.freedesktop.Secret.Service", "OpenSession",
                              g_variant_new("(sv)", "plain", g_variant_new_string("")), "(vo)");
    const gchar* session = nullptr;
    if (opened)
        g_variant_get_child(opened.get(), 1, "&o", &session);
    const auto bytes = [](const char* text) {
        return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, text, qstrlen(text), 1);
    };
    return opened && call(service, "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface",
                          "UnlockWithMasterPassword",
                          g_variant_new("(o(o@ay@ays))", login, session, bytes(""),
                                        bytes("parvel-test"), "text/plain"),
                          "()");
}

// The secret of every item whose service attribute is `service`, locked ones
// included (empty while locked). An item with attributes other than that and
// account = "connection" shows as "unexpected attributes".
inline QList<QByteArray> secrets(const char* service) {
    QList<QByteArray> found;
    g_autoptr(GHashTable) query = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(query, const_cast<char*>("service"), const_cast<char*>(service));
    g_autolist(SecretItem) list = secret_service_search_sync(
        nullptr, nullptr, query, SecretSearchFlags(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS),
        nullptr, nullptr);
    for (GList* l = list; l; l = l->next) {
        g_autoptr(GHashTable) attributes = secret_item_get_attributes(SECRET_ITEM(l->data));
        // GNOME Keyring may add its generic schema by itself, at times.
        const guint count =
            g_hash_table_size(attributes) - g_hash_table_contains(attributes, "xdg:schema");
        const auto account = static_cast<const char*>(g_hash_table_lookup(attributes, "account"));
        g_autoptr(SecretValue) secret = secret_item_get_secret(SECRET_ITEM(l->data));
        found << (count == 2 && g_strcmp0(account, "connection") == 0
                      ? QByteArray(secret ? secret_value_get_text(secret) : nullptr)
                      : QByteArray("unexpected attributes"));
    }
    return found;
}

} // namespace SecretServiceKit
