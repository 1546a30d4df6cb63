#include "model/ParvelModel.h"

#include "net/Endpoints.h"

#include <QFuture>
#include <QPointer>
#include <QPromise>

#include <QCoro/QCoroFuture>

#include <system_error>
#include <thread>

namespace {

using StoredConnection = std::optional<Connection>;

// Runs the store's read on a thread of its own: the Secret Service may hold
// it on an unlock prompt for as long as the user takes, and the main thread
// must stay responsive meanwhile. A detached thread (not the shared pool)
// so that a prompt nobody answers never holds up the end of the process.
QFuture<StoredConnection> loadInBackground(std::shared_ptr<ConnectionStore> store) {
    auto promise = std::make_shared<QPromise<StoredConnection>>();
    QFuture<StoredConnection> future = promise->future();
    promise->start();
    auto read = [promise, store] {
        promise->addResult(store ? store->load() : StoredConnection());
        promise->finish();
    };
    try {
        std::thread(read).detach();
    } catch (const std::system_error&) {
        // No thread to be had: reading here is better than never reading.
        read();
    }
    return future;
}

// The typed address without surrounding white space (Unicode-aware,
// line breaks included), then without "/" at either end.
QString baseAddress(const QString& typed) {
    const QString text = typed.trimmed();
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u'/')
        ++begin;
    while (end > begin && text.at(end - 1) == u'/')
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

QCoro::Task<> ParvelModel::readStoredConnection(std::shared_ptr<TaskHandle> handle) {
    QPointer<ParvelModel> self(this);
    const StoredConnection stored = co_await loadInBackground(m_services.store);
    if (self) {
        setConnection(stored);
        setIsLoadingConnection(false);
        if (!stored && openSettings)
            openSettings();
    }
    handle->markFinished();
}

QCoro::Task<> ParvelModel::connect() {
    if (m_connecting)
        co_return;
    setConnecting(true);
    setError({});

    QPointer<ParvelModel> self(this);
    const API api(Connection{baseAddress(m_serverURL), QString()});
    auto answer = co_await Endpoints::connect(api, m_connectionCode, m_deviceName);
    if (!self)
        co_return;
    if (!answer) {
        handleError(answer.error());
        setConnecting(false);
        co_return;
    }

    // The server names the address to use from now on; the typed one is
    // only for reaching it.
    const Connection connection{answer->serverURL, answer->token};
    if (m_services.store) {
        if (auto saved = m_services.store->save(connection); !saved) {
            handleError(saved.error());
            setConnecting(false);
            co_return;
        }
    }
    setConnection(connection);
    setConnectionCode({});

    co_await refresh();
    if (!self)
        co_return;
    setConnecting(false);
}

QCoro::Task<> ParvelModel::refresh() {
    QPointer<ParvelModel> self(this);
    // A refresh asked for at launch must see the stored connection.
    if (const auto reading = m_connectionTask) {
        co_await reading->wait();
        if (!self)
            co_return;
    }
    const std::optional<Connection> connection = m_connection;
    if (!connection)
        co_return;
    if (m_isRefreshing)
        co_return;
    setIsRefreshing(true);

    const API api(*connection);
    auto me = co_await Endpoints::me(api);
    if (!self)
        co_return;
    if (!me) {
        handleError(me.error());
        setIsRefreshing(false);
        co_return;
    }
    setCurrentDeviceID(me->device.id);

    auto list = co_await Endpoints::files(api);
    if (!self)
        co_return;
    if (!list) {
        handleError(list.error());
        setIsRefreshing(false);
        co_return;
    }
    assignFiles(std::move(list->files));
    setError({});
    saveIndex();
    setIsRefreshing(false);
}

void ParvelModel::disconnect() {
    if (m_services.store)
        m_services.store->clear();
    setConnection(std::nullopt);
    assignFiles({});
    setSelected({});
    setSelectedBytes(std::nullopt);
    setPassword({});
    setPairing(std::nullopt);
    setDevices({});
    saveIndex();
}

void ParvelModel::handleError(const Error& error) {
    if (isUnauthorized(error))
        disconnect();
    setError(describe(error));
}
