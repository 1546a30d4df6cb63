// The upload run of the model against the dev server over real TLS on
// loopback, with real files on disk and the offscreen clipboard.

#include "ModelFixture.h"

#include "net/UploadProgress.h"

#include <QClipboard>
#include <QDeadlineTimer>
#include <QDir>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QThread>

#include <condition_variable>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

QClipboard* clipboard() {
    return QGuiApplication::clipboard();
}

// Starts a run and waits for its end; whatever the outcome, the model is
// idle afterwards.
[[nodiscard]] bool run(ParvelModel& model) {
    model.upload();
    if (TaskHandle* handle = model.uploadTask(); handle && !finishes(handle))
        return false;
    return !model.isUploading() && model.progress() == 0.0 && !model.uploadTask();
}

// Cancels the run of `model` in the turn of the event loop that reads the
// answer to the server's n-th request, ahead of it: the answer has arrived
// and the cancel comes just after. Socket notifiers of one turn run in the
// order they were made, and this one (an always readable pipe) is made
// before those of the run's requests.
struct CancelWithAnswer {
    CancelWithAnswer(ParvelModel& model, devserver::Server& server, size_t n) {
        if (::pipe2(m_pipe, O_CLOEXEC) != 0 || ::write(m_pipe[1], "x", 1) != 1)
            qFatal("pipe");
        m_trigger.emplace(m_pipe[0], QSocketNotifier::Read);
        QObject::connect(&*m_trigger, &QSocketNotifier::activated, &*m_trigger,
                         [this, &model, &server, n] { step(model, server, n); });
    }
    ~CancelWithAnswer() {
        m_trigger.reset();
        ::close(m_pipe[0]);
        ::close(m_pipe[1]);
    }
    bool fired = false;

private:
    void step(ParvelModel& model, devserver::Server& server, size_t n) {
        if (!m_ready) {
            if (server.requests().size() < n)
                return;
            // The request is in: its answer follows without us.
            const QDeadlineTimer deadline(10s);
            while (!server.requests()[n - 1].answered && !deadline.hasExpired())
                QThread::msleep(1);
            m_ready = true; // read in the next turn
            return;
        }
        m_trigger->setEnabled(false);
        fired = model.uploadTask() != nullptr;
        if (fired)
            model.uploadTask()->cancel();
    }

    bool m_ready = false;
    int m_pipe[2] = {-1, -1};
    std::optional<QSocketNotifier> m_trigger;
};

} // namespace

class UploadTest : public QObject {
    Q_OBJECT

    ServerFixture m_server;
    QTemporaryDir m_files;

    std::unique_ptr<ModelRig> m_rig; // connected, one for each test

    devserver::Server& server() { return *m_server.server; }
    QUrl file(const QString& name, qint64 size) {
        return QUrl::fromLocalFile(writeFile(m_files.filePath(name), size));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }
    void init() {
        m_server.reset();
        // Off the shared keyring: the real file store in a folder of our own.
        m_rig = m_server.connectedRig(
            std::make_shared<FileCredentialStore>(m_files.filePath(u"store"_s)));
    }
    void cleanup() { m_rig.reset(); }

    void progressReporter() {
        QList<double> delivered;
        const UploadProgress progress([&delivered](double fraction) {
            QVERIFY(QThread::currentThread() == qApp->thread());
            delivered.append(fraction);
        });
        // Unknown and empty lengths report nothing; the rest arrives from the
        // loop, never inside the reporting call.
        progress.report(100, -1);
        progress.report(0, 0);
        progress.report(524288, 1048576);
        QVERIFY(delivered.isEmpty());
        QCoreApplication::processEvents();
        QCOMPARE(delivered, QList<double>{0.5});

        // From a network thread: one main-thread call per report, in order,
        // each from its own totals, none merged.
        delivered.clear();
        std::unique_ptr<QThread> worker(QThread::create([&progress] {
            for (int i = 1; i <= 10; ++i)
                progress.report(i * 3, 30);
        }));
        worker->start();
        QVERIFY(worker->wait(10000));
        QTRY_COMPARE(delivered.size(), 10);
        for (int i = 0; i < 10; ++i)
            QCOMPARE(delivered[i], (i + 1) * 3 / 30.0);
    }

