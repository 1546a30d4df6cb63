#include "RecordingStore.h"
#include "SecretServiceKit.h"
#include "net/CredentialStore.h"
#include "net/FileCredentialStore.h"
#include "net/Keychain.h"
#include "net/SecretServiceStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const Connection first{QStringLiteral("https://parvel.example"), QStringLiteral("token-one")};
const Connection second{QStringLiteral("https://files.example:8443/base"),
                        QStringLiteral("tökén/two")};

QString keychainService() {
    return QString::fromLatin1(Keychain::service);
}

mode_t modeOf(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

// Sets or removes an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value, bool set = true)
        : m_name(name), m_old(qgetenv(name)), m_hadOld(qEnvironmentVariableIsSet(name)) {
        if (set)
            qputenv(name, value);
        else
            qunsetenv(name);
    }
    ~ScopedEnv() {
        if (m_hadOld)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    QByteArray m_old;
    bool m_hadOld;
};

} // namespace

class KeychainTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    bool m_secretService = false;

    // The backend of the current data row, fresh and empty, and a view of
    // every item it holds, read beside the code under test.
    std::unique_ptr<CredentialStore> makeStore(const QString& backend) {
        if (backend == u"file")
            return std::make_unique<FileCredentialStore>(m_dir.path() +
                                                         QStringLiteral("/config/parvel"));
        return std::make_unique<SecretServiceStore>();
    }
    QList<QByteArray> storedItems(const QString& backend) {
        QList<QByteArray> found;
        if (backend == u"file") {
            const QDir folder(m_dir.path() + QStringLiteral("/config/parvel"));
            // No temporary file may be left beside the item.
            const QStringList names = folder.entryList(QDir::Files | QDir::Hidden | QDir::System |
                                                       QDir::Dirs | QDir::NoDotAndDotDot);
            for (const QString& name : names) {
                QFile file(folder.filePath(name));
                found << (name == u"connection.json" && file.open(QIODevice::ReadOnly)
                              ? file.readAll()
                              : QByteArray("unexpected file ") + name.toUtf8());
            }
            return found;
        }
        for (const auto& item : SecretServiceKit::items(keychainService()))
            found << item.secret;
        return found;
    }
    void backends() {
        QTest::addColumn<QString>("backend");
        QTest::newRow("file") << QStringLiteral("file");
        QTest::newRow("secret service") << QStringLiteral("secret service");
    }
    // Each row starts with nothing stored.
    std::unique_ptr<CredentialStore> emptyStore(const QString& backend) {
        auto store = makeStore(backend);
        store->remove();
        return store;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_secretService = SecretServiceKit::available();
    }
    void cleanup() {
        if (m_secretService)
            SecretServiceStore().remove();
        FileCredentialStore(m_dir.path() + QStringLiteral("/config/parvel")).remove();
    }

    void saveUpdatesThenAdds_data() { backends(); }
    void saveUpdatesThenAdds() {
        QFETCH(QString, backend);
        if (backend != u"file")
            PARVEL_REQUIRE_SECRET_SERVICE(m_secretService);
        auto store = emptyStore(backend);
        RecordingStore recorder(*store);

        QVERIFY(Keychain::save(recorder, first).has_value());
        QCOMPARE(recorder.calls, (QStringList{u"update: not found"_s, u"add: done"_s}));
        QCOMPARE(storedItems(backend), QList<QByteArray>{encode(first)});

        recorder.calls.clear();
        QVERIFY(Keychain::save(recorder, second).has_value());
        QCOMPARE(recorder.calls, QStringList{u"update: done"_s});
        // One item, holding the second connection.
        QCOMPARE(storedItems(backend), QList<QByteArray>{encode(second)});
        QCOMPARE(Keychain::load(*store), second);
    }

    void clearAndLoad_data() { backends(); }
    void clearAndLoad() {
        QFETCH(QString, backend);
        if (backend != u"file")
            PARVEL_REQUIRE_SECRET_SERVICE(m_secretService);
        auto store = emptyStore(backend);
        RecordingStore recorder(*store);

        Keychain::clear(recorder); // nothing there: silent
        QCOMPARE(Keychain::load(recorder), std::nullopt);
        QCOMPARE(recorder.calls, (QStringList{u"remove"_s, u"read: none"_s}));

        QVERIFY(Keychain::save(*store, first).has_value());
        QCOMPARE(Keychain::load(*store), first);
        Keychain::clear(*store);
        QCOMPARE(Keychain::load(*store), std::nullopt);
        QVERIFY(storedItems(backend).isEmpty());
        Keychain::clear(*store);
        QCOMPARE(Keychain::load(*store), std::nullopt);
    }

    void damagedItemLoadsAsNoneAndStays_data() { backends(); }
    void damagedItemLoadsAsNoneAndStays() {
        QFETCH(QString, backend);
        if (backend != u"file")
            PARVEL_REQUIRE_SECRET_SERVICE(m_secretService);
        auto store = emptyStore(backend);
        const QList<QByteArray> damaged{
            QByteArray("not json"),
            QByteArray("{\"serverURL\":\"https://parvel.example\"}"),
            QByteArray("{\"serverURL\":\"https://parvel.example\",\"token\":null}"),
            QByteArray("{\"serverURL\":\"https://parvel.example\",\"token\":7}"),
            QByteArray("[\"https://parvel.example\",\"token\"]"),
            QByteArray(),
        };
        for (const QByteArray& bytes : damaged) {
            store->remove();
            QCOMPARE(store->add(bytes), CredentialStore::Status::done());
            QCOMPARE(Keychain::load(*store), std::nullopt);
            QCOMPARE(storedItems(backend), QList<QByteArray>{bytes});
        }
        // Saving over a damaged item replaces it in place.
        RecordingStore recorder(*store);
        QVERIFY(Keychain::save(recorder, first).has_value());
        QCOMPARE(recorder.calls, QStringList{u"update: done"_s});
        QCOMPARE(Keychain::load(*store), first);
    }

    void fileItemIsPrivateAndWrittenWhole() {
        const QString folder = m_dir.path() + QStringLiteral("/private/parvel");
        FileCredentialStore store(folder);
        const mode_t oldMask = ::umask(0);
        const auto saved = Keychain::save(store, first);
        ::umask(oldMask);
        QVERIFY(saved.has_value());
        QCOMPARE(modeOf(folder), mode_t(0700));
        QCOMPARE(modeOf(store.filePath()), mode_t(0600));
        QVERIFY(Keychain::save(store, second).has_value());
        QCOMPARE(modeOf(store.filePath()), mode_t(0600));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"connection.json"_s});

        // Adding never overwrites: an item that appeared since the update
        // found none is left alone.
        QCOMPARE(store.add(encode(first)), CredentialStore::Status::failed(EEXIST));
        QCOMPARE(Keychain::load(store), second);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"connection.json"_s});
    }

    void fileFailuresCarryTheStatus() {
        // Something that is not a file where the item belongs: the update fails.
        const QString blocked = m_dir.path() + QStringLiteral("/blocked/parvel");
        QVERIFY(QDir().mkpath(blocked + QStringLiteral("/connection.json")));
        FileCredentialStore blockedStore(blocked);
        auto saved = Keychain::save(blockedStore, first);
        QVERIFY(!saved);
        QCOMPARE(describe(saved.error()),
                 QStringLiteral("Could not update the connection in Keychain (%1).").arg(EISDIR));
        QVERIFY(QFileInfo(blocked + QStringLiteral("/connection.json")).isDir());
        QCOMPARE(Keychain::load(blockedStore), std::nullopt);

        // A file where the folder belongs: nothing to update, and the add fails.
        const QString notAFolder = m_dir.path() + QStringLiteral("/plainfile");
        QFile plain(notAFolder);
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        FileCredentialStore noFolderStore(notAFolder + QStringLiteral("/parvel"));
        RecordingStore recorder(noFolderStore);
        saved = Keychain::save(recorder, first);
        QVERIFY(!saved);
        QCOMPARE(recorder.calls, (QStringList{u"update: not found"_s,
                                              QStringLiteral("add: failed (%1)").arg(ENOTDIR)}));
        QCOMPARE(describe(saved.error()),
                 QStringLiteral("Could not save the connection in Keychain (%1).").arg(ENOTDIR));

        // A folder the user may not write to (root may write anywhere).
        if (::geteuid() == 0)
            return;
        const QString readOnly = m_dir.path() + QStringLiteral("/readonly/parvel");
        FileCredentialStore readOnlyStore(readOnly);
        QVERIFY(Keychain::save(readOnlyStore, first).has_value());
        QVERIFY(::chmod(QFile::encodeName(readOnly).constData(), 0500) == 0);
        saved = Keychain::save(readOnlyStore, second);
        ::chmod(QFile::encodeName(readOnly).constData(), 0700);
        QVERIFY(!saved);
        QCOMPARE(describe(saved.error()),
                 QStringLiteral("Could not update the connection in Keychain (%1).").arg(EACCES));
        QCOMPARE(Keychain::load(readOnlyStore), first);
    }

    void secretServiceItemCarriesExactlyTheTwoAttributes() {
        PARVEL_REQUIRE_SECRET_SERVICE(m_secretService);
        SecretServiceStore store;
        store.remove();
        QVERIFY(Keychain::save(store, first).has_value());
        const auto found = SecretServiceKit::items(keychainService());
        QCOMPARE(found.size(), 1);
        const QMap<QString, QString> expected{{u"service"_s, keychainService()},
                                              {u"account"_s, u"connection"_s}};
        QCOMPARE(found.first().attributes, expected);
        QCOMPARE(found.first().label, SecretServiceStore::label());
        QCOMPARE(found.first().secret, encode(first));
    }

    void secretServiceFailuresCarryTheStatus() {
        PARVEL_REQUIRE_SECRET_SERVICE(m_secretService);
        // No collection under the alias to add to.
        SecretServiceStore nowhere(u"dev.parvel.Parvel.test-nowhere"_s, u"parvel-no-such-alias"_s);
        auto saved = Keychain::save(nowhere, first);
        QVERIFY(!saved);
        QCOMPARE(describe(saved.error()),
                 QStringLiteral("Could not save the connection in Keychain (3)."));

        // A locked collection: the stored item cannot be updated or read, and
        // nothing can be added to it.
        SecretServiceKit::TestCollection collection;
        QVERIFY2(collection.isValid(), qPrintable(collection.error()));
        SecretServiceStore locked(u"dev.parvel.Parvel.test-locked"_s, u"default"_s);
        QVERIFY(Keychain::save(locked, first).has_value());
        QVERIFY2(collection.lock(), qPrintable(collection.error()));

        saved = Keychain::save(locked, second);
        QVERIFY(!saved);
        QCOMPARE(describe(saved.error()),
                 QStringLiteral("Could not update the connection in Keychain (2)."));
        QCOMPARE(Keychain::load(locked), std::nullopt);

        SecretServiceStore lockedAdd(u"dev.parvel.Parvel.test-locked-add"_s, u"default"_s);
        saved = Keychain::save(lockedAdd, first);
        QVERIFY(!saved);
        QCOMPARE(describe(saved.error()),
                 QStringLiteral("Could not save the connection in Keychain (2)."));

        // The failed save changed nothing.
        QVERIFY2(collection.unlock(), qPrintable(collection.error()));
        QCOMPARE(Keychain::load(locked), first);
        QCOMPARE(Keychain::load(lockedAdd), std::nullopt);
    }

    void backendFollowsTheEnvironment() {
        const QString config = m_dir.path() + QStringLiteral("/choice-config");
        const ScopedEnv configHome("XDG_CONFIG_HOME", QFile::encodeName(config));
        {
            const ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", {}, false);
            const ScopedEnv noRuntime("XDG_RUNTIME_DIR", {}, false);
            auto store = Keychain::systemStore();
            auto* file = dynamic_cast<FileCredentialStore*>(store.get());
            QVERIFY(file);
            QCOMPARE(file->filePath(), config + QStringLiteral("/parvel/connection.json"));
        }
        {
            // A runtime folder without a bus socket in it: still the file.
            const QString runtime = m_dir.path() + QStringLiteral("/runtime");
            QVERIFY(QDir().mkpath(runtime));
            QFile notASocket(runtime + QStringLiteral("/bus"));
            QVERIFY(notASocket.open(QIODevice::WriteOnly));
            notASocket.close();
            const ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", {}, false);
            const ScopedEnv runtimeDir("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
            QVERIFY(dynamic_cast<FileCredentialStore*>(Keychain::systemStore().get()));
        }
        {
            // The user's bus socket counts as a configured bus.
            const QString runtime = m_dir.path() + QStringLiteral("/runtime-bus");
            QVERIFY(QDir().mkpath(runtime));
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            const QByteArray path = QFile::encodeName(runtime + QStringLiteral("/bus"));
            QVERIFY(size_t(path.size()) < sizeof address.sun_path);
            std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
            QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
            const ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", {}, false);
            const ScopedEnv runtimeDir("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
            QVERIFY(dynamic_cast<SecretServiceStore*>(Keychain::systemStore().get()));
            ::close(fd);
        }
        {
            const ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
            QVERIFY(dynamic_cast<SecretServiceStore*>(Keychain::systemStore().get()));
        }
    }
};

QTEST_GUILESS_MAIN(KeychainTest)
#include "tst_keychain.moc"
