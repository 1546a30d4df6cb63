#include "SecretServiceKit.h"
#include "platform/FileCredentialStore.h"
#include "platform/SecretServiceStore.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Exit status (-1: crashed or hung), standard output, standard error.
using Outcome = std::tuple<int, QByteArray, QByteArray>;

bool secretServiceRow() {
    return QByteArray(QTest::currentDataTag()).startsWith("secret service");
}

} // namespace

// The executable end to end with no display it could reach, and either no
// session bus at all (the file store) or the private session of scripts/test.
class CliTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    bool m_secretService = false;

    QString path(const QString& relative) const { return m_dir.path() + u'/' + relative; }
    QString indexPath() const { return path(u"XDG_DATA_HOME/Parvel/files.json"_s); }

    // `closedOutput`: standard output is a pipe nobody reads any more.
    Outcome run(const QStringList& arguments, bool secretService = false,
                bool closedOutput = false) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR", "PARVEL_UPLOAD_PASSWORD",
              secretService ? "" : "DBUS_SESSION_BUS_ADDRESS"})
            env.remove(QString::fromLatin1(name));
        // Configured but absent: neither mode may try to reach it.
        env.insert(u"DISPLAY"_s, u":97"_s);
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            env.insert(QString::fromLatin1(name), path(QString::fromLatin1(name)));
        QProcess process;
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(path(u"work"_s));
        if (closedOutput)
            process.setChildProcessModifier([] {
                ::signal(SIGPIPE, SIG_DFL); // as a shell leaves it
                int ends[2];
                if (::pipe(ends) == 0) {
                    ::dup2(ends[1], STDOUT_FILENO);
                    ::close(ends[0]);
                    ::close(ends[1]);
                }
            });
        process.start(QStringLiteral(PARVEL_EXECUTABLE), arguments);
        // A hung process counts as crashed; the destructor kills it.
        const bool exited =
            process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit;
        return {exited ? process.exitCode() : -1, process.readAllStandardOutput(),
                process.readAllStandardError()};
    }

    std::unique_ptr<ConnectionStore> store(bool secretService = false) const {
        if (secretService)
            return std::make_unique<SecretServiceStore>();
        return std::make_unique<FileCredentialStore>(path(u"XDG_CONFIG_HOME/parvel"_s));
    }

    static void writeFile(const QString& path, const QByteArray& bytes) {
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(bytes), bytes.size());
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(QDir().mkpath(path(u"HOME"_s)));
        for (const auto& [name, token] :
             {std::pair("good.json", "\"good\""), std::pair("--json", "\"dashes\""),
              std::pair("number.json", "5"), std::pair("unicode.json", "\"tökèn ✓/+=\",\"x\":[1]")})
            writeFile(path(u"work/"_s + QString::fromUtf8(name)),
                      QByteArray("{\"serverURL\":\"https://a\",\"token\":") + token + '}');
        writeFile(path(u"work/bad.json"_s), "{}");
        m_secretService = SecretServiceKit::available();
    }
    void init() {
        if (secretServiceRow())
            PARVEL_REQUIRE_SECRET_SERVICE(m_secretService);
        QFile::remove(indexPath());
        store()->clear();
        if (m_secretService)
            store(true)->clear();
    }
    void cleanupTestCase() { init(); }

    void jsonPrintsTheIndexByteForByte() {
        QCOMPARE(run({u"--json"_s}), (Outcome{0, "[]\n", {}}));
        for (const QByteArray& contents :
             {QByteArray("{not json at all"), QByteArray("[{\"name\":\"Résumé – 東京 ✓.pdf\"}]"),
              QByteArray("[]\n\n"), QByteArray("\xff\xfe\x00\x01\r\n", 6), QByteArray(""),
              QByteArray(3 * 1024 * 1024 + 17, 'x')}) {
            writeFile(indexPath(), contents);
            QCOMPARE(run({u"--json"_s}), (Outcome{0, contents, {}}));
        }
    }

    // A FIFO nobody writes to, endless bytes, a sparse file just over the
    // limit: each is refused at once wherever Parvel reads a whole file.
    void filesThatAreNotRegular() {
        const QString hostile = path(u"work/hostile"_s);
        const QString storedFile = path(u"XDG_CONFIG_HOME/parvel/connection.json"_s);
        const QList<std::pair<std::function<bool(const QString&)>, QByteArray>> kinds = {
            {[](const QString& at) { return ::mkfifo(QFile::encodeName(at), 0600) == 0; },
             "not a regular file"},
            {[](const QString& at) { return QFile::link(u"/dev/zero"_s, at); },
             "not a regular file"},
            {[](const QString& at) {
                 QFile file(at);
                 return file.open(QIODevice::WriteOnly) && file.resize(64 * 1024 * 1024 + 1);
             },
             "larger than 64 MiB"},
        };
        for (const auto& [make, why] : kinds) {
            for (const QString& at : {hostile, indexPath(), storedFile}) {
                QFile::remove(at);
                QVERIFY(QDir().mkpath(QFileInfo(at).absolutePath()) && make(at));
            }
            QCOMPARE(
                run({u"--import-connection"_s, hostile}),
                (Outcome{
                    1, {}, "Connection import failed: " + hostile.toUtf8() + ": " + why + '\n'}));
            QCOMPARE(run({u"--json"_s}), (Outcome{0, "[]\n", {}}));
            // The display named here cannot be reached: Qt's complaint stays
            // out of the mode's output unless asked for.
            QCOMPARE(run({u"--upload"_s, u"good.json"_s}),
                     (Outcome{1, {}, "Connect Parvel before uploading.\n"}));
        }
    }

    // `parvel --json | true`: the result cannot be written, which is a
    // failure, not a death by SIGPIPE.
    void closedOutput() {
        writeFile(indexPath(), "[]");
        QCOMPARE(run({u"--json"_s}, false, true), (Outcome{1, {}, {}}));
        QCOMPARE(run({u"--import-connection"_s, u"good.json"_s}, false, true),
                 (Outcome{1, {}, {}}));
    }

    // The row's tag is the command line (after "secret service:", with the
    // keyring as the store); the columns are what it prints and what is
    // stored then (server URL and token; "old" before every row).
    void commandLines_data() {
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("connection");
        const QByteArray index("[\"index\"]"), failed("Connection import failed: ");
        const QByteArray inFile =
            "Connection saved in " +
            QFile::encodeName(path(u"XDG_CONFIG_HOME/parvel/connection.json"_s)) + ".\n";
        const QString old = u"https://old.example old-token"_s;
        for (const char* backend : {"", "secret service: "}) {
            const QByteArray saved = *backend ? "Connection saved in the keyring.\n" : inFile;
            // Extra keys are ignored.
            QTest::addRow("%s--import-connection unicode.json", backend)
                << Outcome{0, saved, {}} << u"https://a tökèn ✓/+="_s;
            QTest::addRow("%s--import-connection number.json", backend)
                << Outcome{1, {}, failed + "Connection: \"token\" must be a string\n"} << old;
        }
        QTest::newRow("--import-connection missing.json")
            << Outcome{1, {}, failed + "missing.json: No such file or directory\n"} << old;
        QTest::newRow("--upload good.json --json") << Outcome{0, index, {}} << old;
        QTest::newRow("--json --import-connection good.json")
            << Outcome{0, inFile, {}} << u"https://a good"_s;
        QTest::newRow("--json --import-connection") << Outcome{0, index, {}} << old;
        QTest::newRow("--IMPORT-CONNECTION good.json --json") << Outcome{0, index, {}} << old;
        QTest::newRow("--import-connection bad.json --import-connection good.json")
            << Outcome{1, {}, failed + "Connection: \"serverURL\" is missing\n"} << old;
        // An operand is whatever follows, even when it looks like an option.
        QTest::newRow("--import-connection --json")
            << Outcome{0, inFile, {}} << u"https://a dashes"_s;
    }
    void commandLines() {
        QFETCH(Outcome, outcome);
        QFETCH(QString, connection);
        const bool keyring = secretServiceRow();
        const auto target = store(keyring);
        QVERIFY(target->save({u"https://old.example"_s, u"old-token"_s}).has_value());
        writeFile(indexPath(), "[\"index\"]");
        const QString line =
            QString::fromUtf8(QTest::currentDataTag()).remove(u"secret service: "_s);
        QCOMPARE(run(line.split(u' '), keyring), outcome);
        const Connection now = target->load().connection.value_or(Connection{});
        QCOMPARE(now.serverURL + u' ' + now.token, connection);
    }
};

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
