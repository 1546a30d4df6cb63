// The upload run of the model against the dev server over real TLS on
// loopback, with real files on disk and the offscreen clipboard.

#include "ModelFixture.h"

#include "net/UploadProgress.h"

#include <QClipboard>
#include <QDeadlineTimer>
#include <QDir>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QThread>

#include <thread>

#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Runs an upload to its end; whatever the outcome, the model is idle after it.
[[nodiscard]] bool run(ParvelModel& model) {
    model.upload();
    if (TaskHandle* handle = model.uploadTask(); handle && !finishes(handle))
        return false;
    return !model.isUploading() && model.progress() == 0.0 && !model.uploadTask();
}

// Cancels the run of `model` in the turn of the event loop that reads the
// answer to the server's n-th request, ahead of it: the answer has arrived
// and the cancel comes just after. Socket notifiers of one turn run in the
// order they were made, and this one (an always readable fd) is made
// before those of the run's requests.
struct CancelWithAnswer {
    CancelWithAnswer(ParvelModel& model, devserver::Server& server, size_t n) {
        m_trigger.emplace(m_fd, QSocketNotifier::Read);
        QObject::connect(
            &*m_trigger, &QSocketNotifier::activated, &*m_trigger, [this, &model, &server, n] {
                if (ready) {
                    m_trigger->setEnabled(false);
                    if ((fired = model.uploadTask() != nullptr))
                        model.uploadTask()->cancel();
                } else if (server.requests().size() >= n) {
                    // The request is in: its answer follows without us.
                    const QDeadlineTimer deadline(10s);
                    while (!server.requests()[n - 1].answered && !deadline.hasExpired())
                        QThread::msleep(1);
                    ready = true; // read in the next turn
                }
            });
    }
    ~CancelWithAnswer() {
        m_trigger.reset();
        ::close(m_fd);
    }
    bool fired = false, ready = false;
    int m_fd = ::eventfd(1, EFD_CLOEXEC); // always readable
    std::optional<QSocketNotifier> m_trigger;
};

} // namespace

class UploadTest : public QObject {
    Q_OBJECT

    ServerFixture m_server;
    QTemporaryDir m_files;
    std::unique_ptr<ModelRig> m_rig; // connected, one for each test

    devserver::Server& server() { return *m_server.server; }
    ParvelModel& model() { return *m_rig->model; }
    QUrl file(const QString& name, qint64 size) {
        return QUrl::fromLocalFile(writeFile(m_files.filePath(name), size));
    }
    // What the user sees after a run: "error|status line|listed files|clipboard".
    QString seen() {
        QStringList names;
        for (const auto& f : model().files())
            names.append(f.name);
        return QStringList{model().error(), model().message(), names.join(u','),
                           QGuiApplication::clipboard()->text()}
            .join(u'|');
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }
    void init() {
        m_server.reset();
        // Off the shared keyring: the real file store in a folder of our own.
        m_rig = m_server.connectedRig(
            std::make_shared<FileCredentialStore>(m_files.filePath(u"store"_s)));
        QGuiApplication::clipboard()->setText(u"before"_s);
    }
    void cleanup() { m_rig.reset(); }

    // Reports from any thread arrive on the main thread, from the loop,
    // never inside the reporting call; unknown and empty lengths report nothing.
    void progressReporter() {
        QList<double> delivered;
        const UploadProgress progress([&delivered](double fraction) {
            QVERIFY(QThread::currentThread() == qApp->thread());
            delivered.append(fraction);
        });
        std::jthread([&progress] {
            for (const auto& [sent, total] : {std::pair(1, 2), {100, -1}, {0, 0}, {3, 30}})
                progress.report(sent, total);
        }).join();
        progress.report(1, 1);
        QVERIFY(delivered.isEmpty());
        QTRY_COMPARE(delivered, (QList<double>{0.5, 0.1, 1}));
    }

