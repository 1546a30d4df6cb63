#pragma once

#include "net/Error.h"
#include "net/Records.h"

#include <QByteArray>

#include <memory>
#include <optional>

// The seam under Keychain: one item holding a blob, identified by the
// attributes service = Keychain::service and account = "connection". The
// operations mirror a platform keychain's (read, update, add, delete), so
// Keychain can do "update, then add when nothing was found" over any of them.
class CredentialStore {
public:
    // How a write ended. `code` is the backend's own status: libsecret/GError
    // codes for the Secret Service, errno values for the file.
    struct Status {
        enum class Kind { Done, NotFound, Failed };
        Kind kind = Kind::Done;
        int code = 0;

        static Status done() { return {}; }
        static Status notFound(int code) { return {Kind::NotFound, code}; }
        static Status failed(int code) { return {Kind::Failed, code}; }
        bool operator==(const Status&) const = default;
    };

    virtual ~CredentialStore() = default;

    // The item's bytes; none when there is no item or it cannot be read.
    virtual std::optional<QByteArray> read() = 0;
    // Replaces the bytes of the existing item; NotFound when there is none.
    virtual Status update(const QByteArray& data) = 0;
    // Creates the item; never NotFound.
    virtual Status add(const QByteArray& data) = 0;
    // Deletes the item; a missing item or a refusal is ignored.
    virtual void remove() = 0;
};

namespace Keychain {

// The store this environment calls for. The Secret Service only when a
// session bus is configured (DBUS_SESSION_BUS_ADDRESS, or a socket at
// $XDG_RUNTIME_DIR/bus); otherwise the owner-only file. Decided from the
// environment alone, so nothing ever autolaunches a bus.
std::unique_ptr<CredentialStore> systemStore();

// The operations of Keychain.h over a given store.
std::optional<Connection> load(CredentialStore& store);
Result<void> save(CredentialStore& store, const Connection& connection);
void clear(CredentialStore& store);

} // namespace Keychain
