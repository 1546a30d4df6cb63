#include "platform/Keychain.h"

#include "platform/CredentialStore.h"
#include "platform/FileCredentialStore.h"
#include "platform/SecretServiceStore.h"
#include "platform/SessionBus.h"

#include <QFileInfo>

#include <algorithm>
#include <thread>

namespace Keychain {

std::unique_ptr<CredentialStore> systemStore() {
    if (SessionBus::configured())
        return std::make_unique<SecretServiceStore>();
    return std::make_unique<FileCredentialStore>(FileCredentialStore::defaultFolder());
}

std::optional<Connection> load(CredentialStore& store) {
    return loadWaitingForService(store, ServiceWait{.budget = std::chrono::milliseconds(0)});
}

std::optional<Connection> loadWaitingForService(CredentialStore& store, ServiceWait wait,
                                                const Sleep& sleep) {
    std::chrono::milliseconds delay = wait.firstDelay;
    std::chrono::milliseconds waited{0};
    for (;;) {
        CredentialStore::Read read = store.readItem();
        if (read.bytes) {
            auto connection = decode<Connection>(*read.bytes);
            if (!connection)
                return std::nullopt; // a damaged item stays where it is
            return *connection;
        }
        if (!read.serviceMissing || waited + delay > wait.budget)
            return std::nullopt;
        if (sleep)
            sleep(delay);
        else
            std::this_thread::sleep_for(delay);
        waited += delay;
        delay = std::min(delay * 2, wait.maxDelay);
    }
}

Result<void> save(CredentialStore& store, const Connection& connection) {
    const QByteArray data = encode(connection);
    using Kind = CredentialStore::Status::Kind;

    const CredentialStore::Status updated = store.update(data);
    if (updated.kind == Kind::NotFound) {
        const CredentialStore::Status added = store.add(data);
        if (added.kind != Kind::Done)
            return std::unexpected(ParvelError::message(
                QStringLiteral("Could not save the connection in Keychain (%1).").arg(added.code)));
        return {};
    }
    if (updated.kind != Kind::Done)
        return std::unexpected(ParvelError::message(
            QStringLiteral("Could not update the connection in Keychain (%1).").arg(updated.code)));
    return {};
}

void clear(CredentialStore& store) {
    store.remove();
}

std::optional<Connection> load() {
    return load(*systemStore());
}

Result<void> save(const Connection& connection) {
    return save(*systemStore(), connection);
}

void clear() {
    clear(*systemStore());
}

} // namespace Keychain

KeychainStore::KeychainStore(bool waitForService) : m_waitForService(waitForService) {}

std::optional<Connection> KeychainStore::load() {
    if (m_waitForService)
        return Keychain::loadWaitingForService(*Keychain::systemStore());
    return Keychain::load();
}

Result<void> KeychainStore::save(const Connection& connection) {
    return Keychain::save(connection);
}

void KeychainStore::clear() {
    Keychain::clear();
}
