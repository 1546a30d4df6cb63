// Actions on shared files, connection codes and connected computers, and what
// each leaves in the local index, against the dev server on loopback.

#include "ModelFixture.h"

#include <QDir>

const QString deletedText = u"File deleted. Its link is no longer available."_s;

class ModelActionsTest : public QObject {
    Q_OBJECT

    ServerFixture m_server;

    devserver::Server& server() { return *m_server.server; }

    // The list, status line and error after an action; whether the index holds the list.
    static auto outcome(const ModelRig& rig) {
        const ParvelModel& m = *rig.model;
        return std::tuple(m.files(), m.message(), m.error(), rig.index() == encode(m.files()));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }
    void init() { m_server.reset(); }
    void cleanupTestCase() { systemConnectionStore()->clear(); }

    // Only a well-formed address reaches the browser, and quietly.
    void openLinks() {
        ModelRig rig;
        QSignalSpy message(rig.model.get(), &ParvelModel::messageChanged);
        for (const QString& url : {u"https://f.example/s/f1"_s, u"https://f x"_s, QString()})
            rig.model->openLink(SharedFile{u"f1"_s, u"a.txt"_s, 3, false, u"now"_s, url});
        QCOMPARE(rig.browser->opened, (QList<QUrl>{QUrl(u"https://f.example/s/f1"_s)}));
        QVERIFY(message.isEmpty());
    }