    void selection() {
        ParvelModel& m = model();
        const QString zip = u"Choose files. Zip folders before sharing them."_s;
        const QUrl a = file(u"a.txt"_s, 10), b = file(u"b.txt"_s, 32);
        QVERIFY(QDir(m_files.path()).mkpath(u"folder"_s));
        const auto picked = [&m] {
            return std::tuple(m.selected(), m.selectedBytes().value_or(-1), m.error(), m.message());
        };
        // A folder among files: the files stay, the folder is reported, and
        // an old status text goes away.
        m.setMessage(u"3 links copied. Ready to share."_s);
        m.setFiles({a, QUrl::fromLocalFile(m_files.filePath(u"folder"_s)), b}, false);
        QCOMPARE(picked(), std::tuple(QList<QUrl>{a, b}, 42, zip, QString()));

        // The same file twice, and again through ".": once, under the
        // address given first, counted once.
        const QUrl dotted = QUrl::fromLocalFile(m_files.path() + u"/./a.txt"_s);
        m.setFiles({dotted, a, dotted}, false);
        QCOMPARE(picked(), std::tuple(QList<QUrl>{dotted}, 10, QString(), QString()));

        // Appending re-checks what was chosen before: a file deleted
        // meanwhile drops out and is reported.
        m.setFiles({a, b}, false);
        QVERIFY(QFile::remove(a.toLocalFile()));
        const QUrl c = file(u"c.txt"_s, 5);
        m.setFiles({c, b}, true);
        QCOMPARE(picked(), std::tuple(QList<QUrl>{b, c}, 37, zip, QString()));
    }

