#include "platform/KeychainStore.h"

#include "net/Keychain.h"

std::optional<Connection> KeychainStore::load() {
    return Keychain::load();
}

Result<void> KeychainStore::save(const Connection& connection) {
    return Keychain::save(connection);
}

void KeychainStore::clear() {
    Keychain::clear();
}
