#include "SecretServiceKit.h"
#include "platform/FileCredentialStore.h"
#include "platform/Keychain.h"
#include "platform/SecretServiceStore.h"

#include <QDir>
#include <QFile>
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
const QString service = QString::fromLatin1(Keychain::service);

// Passes every call to a real store and writes down each write and how it ended.
struct RecordingStore final : CredentialStore {
    explicit RecordingStore(CredentialStore& inner) : m_inner(inner) {}
    CredentialStore& m_inner;
    QStringList calls;

    std::optional<QByteArray> read() override { return m_inner.read(); }
    Status update(const QByteArray& d) override { return note("update", m_inner.update(d)); }
    Status add(const QByteArray& d) override { return note("add", m_inner.add(d)); }
    void remove() override { m_inner.remove(); }
    Status note(const char* call, Status status) {
        const QString kinds[] = {u"done"_s, u"not found"_s, u"failed (%1)"_s.arg(status.code)};
        calls << QLatin1StringView(call) + u": "_s + kinds[int(status.kind)];
        return status;
    }
};

// Answers reads from a script, then keeps giving its last answer.
struct ScriptedStore final : CredentialStore {
    QList<Read> answers;
    int reads = 0;
    int removes = 0;

    std::optional<QByteArray> read() override { return readItem().bytes; }
    Read readItem() override { return answers.at(std::min(reads++, int(answers.size()) - 1)); }
    Status update(const QByteArray&) override { return Status::failed(0); }
    Status add(const QByteArray&) override { return Status::failed(0); }
    void remove() override { ++removes; }
};

// The delays one waiting load sleeps, in milliseconds, then how many reads it made.
QList<qint64> waitedLoad(CredentialStore& store, std::optional<Connection>* loaded,
                         const std::function<void()>& duringSleep = {}) {
    QList<qint64> delays;
    *loaded = Keychain::loadWaitingForService(store, {}, [&](std::chrono::milliseconds delay) {
        delays << delay.count();
        if (duringSleep)
            duringSleep();
    });
    return delays;
}