    void createRequestCarriesSizeAndPassword() {
        ParvelModel& m = model();
        // Exactly the limit is accepted. The create request is refused so
        // that none of the 5 GB moves; what matters is what it asked for.
        server().injectFault("POST", "/api/files",
                             Fault::withStatus(507, R"({"error":"No room for this file."})"), 0);
        m.setFiles({file(u"at-limit.bin"_s, 5'000'000'000)}, false);
        m.setPassword(u"typed but not wanted"_s);
        QVERIFY(run(m));
        QCOMPARE(seen(), u"No room for this file.|||before"_s);
        QCOMPARE(m_server.trail(), QStringList{u"POST /api/files"_s}); // no ticket, no discard
        QCOMPARE(server().requests()[0].body,
                 std::string(R"({"name":"at-limit.bin","password":null,"size":5000000000})"));
        QCOMPARE(m.password(), u"typed but not wanted"_s); // kept for another try

        // One byte more, measured again at upload time: refused before any request.
        server().clearRequests();
        const QUrl grows = file(u"grows.bin"_s, 10);
        m.setFiles({grows}, false);
        QVERIFY(QFile::resize(grows.toLocalFile(), 5'000'000'001));
        QVERIFY(run(m));
        QCOMPARE(m.error(), u"Choose a file up to 5 GB."_s);
        QVERIFY(server().requests().empty());
    }

    void threeFilesInOrder() {
        ParvelModel& m = model();
        const QList<QUrl> urls{file(u"first.txt"_s, 1000), file(u"second.bin"_s, 3 << 20),
                               file(u"third ü.txt"_s, 7)};
        m.setFiles(urls, false);
        // Each message, and the progress value each file starts from.
        // The index is written when the run ends, not after every file.
        QStringList events;
        const QByteArray indexBefore = m_rig->index();
        connect(&m, &ParvelModel::messageChanged, this, [&] {
            events.append(m.message());
            if (m.message().startsWith(u"Uploading"_s) && m_rig->index() != indexBefore)
                events.append(u"index written early"_s);
        });
        connect(&m, &ParvelModel::progressChanged, this, [&] {
            QVERIFY(m.progress() >= 0 && m.progress() <= 1);
            if (events.value(events.size() - 1).startsWith(u"Uploading"_s))
                events.append(QString::number(m.progress()));
        });
        m.setUsePassword(true);
        m.setPassword(u"four"_s);
        m.upload();
        // The call only starts the run: nothing of it has happened yet.
        QCOMPARE(m.message(), u"Preparing upload…"_s);
        QVERIFY(m.isUploading() && !m.canUpload() && server().requests().empty());
        QVERIFY(finishes(m.uploadTask()) && !m.isUploading() && !m.uploadTask());
        QCOMPARE(events, lines("Preparing upload…|Uploading 1 of 3…|0|Uploading 2 of 3…|0|"
                               "Uploading 3 of 3…|0|3 links copied. Ready to share."));

        // Newest first in the model and in the index; every link, in upload
        // order, on the clipboard.
        const QList<SharedFile> files = m.files();
        QCOMPARE(seen(), u"|3 links copied. Ready to share.|third ü.txt,second.bin,first.txt|"_s +
                             files[2].url + u'\n' + files[1].url + u'\n' + files[0].url);
        const QString oneFile = u"POST /api/files|PUT /upload/*|POST /api/files/*/complete"_s;
        QCOMPARE(m_server.trail(), QStringList({oneFile, oneFile, oneFile}).join(u'|').split(u'|'));
        QCOMPARE(m_rig->index(), encode(files));
        // The selection and password are spent; protection stays chosen.
        QVERIFY(m.selected().isEmpty() && !m.selectedBytes() && m.password().isEmpty() &&
                m.usePassword());

        // A failure in the middle: the finished links stay, the unfinished
        // file is discarded, the run stops and the selection is kept. The
        // fault goes in when the second file is announced.
        connect(&m, &ParvelModel::messageChanged, this, [&] {
            if (m.message() == u"Uploading 2 of 3…"_s)
                server().injectFault("PUT", "/*", Fault{}, 1);
        });
        m.setUsePassword(false);
        m.setFiles(urls, false);
        m_server.reset();
        QVERIFY(run(m));
        QCOMPARE(seen(), u"The upload did not finish. Please try again.|1 completed links copied.|"
                         "first.txt,third ü.txt,second.bin,first.txt|"_s +
                             m.files()[0].url);
        QCOMPARE(m.selected(), urls);
        QCOMPARE(m_server.trail(), lines("POST /api/files|PUT /upload/*|POST /api/files/*/complete|"
                                         "POST /api/files|PUT /upload/*|DELETE /api/files/*"));
    }

    void cancellationDuringTransfer() {
        ParvelModel& m = model();
        const QUrl big = file(u"big.bin"_s, 64 << 20);

        // Cancelled before its first step: the run ends without a request.
        m.setFiles({big}, false);
        m.upload();
        m.cancelUpload();
        QVERIFY(run(m));
        QCOMPARE(m.error(), u"Upload cancelled."_s);
        QVERIFY(server().requests().empty());

        // The server sits on the transfer long enough for the cancel to land.
        server().injectFault("PUT", "/*", Fault::delayed(3000ms), 1);
        QStringList whileRunning;
        m.presentFilePicker = [&whileRunning](bool) { whileRunning.append(u"picker shown"_s); };
        connect(&m, &ParvelModel::progressChanged, this, [&] {
            if (!whileRunning.isEmpty() || m.progress() <= 0)
                return;
            // Bytes are moving: the selection is locked while they do.
            m.setFiles({QUrl::fromLocalFile(m_files.filePath(u"other"_s))}, true);
            m.selectFiles(true);
            whileRunning += {m.error(), m.message(), m.selected().value(0).fileName()};
            m.cancelUpload();
        });
        QVERIFY(run(m));
        QCOMPARE(whileRunning, lines("Wait for the current upload, or cancel it first.|"
                                     "Uploading 1 of 1…|big.bin"));
        QCOMPARE(seen(), u"Upload cancelled.|||before"_s);
        QCOMPARE(m.selected(), QList<QUrl>{big});
        // Never completed, discarded; the server logs the abandoned PUT once
        // its delay is over, which shows the bytes had started.
        QTRY_COMPARE_WITH_TIMEOUT(
            m_server.trail(), lines("POST /api/files|DELETE /api/files/*|PUT /upload/*"), 10000);
    }

    // Quitting during a run: the run is cancelled and its unfinished file
    // deleted before the application goes; a deletion that hangs is given
    // up on after the limit.
    void quittingEndsTheRunFirst() {
        ParvelModel& m = model();
        const QUrl big = file(u"quit.bin"_s, 64 << 20);
        for (const bool deletionHangs : {false, true}) {
            m_server.reset();
            server().injectFault("PUT", "/*", Fault::delayed(1500ms), 1);
            if (deletionHangs)
                server().injectFault("DELETE", "/*", Fault::delayed(2s), 1);
            m.setFiles({big}, false);
            m.upload();
            QTRY_VERIFY(m.progress() > 0); // bytes are moving
            QVERIFY(waitWithin(m.endUpload(deletionHangs ? 300ms : 2000ms)));
            QCOMPARE(m.isUploading(), deletionHangs);
            QCOMPARE(m_server.count("DELETE", "/api/files/*"), size_t(deletionHangs ? 0 : 1));
            QVERIFY(finishes(m.uploadTask()) || !m.uploadTask());
            QTRY_VERIFY_WITH_TIMEOUT(m_server.count("PUT", "/*") > 0, 10000);
        }
    }

    void fileReplacedByAPipe() {
        ParvelModel& m = model();
        const QUrl url = file(u"swapped.txt"_s, 10);
        const QByteArray path = QFile::encodeName(url.toLocalFile());
        // Swapped after the run measured it, before its bytes are read.
        connect(&m, &ParvelModel::messageChanged, this, [&] {
            if (m.message() == u"Uploading 1 of 1…"_s)
                QVERIFY(::unlink(path.constData()) == 0 && ::mkfifo(path.constData(), 0600) == 0);
        });
        // A reader stuck opening the pipe would hang the test: the alarm
        // ends it instead.
        ::alarm(20);
        m.setFiles({url}, false);
        QVERIFY(run(m));
        ::alarm(0);
        QCOMPARE(seen(),
                 u"Could not open %1: not a regular file|||before"_s.arg(url.toLocalFile()));
        QCOMPARE(m_server.trail(), lines("POST /api/files|DELETE /api/files/*"));
    }

    void cancellationArrivingWithAnAnswer() {
        ParvelModel& m = model();
        const QList<QUrl> urls{file(u"one.txt"_s, 100), file(u"two.txt"_s, 100)};

        // The answer to the create request is in, so the server holds a
        // ticket: it is discarded.
        m.setFiles(urls, false);
        CancelWithAnswer create(m, server(), 1);
        QVERIFY(run(m) && create.fired);
        QCOMPARE(seen(), u"Upload cancelled.|||before"_s);
        // The byte transfer may have begun before the cancel was seen; it
        // does not matter as long as the ticket is discarded.
        QCOMPARE(m_server.trail().join(u'|').remove(u"|PUT /upload/*"_s),
                 u"POST /api/files|DELETE /api/files/*"_s);

        // The answer completing the first file is in, so that file is
        // finished: kept and linked; the cancel stops the run before the
        // next file is done.
        m_server.reset();
        CancelWithAnswer complete(m, server(), 3);
        QVERIFY(run(m) && complete.fired);
        QCOMPARE(seen(),
                 u"Upload cancelled.|1 completed links copied.|one.txt|"_s + m.files()[0].url);
        QCOMPARE(m_server.count("DELETE", "/api/files/" + m.files()[0].id.toStdString()),
                 size_t(0));
    }

    void failedRunsDiscardTheFile() {
        ParvelModel& m = model();
        // Plain http is refused even on loopback, and so is any spelling of
        // https but the exact one: a listener there must never see a
        // connection.
        QTcpServer plain;
        QVERIFY(plain.listen(QHostAddress::LocalHost));
        const std::string port = std::to_string(plain.serverPort());
        m.setFiles({file(u"plain.txt"_s, 10)}, false);
        for (const std::string& address :
             {"http://127.0.0.1:" + port + "/upload/plain", "Https://localhost:" + port + "/up"}) {
            m_server.reset();
            server().overrideUploadURL(address);
            QVERIFY(run(m));
            QCOMPARE(seen(), u"The upload address is invalid.|||before"_s);
            QVERIFY(!plain.hasPendingConnections());
            QCOMPARE(m_server.trail(), lines("POST /api/files|DELETE /api/files/*"));
        }

        // A discard that fails changes nothing: the transfer's failure is
        // the one shown, and a 401 to the discard does not disconnect.
        m_server.reset();
        server().injectFault("PUT", "/*", Fault{}, 1);
        server().injectFault("DELETE", "/api/files/*",
                             Fault::withStatus(401, R"({"error":"Not yours."})"), 1);
        QVERIFY(run(m));
        QCOMPARE(m.error(), u"The upload did not finish. Please try again."_s);
        QVERIFY(m.connection() && m_rig->store->load().connection && m.selected().size() == 1);
        QCOMPARE(m_server.trail(), lines("POST /api/files|PUT /upload/*|DELETE /api/files/*"));

        // 401 when completing: both connections go, the file is still discarded.
        m_server.reset();
        server().injectFault("POST", "/api/files/*",
                             Fault::withStatus(401, R"({"error":"Unknown token."})"), 1);
        QVERIFY(run(m));
        QCOMPARE(seen(), disconnectedText + u"|||before"_s);
        QVERIFY(!m.connection() && m.selected().isEmpty());
        QTRY_VERIFY(!m_rig->store->load().connection);
        QCOMPARE(m_server.trail(), lines("POST /api/files|PUT /upload/*|POST /api/files/*/complete|"
                                         "DELETE /api/files/*"));
    }
};

QTEST_MAIN(UploadTest)
#include "tst_upload.moc"