    void selection() {
        ParvelModel& model = *m_rig->model;
        const QString zip = u"Choose files. Zip folders before sharing them."_s;
        const QUrl a = file(u"a.txt"_s, 10), b = file(u"b.txt"_s, 32);
        QVERIFY(QDir(m_files.path()).mkpath(u"folder"_s));
        const QUrl folder = QUrl::fromLocalFile(m_files.filePath(u"folder"_s));

        // A folder among files: the files stay, the folder is reported, and
        // an old status text goes away.
        model.setMessage(u"3 links copied. Ready to share."_s);
        model.setFiles({a, folder, b}, false);
        QCOMPARE(model.selected(), (QList<QUrl>{a, b}));
        QCOMPARE(model.selectedBytes(), std::optional<qint64>(42));
        QCOMPARE(model.error(), zip);
        QCOMPARE(model.message(), QString());

        // The same file twice, and again through ".": once, under the
        // address given first, counted once.
        const QUrl dotted = QUrl::fromLocalFile(m_files.path() + u"/./a.txt"_s);
        model.setFiles({dotted, a, dotted}, false);
        QCOMPARE(model.selected(), QList<QUrl>{dotted});
        QCOMPARE(model.selectedBytes(), std::optional<qint64>(10));
        QCOMPARE(model.error(), QString());

        // Appending re-checks what was chosen before: a file deleted
        // meanwhile drops out and is reported.
        model.setFiles({a, b}, false);
        QVERIFY(QFile::remove(a.toLocalFile()));
        const QUrl c = file(u"c.txt"_s, 5);
        model.setFiles({c, b}, true);
        QCOMPARE(model.selected(), (QList<QUrl>{b, c}));
        QCOMPARE(model.selectedBytes(), std::optional<qint64>(37));
        QCOMPARE(model.error(), zip);
    }

