#include "platform/ConnectionStore.h"

#include "platform/FileCredentialStore.h"
#include "platform/SecretServiceStore.h"
#include "platform/SessionBus.h"

#include <algorithm>
#include <thread>

std::shared_ptr<ConnectionStore> systemConnectionStore() {
    if (SessionBus::configured())
        return std::make_shared<SecretServiceStore>();
    return std::make_shared<FileCredentialStore>(FileCredentialStore::defaultFolder());
}

std::optional<Connection> loadWaitingForService(ConnectionStore& store, ServiceWait wait,
                                                const Sleep& sleep) {
    std::chrono::milliseconds delay = wait.firstDelay;
    std::chrono::milliseconds waited{0};
    for (;;) {
        ConnectionStore::Loaded loaded = store.load();
        if (!loaded.serviceMissing || waited + delay > wait.budget)
            return loaded.connection;
        if (sleep)
            sleep(delay);
        else
            std::this_thread::sleep_for(delay);
        waited += delay;
        delay = std::min(delay * 2, wait.maxDelay);
    }
}