// The writes one save makes, then its outcome.
QStringList saveCalls(CredentialStore& store, const Connection& connection) {
    RecordingStore recorder(store);
    const Result<void> saved = Keychain::save(recorder, connection);
    return recorder.calls << (saved ? u"saved"_s : describe(saved.error()));
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
            SecretServiceStore().remove();
        FileCredentialStore(fileFolder()).remove();
    }

    void storeLifecycle_data() {
        QTest::addColumn<QString>("backend"); // read through the row's tag
        QTest::newRow("file") << u"file"_s;
        QTest::newRow("secret service") << u"secret service"_s;
    }
    void storeLifecycle() {
        const std::unique_ptr<CredentialStore> inner(
            secretServiceRow() ? static_cast<CredentialStore*>(new SecretServiceStore)
                               : new FileCredentialStore(fileFolder()));
        Keychain::clear(*inner); // nothing there: silent
        QCOMPARE(saveCalls(*inner, first),
                 (QStringList{u"update: not found"_s, u"add: done"_s, u"saved"_s}));
        QCOMPARE(storedItems(), QList<QByteArray>{encode(first)});
        QCOMPARE(saveCalls(*inner, second), (QStringList{u"update: done"_s, u"saved"_s}));
        QCOMPARE(storedItems(), QList<QByteArray>{encode(second)});
        QCOMPARE(Keychain::load(*inner), second);

        Keychain::clear(*inner);
        QCOMPARE(Keychain::load(*inner), std::nullopt);
        QVERIFY(storedItems().isEmpty());

        // A damaged item loads as none and stays; saving replaces it in place.
        for (const QByteArray& damaged :
             {QByteArray("not json"), QByteArray("{\"serverURL\":\"https://a\",\"token\":null}"),
              QByteArray()}) {
            inner->remove();
            QCOMPARE(inner->add(damaged), CredentialStore::Status::done());
            QCOMPARE(Keychain::load(*inner), std::nullopt);
            QCOMPARE(storedItems(), QList<QByteArray>{damaged});
        }
        QCOMPARE(saveCalls(*inner, first), (QStringList{u"update: done"_s, u"saved"_s}));
        QCOMPARE(storedItems(), QList<QByteArray>{encode(first)});
    }

    void fileItemOnDisk() {
        const QString folder = m_dir.path() + u"/private/parvel"_s;
        FileCredentialStore file(folder);
        const auto restoreMask = qScopeGuard([mask = ::umask(0)] { ::umask(mask); });
        QVERIFY(Keychain::save(file, first).has_value());
        QCOMPARE((QList{modeOf(folder), modeOf(file.filePath())}), (QList<mode_t>{0700, 0600}));
        QVERIFY(Keychain::save(file, second).has_value());
        QCOMPARE(modeOf(file.filePath()), mode_t(0600));
        // Adding never overwrites an item that appeared since the update found none.
        QCOMPARE(file.add(encode(first)), CredentialStore::Status::failed(EEXIST));
        QCOMPARE(Keychain::load(file), second);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"connection.json"_s});

        // A folder where the item belongs: the update fails, and leaves nothing behind.
        const QString blocked = m_dir.path() + u"/blocked/parvel"_s;
        QVERIFY(QDir().mkpath(blocked + u"/connection.json"_s));
        FileCredentialStore blockedStore(blocked);
        QCOMPARE(saveCalls(blockedStore, first),
                 (QStringList{u"update: failed (%1)"_s.arg(EISDIR),
                              u"Could not update the connection in Keychain (%1)."_s.arg(EISDIR)}));
        QCOMPARE(QDir(blocked).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{u"connection.json"_s});

        // A file where the folder belongs: nothing to update, and the add fails.
        QFile plain(m_dir.path() + u"/plainfile"_s);
        QVERIFY(plain.open(QIODevice::WriteOnly));
        FileCredentialStore noFolder(plain.fileName() + u"/parvel"_s);
        QCOMPARE(saveCalls(noFolder, first),
                 (QStringList{u"update: not found"_s, u"add: failed (%1)"_s.arg(ENOTDIR),
                              u"Could not save the connection in Keychain (%1)."_s.arg(ENOTDIR)}));
    }

    void secretServiceFailuresCarryTheStatus() {
        PARVEL_REQUIRE_SECRET_SERVICE(m_secretService);
        // No collection under the alias to add to.
        SecretServiceStore nowhere(u"dev.parvel.Parvel.test-nowhere"_s, u"parvel-no-such-alias"_s);
        QCOMPARE(saveCalls(nowhere, first).last(),
                 u"Could not save the connection in Keychain (3)."_s);

        // A locked collection: its item can be neither updated nor read, and
        // nothing can be added to it. Saving must fail rather than prompt.
        SecretServiceStore locked;
        SecretServiceStore lockedAdd(u"dev.parvel.Parvel.test-locked-add"_s);
        QVERIFY(Keychain::save(locked, first).has_value());
        const auto unlock = qScopeGuard([] { SecretServiceKit::setLoginLocked(false); });
        QVERIFY(SecretServiceKit::setLoginLocked(true));
        QCOMPARE(saveCalls(locked, second),
                 (QStringList{u"update: failed (2)"_s,
                              u"Could not update the connection in Keychain (2)."_s}));
        QCOMPARE(Keychain::load(locked), std::nullopt);
        QCOMPARE(locked.readItem().serviceMissing, false); // so never read again
        QCOMPARE(saveCalls(lockedAdd, first),
                 (QStringList{u"update: not found"_s, u"add: failed (2)"_s,
                              u"Could not save the connection in Keychain (2)."_s}));

        // The failed saves changed nothing.
        QVERIFY(SecretServiceKit::setLoginLocked(false));
        QCOMPARE(Keychain::load(locked), first);
        QCOMPARE(Keychain::load(lockedAdd), std::nullopt);
    }

    // A damaged item is an answer: it is not read again while waiting.
    void waitingForTheService() {
        ScriptedStore store;
        store.answers = {{QByteArray("not json")}, {encode(first)}};
        std::optional<Connection> loaded;
        QVERIFY(waitedLoad(store, &loaded).isEmpty());
        QCOMPARE(loaded, std::nullopt);
        QCOMPARE((QList{store.reads, store.removes}), (QList{1, 0}));
    }

    void secretServiceNotThereYet() {
        PARVEL_REQUIRE_SECRET_SERVICE(m_secretService);
        SecretServiceStore store;
        QVERIFY(Keychain::save(store, first).has_value());
        std::optional<Connection> loaded;
        // An answer from the service is final, whatever it is.
        SecretServiceStore noItem(u"dev.parvel.Parvel.test-no-item"_s);
        QVERIFY(waitedLoad(noItem, &loaded).isEmpty());
        QCOMPARE(loaded, std::nullopt);

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
        QCOMPARE(store.readItem().serviceMissing, true);
        int sleeps = 0;
        QCOMPARE(waitedLoad(store, &loaded,
                            [&] {
                                if (++sleeps == 2)
                                    reconnect(nullptr); // the daemon took its name
                            }),
                 (QList<qint64>{250, 500}));
        QCOMPARE(loaded, first);
    }

    // GLib falls back to $XDG_RUNTIME_DIR/bus by itself when no address is
    // set, so only a socket there may choose the Secret Service.
    void runtimeBusSocketCountsAsABus() {
        const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
        QFile plain(m_dir.path() + u"/bus"_s);
        QVERIFY(plain.open(QIODevice::WriteOnly));
        QVERIFY(dynamic_cast<FileCredentialStore*>(Keychain::systemStore().get()));
        QVERIFY(plain.remove());

        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un socketAddress{};
        socketAddress.sun_family = AF_UNIX;
        qstrncpy(socketAddress.sun_path, QFile::encodeName(plain.fileName()),
                 sizeof socketAddress.sun_path);
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&socketAddress), sizeof socketAddress) == 0);
        QVERIFY(dynamic_cast<SecretServiceStore*>(Keychain::systemStore().get()));
        ::close(fd);
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        qputenv("XDG_RUNTIME_DIR", runtime);
    }
};

QTEST_GUILESS_MAIN(KeychainTest)
#include "tst_keychain.moc"
