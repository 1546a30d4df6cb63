// The upload run of the model against the dev server over real TLS on
// loopback, with real files on disk and the offscreen clipboard.

#include "ModelFixture.h"

#include "net/UploadProgress.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTcpServer>
#include <QThread>

namespace {

QString clipboardText() {
    return QGuiApplication::clipboard()->text();
}

void setClipboard(const QString& text) {
    QGuiApplication::clipboard()->setText(text);
}

// Starts a run and waits for its end; whatever the outcome, the model is
// idle afterwards.
[[nodiscard]] bool run(ParvelModel& model) {
    model.upload();
    if (const auto handle = model.uploadTask(); handle && !handle->isFinished())
        if (!QSignalSpy(handle.get(), &TaskHandle::finished).wait(60000))
            return false;
    return !model.isUploading() && model.progress() == 0.0 && !model.uploadTask();
}

} // namespace

class UploadTest : public QObject {
    Q_OBJECT

    ServerFixture m_server;
    QTemporaryDir m_files;

    devserver::Server& server() { return *m_server.server; }
    // Off the shared keyring: the real file store in a folder of our own.
    std::unique_ptr<ModelRig> rig() {
        return m_server.connectedRig(std::make_shared<FolderStore>(m_files.filePath(u"store"_s)));
    }
    QUrl file(const QString& name, qint64 size) {
        return QUrl::fromLocalFile(writeFile(m_files.filePath(name), size));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }
    void init() { m_server.reset(); }

    void progressReporter() {
        QList<double> delivered;
        const UploadProgress progress([&delivered](double fraction) {
            QVERIFY(QThread::currentThread() == qApp->thread());
            delivered.append(fraction);
        });
        // Unknown and empty lengths report nothing.
        progress.report(100, -1);
        progress.report(0, 0);
        QCoreApplication::processEvents();
        QVERIFY(delivered.isEmpty());
        // Delivered from the loop, never inside the reporting call.
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
        auto r = rig();
        ParvelModel& model = *r->model;
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

        // Nothing usable: no byte count at all.
        model.setFiles({folder, QUrl(u"https://example.org/a.txt"_s)}, false);
        QVERIFY(model.selected().isEmpty() && !model.canUpload());
        QCOMPARE(model.selectedBytes(), std::nullopt);
    }

