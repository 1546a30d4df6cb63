#pragma once

#include "platform/Services.h"

// The connection store of this user: the Secret Service, or the owner-only
// file where no session bus is configured.
class KeychainStore final : public ConnectionStore {
public:
    std::optional<Connection> load() override;
    Result<void> save(const Connection& connection) override;
    void clear() override;
};
