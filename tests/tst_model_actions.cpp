// Actions on shared files, connection codes and connected computers, and what
// each leaves in the local index, against the dev server on loopback.

#include "ModelFixture.h"

#include <QDir>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSignalSpy>

namespace {

// Follows a handle the way C++ callers do, and notes when the wait is over.
QCoro::Task<> noteWhenDone(TaskHandle* handle, std::shared_ptr<bool> done) {
    co_await handle->wait();
    *done = true;
}

const QString deletedText = u"File deleted. Its link is no longer available."_s;
const QString accessText = u"Access updated."_s;
} // namespace

class ModelActionsTest : public QObject {
    Q_OBJECT

    ServerFixture m_server;

    devserver::Server& server() { return *m_server.server; }

    // The list, status line and error after an action; whether the index holds the list.
    static auto outcome(const ModelRig& rig) {
        const ParvelModel& m = *rig.model;
        return std::tuple(m.files(), m.message(), m.error(), rig.index() == encode(m.files()));
    }

    std::unique_ptr<ModelRig> refreshedRig() {
        auto rig = m_server.connectedRig();
        if (!finishes(rig->model->refresh()))
            qFatal("the first refresh did not finish");
        return rig;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }
    void init() { m_server.reset(); }
    void cleanupTestCase() { KeychainStore().clear(); }

    // Copying is driven through the views in tst_ui. Only a valid address
    // reaches the browser, and quietly.
    void openLinks() {
        ModelRig rig;
        ParvelModel& model = *rig.model;
        const SharedFile file{u"f1"_s, u"a.txt"_s, 3, false, u"now"_s, u"https://f.example/s/f1"_s};
        QSignalSpy message(&model, &ParvelModel::messageChanged);
        model.openLink(file);
        for (const QString& url : {u"https://f example/s/f1"_s, QString()}) {
            SharedFile broken = file;
            broken.url = url;
            model.openLink(broken);
        }
        QCOMPARE(rig.browser->opened, (QList<QUrl>{QUrl(file.url)}));
        QVERIFY(message.isEmpty());
    }

    void deleteFiles() {
        const SharedFile a = m_server.seed(u"a.txt"_s, 3);
        const SharedFile b = m_server.seed(u"b.txt"_s, 3);
        const SharedFile c = m_server.seed(u"c.txt"_s, 3);
        auto rig = refreshedRig();
        ParvelModel& model = *rig->model;

        // A file listed twice goes entirely; the others keep their order.
        model.assignFiles({a, b, a, c});
        model.setError(u"old"_s);
        QVERIFY(finishes(model.deleteFile(a)));
        QCOMPARE(outcome(*rig), std::tuple(QList<SharedFile>{b, c}, deletedText, QString(), true));
        QCOMPARE(m_server.count("DELETE", "/api/files/" + a.id.toStdString()), size_t(1));

        // Confirmed for a file the list no longer has: the message still shows.
        model.assignFiles({b});
        model.setMessage({});
        QVERIFY(finishes(model.deleteFile(c)));
        QCOMPARE(outcome(*rig), std::tuple(QList<SharedFile>{b}, deletedText, QString(), true));
    }

