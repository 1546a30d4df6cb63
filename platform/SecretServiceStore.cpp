#include "platform/SecretServiceStore.h"

#include <libsecret/secret.h>

#include <memory>
#include <mutex>

namespace {

// Owning handles for the GLib objects of one call.
struct GObjectUnref {
    void operator()(gpointer o) const { g_object_unref(o); }
};
struct HashTableUnref {
    void operator()(GHashTable* t) const { g_hash_table_unref(t); }
};
struct SecretValueUnref {
    void operator()(SecretValue* v) const { secret_value_unref(v); }
};
struct ItemListFree {
    void operator()(GList* l) const { g_list_free_full(l, g_object_unref); }
};
template <class T> using ObjectPtr = std::unique_ptr<T, GObjectUnref>;
using AttributesPtr = std::unique_ptr<GHashTable, HashTableUnref>;
using ValuePtr = std::unique_ptr<SecretValue, SecretValueUnref>;
using ItemsPtr = std::unique_ptr<GList, ItemListFree>;

// Collects a GError from a call and frees it.
class ErrorSlot {
public:
    GError** operator&() { return &m_error; }
    ~ErrorSlot() {
        if (m_error)
            g_error_free(m_error);
    }
    explicit operator bool() const { return m_error != nullptr; }
    // libsecret's (or D-Bus's) own words, without a closing full stop.
    QString text() const {
        QString words = m_error ? QString::fromUtf8(m_error->message) : QString();
        while (words.endsWith(u'.'))
            words.chop(1);
        return words;
    }
    // Nobody owns the service's name yet and the bus could not start it.
    bool serviceMissing() const {
        if (!m_error || m_error->domain != G_DBUS_ERROR)
            return false;
        switch (m_error->code) {
        case G_DBUS_ERROR_SERVICE_UNKNOWN:
        case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
        case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
        case G_DBUS_ERROR_SPAWN_FORK_FAILED:
        case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
        case G_DBUS_ERROR_SPAWN_CHILD_SIGNALED:
        case G_DBUS_ERROR_SPAWN_FAILED:
        case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
        case G_DBUS_ERROR_SPAWN_SERVICE_INVALID:
            return true;
        default:
            return false;
        }
    }

private:
    GError* m_error = nullptr;
};

// libsecret's calls, one at a time in the whole process: the application
// makes them on its store thread, but tests and the command line make them
// on the main thread as well, and libsecret's shared service object is not
// made for concurrent calls.
std::mutex& callLock() {
    static std::mutex lock;
    return lock;
}

Error notSaved(const QString& reason) {
    return ParvelError::message(
        QStringLiteral("Could not save the connection in the keyring: %1.").arg(reason));
}

AttributesPtr attributes(const QByteArray& service) {
    // The table refers to the bytes; both outlive every call that uses it.
    GHashTable* table = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(table, const_cast<char*>("service"),
                        const_cast<char*>(service.constData()));
    g_hash_table_insert(table, const_cast<char*>("account"),
                        const_cast<char*>(ConnectionStore::account));
    return AttributesPtr(table);
}

// The process-wide proxy of the service, with a transfer session open.
// libsecret keeps it; the reference we get is ours.
ObjectPtr<SecretService> connectService(ErrorSlot& error) {
    return ObjectPtr<SecretService>(
        secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error));
}

ItemsPtr search(SecretService* svc, GHashTable* attrs, int flags, ErrorSlot& error) {
    return ItemsPtr(
        secret_service_search_sync(svc, nullptr, attrs, SecretSearchFlags(flags), nullptr, &error));
}

ObjectPtr<SecretCollection> collection(SecretService* svc, const QByteArray& alias,
                                       ErrorSlot& error) {
    return ObjectPtr<SecretCollection>(secret_collection_for_alias_sync(
        svc, alias.constData(), SECRET_COLLECTION_NONE, nullptr, &error));
}

ValuePtr secretValue(const QByteArray& data) {
    // The JSON is UTF-8 text, so it is stored as text a keyring manager can show.
    return ValuePtr(secret_value_new(data.constData(), data.size(), "text/plain"));
}

} // namespace

SecretServiceStore::SecretServiceStore(QString service, QString collectionAlias)
    : m_service(service.toUtf8()), m_collectionAlias(collectionAlias.toUtf8()) {}

