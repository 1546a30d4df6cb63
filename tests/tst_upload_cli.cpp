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

    // No session bus and no display: the file credential store under this
    // home, no clipboard, nothing of the real user's touched.
    void start(QProcess& process, const QStringList& arguments,
               const std::optional<QString>& password = {},
               const QString& program = QStringLiteral(PARVEL_EXECUTABLE)) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const auto& name : {u"DBUS_SESSION_BUS_ADDRESS"_s, u"XDG_RUNTIME_DIR"_s, u"DISPLAY"_s,
                                 u"WAYLAND_DISPLAY"_s, u"PARVEL_UPLOAD_PASSWORD"_s,
                                 u"XDG_CONFIG_HOME"_s, u"XDG_DATA_HOME"_s})
            env.remove(name);
        env.insert(u"HOME"_s, m_home.path()); // the folders under it by default
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

    QList<SharedFile> index() const { return LocalIndex::read(m_home.filePath(u".local/share"_s)); }

    QString file(const QString& name, qint64 size) {
        return writeFile(m_files.filePath(name), size);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }
    void init() {
        const QString connection = QString::fromStdString(server().connectionFilePath());
        QCOMPARE(std::get<0>(run({u"--import-connection"_s, connection})), 0);
        m_server.reset();
    }

    // The record on one line; the index kept, an index it cannot use
    // counting as empty (the command line has no server list to start from).
    void uploadsAndKeepsTheIndex() {
        const QString damaged = LocalIndex::path(m_home.filePath(u".local/share"_s));
        QVERIFY(QDir().mkpath(QFileInfo(damaged).absolutePath()));
        writeFile(damaged, 9, '{'); // not JSON

        // A relative path, from the working directory; protected through the
        // environment.
        file(u"report été.txt"_s, 4321);
        const auto [status, out, err] = run({u"--upload"_s, u"report été.txt"_s}, u"open sesame"_s);
        QCOMPARE(std::pair(status, err), std::pair(0, QByteArray()));
        const auto record = decode<SharedFile>(out.chopped(1));
        QVERIFY2(record.has_value(), out.constData());
        QCOMPARE(out, encode(*record) + '\n'); // compact, the record's own keys
        QCOMPARE(std::tuple(record->name, record->size, record->isProtected, index()),
                 std::tuple(u"report été.txt"_s, qint64(4321), true, QList{*record}));
        QCOMPARE(bodyOf(m_server.requests("POST", "/api/files").at(0)).value(u"password"_s),
                 u"open sesame"_s);

        // A name that is not UTF-8 is a file like any other: its own bytes
        // are opened and sent, only the name the server gets is decoded.
        // (QProcess would pass the operand through UTF-16; the shell does not.)
        const QByteArray latin1 = QFile::encodeName(m_files.path()) + "/caf\xe9.txt";
        const int fd = ::open(latin1.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        QVERIFY(fd >= 0 && ::write(fd, "d\xe9j\xe0 vu", 7) == 7 && ::close(fd) == 0);
        run({u"-c"_s, u"exec \"$0\" --upload \"$(printf 'caf\\351.txt')\""_s,
             QStringLiteral(PARVEL_EXECUTABLE)},
            std::nullopt, u"/bin/sh"_s);
        const QList<SharedFile> both = index();
        QVERIFY(both.size() == 2 && both[0].name == u"caf\uFFFD.txt"_s && both[1] == *record);
        QCOMPARE(m_server.requests("PUT", "/upload/*").back().bodyBytes, std::uint64_t(7));

        // A failure without words is a failure still: the index's newest
        // record is no result.
        server().injectFault("POST", "/api/files", Fault::withStatus(500, R"({"error":""})"));
        QCOMPARE(run({u"--upload"_s, file(u"third.txt"_s, 5)}),
                 (Outcome{1, {}, "The upload did not finish. Please try again.\n"}));
        QCOMPARE(index(), both);
    }

    // Ctrl-C or SIGTERM is the run's own cancel: the unfinished file is
    // discarded on the server. A second signal does not wait for that.
    void signalsCancelTheRun() {
        const QStringList arguments{u"--upload"_s, file(u"big.bin"_s, 1 << 20)};
        const std::tuple<std::vector<int>, bool, Outcome> cases[] = {
            {{SIGINT}, false, {1, {}, cancelledLine}},
            {{SIGTERM}, false, {1, {}, cancelledLine}},
            {{SIGTERM, SIGINT}, true, {1, {}, {}}},
        };
        for (const auto& [signals, discardHangs, outcome] : cases) {
            m_server.reset();
            // The server sits on the completion long enough for the signal to
            // land; by then the ticket is issued, so there is a file to discard.
            server().injectFault("POST", "/api/files/*", Fault::delayed(8s));
            if (discardHangs)
                server().injectFault("DELETE", "/api/files/*", Fault::delayed(8s));
            QProcess process;
            start(process, arguments);
            QTRY_VERIFY_WITH_TIMEOUT(m_server.count("PUT", "/upload/*") == 1, 10000);
            for (const int number : signals)
                QCOMPARE(::kill(pid_t(process.processId()), number), 0);
            QCOMPARE(finish(process), outcome);
            QVERIFY(discardHangs || m_server.count("DELETE", "/api/files/*") == 1);
        }

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

    void progressLineTexts() {
        QCOMPARE(progressLine(0, 5'000'000, std::nullopt), u"0% (Zero KB of 5 MB)"_s);
        QCOMPARE(progressLine(2'100'000, 5'000'000, 1'500'000.0),
                 u"42% (2.1 MB of 5 MB, 1.5 MB/s)"_s);
        // Never past the end, whatever the transfer reported.
        QCOMPARE(progressLine(6'000'000, 5'000'000, 999.0), u"100% (5 MB of 5 MB, 999 bytes/s)"_s);
        QCOMPARE(progressLine(0, 0, std::nullopt), u"100% (Zero KB of Zero KB)"_s);
    }

    // Refused before any request: a password too short, a folder. A 401
    // forgets the connection.
    void refusals() {
        const QByteArray refusal =
            "Choose a valid file and a password of at least 4 characters if protected.\n";
        QCOMPARE(run({u"--upload"_s, file(u"fine.txt"_s, 10)}, u"abc"_s),
                 (Outcome{1, {}, refusal}));
        QCOMPARE(run({u"--upload"_s, m_files.path()}), (Outcome{1, {}, refusal}));
        QVERIFY(server().requests().empty());

        server().injectFault("POST", "/api/files",
                             Fault::withStatus(401, R"({"error":"Unknown token."})"));
        QCOMPARE(run({u"--upload"_s, file(u"fine.txt"_s, 10)}),
                 (Outcome{1, {}, (disconnectedText + u'\n').toUtf8()}));
        QCOMPARE(run({u"--upload"_s, file(u"fine.txt"_s, 10)}),
                 (Outcome{1, {}, "Connect Parvel before uploading.\n"}));
    }
};

QTEST_GUILESS_MAIN(UploadCommandTest)
#include "tst_upload_cli.moc"