    // A file listed twice goes entirely, the others keep their order; one no
    // longer listed still gets its message. With a regular file "Parvel" in
    // the index's way, actions complete as usual and nothing is written.
    void deleteFiles() {
        const SharedFile a = m_server.seed(u"a.txt"_s, 3);
        const SharedFile b = m_server.seed(u"b.txt"_s, 3);
        const SharedFile c = m_server.seed(u"c.txt"_s, 3);
        auto rig = m_server.connectedRig();
        ParvelModel& model = *rig->model;

        model.assignFiles({a, b, a, c});
        model.setError(u"old"_s);
        QVERIFY(finishes(model.deleteFile(a)));
        QCOMPARE(outcome(*rig), std::tuple(QList<SharedFile>{b, c}, deletedText, QString(), true));

        model.assignFiles({b});
        model.setMessage({});
        QVERIFY(finishes(model.deleteFile(c)));
        QCOMPARE(outcome(*rig), std::tuple(QList<SharedFile>{b}, deletedText, QString(), true));

        ModelRig blocked;
        blocked.model->setConnection(m_server.bootstrap());
        writeFile(blocked.appData.filePath(u"Parvel"_s), 4, 'k');
        QVERIFY(finishes(blocked.model->refresh()));
        QCOMPARE(blocked.model->files(), m_server.serverFiles());
        QVERIFY(finishes(blocked.model->deleteFile(b)));
        QCOMPARE(blocked.model->message() + blocked.model->error(), deletedText);
        QCOMPARE(QDir(blocked.appData.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{u"Parvel"_s});
        QCOMPARE(readAll(blocked.appData.filePath(u"Parvel"_s)), QByteArray("kkkk"));
    }

    // A refresh's answer is older than what happened here while it was out:
    // a deletion, an upload and an access change made meanwhile win over it,
    // in the list and in the index. Its success leaves the feedback of the
    // user's own actions alone; it clears only its own failure.
    void refreshMeetsNewerChanges() {
        const SharedFile gone = m_server.seed(u"gone.txt"_s, 1);
        const SharedFile guarded = m_server.seed(u"guarded.txt"_s, 2);
        auto rig = m_server.connectedRig();
        ParvelModel& model = *rig->model;
        QVERIFY(finishes(model.refresh())); // changes are noted for listed files
        const QString folder = rig->appData.path();
        const QUrl upload = QUrl::fromLocalFile(writeFile(folder + u"/new.txt"_s, 3));

        server().injectFault("GET", "/api/files", Fault::late(std::chrono::milliseconds(1500)), 1);
        server().clearRequests();
        const QPointer<TaskHandle> refreshing = model.refresh();
        QTRY_COMPARE(m_server.count("GET", "/api/files"), size_t(1)); // its answer is made
        QVERIFY(finishes(model.deleteFile(gone)));
        QVERIFY(finishes(model.changePassword(guarded, u"four"_s)));
        model.setFiles({upload}, false);
        model.upload();
        QVERIFY(finishes(model.uploadTask()));
        QVERIFY2(refreshing && !refreshing->isFinished(), qPrintable(model.error()));
        QVERIFY(finishes(refreshing));
        const QList<SharedFile> now = m_server.serverFiles();
        QCOMPARE(model.files(), now);
        QVERIFY(now[0].name == u"new.txt"_s && !now.contains(gone));
        QVERIFY(std::ranges::find(now, guarded.id, &SharedFile::id)->isProtected);
        QCOMPARE(rig->index(), encode(now));

        model.setFiles({QUrl::fromLocalFile(folder)}, false);
        QVERIFY(finishes(model.refresh()));
        QCOMPARE(model.error(), u"Choose files. Zip folders before sharing them."_s);
        server().injectFault("GET", "/api/files", Fault::withStatus(500, {}), 1);
        QVERIFY(finishes(model.refresh()));
        QVERIFY(finishes(model.refresh()));
        QCOMPARE(model.error(), QString()); // its own failure, cleared
        model.setFiles({QUrl::fromLocalFile(folder)}, false);
        QVERIFY(finishes(model.refresh(true))); // the user's Refresh: a new action
        QCOMPARE(model.error(), QString());
    }

    // A string protects the file, QML's null lifts the protection (the wire
    // carries JSON null), and the list is updated when `finished` arrives.
    void changeAccess() {
        const SharedFile first = m_server.seed(u"first.txt"_s, 1);
        const SharedFile target = m_server.seed(u"target.txt"_s, 2);
        auto rig = m_server.connectedRig();
        ParvelModel& model = *rig->model;
        model.assignFiles({target, first});
        QStringList seen;
        for (const QVariant& password : {QVariant(u"pa ss"_s), QVariant::fromValue(nullptr)}) {
            TaskHandle* handle = model.changePassword(model.files().at(0), password);
            QObject::connect(handle, &TaskHandle::finished, &model,
                             [&] { seen << QVariant(model.files().at(0).isProtected).toString(); });
            QVERIFY(finishes(handle));
        }
        QCOMPARE(seen, lines("true|false"));
        QCOMPARE(outcome(*rig), std::tuple(QList<SharedFile>{target, first}, u"Access updated."_s,
                                           QString(), true));
        const auto patches = m_server.requests("PATCH", "/api/files/" + target.id.toStdString());
        QCOMPARE(patches.size(), size_t(2));
        QCOMPARE(patches[0].body, std::string(R"({"password":"pa ss"})"));
        QCOMPARE(patches[1].body, std::string(R"({"password":null})"));
    }

    // A refused action shows its text and changes nothing else: lists, the
    // code, the status line and the index stay, and no other request follows.
    // A null pairing answer clears the code without an error.
    void refusedActions() {
        const SharedFile file = m_server.seed(u"a.txt"_s, 3);
        auto rig = m_server.connectedRig();
        ParvelModel& m = *rig->model;
        m.assignFiles({file});
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

        server().injectFault("POST", "/api/pairings", Fault::jsonNull());
        QVERIFY(finishes(m.createPairing()));
        QVERIFY(!m.pairing() && m.error() == deleteText); // no new error
    }

    // This computer joins with a code of its own and revokes itself: the
    // connection goes only when the device list is then refused with 401.
    void revokingThisComputer() {
        ModelRig rig;
        ParvelModel& model = *rig.model;
        model.setServerURL(m_server.baseURL());
        model.setConnectionCode(QString::fromStdString(server().newConnectionCode()));
        QVERIFY(finishes(model.connect()));

        server().clearRequests();
        bool listAskedFirst = false;
        QObject::connect(&model, &ParvelModel::connectionChanged, &model,
                         [&] { listAskedFirst = m_server.count("GET", "/api/devices") > 0; });
        QVERIFY(finishes(model.revoke(Device{model.currentDeviceID(), {}, {}})));
        QCOMPARE(m_server.trail(), lines("DELETE /api/devices/*|GET /api/devices"));
        QVERIFY(listAskedFirst && !model.connection() && model.devices().isEmpty() &&
                !systemConnectionStore()->load().connection);
        QCOMPARE(model.error(), disconnectedText);
    }

    // The model goes while the answer is on its way: whoever waits on the
    // handle, as C++ callers do, resumes at once; the late answer touches nothing.
    void modelGoneWhileRequestIsOut() {
        auto rig = m_server.connectedRig();
        server().injectFault("GET", "/api/devices", Fault::delayed(std::chrono::milliseconds(300)));
        const QPointer<TaskHandle> handle = rig->model->loadDevices();
        auto done = std::make_shared<bool>(false);
        auto waiting = [](TaskHandle* task, std::shared_ptr<bool> over) -> QCoro::Task<> {
            co_await task->wait();
            *over = true;
        }(handle, done);
        QVERIFY(!*done);
        rig->model.reset();
        QVERIFY(*done && !handle);
        // The answer arrives, and finds no model.
        QTRY_COMPARE_WITH_TIMEOUT(m_server.count("GET", "/api/devices"), size_t(1), 10000);
    }
};

QTEST_MAIN(ModelActionsTest)
#include "tst_model_actions.moc"
