// Connecting, the stored-connection read, refresh and the forced disconnect,
// against the dev server over TLS on loopback and the real connection store.

#include "ModelFixture.h"

#include <QSignalSpy>

class ModelConnectionTest : public QObject {
    Q_OBJECT

    ServerFixture m_server;
    QTemporaryDir m_scratch;

    devserver::Server& server() { return *m_server.server; }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }
    void init() {
        KeychainStore().clear();
        m_server.reset();
    }
    void cleanupTestCase() { KeychainStore().clear(); }

    void storedConnectionRead() {
        // None stored: the settings open, once, however often the read is
        // waited for.
        {
            ModelRig rig(true);
            QVERIFY(rig.model->isLoadingConnection());
            int opened = 0;
            rig.model->openSettings = [&] { ++opened; };
            QVERIFY(waitWithin(rig.model->connectionTask()->wait()));
            QVERIFY(waitWithin(rig.model->connectionTask()->wait()));
            QVERIFY(!rig.model->isLoadingConnection() && !rig.model->connection());
            QCOMPARE(opened, 1);
        }

        // Stored: a refresh asked for while the read runs waits for it.
        m_server.seed(u"waiting.txt"_s, 3);
        QVERIFY(KeychainStore().save(m_server.bootstrap()));
        server().clearRequests();
        auto gate = std::make_shared<GatedStore>(std::make_shared<KeychainStore>());
        ModelRig rig(true, gate);
        rig.model->openSettings = [] { QFAIL("the settings opened"); };
        TaskHandle* refreshing = rig.model->refresh();
        QCoreApplication::processEvents();
        QVERIFY(!refreshing->isFinished() && !rig.model->isRefreshing());
        QVERIFY(rig.model->isLoadingConnection() && server().requests().empty());

        gate->release();
        QVERIFY(finishes(refreshing));
        QCOMPARE(rig.model->connection(), std::optional(m_server.bootstrap()));
        QCOMPARE(m_server.trail(), lines("GET /api/me|GET /api/files"));
        QCOMPARE(rig.model->currentDeviceID(), u"bootstrap"_s);
        QCOMPARE(rig.model->files(), m_server.serverFiles());
        QCOMPARE(rig.index(), encode(rig.model->files()));
    }

    void connectTrimsTheTypedAddress() {
        ModelRig rig;
        ParvelModel& model = *rig.model;
        m_server.seed(u"first.txt"_s, 1);
        server().clearRequests();

        // Another spelling of the server than the one it answers with.
        const QString typed = u" https://127.0.0.1:%1///\n"_s.arg(server().port());
        const QString code = QString::fromStdString(server().newConnectionCode());
        model.setServerURL(typed);
        model.setConnectionCode(code);
        model.setDeviceName(u"  Desk Mac "_s);
        model.setError(u"old"_s);
        // When connecting ends, the refresh must already be over.
        bool refreshedBeforeEnd = false;
        QObject::connect(&model, &ParvelModel::connectingChanged, &model, [&] {
            if (!model.connecting())
                refreshedBeforeEnd = !model.isRefreshing() && !model.files().isEmpty();
        });

        TaskHandle* first = model.connect();
        QVERIFY(model.connecting());
        QCOMPARE(model.error(), QString());
        QVERIFY(model.connect()->isFinished()); // a second press does nothing
        QVERIFY(finishes(first));

        QCOMPARE(m_server.trail(), lines("POST /api/connect|GET /api/me|GET /api/files"));
        QCOMPARE(bodyOf(server().requests()[0]),
                 QJsonObject({{u"code"_s, code}, {u"name"_s, u"  Desk Mac "_s}}));
        QCOMPARE(model.serverURL(), typed);
        // The stored and published connection is the server's answer.
        QCOMPARE(model.connection().value_or(Connection{}).serverURL, m_server.baseURL());
        QCOMPARE(KeychainStore().load(), model.connection());
        QCOMPARE(model.connectionCode(), QString());
        QVERIFY(refreshedBeforeEnd && !model.connecting());
        QCOMPARE(header(server().requests()[1], "authorization"),
                 u"Bearer "_s + model.connection()->token);
        QCOMPARE(rig.index(), encode(m_server.serverFiles()));
    }

    void connectFailures() {
        // 401: the disconnected text, the typed code stays.
        {
            ModelRig rig;
            rig.model->setServerURL(m_server.baseURL());
            rig.model->setConnectionCode(u"ABCD-1234"_s);
            server().injectFault("POST", "/api/connect", Fault::withStatus(401, {}));
            QVERIFY(finishes(rig.model->connect()));
            QCOMPARE(rig.model->error(), disconnectedText);
            QCOMPARE(rig.model->connectionCode(), u"ABCD-1234"_s);
            QVERIFY(!rig.model->connection() && !rig.model->connecting());
        }
        // The store refuses: its text, nothing stored, nothing published.
        QVERIFY(QFile(m_scratch.filePath(u"file"_s)).open(QIODevice::WriteOnly));
        auto store = std::make_shared<FolderStore>(m_scratch.filePath(u"file/parvel"_s));
        ModelRig rig(false, store);
        const QString code = QString::fromStdString(server().newConnectionCode());
        rig.model->setServerURL(m_server.baseURL());
        rig.model->setConnectionCode(code);
        server().clearRequests();
        QVERIFY(finishes(rig.model->connect()));
        const QString error = rig.model->error();
        QVERIFY2(error.startsWith(u"Could not save the connection in Keychain ("_s) &&
                     error.endsWith(u")."_s),
                 qPrintable(error));
        QVERIFY(!rig.model->connection() && !store->load() && !rig.model->connecting());
        QCOMPARE(rig.model->connectionCode(), code);
        QCOMPARE(m_server.trail(), QStringList{u"POST /api/connect"_s});
    }

    void refreshFailures_data() {
        QTest::addColumn<QByteArray>("path");
        QTest::newRow("me") << QByteArray("/api/me");
        QTest::newRow("files") << QByteArray("/api/files");
    }

    void refreshFailures() {
        QFETCH(QByteArray, path);
        m_server.seed(u"kept.txt"_s, 4);
        auto rig = m_server.connectedRig();
        ParvelModel& model = *rig->model;
        QVERIFY(finishes(model.refresh()));
        const QList<SharedFile> before = model.files();
        QVERIFY(!before.isEmpty());
        const QByteArray indexBefore = rig->index();

        // Any failure but 401: shown, and files and index stay.
        server().injectFault("GET", path.toStdString(), Fault::withStatus(500, {}));
        QVERIFY(finishes(model.refresh()));
        QCOMPARE(model.error(), u"The server returned 500. Please try again."_s);
        QCOMPARE(model.files(), before);
        QCOMPARE(rig->index(), indexBefore);
        QVERIFY(model.connection() && !model.isRefreshing());
        QVERIFY(finishes(model.refresh())); // working again clears the error
        QCOMPARE(model.error(), QString());

        // 401: disconnected, lists and selection cleared, index emptied,
        // store cleared; the message, usePassword and the device id stay.
        model.setDevices({Device{u"d"_s, u"Mac"_s, {}}});
        model.setPairing(Pairing{u"ABCD"_s, u"later"_s, m_server.baseURL()});
        model.setSelected({QUrl::fromLocalFile(u"/tmp/x"_s)});
        model.setSelectedBytes(5);
        model.setUsePassword(true);
        model.setPassword(u"secret"_s);
        model.setMessage(u"status"_s);
        server().injectFault("GET", path.toStdString(), Fault::withStatus(401, {}));
        QVERIFY(finishes(model.refresh()));
        QCOMPARE(model.error(), disconnectedText);
        QVERIFY(!model.connection() && !model.isRefreshing() && !KeychainStore().load());
        QVERIFY(model.files().isEmpty() && model.devices().isEmpty() && model.selected().isEmpty());
        QVERIFY(!model.pairing() && !model.selectedBytes() && model.password().isEmpty());
        QCOMPARE(rig->index(), QByteArray("[]"));
        QVERIFY(model.usePassword() && model.currentDeviceID() == u"bootstrap"_s);
        QCOMPARE(model.message(), u"status"_s);

        // Not connected: nothing is asked and nothing changes.
        server().clearRequests();
        QSignalSpy errorSpy(&model, &ParvelModel::errorChanged);
        QVERIFY(finishes(model.refresh()));
        QVERIFY(server().requests().empty() && errorSpy.isEmpty());
    }

    void refreshWhileOneIsOut() {
        auto rig = m_server.connectedRig();
        ParvelModel& model = *rig->model;
        model.setMessage(u"status"_s);
        server().injectFault("GET", "/api/me", Fault::delayed(std::chrono::milliseconds(300)));
        TaskHandle* first = model.refresh();
        QVERIFY(model.isRefreshing());
        // A second refresh is dropped without a sound.
        QSignalSpy refreshing(&model, &ParvelModel::isRefreshingChanged);
        QVERIFY(model.refresh()->isFinished());
        QVERIFY(refreshing.isEmpty());
        // The published connection changes while /api/me is out: the running
        // refresh goes on with the connection it read.
        model.setConnection(Connection{m_server.baseURL(), u"someone-else"_s});
        QVERIFY(finishes(first));
        QCOMPARE(m_server.trail(), lines("GET /api/me|GET /api/files"));
        QCOMPARE(header(server().requests()[1], "authorization"),
                 u"Bearer "_s + m_server.bootstrap().token);
        QCOMPARE(model.error(), QString());
        QCOMPARE(model.message(), u"status"_s); // a refresh never touches it
    }
};

QTEST_GUILESS_MAIN(ModelConnectionTest)
#include "tst_model_connection.moc"
