#include "SecretServiceKit.h"
#include "platform/FileCredentialStore.h"
#include "platform/SecretServiceStore.h"
#include "platform/SessionBus.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const Connection first{u"https://parvel.example"_s, u"token-one"_s};
const Connection second{u"https://files.example:8443/base"_s, u"tökén/two"_s};
const QString service = QString::fromLatin1(ConnectionStore::service);

// Answers loads from a script, then keeps giving its last answer.
struct ScriptedStore final : ConnectionStore {
    QList<Loaded> answers;
    int reads = 0;
    Loaded load() override { return answers.at(std::min(reads++, int(answers.size()) - 1)); }
    Result<void> prepareSave() override { return {}; }
    Result<void> save(const Connection&) override { return {}; }
    void clear() override {}
    QString savedText() const override { return {}; }
};

// The delays one waiting load sleeps, in milliseconds.
QList<qint64> waitedLoad(ConnectionStore& store, std::optional<Connection>* loaded,
                         const std::function<void()>& duringSleep = {}) {
    QList<qint64> delays;
    *loaded = loadWaitingForService(store, {}, [&](std::chrono::milliseconds delay) {
        delays << delay.count();
        if (duringSleep)
            duringSleep();
    });
    return delays;
}

QString saved(ConnectionStore& store, const Connection& connection) {
    const Result<void> done = store.save(connection);
    return done ? u"saved"_s : describe(done.error());
}

mode_t modeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

bool secretServiceRow() {
    return QTest::currentDataTag() && qstrcmp(QTest::currentDataTag(), "secret service") == 0;
}

} // namespace

class KeychainTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    bool m_secretService = false;

    QString fileFolder() const { return m_dir.path() + u"/config/parvel"_s; }
    // Every item the row's backend holds, read beside the code under test.
    QList<QByteArray> storedItems() const {
        QList<QByteArray> found;
        if (secretServiceRow())
            return SecretServiceKit::secrets(service);
        // No temporary file may be left beside the item.
        const QDir folder(fileFolder());
        for (const QString& name : folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                    QDir::NoDotAndDotDot)) {
            QFile file(folder.filePath(name));
            found << (name == u"connection.json" && file.open(QIODevice::ReadOnly)
                          ? file.readAll()
                          : "unexpected file " + name.toUtf8());
        }
        return found;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_secretService = SecretServiceKit::available();
    }
    // Each row starts with nothing stored.
    void init() {
        if (secretServiceRow())
            PARVEL_REQUIRE_SECRET_SERVICE(m_secretService);
        if (m_secretService)
            SecretServiceStore().clear();
        FileCredentialStore(fileFolder()).clear();
    }

    void storeLifecycle_data() {
        QTest::addColumn<QString>("backend"); // read through the row's tag
        QTest::newRow("file") << u"file"_s;
        QTest::newRow("secret service") << u"secret service"_s;
    }
    void storeLifecycle() {
        SecretServiceStore keyring;
        FileCredentialStore file(fileFolder());
        ConnectionStore& store = secretServiceRow() ? static_cast<ConnectionStore&>(keyring) : file;
        const auto damage = [&](const QByteArray& bytes) {
            return secretServiceRow() ? keyring.writeBytes(bytes) : file.writeBytes(bytes);
        };
        store.clear(); // nothing there: silent
        QVERIFY(store.prepareSave().has_value());
        QCOMPARE(saved(store, first), u"saved"_s);
        QCOMPARE(storedItems(), QList<QByteArray>{encode(first)});
        QCOMPARE(saved(store, second), u"saved"_s);
        QCOMPARE(storedItems(), QList<QByteArray>{encode(second)});
        QCOMPARE(store.load().connection, second);
        QCOMPARE(store.savedText(), secretServiceRow()
                                        ? u"Connection saved in the keyring."_s
                                        : u"Connection saved in %1."_s.arg(file.filePath()));

        store.clear();
        QCOMPARE(store.load().connection, std::nullopt);
        QVERIFY(storedItems().isEmpty());

        // A damaged item loads as none and stays; saving replaces it in place.
        for (const QByteArray& damaged :
             {QByteArray("not json"), QByteArray("{\"serverURL\":\"https://a\",\"token\":null}"),
              QByteArray()}) {
            QVERIFY(damage(damaged).has_value());
            QCOMPARE(store.load().connection, std::nullopt);
            QCOMPARE(store.load().serviceMissing, false); // so never read again
            QCOMPARE(storedItems(), QList<QByteArray>{damaged});
        }
        QCOMPARE(saved(store, first), u"saved"_s);
        QCOMPARE(storedItems(), QList<QByteArray>{encode(first)});
    }

    void fileItemOnDisk() {
        const QString folder = m_dir.path() + u"/private/parvel"_s;
        FileCredentialStore file(folder);
        const auto restoreMask = qScopeGuard([mask = ::umask(0)] { ::umask(mask); });
        QCOMPARE(saved(file, first), u"saved"_s);
        QCOMPARE((QList{modeOf(folder), modeOf(file.filePath())}), (QList<mode_t>{0700, 0600}));
        QCOMPARE(saved(file, second), u"saved"_s);
        QCOMPARE(modeOf(file.filePath()), mode_t(0600));
        QCOMPARE(file.load().connection, second);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"connection.json"_s});

        // A folder where the item belongs: the save fails, and leaves nothing behind.
        const QString blocked = m_dir.path() + u"/blocked/parvel"_s;
        QVERIFY(QDir().mkpath(blocked + u"/connection.json"_s));
        FileCredentialStore blockedStore(blocked);
        QCOMPARE(
            saved(blockedStore, first),
            u"Could not save the connection in %1/connection.json: Is a directory."_s.arg(blocked));
        QCOMPARE(QDir(blocked).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{u"connection.json"_s});

        // A file where the folder belongs: found out before any write.
        QFile plain(m_dir.path() + u"/plainfile"_s);
        QVERIFY(plain.open(QIODevice::WriteOnly));
        FileCredentialStore noFolder(plain.fileName() + u"/parvel"_s);
        const QString notADirectory =
            u"Could not save the connection in %1/parvel/connection.json: Not a directory."_s.arg(
                plain.fileName());
        QCOMPARE(describe(noFolder.prepareSave().error()), notADirectory);
        QCOMPARE(saved(noFolder, first), notADirectory);
    }

    // Failures speak libsecret's own words; none carries a number.
    void secretServiceFailures() {
        PARVEL_REQUIRE_SECRET_SERVICE(m_secretService);
        // No collection under the alias to add to.
        SecretServiceStore nowhere(u"dev.parvel.Parvel.test-nowhere"_s, u"parvel-no-such-alias"_s);
        const QString noCollection =
            u"Could not save the connection in the keyring: it has no default collection."_s;
        QCOMPARE(saved(nowhere, first), noCollection);
        QCOMPARE(describe(nowhere.prepareSave().error()), noCollection);

        // A locked collection: its item can be neither updated nor read, and
        // nothing can be added to it. Saving fails rather than prompt; the
        // check before a save tries to unlock, which fails without a prompter.
        SecretServiceStore locked;
        SecretServiceStore lockedAdd(u"dev.parvel.Parvel.test-locked-add"_s);
        QCOMPARE(saved(locked, first), u"saved"_s);
        const auto unlock = qScopeGuard([] { SecretServiceKit::setLoginLocked(false); });
        QVERIFY(SecretServiceKit::setLoginLocked(true));
        const QRegularExpression keyringWords(
            u"^Could not save the connection in the keyring: [^0-9]+[^.]\\.$"_s);
        for (const QString& text : {saved(locked, second), saved(lockedAdd, first),
                                    describe(locked.prepareSave().error())})
            QVERIFY2(keyringWords.match(text).hasMatch(), qPrintable(text));
        QCOMPARE(locked.load().connection, std::nullopt);
        QCOMPARE(locked.load().serviceMissing, false); // so never read again

        // The failed saves changed nothing.
        QVERIFY(SecretServiceKit::setLoginLocked(false));
        QCOMPARE(locked.load().connection, first);
        QCOMPARE(lockedAdd.load().connection, std::nullopt);
        QVERIFY(locked.prepareSave().has_value());
    }

    void waitingForTheService() {
        // A damaged item (or none) is an answer: not read again.
        ScriptedStore scripted;
        scripted.answers = {{}, {first}};
        std::optional<Connection> loaded;
        QVERIFY(waitedLoad(scripted, &loaded).isEmpty());
        QCOMPARE(scripted.reads, 1);

        PARVEL_REQUIRE_SECRET_SERVICE(m_secretService);
        SecretServiceStore store;
        QCOMPARE(saved(store, first), u"saved"_s);
        // libsecret looks for the service under this name; nobody owns it
        // and the bus cannot start it, as before the keyring daemon is up.
        const auto reconnect = [](const char* busName) {
            if (busName)
                qputenv("SECRET_SERVICE_BUS_NAME", busName);
            else
                qunsetenv("SECRET_SERVICE_BUS_NAME");
            secret_service_disconnect(); // drops libsecret's connected service
        };
        const auto restore = qScopeGuard([&] { reconnect(nullptr); });
        reconnect("dev.parvel.NoSuchSecrets");
        QCOMPARE(store.load().serviceMissing, true);
        int sleeps = 0;
        QCOMPARE(waitedLoad(store, &loaded,
                            [&] {
                                if (++sleeps == 2)
                                    reconnect(nullptr); // the daemon took its name
                            }),
                 (QList<qint64>{250, 500}));
        QCOMPARE(loaded, first);
    }

    // GLib and libdbus fall back to $XDG_RUNTIME_DIR/bus by themselves when
    // no address is set, so only a socket there may choose the Secret Service.
    void runtimeBusSocketCountsAsABus() {
        const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        const auto restore = qScopeGuard([&] {
            qputenv("DBUS_SESSION_BUS_ADDRESS", address);
            qputenv("XDG_RUNTIME_DIR", runtime);
        });
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
        QFile plain(m_dir.path() + u"/bus"_s);
        QVERIFY(plain.open(QIODevice::WriteOnly));
        QVERIFY(!SessionBus::configured());
        QVERIFY(dynamic_cast<FileCredentialStore*>(systemConnectionStore().get()));
        QVERIFY(plain.remove());

        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const auto closeSocket = qScopeGuard([fd] { ::close(fd); });
        sockaddr_un socketAddress{};
        socketAddress.sun_family = AF_UNIX;
        qstrncpy(socketAddress.sun_path, QFile::encodeName(plain.fileName()),
                 sizeof socketAddress.sun_path);
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&socketAddress), sizeof socketAddress) == 0);
        QVERIFY(SessionBus::configured());
        QVERIFY(dynamic_cast<SecretServiceStore*>(systemConnectionStore().get()));
    }
};

QTEST_GUILESS_MAIN(KeychainTest)
#include "tst_keychain.moc"
