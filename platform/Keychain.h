#pragma once

#include "net/Error.h"
#include "net/Records.h"
#include "platform/Services.h"

#include <optional>

// The one stored Connection of this computer. Backed by the Secret Service
// when a session bus is configured, otherwise by an owner-only file under
// $XDG_CONFIG_HOME/parvel. Every call goes to the store; nothing is cached.
namespace Keychain {

// The item's service attribute. Never change it: a stored connection would
// no longer be found.
inline constexpr auto service = "dev.parvel.Parvel";
inline constexpr auto account = "connection";

// None when nothing is stored, the store refuses, or the bytes are not a
// Connection (a damaged item is left in place). May block on an unlock
// prompt: never call it on the main thread of the application.
std::optional<Connection> load();

// Update first; when nothing was found, add.
Result<void> save(const Connection& connection);

// Never fails; a missing item is fine.
void clear();

} // namespace Keychain

// The connection store of this user as the model sees it: the Secret
// Service, or the owner-only file where no session bus is configured.
class KeychainStore final : public ConnectionStore {
public:
    // With `waitForService`, load() reads again for a few seconds while the
    // Secret Service is not on the bus yet (the application started at login).
    // The CLI reads once: at a terminal the service is either there or not.
    explicit KeychainStore(bool waitForService = false);

    std::optional<Connection> load() override;
    Result<void> save(const Connection& connection) override;
    void clear() override;

private:
    bool m_waitForService = false;
};
