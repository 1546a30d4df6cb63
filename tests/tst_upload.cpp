#include "tst_upload.h"

#include "model/LocalIndex.h"
#include "model/ParvelModel.h"
#include "net/UploadProgress.h"
#include "platform/ClipboardPasteboard.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QThread>

using namespace Qt::StringLiterals;

namespace {

// The connection store is not under test here (the executable's test uses
// the real one); this keeps the model tests off the shared keyring.
class MemoryStore final : public ConnectionStore {
public:
    std::optional<Connection> stored;
    std::optional<Connection> load() override { return stored; }
    Result<void> save(const Connection& connection) override {
        stored = connection;
        return {};
    }
    void clear() override { stored.reset(); }
};

const QString disconnectedText = u"This Mac has been disconnected. Enter a new connection code."_s;

bool waitForRun(ParvelModel& model) {
    const auto handle = model.uploadTask();
    if (!handle || handle->isFinished())
        return true;
    QSignalSpy finished(handle.get(), &TaskHandle::finished);
    return finished.wait(60000);
}

// The model's state between runs, whatever the run's outcome.
void verifyIdle(const ParvelModel& model) {
    QVERIFY(!model.isUploading());
    QCOMPARE(model.progress(), 0.0);
    QVERIFY(!model.uploadTask());
}

std::vector<devserver::RecordedRequest> requests(const devserver::Server& server,
                                                 const std::string& method,
                                                 const std::string& pathPrefix = "/") {
    std::vector<devserver::RecordedRequest> found;
    for (auto& request : server.requests())
        if (request.method == method && request.path.starts_with(pathPrefix))
            found.push_back(request);
    return found;
}

std::optional<std::string> header(const devserver::RecordedRequest& request,
                                  const std::string& name) {
    const auto it = request.headers.find(name);
    if (it == request.headers.end())
        return std::nullopt;
    return it->second;
}

QJsonObject jsonBody(const devserver::RecordedRequest& request) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
}

QString clipboardText() {
    return QGuiApplication::clipboard()->text();
}

void setClipboard(const QString& text) {
    QGuiApplication::clipboard()->setText(text);
}

} // namespace

void UploadTest::initTestCase() {
    QVERIFY(m_serverDir.isValid() && m_files.isValid() && m_appData.isValid());
    m_server = std::make_unique<devserver::Server>(
        devserver::Options{m_serverDir.path().toStdString(), 0, false});
    std::string failure;
    QVERIFY2(m_server->start(&failure), failure.c_str());
    // Trust the server's own CA, as a self-hosted server with a private CA
    // is trusted; read once by the HTTP session when it starts.
    qputenv("SSL_CERT_FILE", QFile::encodeName(QString::fromStdString(m_server->caPath())));
}

void UploadTest::cleanupTestCase() {
    m_server->stop();
}

void UploadTest::init() {
    m_server->clearFaults();
    m_server->overrideUploadURL(std::nullopt);
    m_server->clearRequests();
}

Connection UploadTest::connection() const {
    return Connection{QString::fromStdString(m_server->baseURL()),
                      QString::fromStdString(m_server->bootstrapToken())};
}

std::unique_ptr<ParvelModel> UploadTest::makeModel() {
    Services services;
    auto store = std::make_shared<MemoryStore>();
    store->stored = connection();
    services.store = store;
    services.pasteboard = std::make_shared<ClipboardPasteboard>();
    services.applicationSupportDir = m_appData.path();
    auto model = std::make_unique<ParvelModel>(false, std::move(services));
    model->setConnection(connection());
    return model;
}

QString UploadTest::writeFile(const QString& name, qint64 size) {
    const QString path = m_files.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    // Small files get real bytes; big ones are sparse, so they cost no disk.
    if (size <= 1 << 20)
        file.write(QByteArray(size, 'p'));
    else
        file.resize(size);
    return path;
}

QList<SharedFile> UploadTest::readIndex() const {
    QFile file(LocalIndex::path(m_appData.path()));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return decode<QList<SharedFile>>(file.readAll()).value_or(QList<SharedFile>{});
}

