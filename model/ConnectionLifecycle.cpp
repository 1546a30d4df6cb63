#include "model/ParvelModel.h"

#include "net/Endpoints.h"

#include "model/StoreWorker.h"

#include <QPointer>

namespace {

const QString keyringSilentText =
    QStringLiteral("The keyring did not answer, so Parvel could not read its saved connection.");
const QString notSavedInTimeText =
    QStringLiteral("Could not save the connection in the keyring: it did not answer in time.");
const QString sessionOnlyText = QStringLiteral(" Parvel stays connected until it quits.");

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
    std::optional<std::optional<Connection>> stored;
    if (m_storeWorker) {
        const bool wait = m_services.waitForStore;
        // Calls are built outside the co_await expressions: g++ 12 destroys
        // a closure made inside one once too often.
        std::function<std::optional<Connection>(ConnectionStore&)> read =
            [wait](ConnectionStore& store) {
                return wait ? loadWaitingForService(store) : store.load().connection;
            };
        auto reading = m_storeWorker->run(std::move(read), m_services.storeTimeout);
        stored = co_await std::move(reading);
        // The handle is the model's child: both are gone, or both are here.
        if (!self)
            co_return;
        if (!stored)
            setError(keyringSilentText);
    }
    setConnection(stored.value_or(std::nullopt));
    setIsLoadingConnection(false);
    if (!stored || !*stored)
        showSettings();
    if (handle)
        handle->markFinished();
}

TaskHandle* ParvelModel::connect() {
    TaskHandle* handle = newTask();
    return track(handle, runConnect(handle->token()));
}

TaskHandle* ParvelModel::refresh(bool byUser) {
    TaskHandle* handle = newTask();
    return track(handle, runRefresh(byUser, handle->token()));
}

QCoro::Task<> ParvelModel::runConnect(std::stop_token stop) {
    if (m_connecting)
        co_return;
    setConnecting(true);
    setError({});

    QPointer<ParvelModel> self(this);
    // The code can be redeemed once only: the store must be able to take
    // the connection before the server hands it out.
    if (m_storeWorker) {
        std::function<Result<void>(ConnectionStore&)> check = [](ConnectionStore& store) {
            return store.prepareSave();
        };
        auto checking = m_storeWorker->run(std::move(check), m_services.storeTimeout);
        const auto ready = co_await std::move(checking);
        if (!self)
            co_return;
        if (!ready || !*ready) {
            setError(ready ? describe(ready->error()) : notSavedInTimeText);
            setConnecting(false);
            co_return;
        }
    }
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
    // The code is spent: a connection that cannot be kept is still used for
    // as long as Parvel runs, and the user is told.
    QString notSaved;
    if (m_storeWorker) {
        std::function<Result<void>(ConnectionStore&)> save = [connection](ConnectionStore& store) {
            return store.save(connection);
        };
        auto saving = m_storeWorker->run(std::move(save), m_services.storeTimeout);
        const auto saved = co_await std::move(saving);
        if (!self)
            co_return;
        if (!saved || !*saved)
            notSaved = (saved ? describe(saved->error()) : notSavedInTimeText) + sessionOnlyText;
    }
    setConnection(connection);
    setConnectionCode({});

    co_await runRefresh(false, stop);
    if (!self)
        co_return;
    if (!notSaved.isEmpty() && m_connection)
        setError(notSaved);
    setConnecting(false);
}

QCoro::Task<> ParvelModel::runRefresh(bool byUser, std::stop_token stop) {
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
    m_changesDuringRefresh.clear();
    setIsRefreshing(true);
    // A failure of this refresh is its own, for the next one to clear.
    const auto failed = [this, stop](const Error& error) {
        if (stop.stop_requested())
            return;
        handleError(error);
        m_errorFromRefresh = !isUnauthorized(error);
    };

    // Both requests go with the connection read above, even when the
    // published one changes meanwhile.
    const API api(*connection);
    auto me = co_await Endpoints::me(api, stop);
    if (!self)
        co_return;
    if (!me) {
        failed(me.error());
        setIsRefreshing(false);
        co_return;
    }
    setCurrentDeviceID(me->device.id);

    auto list = co_await Endpoints::files(api, stop);
    if (!self)
        co_return;
    if (!list) {
        failed(list.error());
        setIsRefreshing(false);
        co_return;
    }
    assignFiles(withNewerChanges(std::move(list->files)));
    if (byUser || m_errorFromRefresh)
        setError({});
    saveIndex();
    setIsRefreshing(false);
}

void ParvelModel::noteChange(LocalChange change) {
    if (m_isRefreshing)
        m_changesDuringRefresh.append(std::move(change));
}

QList<SharedFile> ParvelModel::withNewerChanges(QList<SharedFile> answer) const {
    for (const LocalChange& change : m_changesDuringRefresh) {
        if (!change.record) {
            answer.removeIf([&](const SharedFile& f) { return f.id == change.deletedID; });
            continue;
        }
        const auto found = std::find_if(answer.begin(), answer.end(), [&](const SharedFile& f) {
            return f.id == change.record->id;
        });
        if (found != answer.end())
            *found = *change.record;
        else
            answer.prepend(*change.record); // newest first, as the server lists them
    }
    return answer;
}

void ParvelModel::disconnect() {
    if (m_storeWorker)
        m_storeWorker->post([](ConnectionStore& store) { store.clear(); });
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