QString SecretServiceStore::label() {
    return QStringLiteral("Parvel connection");
}

QString SecretServiceStore::savedText() const {
    return QStringLiteral("Connection saved in the keyring.");
}

ConnectionStore::Loaded SecretServiceStore::load() {
    bool missing = false;
    const std::optional<QByteArray> bytes = readBytes(&missing);
    if (!bytes)
        return {std::nullopt, missing};
    auto connection = decode<Connection>(*bytes);
    if (!connection)
        return {}; // a damaged item stays where it is
    return {std::move(*connection)};
}

std::optional<QByteArray> SecretServiceStore::readBytes(bool* serviceMissing) {
    const std::lock_guard serial(callLock());
    ErrorSlot error;
    const auto svc = connectService(error);
    const auto attrs = attributes(m_service);
    // Unlocking may show the desktop's password prompt and wait for it.
    const auto items = svc ? search(svc.get(), attrs.get(),
                                    SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS, error)
                           : nullptr;
    if (serviceMissing)
        *serviceMissing = error.serviceMissing();
    if (!items)
        return std::nullopt;
    const ValuePtr value(secret_item_get_secret(SECRET_ITEM(items->data)));
    if (!value)
        return std::nullopt; // still locked
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    return QByteArray(bytes, qsizetype(length));
}

Result<void> SecretServiceStore::prepareSave() {
    const std::lock_guard serial(callLock());
    ErrorSlot error;
    const auto svc = connectService(error);
    if (!svc)
        return std::unexpected(notSaved(error.text()));
    // The item lives in the default collection (a first save puts it there),
    // so that collection is the one that has to be open.
    const auto target = collection(svc.get(), m_collectionAlias, error);
    if (error)
        return std::unexpected(notSaved(error.text()));
    if (!target)
        return std::unexpected(notSaved(QStringLiteral("it has no default collection")));
    if (!secret_collection_get_locked(target.get()))
        return {};
    GList* list = g_list_append(nullptr, target.get());
    const gint unlocked = secret_service_unlock_sync(svc.get(), list, nullptr, nullptr, &error);
    g_list_free(list);
    if (error)
        return std::unexpected(notSaved(error.text()));
    if (unlocked < 1)
        return std::unexpected(notSaved(QStringLiteral("it is locked")));
    return {};
}

Result<void> SecretServiceStore::save(const Connection& connection) {
    return writeBytes(encode(connection));
}

Result<void> SecretServiceStore::writeBytes(const QByteArray& data) {
    const std::lock_guard serial(callLock());
    ErrorSlot error;
    const auto svc = connectService(error);
    if (!svc)
        return std::unexpected(notSaved(error.text()));
    const auto attrs = attributes(m_service);
    const auto value = secretValue(data);
    // No unlocking here: prepareSave() is where a prompt may be shown. A
    // locked item fails with the service's own words instead.
    const auto items = search(svc.get(), attrs.get(), SECRET_SEARCH_NONE, error);
    if (error)
        return std::unexpected(notSaved(error.text()));
    if (items) {
        if (!secret_item_set_secret_sync(SECRET_ITEM(items->data), value.get(), nullptr, &error))
            return std::unexpected(notSaved(error.text()));
        return {};
    }
    const auto target = collection(svc.get(), m_collectionAlias, error);
    if (error)
        return std::unexpected(notSaved(error.text()));
    if (!target)
        return std::unexpected(notSaved(QStringLiteral("it has no default collection")));
    const QByteArray itemLabel = label().toUtf8();
    // No schema: the item carries exactly the two attributes and nothing else.
    const ObjectPtr<SecretItem> item(
        secret_item_create_sync(target.get(), nullptr, attrs.get(), itemLabel.constData(),
                                value.get(), SECRET_ITEM_CREATE_NONE, nullptr, &error));
    if (!item)
        return std::unexpected(
            notSaved(error ? error.text() : QStringLiteral("the item was not created")));
    return {};
}

void SecretServiceStore::clear() {
    const std::lock_guard serial(callLock());
    ErrorSlot error;
    const auto svc = connectService(error);
    if (!svc)
        return;
    const auto attrs = attributes(m_service);
    secret_service_clear_sync(svc.get(), nullptr, attrs.get(), nullptr, &error);
}
