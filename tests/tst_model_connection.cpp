// Connecting, the stored-connection read, refresh and the forced disconnect,
// against the dev server over TLS on loopback and the real connection store.

#include "ModelFixture.h"

#include <QSignalSpy>

namespace {
const QString disconnectedText = u"This Mac has been disconnected. Enter a new connection code."_s;
}

class ModelConnectionTest : public QObject {
    Q_OBJECT

    ServerFixture m_server;
    QTemporaryDir m_scratch;

    devserver::Server& server() { return *m_server.server; }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }

    void init() {
        KeychainStore().clear();
        server().clearFaults();
        server().clearRequests();
    }

    void cleanupTestCase() { KeychainStore().clear(); }

    void storedConnectionRead() {
        // Nothing stored: settings open exactly once, the read ends.
        {
            ModelRig rig(true);
            QVERIFY(rig.model->isLoadingConnection());
            QVERIFY(rig.model->connectionTask());
            int opened = 0;
            rig.model->openSettings = [&] { ++opened; };
            QSignalSpy connectionSpy(rig.model.get(), &ParvelModel::connectionChanged);
            QCoro::waitFor(rig.model->connectionTask()->wait());
            QVERIFY(rig.model->connectionTask()->isFinished());
            QVERIFY(!rig.model->isLoadingConnection());
            QVERIFY(!rig.model->connection());
            QCOMPARE(connectionSpy.count(), 1);
            QCOMPARE(opened, 1);
            // Waiting again returns at once, and nothing runs twice.
            QCoro::waitFor(rig.model->connectionTask()->wait());
            QCOMPARE(opened, 1);
        }
        // Something stored: it is published and settings stay closed.
        QVERIFY(KeychainStore().save(m_server.bootstrap()));
        {
            ModelRig rig(true);
            int opened = 0;
            rig.model->openSettings = [&] { ++opened; };
            QCoro::waitFor(rig.model->connectionTask()->wait());
            QCOMPARE(rig.model->connection(), std::optional(m_server.bootstrap()));
            QVERIFY(!rig.model->isLoadingConnection());
            QCOMPARE(opened, 0);
        }
    }

    void refreshWaitsForTheRead() {
        const SharedFile seeded = m_server.seed(u"waiting.txt"_s, "abc");
        server().clearRequests();
        QVERIFY(KeychainStore().save(m_server.bootstrap()));

        auto gate = std::make_shared<GatedStore>(std::make_shared<KeychainStore>());
        ModelRig rig(true, gate);
        auto refreshing = rig.model->refresh();
        // Give the event loop its chance; the read is still held back.
        QCoreApplication::processEvents();
        QVERIFY(!refreshing.isReady());
        QVERIFY(!rig.model->isRefreshing());
        QVERIFY(rig.model->isLoadingConnection());
        QVERIFY(m_server.requests("GET", "/api/me").empty());

        gate->release();
        QCoro::waitFor(refreshing);
        const auto me = m_server.requests("GET", "/api/me");
        QCOMPARE(me.size(), size_t(1));
        QCOMPARE(header(me.front(), "authorization"), u"Bearer "_s + m_server.bootstrap().token);
        QCOMPARE(rig.model->currentDeviceID(), u"bootstrap"_s);
        QCOMPARE(rig.model->files(), m_server.serverFiles());
        QVERIFY(rig.model->files().contains(seeded));
        QCOMPARE(rig.index(), encode(rig.model->files()));
    }

    void connectTrimsTheTypedAddress() {
        ModelRig rig;
        ParvelModel& model = *rig.model;
        m_server.seed(u"first.txt"_s, "1");
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
                refreshedBeforeEnd = !model.isRefreshing() && !model.files().isEmpty() &&
                                     !model.currentDeviceID().isEmpty();
        });

        auto first = model.connect();
        QVERIFY(model.connecting());
        QCOMPARE(model.error(), QString());
        auto second = model.connect(); // a second press does nothing
        QVERIFY(second.isReady());
        QCoro::waitFor(first);

        const auto posts = m_server.requests("POST", "/api/connect");
        QCOMPARE(posts.size(), size_t(1));
        // No token yet (the server drops the space after "Bearer").
        QCOMPARE(header(posts.front(), "authorization").trimmed(), u"Bearer"_s);
        const QJsonObject body = bodyOf(posts.front());
        QCOMPARE(body.value(u"code"_s).toString(), code);
        QCOMPARE(body.value(u"name"_s).toString(), u"  Desk Mac "_s);
        QCOMPARE(model.serverURL(), typed);

        // The stored and published connection is the server's answer.
        QVERIFY(model.connection());
        QCOMPARE(model.connection()->serverURL, m_server.baseURL());
        QVERIFY(!model.connection()->token.isEmpty());
        QCOMPARE(KeychainStore().load(), model.connection());
        QCOMPARE(model.connectionCode(), QString());
        QVERIFY(!model.connecting());
        QVERIFY(refreshedBeforeEnd);
        QVERIFY(model.currentDeviceID() != u"bootstrap"_s);
        QCOMPARE(model.files(), m_server.serverFiles());
        QCOMPARE(rig.index(), encode(model.files()));
        // Later requests use the address the server named.
        const auto me = m_server.requests("GET", "/api/me");
        QCOMPARE(me.size(), size_t(1));
        QCOMPARE(header(me.front(), "authorization"), u"Bearer "_s + model.connection()->token);
    }

    void connectFailures() {
        // 401: the disconnected text, the typed code stays.
        {
            ModelRig rig;
            ParvelModel& model = *rig.model;
            model.setServerURL(m_server.baseURL());
            model.setConnectionCode(u"ABCD-1234"_s);
            server().injectFault("POST", "/api/connect", statusFault(401));
            QCoro::waitFor(model.connect());
            QCOMPARE(model.error(), disconnectedText);
            QCOMPARE(model.connectionCode(), u"ABCD-1234"_s);
            QVERIFY(!model.connection());
            QVERIFY(!model.connecting());
            QCOMPARE(rig.index(), QByteArray("[]"));
        }
        // A code the server does not know: its own text.
        {
            ModelRig rig;
            rig.model->setServerURL(m_server.baseURL());
            rig.model->setConnectionCode(u"NOPE"_s);
            server().injectFault(
                "POST", "/api/connect",
                statusFault(400, R"({"error":"This connection code is not valid."})"));
            QCoro::waitFor(rig.model->connect());
            QCOMPARE(rig.model->error(), u"This connection code is not valid."_s);
            QCOMPARE(rig.model->connectionCode(), u"NOPE"_s);
            QVERIFY(!rig.model->connecting());
        }
        // Not an address at all: refused before anything is sent.
        {
            ModelRig rig;
            rig.model->setServerURL(u"  ftp://files.example/ "_s);
            server().clearRequests();
            QCoro::waitFor(rig.model->connect());
            QCOMPARE(rig.model->error(), u"Enter a valid HTTPS server address."_s);
            QVERIFY(server().requests().empty());
        }
        // The store refuses: its text, nothing stored, nothing published.
        {
            QFile blocker(m_scratch.filePath(u"not-a-folder"_s));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            blocker.close();
            auto store = std::make_shared<FolderStore>(blocker.fileName() + u"/parvel"_s);
            ModelRig rig(false, store);
            ParvelModel& model = *rig.model;
            const QString code = QString::fromStdString(server().newConnectionCode());
            model.setServerURL(m_server.baseURL());
            model.setConnectionCode(code);
            server().clearRequests();
            QCoro::waitFor(model.connect());
            QVERIFY2(model.error().startsWith(u"Could not save the connection in Keychain ("_s),
                     qPrintable(model.error()));
            QVERIFY(model.error().endsWith(u")."_s));
            QVERIFY(!model.connection());
            QVERIFY(!store->load());
            QCOMPARE(model.connectionCode(), code);
            QVERIFY(!model.connecting());
            QVERIFY(m_server.requests("GET", "/api/me").empty());
        }
    }

    void refreshFailures_data() {
        QTest::addColumn<QByteArray>("path");
        QTest::newRow("me") << QByteArray("/api/me");
        QTest::newRow("files") << QByteArray("/api/files");
    }

    void refreshFailures() {
        QFETCH(QByteArray, path);
        m_server.seed(u"kept.txt"_s, "kept");
        QVERIFY(KeychainStore().save(m_server.bootstrap()));
        ModelRig rig;
        ParvelModel& model = *rig.model;
        model.setConnection(m_server.bootstrap());
        QCoro::waitFor(model.refresh());
        const QList<SharedFile> before = model.files();
        QVERIFY(!before.isEmpty());
        const QByteArray indexBefore = rig.index();

        // Any failure but 401: shown, and files and index stay.
        server().injectFault("GET", path.toStdString(), statusFault(500));
        QCoro::waitFor(model.refresh());
        QCOMPARE(model.error(), u"The server returned 500. Please try again."_s);
        QCOMPARE(model.files(), before);
        QCOMPARE(rig.index(), indexBefore);
        QVERIFY(model.connection());
        QVERIFY(!model.isRefreshing());

        // A refresh that works again clears the error.
        QCoro::waitFor(model.refresh());
        QCOMPARE(model.error(), QString());

        // 401: disconnected, lists cleared, index emptied, store cleared.
        model.setSelected({QUrl::fromLocalFile(u"/tmp/x"_s)});
        model.setDevices({Device{u"d"_s, u"Mac"_s, {}}});
        server().injectFault("GET", path.toStdString(), statusFault(401));
        QCoro::waitFor(model.refresh());
        QCOMPARE(model.error(), disconnectedText);
        QVERIFY(!model.connection());
        QVERIFY(model.files().isEmpty() && model.devices().isEmpty() && model.selected().isEmpty());
        QCOMPARE(rig.index(), QByteArray("[]"));
        QVERIFY(!KeychainStore().load());
        QVERIFY(!model.isRefreshing());

        // Not connected: nothing is asked and nothing changes.
        server().clearRequests();
        QSignalSpy errorSpy(&model, &ParvelModel::errorChanged);
        QCoro::waitFor(model.refresh());
        QVERIFY(server().requests().empty());
        QCOMPARE(errorSpy.count(), 0);
    }

    void overlappingRefreshIsDropped() {
        ModelRig rig;
        ParvelModel& model = *rig.model;
        model.setConnection(m_server.bootstrap());
        model.setMessage(u"status"_s);
        server().injectFault("GET", "/api/me", delayFault(std::chrono::milliseconds(300)));
        auto first = model.refresh();
        QVERIFY(model.isRefreshing());

        std::vector<std::unique_ptr<QSignalSpy>> spies;
        const QMetaObject* meta = model.metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
            if (meta->method(i).methodType() == QMetaMethod::Signal)
                spies.push_back(std::make_unique<QSignalSpy>(&model, meta->method(i)));
        auto second = model.refresh();
        QVERIFY(second.isReady());
        for (const auto& spy : spies)
            QVERIFY2(spy->isEmpty(), spy->signal().constData());

        QCoro::waitFor(first);
        QCOMPARE(m_server.requests("GET", "/api/me").size(), size_t(1));
        QCOMPARE(model.message(), u"status"_s); // a refresh never touches it
        QVERIFY(!model.isRefreshing());
    }

    void refreshUsesTheConnectionItRead() {
        ModelRig rig;
        ParvelModel& model = *rig.model;
        model.setConnection(m_server.bootstrap());
        server().injectFault("GET", "/api/me", delayFault(std::chrono::milliseconds(200)));
        auto running = model.refresh();
        // The published connection changes while /api/me is out.
        model.setConnection(Connection{m_server.baseURL(), u"someone-else"_s});
        QCoro::waitFor(running);
        const auto files = m_server.requests("GET", "/api/files");
        QCOMPARE(files.size(), size_t(1));
        QCOMPARE(header(files.front(), "authorization"), u"Bearer "_s + m_server.bootstrap().token);
        QCOMPARE(model.error(), QString());
    }
};

QTEST_GUILESS_MAIN(ModelConnectionTest)
#include "tst_model_connection.moc"