    void createRequestCarriesSizeAndPassword() {
        ParvelModel& model = *m_rig->model;
        // Exactly the limit is accepted. The create request is refused so
        // that none of the 5 GB moves; what matters is what it asked for.
        server().injectFault("POST", "/api/files",
                             Fault::withStatus(507, R"({"error":"No room for this file."})"), 0);
        model.setFiles({file(u"at-limit.bin"_s, 5'000'000'000)}, false);
        model.setPassword(u"typed but not wanted"_s);
        QVERIFY(run(model));
        QCOMPARE(model.error(), u"No room for this file."_s);
        QCOMPARE(model.message(), QString());
        auto created = m_server.requests("POST", "/api/files");
        QCOMPARE(created.size(), size_t(1));
        QCOMPARE(created[0].body,
                 std::string(R"({"name":"at-limit.bin","password":null,"size":5000000000})"));
        QCOMPARE(m_server.count("PUT", "/*"), size_t(0));
        QCOMPARE(m_server.count("DELETE", "/*"), size_t(0));   // no ticket, nothing to discard
        QCOMPARE(model.password(), u"typed but not wanted"_s); // kept for another try

        // Protected: the password text as typed.
        server().clearRequests();
        model.setUsePassword(true);
        model.setPassword(u"hunter2 ü"_s);
        QVERIFY(run(model));
        created = m_server.requests("POST", "/api/files");
        QCOMPARE(created.size(), size_t(1));
        QCOMPARE(bodyOf(created[0]).value(u"password"_s).toString(), u"hunter2 ü"_s);

        // One byte more, measured again at upload time: refused before any
        // request.
        server().clearRequests();
        model.setUsePassword(false);
        const QUrl grows = file(u"grows.bin"_s, 10);
        model.setFiles({grows}, false);
        QVERIFY(QFile::resize(grows.toLocalFile(), 5'000'000'001));
        QVERIFY(run(model));
        QCOMPARE(model.error(), u"Choose a file up to 5 GB."_s);
        QVERIFY(server().requests().empty());
    }

    void threeFilesInOrder() {
        ParvelModel& model = *m_rig->model;
        const QList<QUrl> urls{file(u"first.txt"_s, 1000), file(u"second.bin"_s, 3 << 20),
                               file(u"third ü.txt"_s, 7)};
        model.setFiles(urls, false);
        // Each message, and the progress value each file starts from.
        QStringList events;
        connect(&model, &ParvelModel::messageChanged, this,
                [&] { events.append(model.message()); });
        connect(&model, &ParvelModel::progressChanged, this, [&] {
            QVERIFY(model.progress() >= 0 && model.progress() <= 1);
            if (events.value(events.size() - 1).startsWith(u"Uploading"_s))
                events.append(QString::number(model.progress()));
        });
        model.setPassword(u"ignored"_s);
        server().clearRequests();
        // The index is written when the run ends, not after every file.
        const QByteArray indexBefore = m_rig->index();
        QStringList indexWrittenEarly;
        connect(&model, &ParvelModel::messageChanged, this, [&] {
            if (model.message().startsWith(u"Uploading"_s) && m_rig->index() != indexBefore)
                indexWrittenEarly.append(model.message());
        });
        model.upload();
        // The call only starts the run: nothing of it has happened yet.
        QCOMPARE(model.message(), u"Preparing upload…"_s);
        QVERIFY(model.isUploading() && !model.canUpload());
        QVERIFY(server().requests().empty());
        QVERIFY(finishes(model.uploadTask()));
        QVERIFY(!model.isUploading() && !model.uploadTask());
        QCOMPARE(model.error(), QString());
        QCOMPARE(events, (QStringList{u"Preparing upload…"_s, u"Uploading 1 of 3…"_s, u"0"_s,
                                      u"Uploading 2 of 3…"_s, u"0"_s, u"Uploading 3 of 3…"_s,
                                      u"0"_s, u"3 links copied. Ready to share."_s}));

        // Newest first in the model and in the index; links in upload order;
        // each file sent with exactly its measured size.
        const QList<SharedFile> files = model.files();
        QStringList listed;
        QList<qint64> sent;
        for (const auto& f : files)
            listed.append(f.name + u' ' + QString::number(f.size));
        for (const auto& put : m_server.requests("PUT", "/*"))
            sent.append(qint64(put.bodyBytes));
        QCOMPARE(listed,
                 (QStringList{u"third ü.txt 7"_s, u"second.bin 3145728"_s, u"first.txt 1000"_s}));
        QCOMPARE(sent, (QList<qint64>{1000, 3 << 20, 7}));
        QCOMPARE(m_rig->index(), encode(files));
        QCOMPARE(indexWrittenEarly, QStringList());
        QCOMPARE(clipboard()->text(), files[2].url + u'\n' + files[1].url + u'\n' + files[0].url);
        QVERIFY(model.selected().isEmpty() && !model.selectedBytes()); // spent
        QCOMPARE(model.password(), QString());
        QCOMPARE(m_server.count("POST", "/api/files/*"), size_t(3)); // complete
        QCOMPARE(m_server.count("DELETE", "/*"), size_t(0));

        // One file: the singular text, just its link; protection stays.
        model.setUsePassword(true);
        model.setPassword(u"four"_s);
        model.setFiles({urls[0]}, false);
        QVERIFY(run(model));
        QCOMPARE(model.message(), u"Link copied. Ready to share."_s);
        QCOMPARE(clipboard()->text(), model.files()[0].url);
        QVERIFY(model.files()[0].isProtected && model.usePassword());
        QCOMPARE(m_rig->index(), encode(model.files()));
    }

    void failureInTheMiddleKeepsFinishedLinks() {
        ParvelModel& model = *m_rig->model;
        const QList<QUrl> urls{file(u"one.txt"_s, 100), file(u"two.txt"_s, 100),
                               file(u"three.txt"_s, 100)};
        // The fault goes in when the run announces the second file, before
        // that file's first request.
        connect(&model, &ParvelModel::messageChanged, this, [&] {
            if (model.message() == u"Uploading 2 of 3…"_s)
                server().injectFault("PUT", "/*", Fault{}, 1);
        });
        model.setFiles(urls, false);
        clipboard()->setText(u"before"_s);
        QVERIFY(run(model));

        QCOMPARE(model.error(), u"The upload did not finish. Please try again."_s);
        QCOMPARE(model.message(), u"1 completed links copied."_s);
        QCOMPARE(model.files().size(), 1);
        QCOMPARE(model.files()[0].name, u"one.txt"_s);
        QCOMPARE(clipboard()->text(), model.files()[0].url);
        QCOMPARE(model.selected(), urls); // kept for another try
        // The second file was created and then discarded; the third never began.
        QCOMPARE(m_server.count("POST", "/api/files"), size_t(2));
        QCOMPARE(m_server.count("PUT", "/*"), size_t(2));
        QCOMPARE(m_server.count("DELETE", "/api/files/*"), size_t(1));
        QCOMPARE(server().requests().back().method, std::string("DELETE"));
    }

    void cancellationDuringTransfer() {
        ParvelModel& model = *m_rig->model;
        const QUrl big = file(u"big.bin"_s, 64 << 20);

        // Cancelled before its first step: the run ends without a request.
        model.setFiles({big}, false);
        model.upload();
        model.cancelUpload();
        QVERIFY(finishes(model.uploadTask()));
        QCOMPARE(model.error(), u"Upload cancelled."_s);
        QVERIFY(!model.isUploading() && !model.uploadTask());
        QVERIFY(server().requests().empty());

        // The server sits on the transfer long enough for the cancel to land.
        server().injectFault("PUT", "/*", Fault::delayed(std::chrono::milliseconds(3000)), 1);
        bool pickerShown = false;
        model.presentFilePicker = [&pickerShown](bool) { pickerShown = true; };
        QStringList whileRunning;
        connect(&model, &ParvelModel::progressChanged, this, [&] {
            if (!whileRunning.isEmpty() || model.progress() <= 0)
                return;
            // Bytes are moving: the selection is locked while they do.
            model.setFiles({QUrl::fromLocalFile(m_files.filePath(u"other"_s))}, true);
            model.selectFiles(true);
            whileRunning = {model.error(), model.message(), model.selected().value(0).fileName()};
            model.cancelUpload();
        });
        model.setFiles({big}, false);
        clipboard()->setText(u"before"_s);
        QVERIFY(run(model));
        QVERIFY(!pickerShown);
        QCOMPARE(whileRunning, (QStringList{u"Wait for the current upload, or cancel it first."_s,
                                            u"Uploading 1 of 1…"_s, u"big.bin"_s}));

        QCOMPARE(model.error(), u"Upload cancelled."_s);
        QCOMPARE(model.message(), QString());
        QCOMPARE(clipboard()->text(), u"before"_s);
        QCOMPARE(model.selected(), QList<QUrl>{big});
        QVERIFY(model.files().isEmpty());
        QCOMPARE(m_server.count("POST", "/api/files/*"), size_t(0)); // never completed
        QCOMPARE(m_server.count("DELETE", "/api/files/*"), size_t(1));
        // The server logs the abandoned PUT once its delay is over; waiting
        // shows the bytes had started, and keeps it out of the next test.
        QTRY_VERIFY_WITH_TIMEOUT(m_server.count("PUT", "/*") > 0, 10000);
    }

    // Quitting during a run: the run is cancelled and its unfinished file
    // deleted before the application goes; a deletion that hangs is given
    // up on after the limit.
    void quittingEndsTheRunFirst() {
        ParvelModel& model = *m_rig->model;
        const QUrl big = file(u"quit.bin"_s, 64 << 20);
        QVERIFY(waitWithin(model.endUpload(std::chrono::seconds(2)))); // nothing runs
        for (const bool deletionHangs : {false, true}) {
            m_server.reset();
            server().injectFault("PUT", "/*", Fault::delayed(std::chrono::milliseconds(1500)), 1);
            if (deletionHangs)
                server().injectFault("DELETE", "/*", Fault::delayed(std::chrono::seconds(2)), 1);
            model.setFiles({big}, false);
            model.upload();
            QTRY_VERIFY(model.progress() > 0); // bytes are moving
            const auto limit =
                deletionHangs ? std::chrono::milliseconds(300) : std::chrono::seconds(2);
            QVERIFY(waitWithin(model.endUpload(limit)));
            QCOMPARE(model.isUploading(), deletionHangs);
            QCOMPARE(m_server.count("DELETE", "/api/files/*"), size_t(deletionHangs ? 0 : 1));
            QVERIFY(finishes(model.uploadTask()) || !model.uploadTask());
            QTRY_VERIFY_WITH_TIMEOUT(m_server.count("PUT", "/*") > 0, 10000);
        }
    }

    void fileReplacedByAPipe() {
        ParvelModel& model = *m_rig->model;
        const QUrl url = file(u"swapped.txt"_s, 10);
        const QByteArray path = QFile::encodeName(url.toLocalFile());
        // Swapped after the run measured it, before its bytes are read.
        connect(&model, &ParvelModel::messageChanged, this, [&] {
            if (model.message() == u"Uploading 1 of 1…"_s)
                QVERIFY(::unlink(path.constData()) == 0 && ::mkfifo(path.constData(), 0600) == 0);
        });
        // A reader stuck opening the pipe gets a writer after 10 s, so that
        // the test fails instead of hanging.
        std::atomic<bool> rescued = false;
        const std::jthread rescue([&path, &rescued](std::stop_token stop) {
            std::mutex mutex;
            std::unique_lock lock(mutex);
            std::condition_variable_any().wait_for(lock, stop, 10s, [] { return false; });
            if (stop.stop_requested())
                return;
            if (const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK); fd >= 0) {
                rescued = true;
                ::close(fd);
            }
        });
        model.setFiles({url}, false);
        QVERIFY(run(model));
        QVERIFY(!rescued);
        QCOMPARE(model.error(), u"Could not open %1: not a regular file"_s.arg(url.toLocalFile()));
        QCOMPARE(model.message(), QString());
        QCOMPARE(model.selected(), QList<QUrl>{url});
        QCOMPARE(m_server.count("PUT", "/*"), size_t(0));
        QCOMPARE(m_server.count("DELETE", "/api/files/*"), size_t(1));
    }

    void cancellationArrivingWithAnAnswer() {
        ParvelModel& model = *m_rig->model;
        const QList<QUrl> urls{file(u"one.txt"_s, 100), file(u"two.txt"_s, 100)};

        // The answer to the create request is in, so the server holds a
        // ticket: it is discarded.
        model.setFiles(urls, false);
        CancelWithAnswer create(model, server(), 1);
        QVERIFY(run(model));
        QVERIFY(create.fired);
        QCOMPARE(model.error(), u"Upload cancelled."_s);
        QCOMPARE(model.message(), QString());
        const auto tickets = m_server.requests("POST", "/api/files");
        QCOMPARE(tickets.size(), size_t(1));
        QCOMPARE(m_server.count("DELETE", "/api/files/*"), size_t(1));

        // The answer completing the first file is in, so that file is
        // finished: kept and linked; the cancel stops the run before the
        // next file is done.
        m_server.reset();
        clipboard()->setText(u"before"_s);
        CancelWithAnswer complete(model, server(), 3);
        QVERIFY(run(model));
        QVERIFY(complete.fired);
        QCOMPARE(model.error(), u"Upload cancelled."_s);
        QCOMPARE(model.message(), u"1 completed links copied."_s);
        QCOMPARE(model.files().size(), 1);
        QCOMPARE(model.files()[0].name, u"one.txt"_s);
        QCOMPARE(clipboard()->text(), model.files()[0].url);
        QCOMPARE(m_server.count("DELETE", "/api/files/" + model.files()[0].id.toStdString()),
                 size_t(0));
        QCOMPARE(model.selected(), urls);
    }

    void failedRunsDiscardTheFile() {
        ParvelModel& model = *m_rig->model;
        clipboard()->setText(u"before"_s);
        // Plain http is refused even on loopback, and so is any spelling of
        // https but the exact one: a listener there must never see a
        // connection.
        QTcpServer plain;
        QVERIFY(plain.listen(QHostAddress::LocalHost));
        const std::string port = std::to_string(plain.serverPort());
        model.setFiles({file(u"plain.txt"_s, 10)}, false);
        for (const std::string& address :
             {"http://127.0.0.1:" + port + "/upload/plain", "HTTPS://localhost:" + port + "/up",
              "Https://localhost:" + port + "/up"}) {
            m_server.reset();
            server().overrideUploadURL(address);
            QVERIFY(run(model));
            QCOMPARE(model.error(), u"The upload address is invalid."_s);
            QCOMPARE(model.message(), QString());
            QVERIFY(!plain.hasPendingConnections());
            QCOMPARE(m_server.count("DELETE", "/api/files/*"), size_t(1));
        }

        // A discard that fails changes nothing: the transfer's failure is
        // the one shown, and a 401 to the discard does not disconnect.
        for (const int status : {401, 500}) {
            m_server.reset();
            server().injectFault("PUT", "/*", Fault{}, 1);
            server().injectFault("DELETE", "/api/files/*",
                                 Fault::withStatus(status, R"({"error":"Not yours."})"), 1);
            QVERIFY(run(model));
            QCOMPARE(model.error(), u"The upload did not finish. Please try again."_s);
            QVERIFY(model.connection() && m_rig->store->load().connection);
            QCOMPARE(model.selected().size(), 1);
            QCOMPARE(m_server.count("DELETE", "/api/files/*"), size_t(1));
        }

        // 401 when completing: both connections go, the file is still discarded.
        m_server.reset();
        server().injectFault("POST", "/api/files/*",
                             Fault::withStatus(401, R"({"error":"Unknown token."})"), 1);
        QVERIFY(run(model));
        QCOMPARE(model.error(), disconnectedText);
        QVERIFY(!model.connection());
        QTRY_VERIFY(!m_rig->store->load().connection);
        QVERIFY(model.selected().isEmpty());
        QCOMPARE(model.message(), QString());
        QCOMPARE(clipboard()->text(), u"before"_s);
        QCOMPARE(m_server.count("DELETE", "/api/files/*"), size_t(1));
    }
};

QTEST_MAIN(UploadTest)
#include "tst_upload.moc"