    // Called from QML as the views call it: values read from the model go
    // back into it, a string protects the file, null lifts the protection,
    // and the list the view reads is already updated when `finished` arrives.
    void changeAccess() {
        const SharedFile first = m_server.seed(u"first.txt"_s, 1);
        const SharedFile target = m_server.seed(u"target.txt"_s, 2);
        auto rig = refreshedRig();
        ParvelModel& model = *rig->model;
        model.assignFiles({target, first});
        const std::string path = "/api/files/" + target.id.toStdString();
        QQmlEngine engine;
        QQmlComponent component(&engine, QUrl::fromLocalFile(QStringLiteral(
                                             PARVEL_SOURCE_DIR "/tests/ActionsFromQml.qml")));
        std::unique_ptr<QObject> view(
            component.createWithInitialProperties({{u"model"_s, QVariant::fromValue(&model)}}));
        QVERIFY2(view, qPrintable(component.errorString()));
        QVERIFY(view->property("nullsForNone").toBool());
        QCOMPARE(view->property("firstFile").toString(), target.name);

        QMetaObject::invokeMethod(view.get(), "protect", Q_ARG(QVariant, u"pa ss"_s));
        QTRY_COMPARE_WITH_TIMEOUT(view->property("log").toStringList().size(), 1, 10000);
        SharedFile changed = target;
        changed.isProtected = true;
        QCOMPARE(outcome(*rig),
                 std::tuple(QList<SharedFile>{changed, first}, accessText, QString(), true));
        QMetaObject::invokeMethod(view.get(), "protect",
                                  Q_ARG(QVariant, QVariant::fromValue(nullptr)));
        QTRY_COMPARE_WITH_TIMEOUT(view->property("log").toStringList().size(), 2, 10000);
        QCOMPARE(view->property("log").toStringList(),
                 (QStringList{u"target.txt true true"_s, u"target.txt false true"_s}));
        const auto patches = m_server.requests("PATCH", path);
        QCOMPARE(patches.size(), size_t(2));
        QCOMPARE(patches[0].body, std::string(R"({"password":"pa ss"})"));
        QCOMPARE(patches[1].body, std::string(R"({"password":null})"));

        // The file has left the list meanwhile: the index is still saved.
        model.assignFiles({first});
        writeFile(rig->indexPath(), 5);
        model.setMessage({});
        QVERIFY(finishes(model.changePassword(target, u"again"_s)));
        QCOMPARE(outcome(*rig), std::tuple(QList<SharedFile>{first}, accessText, QString(), true));
    }

    void pairings() {
        auto rig = refreshedRig();
        ParvelModel& model = *rig->model;
        QVERIFY(finishes(model.createPairing()));
        QCOMPARE(model.pairing().value_or(Pairing{}).serverURL, m_server.baseURL());

        // A null answer clears the code without an error.
        server().injectFault("POST", "/api/pairings", Fault::jsonNull());
        QVERIFY(finishes(model.createPairing()));
        QVERIFY(!model.pairing());
        QCOMPARE(model.error(), QString());
    }

    // A refused action shows its text and changes nothing else: lists, the
    // code, the status line and the index stay, and no other request follows.
    void refusedActions() {
        const SharedFile file = m_server.seed(u"a.txt"_s, 3);
        auto rig = refreshedRig();
        ParvelModel& m = *rig->model;
        QVERIFY(finishes(m.loadDevices()) && finishes(m.createPairing()));
        m.setMessage(u"before"_s);
        const auto state = [&] {
            return std::tuple(m.files(), m.devices().size(), m.pairing()->code, m.message(),
                              rig->index());
        };
        const auto before = state();
        const QString deleteText = u"Could not delete this item."_s;
        using Act = std::function<TaskHandle*()>;
        const std::tuple<const char*, const char*, Fault, Act, QString> rows[] = {
            {"DELETE", "/api/files/*", Fault::withStatus(404, "not json"),
             [&] { return m.deleteFile(file); }, deleteText},
            {"PATCH", "/api/files/*", Fault::withStatus(422, R"({"error":"Too short."})"),
             [&] { return m.changePassword(file, u"x"_s); }, u"Too short."_s},
            {"POST", "/api/pairings", Fault::withStatus(503, {}), [&] { return m.createPairing(); },
             u"The server returned 503. Please try again."_s},
            {"DELETE", "/api/devices/*", Fault::withStatus(500, "boom"),
             [&] { return m.revoke(m.devices().back()); }, deleteText},
        };
        for (const auto& [method, path, fault, act, error] : rows) {
            server().clearRequests();
            server().injectFault(method, path, fault);
            QVERIFY(finishes(act()));
            QCOMPARE(m.error(), error);
            QVERIFY(state() == before);
            QCOMPARE(m_server.trail(),
                     QStringList{QString::fromLatin1(method) + u' ' + QString::fromLatin1(path)});
        }
    }

