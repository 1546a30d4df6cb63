#include "tst_upload_cli.h"

#include "net/Records.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QByteArray refusalLine =
    "Choose a valid file and a password of at least 4 characters if protected.\n";

QString writeFile(const QTemporaryDir& dir, const QString& name, qint64 size) {
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    if (size <= 1 << 20)
        file.write(QByteArray(size, 'c'));
    else
        file.resize(size); // sparse
    return file.fileName();
}

QProcessEnvironment withPassword(const QString& password) {
    QProcessEnvironment env;
    env.insert(u"PARVEL_UPLOAD_PASSWORD"_s, password);
    return env;
}

} // namespace

void UploadCommandTest::initTestCase() {
    QVERIFY(m_serverDir.isValid() && m_home.isValid() && m_files.isValid());
    m_server = std::make_unique<devserver::Server>(
        devserver::Options{m_serverDir.path().toStdString(), 0, true});
    std::string failure;
    QVERIFY2(m_server->start(&failure), failure.c_str());
    QVERIFY(QFile::exists(QString::fromStdString(m_server->connectionFilePath())));
}

void UploadCommandTest::cleanupTestCase() {
    m_server->stop();
}

void UploadCommandTest::init() {
    m_server->clearFaults();
    m_server->clearRequests();
}

UploadCommandTest::Outcome UploadCommandTest::run(const QStringList& arguments,
                                                  const QProcessEnvironment& extra) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // No session bus and no display: the file credential store under this
    // home, no clipboard, nothing of the real user's touched.
    for (const auto& name : {u"DBUS_SESSION_BUS_ADDRESS"_s, u"XDG_RUNTIME_DIR"_s, u"DISPLAY"_s,
                             u"WAYLAND_DISPLAY"_s, u"PARVEL_UPLOAD_PASSWORD"_s})
        env.remove(name);
    env.insert(u"HOME"_s, m_home.path());
    env.insert(u"XDG_CONFIG_HOME"_s, m_home.filePath(u".config"_s));
    env.insert(u"XDG_DATA_HOME"_s, m_home.filePath(u".local/share"_s));
    env.insert(u"XDG_CACHE_HOME"_s, m_home.filePath(u".cache"_s));
    env.insert(u"SSL_CERT_FILE"_s, QString::fromStdString(m_server->caPath()));
    env.insert(extra);

    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(m_files.path());
    process.start(QStringLiteral(PARVEL_EXECUTABLE), arguments);
    Outcome outcome;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return outcome;
    }
    outcome.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.out = process.readAllStandardOutput();
    outcome.err = process.readAllStandardError();
    return outcome;
}

void UploadCommandTest::importConnection() {
    const Outcome imported =
        run({u"--import-connection"_s, QString::fromStdString(m_server->connectionFilePath())});
    QCOMPARE(imported.status, 0);
}

void UploadCommandTest::withoutConnection() {
    const QString file = writeFile(m_files, u"lonely.txt"_s, 12);
    const Outcome outcome = run({u"--upload"_s, file});
    QCOMPARE(outcome.err, QByteArray("Connect Parvel before uploading.\n"));
    QCOMPARE(outcome.out, QByteArray());
    QCOMPARE(outcome.status, 1);
    QVERIFY(m_server->requests().empty());
}

void UploadCommandTest::uploadsAndPrintsTheRecord() {
    importConnection();
    m_server->clearRequests();

    // A relative path, from the working directory.
    writeFile(m_files, u"report été.txt"_s, 4321);
    const Outcome open = run({u"--upload"_s, u"report été.txt"_s});
    QCOMPARE(open.err, QByteArray());
    QCOMPARE(open.status, 0);
    QVERIFY(open.out.endsWith('\n'));
    QCOMPARE(open.out.count('\n'), 1);
    const QByteArray line = open.out.chopped(1);
    const auto record = decode<SharedFile>(line);
    QVERIFY2(record.has_value(), line.constData());
    QCOMPARE(record->name, u"report été.txt"_s);
    QCOMPARE(record->size, qint64(4321));
    QVERIFY(!record->isProtected);
    QCOMPARE(line, encode(*record)); // compact, the record's own keys

    // The index now starts with it.
    const Outcome index = run({u"--json"_s});
    const auto listed = decode<QList<SharedFile>>(index.out);
    QVERIFY(listed.has_value());
    QCOMPARE(listed->value(0), *record);

    // Protected through the environment.
    m_server->clearRequests();
    const QString secret = writeFile(m_files, u"secret.bin"_s, 2 << 20);
    const Outcome locked = run({u"--upload"_s, secret}, withPassword(u"open sesame"_s));
    QCOMPARE(locked.status, 0);
    QVERIFY(decode<SharedFile>(locked.out.chopped(1))->isProtected);
    bool sawCreate = false;
    for (const auto& request : m_server->requests()) {
        if (request.method == "POST" && request.path == "/api/files") {
            sawCreate = true;
            const auto body = QJsonDocument::fromJson(QByteArray::fromStdString(request.body));
            QCOMPARE(body.object().value(u"password"_s).toString(), u"open sesame"_s);
        }
    }
    QVERIFY(sawCreate);
}

void UploadCommandTest::refusesBeforeAnyRequest() {
    importConnection();
    m_server->clearRequests();
    const QString file = writeFile(m_files, u"fine.txt"_s, 10);

    // Too short, and present but empty: both mean "protected" and are refused.
    for (const auto& password : {u"abc"_s, QString()}) {
        const Outcome outcome = run({u"--upload"_s, file}, withPassword(password));
        QCOMPARE(outcome.err, refusalLine);
        QCOMPARE(outcome.out, QByteArray());
        QCOMPARE(outcome.status, 1);
    }
    // A folder and a missing file are never selected.
    QVERIFY(QDir(m_files.path()).mkpath(u"a folder"_s));
    for (const auto& path : {m_files.filePath(u"a folder"_s), m_files.filePath(u"missing"_s)}) {
        const Outcome outcome = run({u"--upload"_s, path});
        QCOMPARE(outcome.err, refusalLine);
        QCOMPARE(outcome.status, 1);
    }
    QVERIFY(m_server->requests().empty());

    // Over the limit: selected, then refused by the run with its own text.
    const QString huge = writeFile(m_files, u"huge.bin"_s, 5'000'000'001);
    const Outcome outcome = run({u"--upload"_s, huge});
    QCOMPARE(outcome.err, QByteArray("Choose a file up to 5 GB.\n"));
    QCOMPARE(outcome.status, 1);
    QVERIFY(m_server->requests().empty());
}

void UploadCommandTest::unauthorizedForgetsTheConnection() {
    importConnection();
    devserver::Fault refused;
    refused.status = 401;
    refused.body = R"({"error":"Unknown token."})";
    m_server->injectFault("POST", "/api/files", refused, 1);

    const QString file = writeFile(m_files, u"refused.txt"_s, 10);
    const Outcome outcome = run({u"--upload"_s, file});
    QCOMPARE(outcome.err,
             QByteArray("This Mac has been disconnected. Enter a new connection code.\n"));
    QCOMPARE(outcome.out, QByteArray());
    QCOMPARE(outcome.status, 1);

    // Stored connection gone, index emptied.
    QCOMPARE(run({u"--upload"_s, file}).err, QByteArray("Connect Parvel before uploading.\n"));
    QCOMPARE(run({u"--json"_s}).out, QByteArray("[]"));
}

QTEST_GUILESS_MAIN(UploadCommandTest)
