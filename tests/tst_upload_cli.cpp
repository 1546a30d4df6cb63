// `parvel --upload` as a user runs it: the built executable in a home of its
// own (no session bus, no display), against the dev server over TLS.

#include "ModelFixture.h"
#include "app/TerminalProgress.h"

#include <QDir>
#include <QProcess>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {
const QByteArray refusalLine =
    "Choose a valid file and a password of at least 4 characters if protected.\n";
const QByteArray noConnectionLine = "Connect Parvel before uploading.\n";
const QByteArray cancelledLine = "Upload cancelled.\n";
// Exit status (-1: crashed or hung), standard output, standard error.
using Outcome = std::tuple<int, QByteArray, QByteArray>;
} // namespace

class UploadCommandTest : public QObject {
    Q_OBJECT

    ServerFixture m_server;
    QTemporaryDir m_home;
    QTemporaryDir m_files;

    devserver::Server& server() { return *m_server.server; }

    void start(QProcess& process, const QStringList& arguments,
               const std::optional<QString>& password = {},
               const QString& program = QStringLiteral(PARVEL_EXECUTABLE)) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // No session bus and no display: the file credential store under
        // this home, no clipboard, nothing of the real user's touched.
        for (const auto& name : {u"DBUS_SESSION_BUS_ADDRESS"_s, u"XDG_RUNTIME_DIR"_s, u"DISPLAY"_s,
                                 u"WAYLAND_DISPLAY"_s, u"PARVEL_UPLOAD_PASSWORD"_s})
            env.remove(name);
        env.insert(u"HOME"_s, m_home.path());
        env.insert(u"XDG_CONFIG_HOME"_s, m_home.filePath(u".config"_s));
        env.insert(u"XDG_DATA_HOME"_s, m_home.filePath(u".local/share"_s));
        env.insert(u"XDG_CACHE_HOME"_s, m_home.filePath(u".cache"_s));
        if (password)
            env.insert(u"PARVEL_UPLOAD_PASSWORD"_s, *password);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(m_files.path());
        process.start(program, arguments);
    }

    // A hung process counts as crashed; the destructor kills it.
    static Outcome finish(QProcess& process) {
        const bool exited = process.waitForFinished(int(waitLimit.count())) &&
                            process.exitStatus() == QProcess::NormalExit;
        return {exited ? process.exitCode() : -1, process.readAllStandardOutput(),
                process.readAllStandardError()};
    }

    Outcome run(const QStringList& arguments, const std::optional<QString>& password = {},
                const QString& program = QStringLiteral(PARVEL_EXECUTABLE)) {
        QProcess process;
        start(process, arguments, password, program);
        return finish(process);
    }

    QStringList indexNames() {
        QStringList names;
        for (const SharedFile& file : decode<QList<SharedFile>>(std::get<1>(run({u"--json"_s})))
                                          .value_or(QList<SharedFile>{}))
            names.append(file.name);
        return names;
    }

    void importConnection() {
        const QString file = QString::fromStdString(server().connectionFilePath());
        QCOMPARE(std::get<0>(run({u"--import-connection"_s, file})), 0);
        server().clearRequests();
    }

    QString file(const QString& name, qint64 size) {
        return writeFile(m_files.filePath(name), size);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }
    void init() { m_server.reset(); }

    void uploadsAndPrintsTheRecord() {
        importConnection();
        // A relative path, from the working directory; protected through the
        // environment.
        file(u"report été.txt"_s, 4321);
        const auto [status, out, err] = run({u"--upload"_s, u"report été.txt"_s}, u"open sesame"_s);
        QCOMPARE(std::pair(status, err), std::pair(0, QByteArray()));
        QVERIFY(out.endsWith('\n') && out.count('\n') == 1);
        const QByteArray line = out.chopped(1);
        const auto record = decode<SharedFile>(line);
        QVERIFY2(record.has_value(), line.constData());
        QCOMPARE(record->name, u"report été.txt"_s);
        QCOMPARE(record->size, qint64(4321));
        QVERIFY(record->isProtected);
        const auto created = m_server.requests("POST", "/api/files");
        QCOMPARE(created.size(), size_t(1));
        QCOMPARE(bodyOf(created[0]).value(u"password"_s).toString(), u"open sesame"_s);
        QCOMPARE(line, encode(*record)); // compact, the record's own keys
    }

    // A name that is not UTF-8 is a file like any other: its own bytes are
    // opened and sent, only the name the server gets is decoded.
    void nameThatIsNotUtf8() {
        importConnection();
        const QByteArray named = QFile::encodeName(m_files.path()) + "/caf\xe9.txt";
        const int fd = ::open(named.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "d\xe9j\xe0 vu", 7), ssize_t(7));
        ::close(fd);
        // QProcess would pass the operand through UTF-16; the shell does not.
        const auto [status, out, err] =
            run({u"-c"_s, u"exec \"$0\" --upload \"$(printf 'caf\\351.txt')\""_s,
                 QStringLiteral(PARVEL_EXECUTABLE)},
                std::nullopt, u"/bin/sh"_s);
        QCOMPARE(std::pair(status, err), std::pair(0, QByteArray()));
        const auto record = decode<SharedFile>(out.chopped(1));
        QVERIFY(record.has_value());
        QCOMPARE(record->name, u"caf\uFFFD.txt"_s);
        QCOMPARE(record->size, qint64(7));
        const auto put = m_server.requests("PUT", "/upload/*");
        QCOMPARE(put.size(), size_t(1));
        QCOMPARE(put[0].bodyBytes, std::uint64_t(7));
    }

    // Ctrl-C or SIGTERM is the run's own cancel: the unfinished file is
    // discarded on the server. A second signal does not wait for that.
    void signalsCancelTheRun() {
        importConnection();
        const QString big = file(u"big.bin"_s, 1 << 20);
        const QStringList arguments{u"--upload"_s, big};
        for (const int number : {SIGINT, SIGTERM}) {
            m_server.reset();
            // The server sits on the completion long enough for the signal to
            // land; by then the ticket is issued, so there is a file to discard.
            server().injectFault("POST", "/api/files/*", Fault::delayed(8s));
            QProcess process;
            start(process, arguments);
            QTRY_VERIFY_WITH_TIMEOUT(m_server.count("PUT", "/upload/*") == 1, 10000);
            QCOMPARE(::kill(pid_t(process.processId()), number), 0);
            QCOMPARE(finish(process), (Outcome{1, {}, cancelledLine}));
            QCOMPARE(m_server.count("DELETE", "/api/files/*"), size_t(1));
        }

        m_server.reset();
        server().injectFault("POST", "/api/files/*", Fault::delayed(8s));
        server().injectFault("DELETE", "/api/files/*", Fault::delayed(8s));
        QProcess twice;
        start(twice, arguments);
        QTRY_VERIFY_WITH_TIMEOUT(m_server.count("PUT", "/upload/*") == 1, 10000);
        QCOMPARE(::kill(pid_t(twice.processId()), SIGTERM), 0);
        QCOMPARE(::kill(pid_t(twice.processId()), SIGINT), 0);
        QCOMPARE(finish(twice), (Outcome{1, {}, {}}));

        // A signal that is already waiting when the mode starts: nothing
        // reaches the server.
        m_server.reset();
        QProcess early;
        early.setChildProcessModifier([] {
            sigset_t term;
            sigemptyset(&term);
            sigaddset(&term, SIGTERM);
            ::sigprocmask(SIG_BLOCK, &term, nullptr);
            ::kill(::getpid(), SIGTERM);
        });
        start(early, arguments);
        QCOMPARE(finish(early), (Outcome{1, {}, cancelledLine}));
        QVERIFY(server().requests().empty());
    }

    // The command line has no server list to start from: it keeps what the
    // index held, and an index it cannot use counts as empty.
    void keepsTheIndex() {
        importConnection();
        const QString index = m_home.filePath(u".local/share/Parvel/files.json"_s);
        QVERIFY(QDir().mkpath(QFileInfo(index).absolutePath()));
        QFile damaged(index);
        QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                damaged.write("{not json") == 9);
        damaged.close();
        QCOMPARE(std::get<0>(run({u"--upload"_s, file(u"first.txt"_s, 3)})), 0);
        QCOMPARE(indexNames(), QStringList{u"first.txt"_s});
        QCOMPARE(std::get<0>(run({u"--upload"_s, file(u"second.txt"_s, 4)})), 0);
        QCOMPARE(indexNames(), (QStringList{u"second.txt"_s, u"first.txt"_s}));
        // A failure without words is a failure still: the index's newest
        // record is no result.
        server().injectFault("POST", "/api/files", Fault::withStatus(500, R"({"error":""})"));
        QCOMPARE(run({u"--upload"_s, file(u"third.txt"_s, 5)}),
                 (Outcome{1, {}, "The upload did not finish. Please try again.\n"}));
        QCOMPARE(indexNames(), (QStringList{u"second.txt"_s, u"first.txt"_s}));
    }

    void progressLineTexts() {
        QCOMPARE(progressLine(0, 5'000'000, std::nullopt), u"0% (Zero KB of 5 MB)"_s);
        QCOMPARE(progressLine(2'100'000, 5'000'000, 1'500'000.0),
                 u"42% (2.1 MB of 5 MB, 1.5 MB/s)"_s);
        // Never past the end, whatever the transfer reported.
        QCOMPARE(progressLine(6'000'000, 5'000'000, 999.0), u"100% (5 MB of 5 MB, 999 bytes/s)"_s);
        QCOMPARE(progressLine(0, 0, std::nullopt), u"100% (Zero KB of Zero KB)"_s);
    }

    void refusesBeforeAnyRequest() {
        importConnection();
        const QString fine = file(u"fine.txt"_s, 10);
        QVERIFY(QDir(m_files.path()).mkpath(u"a folder"_s));
        // A password too short; a folder.
        const QList<std::pair<QString, std::optional<QString>>> cases = {
            {fine, u"abc"_s},
            {m_files.filePath(u"a folder"_s), std::nullopt},
        };
        for (const auto& [path, password] : cases)
            QCOMPARE(run({u"--upload"_s, path}, password), (Outcome{1, {}, refusalLine}));
        QVERIFY(server().requests().empty());
    }

    void unauthorizedForgetsTheConnection() {
        importConnection();
        server().injectFault("POST", "/api/files",
                             Fault::withStatus(401, R"({"error":"Unknown token."})"));
        const QString refused = file(u"refused.txt"_s, 10);
        QCOMPARE(run({u"--upload"_s, refused}),
                 (Outcome{1, {}, (disconnectedText + u'\n').toUtf8()}));
        // Forgotten: the next run asks nothing of the server.
        server().clearRequests();
        QCOMPARE(run({u"--upload"_s, refused}), (Outcome{1, {}, noConnectionLine}));
        QVERIFY(server().requests().empty());
    }
};

QTEST_GUILESS_MAIN(UploadCommandTest)
#include "tst_upload_cli.moc"
