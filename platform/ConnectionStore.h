#pragma once

#include "net/Error.h"
#include "net/Records.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// Where this computer's one Connection is kept: an item in the Secret
// Service, or an owner-only file where no session bus is configured. Every
// call goes to the store and may block (the Secret Service can wait on an
// unlock prompt, or hang): the application calls it off the main thread.
class ConnectionStore {
public:
    // The item's service attribute. Never change it: a stored connection would
    // no longer be found.
    static constexpr auto service = "dev.parvel.Parvel";
    static constexpr auto account = "connection";

    struct Loaded {
        // None when nothing is stored, the store refuses, or the bytes are not
        // a Connection (a damaged item is left in place).
        std::optional<Connection> connection;
        // Nobody answers for the store yet (the keyring daemon is not on the
        // bus): reading again later may find it.
        bool serviceMissing = false;
    };

    virtual ~ConnectionStore() = default;

    virtual Loaded load() = 0;
    // Makes sure save() can write: unlocks the keyring, which may show the
    // desktop's prompt. Fails with the text save() would fail with.
    virtual Result<void> prepareSave() = 0;
    // Replaces the stored connection, or stores the first one.
    virtual Result<void> save(const Connection& connection) = 0;
    // Never fails; a missing item is fine.
    virtual void clear() = 0;
    // What the command line says after a save: "Connection saved in …".
    virtual QString savedText() const = 0;
};

// The store of this session, chosen from the environment alone so that
// nothing ever autolaunches a bus: the Secret Service when a session bus is
// configured (SessionBus::configured), otherwise the owner-only file under
// $XDG_CONFIG_HOME/parvel.
std::shared_ptr<ConnectionStore> systemConnectionStore();

// Reading again while the service is not there yet: started at login, the
// application may come up before the keyring daemon owns its bus name.
// Delays double from `firstDelay` up to `maxDelay`; reading stops once they
// would add up to more than `budget`. Any other answer ends it at once.
struct ServiceWait {
    std::chrono::milliseconds firstDelay{250};
    std::chrono::milliseconds maxDelay{2000};
    std::chrono::milliseconds budget{10000};
};
using Sleep = std::function<void(std::chrono::milliseconds)>;
std::optional<Connection> loadWaitingForService(ConnectionStore& store, ServiceWait wait = {},
                                                const Sleep& sleep = {});
