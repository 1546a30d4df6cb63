#include "SecretServiceKit.h"
#include "net/FileCredentialStore.h"
#include "net/Keychain.h"
#include "net/SecretServiceStore.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const Connection stored{u"https://old.example"_s, u"old-token"_s};
const Connection imported{u"https://parvel.example:8443"_s, u"tökèn ✓/+="_s};

struct Outcome {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

} // namespace

// The executable end to end, in an environment the test controls: no
// display, no platform plugin, and either no session bus at all (the file
// store) or the private session of scripts/test (the Secret Service).
class CliTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    bool m_secretService = false;

    QString configHome() const { return m_dir.path() + u"/config"_s; }
    QString indexPath() const { return m_dir.path() + u"/data/Parvel/files.json"_s; }
    QString workDir() const { return m_dir.path() + u"/work"_s; }

    QProcessEnvironment environment(const QString& backend) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR",
                                 "PARVEL_UPLOAD_PASSWORD"})
            env.remove(QString::fromLatin1(name));
        if (backend == u"file")
            env.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
        env.insert(u"HOME"_s, m_dir.path() + u"/home"_s);
        env.insert(u"XDG_CONFIG_HOME"_s, configHome());
        env.insert(u"XDG_DATA_HOME"_s, m_dir.path() + u"/data"_s);
        env.insert(u"XDG_CACHE_HOME"_s, m_dir.path() + u"/cache"_s);
        return env;
    }

    Outcome run(const QStringList& arguments, const QProcessEnvironment& env) const {
        QProcess process;
        process.setProgram(QStringLiteral(PARVEL_EXECUTABLE));
        process.setArguments(arguments);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(workDir());
        process.start();
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return {};
        }
        Outcome outcome;
        outcome.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        outcome.out = process.readAllStandardOutput();
        outcome.err = process.readAllStandardError();
        return outcome;
    }
    Outcome run(const QStringList& arguments) const {
        return run(arguments, environment(u"file"_s));
    }

    std::unique_ptr<CredentialStore> store(const QString& backend) const {
        if (backend == u"file")
            return std::make_unique<FileCredentialStore>(configHome() + u"/parvel"_s);
        return std::make_unique<SecretServiceStore>();
    }

    static void writeFile(const QString& path, const QByteArray& bytes) {
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(bytes), bytes.size());
    }

    void backends() {
        QTest::addColumn<QString>("backend");
        QTest::newRow("file") << u"file"_s;
        QTest::newRow("secret service") << u"secret service"_s;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir().mkpath(workDir()));
        QVERIFY(QDir().mkpath(m_dir.path() + u"/home"_s));
        m_secretService = SecretServiceKit::available();
    }
    void init() {
        QFile::remove(indexPath());
        store(u"file"_s)->remove();
        if (m_secretService)
            store(u"secret service"_s)->remove();
    }
    void cleanupTestCase() {
        if (m_secretService)
            store(u"secret service"_s)->remove();
    }

    void jsonPrintsTheIndexByteForByte_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("compact array") << QByteArray("[{\"id\":\"a\",\"size\":1}]");
        QTest::newRow("not json") << QByteArray("{not json at all");
        QTest::newRow("non-ascii") << QByteArray("[{\"name\":\"Résumé – 東京 ✓.pdf\"}]");
        QTest::newRow("trailing newline kept") << QByteArray("[]\n\n");
        QTest::newRow("raw bytes") << QByteArray("\xff\xfe\x00\x01\r\n", 6);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("large") << QByteArray(3 * 1024 * 1024 + 17, 'x');
    }
    void jsonPrintsTheIndexByteForByte() {
        QFETCH(QByteArray, contents);
        writeFile(indexPath(), contents);
        const Outcome outcome = run({u"--json"_s});
        QCOMPARE(outcome.status, 0);
        QCOMPARE(outcome.out.size(), contents.size());
        QVERIFY(outcome.out == contents);
        QCOMPARE(outcome.err, QByteArray());
    }

    void jsonWithoutAnIndex() {
        const Outcome missing = run({u"--json"_s});
        QCOMPARE(missing.status, 0);
        QCOMPARE(missing.out, QByteArray("[]\n"));
        QCOMPARE(missing.err, QByteArray());

        // Unreadable counts as missing: a folder where the file belongs.
        QVERIFY(QDir().mkpath(indexPath()));
        const Outcome folder = run({u"--json"_s});
        QVERIFY(QDir().rmdir(indexPath()));
        QCOMPARE(folder.status, 0);
        QCOMPARE(folder.out, QByteArray("[]\n"));
    }

    void importSavesTheConnection_data() { backends(); }
    void importSavesTheConnection() {
        QFETCH(QString, backend);
        if (backend != u"file")
            PARVEL_REQUIRE_SECRET_SERVICE(m_secretService);
        QVERIFY(Keychain::save(*store(backend), stored).has_value());
        // Relative to the working directory; extra keys are ignored.
        writeFile(workDir() + u"/connection.json"_s,
                  "{\"token\":\"t\xc3\xb6k\xc3\xa8n \xe2\x9c\x93/+=\",\"extra\":[1],"
                  "\"serverURL\":\"https://parvel.example:8443\"}");
        const Outcome outcome =
            run({u"--import-connection"_s, u"connection.json"_s}, environment(backend));
        QCOMPARE(outcome.err, QByteArray());
        QCOMPARE(outcome.out, QByteArray("Connection saved in Keychain.\n"));
        QCOMPARE(outcome.status, 0);
        QCOMPARE(Keychain::load(*store(backend)), imported);
    }

    void importFailureLeavesTheStoreAlone_data() {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QByteArray>("contents");
        for (const auto& backend : {u"file"_s, u"secret service"_s}) {
            const auto row = [&backend](const char* name) -> QTestData& {
                return QTest::addRow("%s, %s", qPrintable(backend), name) << backend;
            };
            row("token a number") << QByteArray("{\"serverURL\":\"https://a\",\"token\":5}");
            row("token null") << QByteArray("{\"serverURL\":\"https://a\",\"token\":null}");
            row("token missing") << QByteArray("{\"serverURL\":\"https://a\"}");
            row("not json") << QByteArray("serverURL=https://a");
            row("array") << QByteArray("[\"https://a\",\"t\"]");
            row("empty") << QByteArray();
        }
    }
    void importFailureLeavesTheStoreAlone() {
        QFETCH(QString, backend);
        QFETCH(QByteArray, contents);
        if (backend != u"file")
            PARVEL_REQUIRE_SECRET_SERVICE(m_secretService);
        QVERIFY(Keychain::save(*store(backend), stored).has_value());
        writeFile(workDir() + u"/bad.json"_s, contents);

        const Outcome outcome =
            run({u"--import-connection"_s, u"bad.json"_s}, environment(backend));
        const auto decoded = decode<Connection>(contents);
        QVERIFY(!decoded);
        QCOMPARE(outcome.err, "Connection import failed: " + decoded.error().text.toUtf8() + "\n");
        QCOMPARE(outcome.out, QByteArray());
        QCOMPARE(outcome.status, 1);
        QCOMPARE(Keychain::load(*store(backend)), stored);
    }

    void importFailureTexts() {
        writeFile(workDir() + u"/number.json"_s, "{\"serverURL\":\"https://a\",\"token\":5}");
        Outcome outcome = run({u"--import-connection"_s, u"number.json"_s});
        QCOMPARE(outcome.err,
                 QByteArray("Connection import failed: Connection: \"token\" must be a string\n"));
        QCOMPARE(outcome.status, 1);

        const QString missing = m_dir.path() + u"/no such file.json"_s;
        outcome = run({u"--import-connection"_s, missing});
        QCOMPARE(outcome.err,
                 "Connection import failed: " + missing.toUtf8() + ": No such file or directory\n");
        QCOMPARE(outcome.out, QByteArray());
        QCOMPARE(outcome.status, 1);
        QCOMPARE(Keychain::load(*store(u"file"_s)), std::nullopt);
    }

    // Which mode runs, for argument lists that hold several options.
    void modeOrder() {
        writeFile(indexPath(), "[\"index\"]");
        writeFile(workDir() + u"/good.json"_s,
                  "{\"serverURL\":\"https://parvel.example:8443\",\"token\":\"good\"}");
        writeFile(workDir() + u"/bad.json"_s, "{}");
        // An operand is whatever follows, even when it looks like an option.
        writeFile(workDir() + u"/--json"_s,
                  "{\"serverURL\":\"https://parvel.example:8443\",\"token\":\"dashes\"}");
        const QByteArray saved("Connection saved in Keychain.\n");
        const auto token = [this] {
            const auto connection = Keychain::load(*store(u"file"_s));
            return connection ? connection->token : u"(none)"_s;
        };

        struct Case {
            QStringList arguments;
            QByteArray out;
            int status;
            QString token;
        };
        const QList<Case> cases{
            {{u"--json"_s, u"--upload"_s, u"good.json"_s}, "[\"index\"]", 0, u"(none)"_s},
            {{u"--upload"_s, u"good.json"_s, u"--json"_s}, "[\"index\"]", 0, u"(none)"_s},
            {{u"--json"_s, u"--import-connection"_s, u"good.json"_s}, saved, 0, u"good"_s},
            {{u"--json"_s, u"--import-connection"_s}, "[\"index\"]", 0, u"(none)"_s},
            {{u"--import-connection=good.json"_s, u"--json"_s}, "[\"index\"]", 0, u"(none)"_s},
            {{u"--IMPORT-CONNECTION"_s, u"good.json"_s, u"--json"_s},
             "[\"index\"]",
             0,
             u"(none)"_s},
            {{u"--import-connection"_s, u"good.json"_s, u"--import-connection"_s, u"bad.json"_s},
             saved,
             0,
             u"good"_s},
            {{u"--import-connection"_s, u"bad.json"_s, u"--import-connection"_s, u"good.json"_s},
             {},
             1,
             u"(none)"_s},
            {{u"--import-connection"_s, u"--json"_s}, saved, 0, u"dashes"_s},
            {{u"--json"_s, u"--json"_s}, "[\"index\"]", 0, u"(none)"_s},
        };
        for (const Case& c : cases) {
            store(u"file"_s)->remove();
            const Outcome outcome = run(c.arguments);
            const QByteArray what = c.arguments.join(u' ').toUtf8();
            QVERIFY2(outcome.out == c.out, what + " printed " + outcome.out);
            QVERIFY2(outcome.status == c.status, what);
            QVERIFY2(token() == c.token, what);
        }
    }

    // A display that is configured but does not exist, and no bus: neither
    // mode may try to reach either.
    void noDisplayNoBus() {
        QProcessEnvironment env = environment(u"file"_s);
        env.insert(u"DISPLAY"_s, u":97"_s);
        writeFile(workDir() + u"/good.json"_s,
                  "{\"serverURL\":\"https://parvel.example:8443\",\"token\":\"good\"}");
        const Outcome imported = run({u"--import-connection"_s, u"good.json"_s}, env);
        QCOMPARE(imported.out, QByteArray("Connection saved in Keychain.\n"));
        QCOMPARE(imported.err, QByteArray());
        QCOMPARE(imported.status, 0);
        QVERIFY(QFileInfo::exists(configHome() + u"/parvel/connection.json"_s));

        const Outcome index = run({u"--json"_s}, env);
        QCOMPARE(index.out, QByteArray("[]\n"));
        QCOMPARE(index.err, QByteArray());
        QCOMPARE(index.status, 0);
    }
};

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
