#include "SecretServiceKit.h"

#include <libsecret/secret.h>

namespace SecretServiceKit {
namespace {

constexpr auto busName = "org.freedesktop.secrets";
constexpr auto servicePath = "/org/freedesktop/secrets";
constexpr auto serviceInterface = "org.freedesktop.Secret.Service";
constexpr auto keyringInterface = "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface";
constexpr auto password = "parvel-test-password";

GDBusConnection* sessionBus() {
    // Only ever the configured bus: g_bus_get would autolaunch one otherwise.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return nullptr;
    return g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr); // a shared singleton
}

// One method call; the reply, or none with the error's text in `error`.
GVariant* call(GDBusConnection* bus, const char* path, const char* interface, const char* method,
               GVariant* parameters, const char* replyType, QString* error) {
    GError* failure = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, busName, path, interface, method, parameters, G_VARIANT_TYPE(replyType),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, 10000, nullptr, &failure);
    if (!reply) {
        if (error)
            *error = QString::fromUtf8(failure->message);
        g_error_free(failure);
    }
    return reply;
}

// The master password as a Secret Service secret, sent in a plain session.
GVariant* masterSecret(GDBusConnection* bus, QString* error) {
    GVariant* opened =
        call(bus, servicePath, serviceInterface, "OpenSession",
             g_variant_new("(sv)", "plain", g_variant_new_string("")), "(vo)", error);
    if (!opened)
        return nullptr;
    const gchar* session = nullptr;
    GVariant* output = nullptr;
    g_variant_get(opened, "(v&o)", &output, &session);
    GVariant* secret = g_variant_new(
        "(o@ay@ays)", session, g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
        g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, password, strlen(password), 1),
        "text/plain");
    g_variant_unref(output);
    g_variant_unref(opened);
    return secret;
}

} // namespace

bool available() {
    GDBusConnection* bus = sessionBus();
    if (!bus)
        return false;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", busName), G_VARIANT_TYPE("(b)"),
        G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, nullptr);
    gboolean owned = false;
    if (reply) {
        g_variant_get(reply, "(b)", &owned);
        g_variant_unref(reply);
    }
    g_object_unref(bus);
    return owned;
}

QList<StoredItem> items(const QString& service) {
    QList<StoredItem> found;
    SecretService* svc = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, nullptr);
    if (!svc)
        return found;
    const QByteArray serviceBytes = service.toUtf8();
    GHashTable* query = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(query, const_cast<char*>("service"),
                        const_cast<char*>(serviceBytes.data()));
    GList* list = secret_service_search_sync(
        svc, nullptr, query, SecretSearchFlags(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS),
        nullptr, nullptr);
    for (GList* l = list; l; l = l->next) {
        SecretItem* item = SECRET_ITEM(l->data);
        StoredItem stored;
        GHashTable* attributes = secret_item_get_attributes(item);
        GHashTableIter it;
        gpointer key = nullptr;
        gpointer value = nullptr;
        g_hash_table_iter_init(&it, attributes);
        while (g_hash_table_iter_next(&it, &key, &value))
            stored.attributes.insert(QString::fromUtf8(static_cast<const char*>(key)),
                                     QString::fromUtf8(static_cast<const char*>(value)));
        g_hash_table_unref(attributes);
        gchar* label = secret_item_get_label(item);
        stored.label = QString::fromUtf8(label);
        g_free(label);
        if (SecretValue* secret = secret_item_get_secret(item)) {
            gsize length = 0;
            const gchar* bytes = secret_value_get(secret, &length);
            stored.secret = QByteArray(bytes, qsizetype(length));
            secret_value_unref(secret);
        }
        found << stored;
    }
    g_list_free_full(list, g_object_unref);
    g_hash_table_unref(query);
    g_object_unref(svc);
    return found;
}

TestCollection::TestCollection() {
    GDBusConnection* bus = sessionBus();
    if (!bus) {
        m_error = QStringLiteral("no session bus");
        return;
    }
    if (GVariant* secret = masterSecret(bus, &m_error)) {
        GVariantBuilder properties;
        g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&properties, "{sv}", "org.freedesktop.Secret.Collection.Label",
                              g_variant_new_string("Parvel test"));
        GVariant* created =
            call(bus, servicePath, keyringInterface, "CreateWithMasterPassword",
                 g_variant_new("(a{sv}@(oayays))", &properties, secret), "(o)", &m_error);
        if (created) {
            const gchar* path = nullptr;
            g_variant_get(created, "(&o)", &path);
            m_path = path;
            g_variant_unref(created);
            if (GVariant* previous = call(bus, servicePath, serviceInterface, "ReadAlias",
                                          g_variant_new("(s)", "default"), "(o)", &m_error)) {
                const gchar* previousPath = nullptr;
                g_variant_get(previous, "(&o)", &previousPath);
                m_previousDefault = previousPath;
                g_variant_unref(previous);
            }
            GVariant* aliased =
                call(bus, servicePath, serviceInterface, "SetAlias",
                     g_variant_new("(so)", "default", m_path.constData()), "()", &m_error);
            if (aliased)
                g_variant_unref(aliased);
        }
    }
    g_object_unref(bus);
}

TestCollection::~TestCollection() {
    if (m_path.isEmpty())
        return;
    unlock();
    GDBusConnection* bus = sessionBus();
    if (!bus)
        return;
    if (!m_previousDefault.isEmpty())
        if (GVariant* restored = call(
                bus, servicePath, serviceInterface, "SetAlias",
                g_variant_new("(so)", "default", m_previousDefault.constData()), "()", nullptr))
            g_variant_unref(restored);
    if (GVariant* deleted = call(bus, m_path.constData(), "org.freedesktop.Secret.Collection",
                                 "Delete", nullptr, "(o)", nullptr))
        g_variant_unref(deleted);
    g_object_unref(bus);
}

bool TestCollection::lock() {
    GDBusConnection* bus = sessionBus();
    if (!bus)
        return false;
    const char* paths[] = {m_path.constData()};
    GVariant* locked =
        call(bus, servicePath, serviceInterface, "Lock",
             g_variant_new("(@ao)", g_variant_new_objv(paths, 1)), "(aoo)", &m_error);
    if (locked)
        g_variant_unref(locked);
    g_object_unref(bus);
    return locked != nullptr;
}

bool TestCollection::unlock() {
    GDBusConnection* bus = sessionBus();
    if (!bus)
        return false;
    GVariant* unlocked = nullptr;
    if (GVariant* secret = masterSecret(bus, &m_error))
        unlocked = call(bus, servicePath, keyringInterface, "UnlockWithMasterPassword",
                        g_variant_new("(o@(oayays))", m_path.constData(), secret), "()", &m_error);
    if (unlocked)
        g_variant_unref(unlocked);
    g_object_unref(bus);
    return unlocked != nullptr;
}

} // namespace SecretServiceKit
