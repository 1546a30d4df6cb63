// Actions on shared files, connection codes and connected computers, and what
// each leaves in the local index, against the dev server on loopback.

#include "ModelFixture.h"

#include <QDir>
#include <QSignalSpy>

namespace {
const QString disconnectedText = u"This Mac has been disconnected. Enter a new connection code."_s;
const QString deletedText = u"File deleted. Its link is no longer available."_s;
} // namespace

class ModelActionsTest : public QObject {
    Q_OBJECT

    ServerFixture m_server;

    devserver::Server& server() { return *m_server.server; }

    // A model connected as the first device, with the server's list loaded.
    std::unique_ptr<ModelRig> connectedRig() {
        auto rig = std::make_unique<ModelRig>();
        rig->model->setConnection(m_server.bootstrap());
        QCoro::waitFor(rig->model->refresh());
        return rig;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }

    void init() {
        server().clearFaults();
        server().clearRequests();
    }

    void cleanupTestCase() { KeychainStore().clear(); }

    void copyAndOpenLinks() {
        ModelRig rig;
        ParvelModel& model = *rig.model;
        const SharedFile file{u"f1"_s, u"a.txt"_s, 3,
                              false,   u"now"_s,   u"https://files.example/s/f1"_s};

        model.copy(u"ABCD-EFGH"_s);
        model.setError(u"old"_s);
        model.copyLink(file);
        QCOMPARE(model.message(), u"Link copied"_s);
        QCOMPARE(model.error(), QString());
        model.setError(u"old"_s);
        model.copyLink(file, false);
        QCOMPARE(model.message(), QString());
        QCOMPARE(model.error(), QString());
        QCOMPARE(rig.pasteboard->texts, (QStringList{u"ABCD-EFGH"_s, file.url, file.url}));

        QSignalSpy message(&model, &ParvelModel::messageChanged);
        model.openLink(file);
        SharedFile broken = file;
        broken.url = u"https://files example/s/f1"_s;
        model.openLink(broken);
        broken.url.clear();
        model.openLink(broken);
        QCOMPARE(rig.browser->opened, (QList<QUrl>{QUrl(file.url)}));
        QCOMPARE(message.count(), 0);
    }

    void deleteFiles() {
        const SharedFile a = m_server.seed(u"a.txt"_s, "aaa");
        const SharedFile b = m_server.seed(u"b.txt"_s, "bbb");
        const SharedFile c = m_server.seed(u"c.txt"_s, "ccc");
        auto rig = connectedRig();
        ParvelModel& model = *rig->model;

        // A file listed twice goes entirely; the others keep their order.
        model.assignFiles({a, b, a, c});
        model.setError(u"old"_s);
        QCoro::waitFor(model.deleteFile(a));
        QCOMPARE(model.files(), (QList<SharedFile>{b, c}));
        QCOMPARE(model.message(), deletedText);
        QCOMPARE(model.error(), QString());
        QCOMPARE(rig->index(), encode(QList<SharedFile>{b, c}));
        const auto deletes = m_server.requests("DELETE", (u"/api/files/"_s + a.id).toStdString());
        QCOMPARE(deletes.size(), size_t(1));

        // Confirmed for a file the list no longer has: the message still shows.
        model.assignFiles({b});
        model.setMessage({});
        QCoro::waitFor(model.deleteFile(c));
        QCOMPARE(model.files(), QList<SharedFile>{b});
        QCOMPARE(model.message(), deletedText);
        QCOMPARE(rig->index(), encode(QList<SharedFile>{b}));

        // Refused without an APIError body: the fallback text, nothing removed.
        model.setMessage(u"before"_s);
        server().injectFault("DELETE", "/api/files/*", statusFault(404, "not json"));
        QCoro::waitFor(model.deleteFile(b));
        QCOMPARE(model.error(), u"Could not delete this item."_s);
        QCOMPARE(model.files(), QList<SharedFile>{b});
        QCOMPARE(model.message(), u"before"_s);

        // Not connected: no request, no change.
        ModelRig idle;
        server().clearRequests();
        QSignalSpy anyError(idle.model.get(), &ParvelModel::errorChanged);
        QCoro::waitFor(idle.model->deleteFile(b));
        QCoro::waitFor(idle.model->changePassword(b, u"pass"_s));
        QVERIFY(server().requests().empty());
        QCOMPARE(anyError.count(), 0);
    }

