#pragma once

#include "net/Error.h"
#include "net/Records.h"

#include <QByteArray>

#include <chrono>
#include <functional>
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

    // A read, telling "the service is not on the bus (yet)" apart from every
    // other reason for no bytes (no item, locked, refused).
    struct Read {
        std::optional<QByteArray> bytes;
        bool serviceMissing = false;
    };

    virtual ~CredentialStore() = default;

    // The item's bytes; none when there is no item or it cannot be read.
    virtual std::optional<QByteArray> read() = 0;
    // Only a store that lives in a separate service can be missing.
    virtual Read readItem() { return {read(), false}; }
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

// Reading again while the service is not there yet: started at login, the
// application may come up before the keyring daemon owns its bus name.
// Delays double from `firstDelay` up to `maxDelay`; reading stops once they
// would add up to more than `budget`.
struct ServiceWait {
    std::chrono::milliseconds firstDelay{250};
    std::chrono::milliseconds maxDelay{2000};
    std::chrono::milliseconds budget{10000};
};
using Sleep = std::function<void(std::chrono::milliseconds)>;

// load(), read again after each delay while the service is missing. Any
// other failure ends it at once. Blocks: never on the main thread.
std::optional<Connection> loadWaitingForService(CredentialStore& store, ServiceWait wait = {},
                                                const Sleep& sleep = {});

} // namespace Keychain
