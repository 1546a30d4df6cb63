#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <libsecret/secret.h>

#include <cstring>
#include <memory>

// Direct access to the Secret Service of the test's private D-Bus session,
// beside the code under test. Fails where scripts/test promised one
// (PARVEL_REQUIRE_SECRET_SERVICE), skips where nobody did.
#define PARVEL_REQUIRE_SECRET_SERVICE(available)                                                   \
    do {                                                                                           \
        if (!(available)) {                                                                        \
            if (qEnvironmentVariableIsSet("PARVEL_REQUIRE_SECRET_SERVICE"))                        \
                QFAIL("no Secret Service on the session bus");                                     \
            QSKIP("no Secret Service on the session bus: run through scripts/test");               \
        }                                                                                          \
    } while (false)

namespace SecretServiceKit {

using Reply = std::unique_ptr<GVariant, decltype(&g_variant_unref)>;

// One method call of the Secret Service (or `destination`); none, with the
// error's text in `error`, when it fails.
inline Reply call(const char* path, const char* interface, const char* method, GVariant* parameters,
                  const char* replyType, QString* error = nullptr,
                  const char* destination = "org.freedesktop.secrets") {
    g_autoptr(GVariant) owned = parameters ? g_variant_ref_sink(parameters) : nullptr;
    // Only ever the configured bus: g_bus_get would autolaunch one otherwise.
    g_autoptr(GDBusConnection) bus = qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")
                                         ? nullptr
                                         : g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    g_autoptr(GError) failure = nullptr;
    Reply reply(bus ? g_dbus_connection_call_sync(bus, destination, path, interface, method, owned,
                                                  G_VARIANT_TYPE(replyType),
                                                  G_DBUS_CALL_FLAGS_NO_AUTO_START, 10000, nullptr,
                                                  &failure)
                    : nullptr,
                g_variant_unref);
    if (!reply && error)
        *error = failure ? QString::fromUtf8(failure->message) : QStringLiteral("no session bus");
    return reply;
}

// org.freedesktop.secrets is on the configured session bus. Never starts a bus.
inline bool available() {
    const Reply reply = call("/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                             g_variant_new("(s)", "org.freedesktop.secrets"), "(b)", nullptr,
                             "org.freedesktop.DBus");
    gboolean owned = false;
    if (reply)
        g_variant_get(reply.get(), "(b)", &owned);
    return owned;
}

struct StoredItem {
    QMap<QString, QString> attributes;
    QByteArray secret; // empty while locked
};

// Every item whose service attribute is `service`, locked ones included.
inline QList<StoredItem> items(const QString& service) {
    QList<StoredItem> found;
    g_autoptr(SecretService) svc =
        secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, nullptr);
    if (!svc)
        return found;
    QByteArray serviceBytes = service.toUtf8();
    g_autoptr(GHashTable) query = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(query, const_cast<char*>("service"), serviceBytes.data());
    g_autolist(SecretItem) list = secret_service_search_sync(
        svc, nullptr, query, SecretSearchFlags(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS),
        nullptr, nullptr);
    for (GList* l = list; l; l = l->next) {
        SecretItem* item = SECRET_ITEM(l->data);
        StoredItem& stored = found.emplace_back();
        g_autoptr(GHashTable) attributes = secret_item_get_attributes(item);
        GHashTableIter it;
        gpointer key = nullptr;
        gpointer value = nullptr;
        g_hash_table_iter_init(&it, attributes);
        while (g_hash_table_iter_next(&it, &key, &value))
            stored.attributes.insert(QString::fromUtf8(static_cast<const char*>(key)),
                                     QString::fromUtf8(static_cast<const char*>(value)));
        g_autoptr(SecretValue) secret = secret_item_get_secret(item);
        gsize length = 0;
        const gchar* bytes = secret ? secret_value_get(secret, &length) : nullptr;
        stored.secret = QByteArray(bytes, qsizetype(length));
    }
    return found;
}

// A collection with a known password (GNOME Keyring's own interface, so no
// prompt), the default collection for its lifetime: GNOME Keyring knows no
// other alias. The destructor gives the alias back and deletes it.
class TestCollection {
public:
    TestCollection() {
        const Reply previous = secrets("ReadAlias", g_variant_new("(s)", "default"), "(o)");
        GVariant* secret = previous ? masterSecret() : nullptr;
        if (!secret)
            return;
        GVariantBuilder properties;
        g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&properties, "{sv}", "org.freedesktop.Secret.Collection.Label",
                              g_variant_new_string("Parvel test"));
        const Reply created =
            secrets("CreateWithMasterPassword",
                    g_variant_new("(a{sv}@(oayays))", &properties, secret), "(o)", keyring);
        if (!created)
            return;
        m_previousDefault = objectPath(previous.get());
        m_path = objectPath(created.get());
        secrets("SetAlias", g_variant_new("(so)", "default", m_path.constData()), "()");
    }
    ~TestCollection() {
        if (m_path.isEmpty())
            return;
        unlock();
        secrets("SetAlias", g_variant_new("(so)", "default", m_previousDefault.constData()), "()");
        call(m_path.constData(), "org.freedesktop.Secret.Collection", "Delete", nullptr, "(o)");
    }

    bool isValid() const { return !m_path.isEmpty(); }
    QString error() const { return m_error; }
    bool lock() {
        const char* paths[] = {m_path.constData()};
        return bool(secrets("Lock", g_variant_new("(@ao)", g_variant_new_objv(paths, 1)), "(aoo)"));
    }
    bool unlock() {
        GVariant* secret = masterSecret();
        return secret &&
               secrets("UnlockWithMasterPassword",
                       g_variant_new("(o@(oayays))", m_path.constData(), secret), "()", keyring);
    }

private:
    static constexpr auto keyring = "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface";

    Reply secrets(const char* method, GVariant* parameters, const char* replyType,
                  const char* interface = "org.freedesktop.Secret.Service") {
        return call("/org/freedesktop/secrets", interface, method, parameters, replyType, &m_error);
    }
    // The master password as a Secret Service secret, sent in a plain session.
    GVariant* masterSecret() {
        const Reply opened = secrets(
            "OpenSession", g_variant_new("(sv)", "plain", g_variant_new_string("")), "(vo)");
        if (!opened)
            return nullptr;
        g_autoptr(GVariant) output = nullptr;
        const gchar* session = nullptr;
        g_variant_get(opened.get(), "(v&o)", &output, &session);
        return g_variant_new("(o@ay@ays)", session, bytes(""), bytes("parvel-test-password"),
                             "text/plain");
    }
    static GVariant* bytes(const char* text) {
        return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, text, std::strlen(text), 1);
    }
    static QByteArray objectPath(GVariant* reply) {
        const gchar* path = nullptr;
        g_variant_get(reply, "(&o)", &path);
        return path;
    }

    QByteArray m_path;
    QByteArray m_previousDefault;
    QString m_error;
};

} // namespace SecretServiceKit