void UploadTest::progressReporter() {
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

    // Nothing is delivered in the reporting call itself, only from the loop.
    progress.report(524288, 1048576);
    QVERIFY(delivered.isEmpty());
    QCoreApplication::processEvents();
    QCOMPARE(delivered, QList<double>{0.5});

    // Ten reports from a network thread: ten main-thread calls, in order,
    // each from its own totals, none merged.
    delivered.clear();
    QThread* worker = QThread::create([&progress] {
        for (int i = 1; i <= 10; ++i)
            progress.report(i * 3, 30);
    });
    worker->start();
    QVERIFY(worker->wait(10000));
    delete worker;
    QTRY_COMPARE(delivered.size(), 10);
    for (int i = 0; i < 10; ++i)
        QCOMPARE(delivered[i], (i + 1) * 3 / 30.0);
}

void UploadTest::selection() {
    auto model = makeModel();
    const QString a = writeFile(u"a.txt"_s, 10);
    const QString b = writeFile(u"b.txt"_s, 32);
    QVERIFY(QDir(m_files.path()).mkpath(u"folder"_s));
    const QUrl folder = QUrl::fromLocalFile(m_files.filePath(u"folder"_s));

    // A folder among files: the files stay, the folder is reported, and an
    // old status text goes away.
    model->setMessage(u"3 links copied. Ready to share."_s);
    model->setFiles({QUrl::fromLocalFile(a), folder, QUrl::fromLocalFile(b)}, false);
    QCOMPARE(model->selected(), (QList<QUrl>{QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)}));
    QCOMPARE(model->selectedBytes(), std::optional<qint64>(42));
    QCOMPARE(model->error(), u"Choose files. Zip folders before sharing them."_s);
    QCOMPARE(model->message(), QString());

    // The same file twice, and again through a "." component: once, under
    // the address given first, counted once.
    const QUrl dotted = QUrl::fromLocalFile(m_files.path() + u"/./a.txt"_s);
    model->setFiles({dotted, QUrl::fromLocalFile(a), dotted}, false);
    QCOMPARE(model->selected(), QList<QUrl>{dotted});
    QCOMPARE(model->selectedBytes(), std::optional<qint64>(10));
    QCOMPARE(model->error(), QString());

    // Appending re-checks what was chosen before: a file deleted meanwhile
    // drops out and is reported.
    model->setFiles({QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)}, false);
    QVERIFY(QFile::remove(a));
    const QString c = writeFile(u"c.txt"_s, 5);
    model->setFiles({QUrl::fromLocalFile(c), QUrl::fromLocalFile(b)}, true);
    QCOMPARE(model->selected(), (QList<QUrl>{QUrl::fromLocalFile(b), QUrl::fromLocalFile(c)}));
    QCOMPARE(model->selectedBytes(), std::optional<qint64>(37));
    QCOMPARE(model->error(), u"Choose files. Zip folders before sharing them."_s);

    // Links are followed: to a file it is that file (and a duplicate of it),
    // to a folder it is a folder.
    const QString fileLink = m_files.filePath(u"link-to-b"_s);
    const QString folderLink = m_files.filePath(u"link-to-folder"_s);
    QVERIFY(QFile::link(b, fileLink));
    QVERIFY(QFile::link(m_files.filePath(u"folder"_s), folderLink));
    model->setFiles({QUrl::fromLocalFile(fileLink), QUrl::fromLocalFile(folderLink)}, false);
    QCOMPARE(model->selected(), QList<QUrl>{QUrl::fromLocalFile(fileLink)});
    QCOMPARE(model->selectedBytes(), std::optional<qint64>(32));
    QCOMPARE(model->error(), u"Choose files. Zip folders before sharing them."_s);

    // Nothing usable: an empty selection has no byte count at all.
    model->setFiles({folder, QUrl(u"https://example.org/a.txt"_s)}, false);
    QVERIFY(model->selected().isEmpty());
    QCOMPARE(model->selectedBytes(), std::nullopt);
    QVERIFY(!model->canUpload());

    // A file whose size cannot be read while it is still a regular file does
    // not happen here: on Linux one stat() answers both questions, and it
    // fails as a whole. That case ("selectedBytes" none with files kept) is
    // therefore not tested.
}

