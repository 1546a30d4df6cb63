#include "platform/SecretServiceStore.h"

#include "platform/Keychain.h"

#include <libsecret/secret.h>

#include <memory>

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
    int code() const { return m_error ? m_error->code : 0; }
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

AttributesPtr attributes(const QByteArray& service) {
    // The table refers to the bytes; both outlive every call that uses it.
    GHashTable* table = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(table, const_cast<char*>("service"),
                        const_cast<char*>(service.constData()));
    g_hash_table_insert(table, const_cast<char*>("account"), const_cast<char*>(Keychain::account));
    return AttributesPtr(table);
}

// The process-wide proxy of the service, with a transfer session open.
// libsecret keeps it; the reference we get is ours.
ObjectPtr<SecretService> service(ErrorSlot& error) {
    return ObjectPtr<SecretService>(
        secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error));
}

ItemsPtr search(SecretService* svc, GHashTable* attrs, int flags, ErrorSlot& error) {
    return ItemsPtr(
        secret_service_search_sync(svc, nullptr, attrs, SecretSearchFlags(flags), nullptr, &error));
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

std::optional<QByteArray> SecretServiceStore::read() {
    return readItem().bytes;
}

CredentialStore::Read SecretServiceStore::readItem() {
    ErrorSlot error;
    const auto svc = service(error);
    if (!svc)
        return {std::nullopt, error.serviceMissing()};
    const auto attrs = attributes(m_service);
    // Unlocking may show the desktop's password prompt and wait for it; the
    // callers run load() off the main thread for that reason.
    const auto items =
        search(svc.get(), attrs.get(), SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS, error);
    if (error || !items)
        return {std::nullopt, error.serviceMissing()};
    const ValuePtr value(secret_item_get_secret(SECRET_ITEM(items->data)));
    if (!value)
        return {}; // still locked
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    return {QByteArray(bytes, qsizetype(length))};
}

CredentialStore::Status SecretServiceStore::update(const QByteArray& data) {
    ErrorSlot error;
    const auto svc = service(error);
    if (!svc)
        return Status::failed(error.code());
    const auto attrs = attributes(m_service);
    // No unlocking here: save runs on the main thread and must not wait on a
    // prompt. A locked item fails with its status instead.
    const auto items = search(svc.get(), attrs.get(), SECRET_SEARCH_NONE, error);
    if (error)
        return Status::failed(error.code());
    if (!items)
        return Status::notFound(SECRET_ERROR_NO_SUCH_OBJECT);
    const auto value = secretValue(data);
    if (!secret_item_set_secret_sync(SECRET_ITEM(items->data), value.get(), nullptr, &error))
        return Status::failed(error.code());
    return Status::done();
}

CredentialStore::Status SecretServiceStore::add(const QByteArray& data) {
    ErrorSlot error;
    const auto svc = service(error);
    if (!svc)
        return Status::failed(error.code());
    const ObjectPtr<SecretCollection> collection(secret_collection_for_alias_sync(
        svc.get(), m_collectionAlias.constData(), SECRET_COLLECTION_NONE, nullptr, &error));
    if (error)
        return Status::failed(error.code());
    if (!collection)
        return Status::failed(SECRET_ERROR_NO_SUCH_OBJECT); // no such alias
    const auto attrs = attributes(m_service);
    const auto value = secretValue(data);
    const QByteArray itemLabel = label().toUtf8();
    // No schema: the item carries exactly the two attributes and nothing else.
    const ObjectPtr<SecretItem> item(
        secret_item_create_sync(collection.get(), nullptr, attrs.get(), itemLabel.constData(),
                                value.get(), SECRET_ITEM_CREATE_NONE, nullptr, &error));
    if (!item)
        return Status::failed(error ? error.code() : SECRET_ERROR_PROTOCOL);
    return Status::done();
}

void SecretServiceStore::remove() {
    ErrorSlot error;
    const auto svc = service(error);
    if (!svc)
        return;
    const auto attrs = attributes(m_service);
    secret_service_clear_sync(svc.get(), nullptr, attrs.get(), nullptr, &error);
}