    void changeAccess() {
        const SharedFile first = m_server.seed(u"first.txt"_s, "1");
        const SharedFile target = m_server.seed(u"target.txt"_s, "22");
        auto rig = connectedRig();
        ParvelModel& model = *rig->model;
        model.assignFiles({first, target});
        const std::string path = (u"/api/files/"_s + target.id).toStdString();

        QCoro::waitFor(model.changePassword(target, u"pa ss"_s));
        auto patches = m_server.requests("PATCH", path);
        QCOMPARE(patches.size(), size_t(1));
        QCOMPARE(bodyOf(patches.back()), QJsonObject({{u"password"_s, u"pa ss"_s}}));
        QCOMPARE(model.files().size(), 2);
        QCOMPARE(model.files().at(0), first);
        QVERIFY(model.files().at(1).isProtected);
        QCOMPARE(model.files().at(1).id, target.id);
        QCOMPARE(model.message(), u"Access updated."_s);
        QCOMPARE(rig->index(), encode(model.files()));

        // None turns protection off: "password" is present and null.
        QCoro::waitFor(model.changePassword(target, std::nullopt));
        patches = m_server.requests("PATCH", path);
        QCOMPARE(patches.size(), size_t(2));
        QCOMPARE(patches.back().body, std::string(R"({"password":null})"));
        QVERIFY(!model.files().at(1).isProtected);

        // The file has left the list meanwhile: the index is still saved.
        model.assignFiles({first});
        {
            QFile stale(rig->indexPath());
            QVERIFY(stale.open(QIODevice::WriteOnly) && stale.write("stale") == 5);
        }
        model.setMessage({});
        QCoro::waitFor(model.changePassword(target, u"again"_s));
        QCOMPARE(model.files(), QList<SharedFile>{first});
        QCOMPARE(model.message(), u"Access updated."_s);
        QCOMPARE(rig->index(), encode(QList<SharedFile>{first}));

        // Refused: the server's text, the entry unchanged.
        model.assignFiles({first, target});
        server().injectFault("PATCH", path, statusFault(422, R"({"error":"Too short."})"));
        QCoro::waitFor(model.changePassword(target, u"x"_s));
        QCOMPARE(model.error(), u"Too short."_s);
        QCOMPARE(model.files(), (QList<SharedFile>{first, target}));

        // 401 disconnects and empties the index.
        server().injectFault("PATCH", path, statusFault(401));
        QCoro::waitFor(model.changePassword(target, u"secret"_s));
        QCOMPARE(model.error(), disconnectedText);
        QVERIFY(!model.connection());
        QCOMPARE(rig->index(), QByteArray("[]"));
    }

    void pairings() {
        auto rig = connectedRig();
        ParvelModel& model = *rig->model;

        QCoro::waitFor(model.createPairing());
        QVERIFY(model.pairing());
        const QString firstCode = model.pairing()->code;
        QCoro::waitFor(model.createPairing());
        QVERIFY(model.pairing());
        QVERIFY(model.pairing()->code != firstCode);
        QCOMPARE(model.pairing()->serverURL, m_server.baseURL());

        // A null answer clears the code without an error.
        devserver::Fault null;
        null.kind = devserver::Fault::Kind::JsonNull;
        server().injectFault("POST", "/api/pairings", null);
        QCoro::waitFor(model.createPairing());
        QVERIFY(!model.pairing());
        QCOMPARE(model.error(), QString());

        // A failure keeps the code that was there.
        QCoro::waitFor(model.createPairing());
        const QString kept = model.pairing()->code;
        server().injectFault("POST", "/api/pairings", statusFault(503));
        QCoro::waitFor(model.createPairing());
        QCOMPARE(model.pairing()->code, kept);
        QCOMPARE(model.error(), u"The server returned 503. Please try again."_s);
    }

