// Connecting, the stored-connection read, refresh and the forced disconnect,
// against the dev server over TLS on loopback and the real connection store.

#include "ModelFixture.h"

#include <QDir>

#include <thread>

// A keyring that never answers, like one whose unlock prompt nobody closes:
// its first call holds the store's thread for good.
struct HungStore final : ConnectionStore {
    Loaded load() override {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    }
    Result<void> prepareSave() override { return {}; }
    Result<void> save(const Connection&) override { return {}; }
    void clear() override {}
    QString savedText() const override { return {}; }
};

class ModelConnectionTest : public QObject {
    Q_OBJECT

    ServerFixture m_server;
    QTemporaryDir m_scratch;

    devserver::Server& server() { return *m_server.server; }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }
    void init() {
        systemConnectionStore()->clear();
        m_server.reset();
    }
    void cleanupTestCase() { systemConnectionStore()->clear(); }

    // Refused with 401: the disconnected text, and the typed code stays. The
    // next press connects with the typed address trimmed; what is stored
    // and used from then on is the address the server answers with.
    void connectAndRead() {
        ModelRig rig;
        ParvelModel& model = *rig.model;
        m_server.seed(u"first.txt"_s, 1);
        const QString typed = u" https://127.0.0.1:%1///\n"_s.arg(server().port());
        const QString code = QString::fromStdString(server().newConnectionCode());
        model.setServerURL(typed);
        model.setConnectionCode(code);
        model.setDeviceName(u"  Desk Mac "_s);
        server().injectFault("POST", "/api/connect", Fault::withStatus(401, {}));
        QVERIFY(finishes(model.connect()));
        QCOMPARE(model.error(), disconnectedText);
        QVERIFY(!model.connection() && !model.connecting() && model.connectionCode() == code);

        // When connecting ends, the refresh must already be over.
        bool refreshedBeforeEnd = false;
        QObject::connect(&model, &ParvelModel::connectingChanged, &model, [&] {
            if (!model.connecting())
                refreshedBeforeEnd = !model.isRefreshing() && !model.files().isEmpty();
        });
        server().clearRequests();
        TaskHandle* first = model.connect();
        QVERIFY(model.connecting() && model.error().isEmpty());
        QVERIFY(model.connect()->isFinished()); // a second press does nothing
        QVERIFY(finishes(first));
        QCOMPARE(m_server.trail(), lines("POST /api/connect|GET /api/me|GET /api/files"));
        QCOMPARE(bodyOf(server().requests()[0]),
                 QJsonObject({{u"code"_s, code}, {u"name"_s, u"  Desk Mac "_s}}));
        QCOMPARE(model.connection().value_or(Connection{}).serverURL, m_server.baseURL());
        QVERIFY(refreshedBeforeEnd && model.connectionCode().isEmpty());

        // The next start reads it; a refresh asked for meanwhile (the read's
        // answer needs the event loop) waits for the read.
        server().clearRequests();
        ModelRig next(true);
        TaskHandle* refreshing = next.model->refresh();
        QVERIFY(next.model->isLoadingConnection() && !next.model->isRefreshing());
        QVERIFY(finishes(refreshing));
        QCOMPARE(next.model->connection(), model.connection());
        QCOMPARE(m_server.trail(), lines("GET /api/me|GET /api/files"));
    }

    // A store that cannot take the connection is found out before the
    // one-time code is spent; a save failing after that keeps the connection
    // for the session; a keyring that hangs never holds up the main thread.
    void storeTroubles() {
        const QString code = QString::fromStdString(server().newConnectionCode());
        const auto connectWith = [&](ModelRig& rig) {
            rig.model->setServerURL(m_server.baseURL());
            rig.model->setConnectionCode(code);
            server().clearRequests();
            return finishes(rig.model->connect()) ? rig.model->error() : u"hung"_s;
        };
        // Refused: nothing asked of the server, so the code is still good.
        const auto refused = [&](ModelRig& rig, const QString& error) {
            QCOMPARE(connectWith(rig), error);
            QVERIFY(!rig.model->connection() && !rig.model->connecting() &&
                    rig.model->connectionCode() == code && server().requests().empty());
        };
        // A file where the store's folder belongs.
        const QString noFolder = writeFile(m_scratch.filePath(u"file"_s), 0) + u"/parvel"_s;
        ModelRig blocked(false, std::make_shared<FileCredentialStore>(noFolder));
        refused(blocked,
                u"Could not save the connection in %1/connection.json: Not a directory."_s.arg(
                    noFolder));

        // The read gives up and opens the settings, once however often it
        // is waited for.
        ModelRig hung(true, std::make_shared<HungStore>(), std::chrono::milliseconds(200));
        int opened = 0;
        hung.model->openSettings = [&] { ++opened; };
        QVERIFY(waitWithin(hung.model->connectionTask()->wait()));
        QVERIFY(waitWithin(hung.model->connectionTask()->wait()) && opened == 1);
        QCOMPARE(hung.model->error(),
                 u"The keyring did not answer, so Parvel could not read its saved connection."_s);
        refused(hung,
                u"Could not save the connection in the keyring: it did not answer in time."_s);

        // A folder where the item belongs: only the save itself fails.
        const QString full = m_scratch.filePath(u"full"_s);
        QVERIFY(QDir().mkpath(full + u"/connection.json"_s));
        ModelRig failing(false, std::make_shared<FileCredentialStore>(full));
        QCOMPARE(connectWith(failing),
                 u"Could not save the connection in %1/connection.json: Is a "
                 u"directory. Parvel stays connected until it quits."_s.arg(full));
        QVERIFY(failing.model->connection() && m_server.count("GET", "/api/files") == 1);
    }

    void refreshFailures() {
        m_server.seed(u"kept.txt"_s, 4);
        auto rig = m_server.connectedRig();
        ParvelModel& model = *rig->model;
        server().clearRequests();

        // A second refresh while one is out is dropped without a sound. The
        // running one goes on with the connection it read (another token
        // would be refused), and a refresh never touches the status line.
        model.setMessage(u"status"_s);
        TaskHandle* first = model.refresh();
        QSignalSpy refreshing(&model, &ParvelModel::isRefreshingChanged);
        QVERIFY(model.isRefreshing() && model.refresh()->isFinished() && refreshing.isEmpty());
        model.setConnection(Connection{m_server.baseURL(), u"someone-else"_s});
        QVERIFY(finishes(first));
        QCOMPARE(m_server.trail(), lines("GET /api/me|GET /api/files"));
        QCOMPARE((QStringList{model.error(), model.message()}), (QStringList{{}, u"status"_s}));
        model.setConnection(m_server.bootstrap());
        const QList<SharedFile> before = model.files();
        const QByteArray indexBefore = rig->index();

        // Any failure but 401: shown, and files and index stay.
        server().injectFault("GET", "/api/me", Fault::withStatus(500, {}));
        QVERIFY(finishes(model.refresh()));
        QCOMPARE(model.error(), u"The server returned 500. Please try again."_s);
        QVERIFY(!before.isEmpty() && model.files() == before && rig->index() == indexBefore);
        QVERIFY(model.connection() && !model.isRefreshing());

        // 401: disconnected, lists and selection cleared, index emptied,
        // store cleared; the message, usePassword and the device id stay.
        model.setDevices({Device{u"d"_s, u"Mac"_s, {}}});
        model.setPairing(Pairing{u"ABCD"_s, u"later"_s, m_server.baseURL()});
        model.setSelected({QUrl::fromLocalFile(u"/tmp/x"_s)});
        model.setSelectedBytes(5);
        model.setUsePassword(true);
        model.setPassword(u"secret"_s);
        server().injectFault("GET", "/api/files", Fault::withStatus(401, {}));
        QVERIFY(finishes(model.refresh()));
        QCOMPARE(model.error(), disconnectedText);
        QVERIFY(!model.connection() && !model.isRefreshing());
        QTRY_VERIFY(!systemConnectionStore()->load().connection);
        QVERIFY(model.files().isEmpty() && model.devices().isEmpty() && model.selected().isEmpty());
        QVERIFY(!model.pairing() && !model.selectedBytes() && model.password().isEmpty());
        QCOMPARE(rig->index(), QByteArray("[]"));
        QVERIFY(model.usePassword() && model.currentDeviceID() == u"bootstrap"_s);
        QCOMPARE(model.message(), u"status"_s);

        // Not connected: nothing is asked and nothing changes.
        server().clearRequests();
        QVERIFY(finishes(model.refresh()));
        QVERIFY(server().requests().empty() && model.error() == disconnectedText);
    }
};

QTEST_GUILESS_MAIN(ModelConnectionTest)
#include "tst_model_connection.moc"