void UploadTest::createRequestCarriesSizeAndPassword() {
    auto model = makeModel();
    // Exactly the limit: accepted. The create request is refused so that no
    // byte of the 5 GB goes anywhere; what matters is what it asked for.
    const QString atLimit = writeFile(u"at-limit.bin"_s, 5'000'000'000);
    devserver::Fault refuse;
    refuse.status = 507;
    refuse.body = R"({"error":"No room for this file."})";
    m_server->injectFault("POST", "/api/files", refuse, 0);

    model->setFiles({QUrl::fromLocalFile(atLimit)}, false);
    model->setPassword(u"typed but not wanted"_s);
    model->upload();
    QVERIFY(waitForRun(*model));
    verifyIdle(*model);
    QCOMPARE(model->error(), u"No room for this file."_s);
    QCOMPARE(model->message(), QString());
    auto created = requests(*m_server, "POST", "/api/files");
    QCOMPARE(created.size(), size_t(1));
    QVERIFY2(created[0].body.find(R"("size":5000000000)") != std::string::npos,
             created[0].body.c_str());
    QVERIFY(jsonBody(created[0]).contains(u"password"_s));
    QVERIFY(jsonBody(created[0]).value(u"password"_s).isNull());
    QCOMPARE(jsonBody(created[0]).value(u"name"_s).toString(), u"at-limit.bin"_s);
    QVERIFY(requests(*m_server, "PUT").empty());
    // Kept for another try.
    QCOMPARE(model->selected().size(), 1);
    QCOMPARE(model->password(), u"typed but not wanted"_s);

    // Protected: the password text as typed.
    m_server->clearRequests();
    model->setUsePassword(true);
    model->setPassword(u"hunter2 ü"_s);
    model->upload();
    QVERIFY(waitForRun(*model));
    created = requests(*m_server, "POST", "/api/files");
    QCOMPARE(created.size(), size_t(1));
    QCOMPARE(jsonBody(created[0]).value(u"password"_s).toString(), u"hunter2 ü"_s);

    // One byte more: refused before any request, also when the file grew
    // after it was chosen.
    m_server->clearRequests();
    const QString overLimit = writeFile(u"over-limit.bin"_s, 5'000'000'001);
    model->setUsePassword(false);
    model->setFiles({QUrl::fromLocalFile(overLimit)}, false);
    model->upload();
    QVERIFY(waitForRun(*model));
    verifyIdle(*model);
    QCOMPARE(model->error(), u"Choose a file up to 5 GB."_s);
    const QString grows = writeFile(u"grows.bin"_s, 10);
    model->setFiles({QUrl::fromLocalFile(grows)}, false);
    QVERIFY(QFile::resize(grows, 5'000'000'001));
    model->upload();
    QVERIFY(waitForRun(*model));
    QCOMPARE(model->error(), u"Choose a file up to 5 GB."_s);
    QVERIFY(m_server->requests().empty());

    // A chosen file that vanished: the system's words, no request.
    const QString gone = writeFile(u"gone.txt"_s, 3);
    model->setFiles({QUrl::fromLocalFile(gone)}, false);
    QVERIFY(QFile::remove(gone));
    model->upload();
    QVERIFY(waitForRun(*model));
    QVERIFY2(model->error().contains(u"gone.txt"_s), qPrintable(model->error()));
    QVERIFY(m_server->requests().empty());
    verifyIdle(*model);
}

void UploadTest::threeFilesInOrder() {
    auto model = makeModel();
    const QStringList names{u"first.txt"_s, u"second.bin"_s, u"third ü.txt"_s};
    const QList<qint64> sizes{1000, 3 << 20, 7};
    QList<QUrl> urls;
    for (int i = 0; i < 3; ++i)
        urls.append(QUrl::fromLocalFile(writeFile(names[i], sizes[i])));

    model->setFiles(urls, false);
    QStringList events;
    connect(model.get(), &ParvelModel::messageChanged, this,
            [&] { events.append(u"message "_s + model->message()); });
    connect(model.get(), &ParvelModel::progressChanged, this, [&] {
        QVERIFY(model->progress() >= 0 && model->progress() <= 1);
        events.append(u"progress "_s + QString::number(model->progress()));
    });

    model->setUsePassword(false);
    model->setPassword(u"ignored"_s);
    setClipboard(u"before"_s);
    model->upload();
    QVERIFY(waitForRun(*model));
    verifyIdle(*model);
    QCOMPARE(model->error(), QString());

    // Every file starts from 0, right after its message.
    QStringList messages = events.filter(u"message "_s);
    QCOMPARE(messages, (QStringList{u"message Preparing upload…"_s, u"message Uploading 1 of 3…"_s,
                                    u"message Uploading 2 of 3…"_s, u"message Uploading 3 of 3…"_s,
                                    u"message 3 links copied. Ready to share."_s}));
    for (int k = 1; k <= 3; ++k) {
        const auto at = events.indexOf(u"message Uploading %1 of 3…"_s.arg(k));
        QCOMPARE(events.value(at + 1), u"progress 0"_s);
    }
    QCOMPARE(events.last(), u"progress 0"_s); // the run ends at 0

    // Newest first in the model and in the index; links in upload order.
    QCOMPARE(model->files().size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(model->files()[2 - i].name, names[i]);
        QCOMPARE(model->files()[2 - i].size, sizes[i]);
        QVERIFY(!model->files()[2 - i].isProtected);
    }
    QCOMPARE(readIndex(), model->files());
    QCOMPARE(clipboardText(),
             model->files()[2].url + u'\n' + model->files()[1].url + u'\n' + model->files()[0].url);

    // Selection and password are spent; protection stays as chosen.
    QVERIFY(model->selected().isEmpty());
    QCOMPARE(model->selectedBytes(), std::nullopt);
    QCOMPARE(model->password(), QString());

    // On the wire: the bytes went without the token, as a stream of exactly
    // the measured size, to the ticket's address.
    const auto puts = requests(*m_server, "PUT");
    QCOMPARE(puts.size(), size_t(3));
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(header(puts[i], "authorization"), std::nullopt);
        QCOMPARE(header(puts[i], "content-type"),
                 std::optional<std::string>("application/octet-stream"));
        QCOMPARE(header(puts[i], "content-length"), std::optional(std::to_string(sizes[i])));
        QCOMPARE(puts[i].bodyBytes, std::uint64_t(sizes[i]));
    }
    QCOMPARE(requests(*m_server, "POST", "/api/files/").size(), size_t(3)); // complete
    QVERIFY(requests(*m_server, "DELETE").empty());

    // One file: the singular text, the clipboard holds just its link.
    model->setUsePassword(true);
    model->setPassword(u"four"_s);
    model->setFiles({urls[0]}, false);
    model->upload();
    QVERIFY(waitForRun(*model));
    QCOMPARE(model->message(), u"Link copied. Ready to share."_s);
    QCOMPARE(clipboardText(), model->files()[0].url);
    QVERIFY(model->files()[0].isProtected);
    QVERIFY(model->usePassword());
    QCOMPARE(readIndex().size(), 4);
}

void UploadTest::failureInTheMiddleKeepsFinishedLinks() {
    auto model = makeModel();
    QList<QUrl> urls;
    for (const auto& name : {u"one.txt"_s, u"two.txt"_s, u"three.txt"_s})
        urls.append(QUrl::fromLocalFile(writeFile(name, 100)));

    // The second file's transfer is answered 500. The fault goes in when the
    // run announces the second file, before that file's first request.
    connect(model.get(), &ParvelModel::messageChanged, this, [&] {
        if (model->message() == u"Uploading 2 of 3…"_s)
            m_server->injectFault("PUT", "/*", devserver::Fault{}, 1);
    });
    model->setFiles(urls, false);
    setClipboard(u"before"_s);
    model->upload();
    QVERIFY(waitForRun(*model));
    verifyIdle(*model);

    QCOMPARE(model->error(), u"The upload did not finish. Please try again."_s);
    QCOMPARE(model->message(), u"1 completed links copied."_s);
    QCOMPARE(model->files().size(), 1);
    QCOMPARE(model->files()[0].name, u"one.txt"_s);
    QCOMPARE(clipboardText(), model->files()[0].url);
    QCOMPARE(model->selected(), urls); // kept for another try

    // The second file was created and then discarded; the third never began.
    const auto all = m_server->requests();
    QCOMPARE(requests(*m_server, "POST", "/api/files").size() -
                 requests(*m_server, "POST", "/api/files/").size(),
             size_t(2));
    QCOMPARE(requests(*m_server, "PUT").size(), size_t(2));
    QCOMPARE(requests(*m_server, "DELETE", "/api/files/").size(), size_t(1));
    QCOMPARE(all.back().method, std::string("DELETE"));
}

void UploadTest::cancellationDuringTransfer() {
    auto model = makeModel();
    const QString big = writeFile(u"big.bin"_s, 64 << 20);
    // The server sits on the transfer long enough for the cancel to land
    // inside it.
    devserver::Fault slow;
    slow.kind = devserver::Fault::Kind::Delay;
    slow.delay = std::chrono::milliseconds(3000);
    m_server->injectFault("PUT", "/*", slow, 1);

    bool pickerShown = false;
    model->presentFilePicker = [&pickerShown](bool) { pickerShown = true; };
    QString errorWhileRunning;
    QString messageWhileRunning;
    QList<QUrl> selectionWhileRunning;
    bool cancelled = false;
    connect(model.get(), &ParvelModel::progressChanged, this, [&] {
        if (cancelled || model->progress() <= 0)
            return;
        // Bytes are moving: the selection is locked while they do.
        model->setFiles({QUrl::fromLocalFile(m_files.filePath(u"other"_s))}, true);
        model->selectFiles(true);
        errorWhileRunning = model->error();
        messageWhileRunning = model->message();
        selectionWhileRunning = model->selected();
        cancelled = true;
        model->uploadTask()->cancel();
    });

    model->setFiles({QUrl::fromLocalFile(big)}, false);
    setClipboard(u"before"_s);
    model->upload();
    QVERIFY(waitForRun(*model));
    verifyIdle(*model);
    QVERIFY(cancelled);

    QCOMPARE(errorWhileRunning, u"Wait for the current upload, or cancel it first."_s);
    QCOMPARE(messageWhileRunning, u"Uploading 1 of 1…"_s);
    QCOMPARE(selectionWhileRunning, QList<QUrl>{QUrl::fromLocalFile(big)});
    QVERIFY(!pickerShown);

    QCOMPARE(model->error(), u"Upload cancelled."_s);
    QCOMPARE(model->message(), QString());
    QCOMPARE(clipboardText(), u"before"_s);
    QCOMPARE(model->selected(), QList<QUrl>{QUrl::fromLocalFile(big)});
    QVERIFY(model->files().isEmpty());
    QVERIFY(requests(*m_server, "POST", "/api/files/").empty()); // never completed
    QCOMPARE(requests(*m_server, "DELETE", "/api/files/").size(), size_t(1));
    // The server logs the abandoned PUT once its delay is over; waiting for
    // it shows the bytes had started, and keeps it out of the next test.
    QTRY_VERIFY_WITH_TIMEOUT(!requests(*m_server, "PUT").empty(), 20000);
}

void UploadTest::refusedUploadAddress() {
    auto model = makeModel();
    // Plain http is refused even on loopback: a listener there must never
    // see a connection.
    QTcpServer plain;
    QVERIFY(plain.listen(QHostAddress::LocalHost));
    m_server->overrideUploadURL("http://127.0.0.1:" + std::to_string(plain.serverPort()) +
                                "/upload/plain");
    model->setFiles({QUrl::fromLocalFile(writeFile(u"plain.txt"_s, 10))}, false);
    model->upload();
    QVERIFY(waitForRun(*model));
    verifyIdle(*model);
    QCOMPARE(model->error(), u"The upload address is invalid."_s);
    QCOMPARE(model->message(), QString());
    QVERIFY(!plain.hasPendingConnections());
    QCOMPARE(requests(*m_server, "DELETE", "/api/files/").size(), size_t(1));
}

void UploadTest::unauthorizedDisconnects() {
    auto model = makeModel();
    // The token is refused when the upload is completed: the model lets go
    // of its connection and the stored one, and the unfinished file is still
    // cleaned up.
    devserver::Fault refused;
    refused.status = 401;
    refused.body = R"({"error":"Unknown token."})";
    m_server->injectFault("POST", "/api/files/*", refused, 1);
    model->setFiles({QUrl::fromLocalFile(writeFile(u"late.txt"_s, 10))}, false);
    setClipboard(u"before"_s);
    model->upload();
    QVERIFY(waitForRun(*model));
    verifyIdle(*model);
    QCOMPARE(model->error(), disconnectedText);
    QVERIFY(!model->connection());
    QVERIFY(!model->services().store->load());
    QVERIFY(model->selected().isEmpty());
    QCOMPARE(model->message(), QString());
    QCOMPARE(clipboardText(), u"before"_s);
    QCOMPARE(requests(*m_server, "DELETE", "/api/files/").size(), size_t(1));
}

QTEST_MAIN(UploadTest)