    void devicesAndRevoke() {
        auto rig = connectedRig();
        ParvelModel& model = *rig->model;
        const ConnectionResult other = m_server.join(u"Other Mac"_s);

        QCoro::waitFor(model.loadDevices());
        QStringList ids;
        for (const auto& d : model.devices())
            ids.append(d.id);
        QVERIFY(ids.contains(u"bootstrap"_s));
        QVERIFY(ids.contains(other.device.id));

        // A refused revoke keeps the list and asks for no new one.
        const QList<Device> before = model.devices();
        server().clearRequests();
        server().injectFault("DELETE", "/api/devices/*", statusFault(500, "boom"));
        QCoro::waitFor(model.revoke(model.devices().back()));
        QCOMPARE(model.error(), u"Could not delete this item."_s);
        QCOMPARE(model.devices().size(), before.size());
        QVERIFY(m_server.requests("GET", "/api/devices").empty());

        // A revoke that works reloads the list from the server.
        model.setError({});
        Device gone;
        gone.id = other.device.id;
        QCoro::waitFor(model.revoke(gone));
        QVERIFY(m_server.requests("GET", "/api/devices").size() == 1);
        for (const auto& d : model.devices())
            QVERIFY(d.id != other.device.id);
        QCOMPARE(model.error(), QString());
    }

    void revokingThisMac() {
        // This computer joins with a code of its own, then revokes itself.
        ModelRig rig;
        ParvelModel& model = *rig.model;
        model.setServerURL(m_server.baseURL());
        model.setConnectionCode(QString::fromStdString(server().newConnectionCode()));
        QCoro::waitFor(model.connect());
        QVERIFY(model.connection());
        const QString self = model.currentDeviceID();
        QVERIFY(!self.isEmpty());

        // The connection goes only when the device list is refused with 401.
        server().clearRequests();
        bool listAskedFirst = false;
        QObject::connect(&model, &ParvelModel::connectionChanged, &model, [&] {
            listAskedFirst = !m_server.requests("GET", "/api/devices").empty();
        });
        Device me;
        me.id = self;
        QCoro::waitFor(model.revoke(me));
        QCOMPARE(m_server.requests("DELETE", (u"/api/devices/"_s + self).toStdString()).size(),
                 size_t(1));
        QVERIFY(listAskedFirst);
        QVERIFY(!model.connection());
        QCOMPARE(model.error(), disconnectedText);
        QVERIFY(model.devices().isEmpty());
        QVERIFY(!KeychainStore().load());
    }

    void indexFollowsTheList() {
        const SharedFile accented = m_server.seed(u"Résumé ünïcode.txt"_s, "r");
        auto rig = connectedRig();
        ParvelModel& model = *rig->model;

        // After a refresh: the server's list, in its order, as UTF-8.
        const QList<SharedFile> listed = m_server.serverFiles();
        QCOMPARE(model.files(), listed);
        const QByteArray bytes = rig->index();
        QCOMPARE(decode<QList<SharedFile>>(bytes).value(), listed);
        QVERIFY(bytes.contains(u"Résumé ünïcode.txt"_s.toUtf8()));
        QVERIFY(bytes.startsWith('[') && bytes.endsWith(']'));
        QCOMPARE(QFile::permissions(rig->indexPath()),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                     QFileDevice::WriteUser);

        // A regular file named "Parvel" in the way: the action completes as
        // usual and nothing is written.
        ModelRig blocked;
        blocked.model->setConnection(m_server.bootstrap());
        QFile in(blocked.appData.filePath(u"Parvel"_s));
        QVERIFY(in.open(QIODevice::WriteOnly) && in.write("not a folder") == 12);
        in.close();
        QCoro::waitFor(blocked.model->refresh());
        QCOMPARE(blocked.model->files(), listed);
        QCOMPARE(blocked.model->error(), QString());
        blocked.model->setError(u"keep"_s);
        QCoro::waitFor(blocked.model->deleteFile(accented));
        QCOMPARE(blocked.model->message(), deletedText);
        QCOMPARE(blocked.model->error(), QString());
        QCOMPARE(QDir(blocked.appData.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{u"Parvel"_s});
        QCOMPARE(blocked.index(), QByteArray("<missing>"));
        QFile after(blocked.appData.filePath(u"Parvel"_s));
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), QByteArray("not a folder"));
    }
};

QTEST_GUILESS_MAIN(ModelActionsTest)
#include "tst_model_actions.moc"