    void devicesAndRevoke() {
        auto rig = refreshedRig();
        ParvelModel& model = *rig->model;
        const auto code = QString::fromStdString(server().newConnectionCode());
        const auto joined = waitWithin(
            Endpoints::connect(API(Connection{m_server.baseURL(), {}}), code, u"Other Mac"_s));
        QVERIFY(joined && *joined);
        const ConnectionResult other = **joined;
        const auto ids = [&] {
            QStringList ids;
            for (const auto& d : model.devices())
                ids.append(d.id);
            return ids;
        };
        QVERIFY(finishes(model.loadDevices()));
        QVERIFY(ids().contains(u"bootstrap"_s) && ids().contains(other.device.id));

        // A revoke that works reloads the list from the server.
        server().clearRequests();
        QVERIFY(finishes(model.revoke(Device{other.device.id, {}, {}})));
        QCOMPARE(m_server.trail(), lines("DELETE /api/devices/*|GET /api/devices"));
        QVERIFY(!ids().contains(other.device.id));
        QCOMPARE(model.error(), QString());
    }

    void revokingThisMac() {
        // This computer joins with a code of its own, then revokes itself.
        ModelRig rig;
        ParvelModel& model = *rig.model;
        model.setServerURL(m_server.baseURL());
        model.setConnectionCode(QString::fromStdString(server().newConnectionCode()));
        QVERIFY(finishes(model.connect()));
        const QString self = model.currentDeviceID();
        QVERIFY(model.connection() && !self.isEmpty());

        // The connection goes only when the device list is refused with 401.
        server().clearRequests();
        bool listAskedFirst = false;
        QObject::connect(&model, &ParvelModel::connectionChanged, &model,
                         [&] { listAskedFirst = m_server.count("GET", "/api/devices") > 0; });
        QVERIFY(finishes(model.revoke(Device{self, {}, {}})));
        QCOMPARE(m_server.count("DELETE", "/api/devices/" + self.toStdString()), size_t(1));
        QVERIFY(listAskedFirst);
        QVERIFY(!model.connection() && model.devices().isEmpty() && !KeychainStore().load());
        QCOMPARE(model.error(), disconnectedText);
    }

    void modelGoneWhileRequestIsOut() {
        // The model goes while the answer is on its way: whoever waits on the
        // handle resumes at once, and the late answer touches nothing.
        auto rig = refreshedRig();
        server().injectFault("GET", "/api/devices", Fault::delayed(std::chrono::milliseconds(300)));
        TaskHandle* handle = rig->model->loadDevices();
        QPointer<TaskHandle> watched(handle);
        auto done = std::make_shared<bool>(false);
        auto waiting = noteWhenDone(handle, done);
        QVERIFY(!*done);
        rig->model.reset();
        QVERIFY(*done && !watched);
        QTRY_COMPARE_WITH_TIMEOUT(m_server.count("GET", "/api/devices"), size_t(1), 10000);
        QTest::qWait(100); // the answer arrives and finds no model
    }

    void blockedIndexFolder() {
        // A regular file named "Parvel" in the way: actions complete as usual
        // and nothing is written.
        const SharedFile doomed = m_server.seed(u"doomed.txt"_s, 1);
        ModelRig rig;
        rig.model->setConnection(m_server.bootstrap());
        writeFile(rig.appData.filePath(u"Parvel"_s), 4, 'k');
        QVERIFY(finishes(rig.model->refresh()));
        QCOMPARE(rig.model->files(), m_server.serverFiles());
        QVERIFY(finishes(rig.model->deleteFile(doomed)));
        QCOMPARE(rig.model->message() + rig.model->error(), deletedText);
        QCOMPARE(QDir(rig.appData.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{u"Parvel"_s});
        QCOMPARE(readAll(rig.appData.filePath(u"Parvel"_s)), QByteArray("kkkk"));
    }
};

QTEST_MAIN(ModelActionsTest)
#include "tst_model_actions.moc"
