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

QCoro::Task<> ParvelModel::readStoredConnection(QPointer<TaskHandle> handle) {
    QPointer<ParvelModel> self(this);
    const StoredConnection stored = co_await loadInBackground(m_services.store);
    // The handle is the model's child: both are gone, or both are here.
    if (!self)
        co_return;
    setConnection(stored);
    setIsLoadingConnection(false);
    if (!stored)
        showSettings();
    if (handle)
        handle->markFinished();
}

TaskHandle* ParvelModel::connect() {
    TaskHandle* handle = newTask();
    return track(handle, runConnect(handle->token()));
}

TaskHandle* ParvelModel::refresh() {
    TaskHandle* handle = newTask();
    return track(handle, runRefresh(handle->token()));
}

QCoro::Task<> ParvelModel::runConnect(std::stop_token stop) {
    if (m_connecting)
        co_return;
    setConnecting(true);
    setError({});

    QPointer<ParvelModel> self(this);
    const API api(Connection{baseAddress(m_serverURL), QString()});
    auto answer = co_await Endpoints::connect(api, m_connectionCode, m_deviceName, stop);
    if (!self)
        co_return;
    if (!answer) {
        if (!stop.stop_requested())
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

    co_await runRefresh(stop);
    if (!self)
        co_return;
    setConnecting(false);
}

QCoro::Task<> ParvelModel::runRefresh(std::stop_token stop) {
    QPointer<ParvelModel> self(this);
    // A refresh asked for at launch must see the stored connection.
    if (const QPointer<TaskHandle> reading = m_connectionTask; reading && !reading->isFinished()) {
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

    // Both requests go with the connection read above, even when the
    // published one changes meanwhile.
    const API api(*connection);
    auto me = co_await Endpoints::me(api, stop);
    if (!self)
        co_return;
    if (!me) {
        if (!stop.stop_requested())
            handleError(me.error());
        setIsRefreshing(false);
        co_return;
    }
    setCurrentDeviceID(me->device.id);

    auto list = co_await Endpoints::files(api, stop);
    if (!self)
        co_return;
    if (!list) {
        if (!stop.stop_requested())
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
