#include "SecretServiceKit.h"
#include "platform/FileCredentialStore.h"
#include "platform/SecretServiceStore.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

const Connection first{u"https://parvel.example"_s, u"token-one"_s};
const Connection second{u"https://files.example:8443/base"_s, u"tökén/two"_s};

// A damaged or missing item is an answer: the wait for the service must
// not read it again.
const Sleep readAgain = [](std::chrono::milliseconds) { QFAIL("an answer was read again"); };

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
            return SecretServiceKit::secrets(ConnectionStore::service);
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
    void initTestCase() { m_secretService = SecretServiceKit::available(); }
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
        QVERIFY(storedItems().isEmpty());

        // A damaged item loads as none and stays; saving replaces it in place.
        for (const QByteArray& damaged :
             {QByteArray("not json"), QByteArray("{\"serverURL\":\"https://a\",\"token\":null}"),
              QByteArray()}) {
            QVERIFY(damage(damaged).has_value());
            QCOMPARE(loadWaitingForService(store, {}, readAgain), std::nullopt);
            QCOMPARE(storedItems(), QList<QByteArray>{damaged});
        }
        QCOMPARE(saved(store, first), u"saved"_s);
        QCOMPARE(storedItems(), QList<QByteArray>{encode(first)});
    }

    // Owner-only whatever the umask; a folder where the item belongs fails
    // the save and leaves nothing behind.
    void fileItemOnDisk() {
        const QString folder = m_dir.path() + u"/private/parvel"_s;
        FileCredentialStore file(folder);
        const auto restoreMask = qScopeGuard([mask = ::umask(0)] { ::umask(mask); });
        QCOMPARE(saved(file, first), u"saved"_s);
        QCOMPARE((QList{modeOf(folder), modeOf(file.filePath())}), (QList<mode_t>{0700, 0600}));

        const QString blocked = m_dir.path() + u"/blocked/parvel"_s;
        QVERIFY(QDir().mkpath(blocked + u"/connection.json"_s));
        FileCredentialStore blockedStore(blocked);
        QCOMPARE(
            saved(blockedStore, first),
            u"Could not save the connection in %1/connection.json: Is a directory."_s.arg(blocked));
        QCOMPARE(QDir(blocked).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{u"connection.json"_s});
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
        QCOMPARE(loadWaitingForService(locked, {}, readAgain), std::nullopt);

        // The failed saves changed nothing.
        QVERIFY(SecretServiceKit::setLoginLocked(false));
        QCOMPARE(locked.load().connection, first);
        QCOMPARE(lockedAdd.load().connection, std::nullopt);
        QVERIFY(locked.prepareSave().has_value());
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
        QVERIFY(dynamic_cast<FileCredentialStore*>(systemConnectionStore().get()));
        QVERIFY(plain.remove());

        QLocalServer socket;
        QVERIFY(socket.listen(plain.fileName()));
        QVERIFY(dynamic_cast<SecretServiceStore*>(systemConnectionStore().get()));
    }
};

QTEST_GUILESS_MAIN(KeychainTest)
#include "tst_keychain.moc"