    void createRequestCarriesSizeAndPassword() {
        auto r = rig();
        ParvelModel& model = *r->model;
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
        QVERIFY2(created[0].body.find(R"("size":5000000000)") != std::string::npos,
                 created[0].body.c_str());
        QCOMPARE(bodyOf(created[0]).value(u"name"_s).toString(), u"at-limit.bin"_s);
        QVERIFY(bodyOf(created[0]).contains(u"password"_s));
        QVERIFY(bodyOf(created[0]).value(u"password"_s).isNull());
        QCOMPARE(m_server.count("PUT", "/*"), size_t(0));
        // Kept for another try.
        QCOMPARE(model.selected().size(), 1);
        QCOMPARE(model.password(), u"typed but not wanted"_s);

        // Protected: the password text as typed.
        server().clearRequests();
        model.setUsePassword(true);
        model.setPassword(u"hunter2 ü"_s);
        QVERIFY(run(model));
        created = m_server.requests("POST", "/api/files");
        QCOMPARE(created.size(), size_t(1));
        QCOMPARE(bodyOf(created[0]).value(u"password"_s).toString(), u"hunter2 ü"_s);

        // One byte more, also when the file grew after it was chosen: refused
        // before any request.
        server().clearRequests();
        model.setUsePassword(false);
        model.setFiles({file(u"over-limit.bin"_s, 5'000'000'001)}, false);
        QVERIFY(run(model));
        QCOMPARE(model.error(), u"Choose a file up to 5 GB."_s);
        const QUrl grows = file(u"grows.bin"_s, 10);
        model.setFiles({grows}, false);
        QVERIFY(QFile::resize(grows.toLocalFile(), 5'000'000'001));
        QVERIFY(run(model));
        QCOMPARE(model.error(), u"Choose a file up to 5 GB."_s);
        QVERIFY(server().requests().empty());
    }

    void threeFilesInOrder() {
        auto r = rig();
        ParvelModel& model = *r->model;
        const QStringList names{u"first.txt"_s, u"second.bin"_s, u"third ü.txt"_s};
        const QList<qint64> sizes{1000, 3 << 20, 7};
        QList<QUrl> urls;
        for (int i = 0; i < 3; ++i)
            urls.append(file(names[i], sizes[i]));
        model.setFiles(urls, false);
        QStringList events;
        connect(&model, &ParvelModel::messageChanged, this,
                [&] { events.append(u"message "_s + model.message()); });
        connect(&model, &ParvelModel::progressChanged, this, [&] {
            QVERIFY(model.progress() >= 0 && model.progress() <= 1);
            events.append(u"progress "_s + QString::number(model.progress()));
        });
        model.setPassword(u"ignored"_s);
        setClipboard(u"before"_s);
        QVERIFY(run(model));
        QCOMPARE(model.error(), QString());

        // Every file starts from 0, right after its message.
        QCOMPARE(events.filter(u"message "_s),
                 (QStringList{u"message Preparing upload…"_s, u"message Uploading 1 of 3…"_s,
                              u"message Uploading 2 of 3…"_s, u"message Uploading 3 of 3…"_s,
                              u"message 3 links copied. Ready to share."_s}));
        for (int k = 1; k <= 3; ++k) {
            const auto at = events.indexOf(u"message Uploading %1 of 3…"_s.arg(k));
            QCOMPARE(events.value(at + 1), u"progress 0"_s);
        }

        // Newest first in the model and in the index; links in upload order.
        const QList<SharedFile> files = model.files();
        QCOMPARE(files.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(files[2 - i].name, names[i]);
            QCOMPARE(files[2 - i].size, sizes[i]);
            QVERIFY(!files[2 - i].isProtected);
        }
        QCOMPARE(r->index(), encode(files));
        QCOMPARE(clipboardText(), files[2].url + u'\n' + files[1].url + u'\n' + files[0].url);
        // Selection and password are spent.
        QVERIFY(model.selected().isEmpty() && !model.selectedBytes());
        QCOMPARE(model.password(), QString());

        // The bytes went without the token, exactly the measured size.
        const auto puts = m_server.requests("PUT", "/*");
        QCOMPARE(puts.size(), size_t(3));
        for (int i = 0; i < 3; ++i) {
            QVERIFY(header(puts[i], "authorization").isNull());
            QCOMPARE(puts[i].bodyBytes, std::uint64_t(sizes[i]));
        }
        QCOMPARE(m_server.count("POST", "/api/files/*"), size_t(3)); // complete
        QCOMPARE(m_server.count("DELETE", "/*"), size_t(0));

        // One file: the singular text, the clipboard holds just its link;
        // protection stays as chosen.
        model.setUsePassword(true);
        model.setPassword(u"four"_s);
        model.setFiles({urls[0]}, false);
        QVERIFY(run(model));
        QCOMPARE(model.message(), u"Link copied. Ready to share."_s);
        QCOMPARE(clipboardText(), model.files()[0].url);
        QVERIFY(model.files()[0].isProtected && model.usePassword());
        QCOMPARE(r->index(), encode(model.files()));
    }

    void failureInTheMiddleKeepsFinishedLinks() {
        auto r = rig();
        ParvelModel& model = *r->model;
        const QList<QUrl> urls{file(u"one.txt"_s, 100), file(u"two.txt"_s, 100),
                               file(u"three.txt"_s, 100)};
        // The fault goes in when the run announces the second file, before
        // that file's first request.
        connect(&model, &ParvelModel::messageChanged, this, [&] {
            if (model.message() == u"Uploading 2 of 3…"_s)
                server().injectFault("PUT", "/*", Fault{}, 1);
        });
        model.setFiles(urls, false);
        setClipboard(u"before"_s);
        QVERIFY(run(model));

        QCOMPARE(model.error(), u"The upload did not finish. Please try again."_s);
        QCOMPARE(model.message(), u"1 completed links copied."_s);
        QCOMPARE(model.files().size(), 1);
        QCOMPARE(model.files()[0].name, u"one.txt"_s);
        QCOMPARE(clipboardText(), model.files()[0].url);
        QCOMPARE(model.selected(), urls); // kept for another try
        // The second file was created and then discarded; the third never began.
        QCOMPARE(m_server.count("POST", "/api/files"), size_t(2));
        QCOMPARE(m_server.count("PUT", "/*"), size_t(2));
        QCOMPARE(m_server.count("DELETE", "/api/files/*"), size_t(1));
        QCOMPARE(server().requests().back().method, std::string("DELETE"));
    }

    void cancellationDuringTransfer() {
        auto r = rig();
        ParvelModel& model = *r->model;
        const QUrl big = file(u"big.bin"_s, 64 << 20);
        // The server sits on the transfer long enough for the cancel to land.
        server().injectFault("PUT", "/*", Fault::delayed(std::chrono::milliseconds(3000)), 1);
        bool pickerShown = false;
        model.presentFilePicker = [&pickerShown](bool) { pickerShown = true; };
        QString errorWhileRunning, messageWhileRunning;
        QList<QUrl> selectionWhileRunning;
        bool cancelled = false;
        connect(&model, &ParvelModel::progressChanged, this, [&] {
            if (cancelled || model.progress() <= 0)
                return;
            // Bytes are moving: the selection is locked while they do.
            model.setFiles({QUrl::fromLocalFile(m_files.filePath(u"other"_s))}, true);
            model.selectFiles(true);
            errorWhileRunning = model.error();
            messageWhileRunning = model.message();
            selectionWhileRunning = model.selected();
            cancelled = true;
            model.uploadTask()->cancel();
        });
        model.setFiles({big}, false);
        setClipboard(u"before"_s);
        QVERIFY(run(model));
        QVERIFY(cancelled && !pickerShown);
        QCOMPARE(errorWhileRunning, u"Wait for the current upload, or cancel it first."_s);
        QCOMPARE(messageWhileRunning, u"Uploading 1 of 1…"_s);
        QCOMPARE(selectionWhileRunning, QList<QUrl>{big});

        QCOMPARE(model.error(), u"Upload cancelled."_s);
        QCOMPARE(model.message(), QString());
        QCOMPARE(clipboardText(), u"before"_s);
        QCOMPARE(model.selected(), QList<QUrl>{big});
        QVERIFY(model.files().isEmpty());
        QCOMPARE(m_server.count("POST", "/api/files/*"), size_t(0)); // never completed
        QCOMPARE(m_server.count("DELETE", "/api/files/*"), size_t(1));
        // The server logs the abandoned PUT once its delay is over; waiting
        // shows the bytes had started, and keeps it out of the next test.
        QTRY_VERIFY_WITH_TIMEOUT(m_server.count("PUT", "/*") > 0, 20000);
    }

    void failedRunsDiscardTheFile() {
        auto r = rig();
        ParvelModel& model = *r->model;
        setClipboard(u"before"_s);
        // Plain http is refused even on loopback: a listener there must
        // never see a connection.
        QTcpServer plain;
        QVERIFY(plain.listen(QHostAddress::LocalHost));
        server().overrideUploadURL("http://127.0.0.1:" + std::to_string(plain.serverPort()) +
                                   "/upload/plain");
        model.setFiles({file(u"plain.txt"_s, 10)}, false);
        QVERIFY(run(model));
        QCOMPARE(model.error(), u"The upload address is invalid."_s);
        QCOMPARE(model.message(), QString());
        QVERIFY(!plain.hasPendingConnections());
        QCOMPARE(m_server.count("DELETE", "/api/files/*"), size_t(1));

        // 401 when completing: both connections go, the file is still discarded.
        m_server.reset();
        server().injectFault("POST", "/api/files/*",
                             Fault::withStatus(401, R"({"error":"Unknown token."})"), 1);
        QVERIFY(run(model));
        QCOMPARE(model.error(), disconnectedText);
        QVERIFY(!model.connection() && !r->store->load());
        QVERIFY(model.selected().isEmpty());
        QCOMPARE(model.message(), QString());
        QCOMPARE(clipboardText(), u"before"_s);
        QCOMPARE(m_server.count("DELETE", "/api/files/*"), size_t(1));
    }
};

QTEST_MAIN(UploadTest)
#include "tst_upload.moc"
