#include "SecretServiceKit.h"
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

const Connection first{u"https://parvel.example"_s, u"token-one"_s};
const Connection second{u"https://files.example:8443/base"_s, u"tökén/two"_s};
const QString service = QString::fromLatin1(Keychain::service);

// Passes every call to a real store and writes down what it was and how it ended.
class RecordingStore final : public CredentialStore {
public:
    explicit RecordingStore(CredentialStore& inner) : m_inner(inner) {}
    QStringList calls;

    std::optional<QByteArray> read() override {
        auto bytes = m_inner.read();
        calls << (bytes ? u"read"_s : u"read: none"_s);
        return bytes;
    }
    Status update(const QByteArray& d) override { return note("update", m_inner.update(d)); }
    Status add(const QByteArray& d) override { return note("add", m_inner.add(d)); }
    void remove() override {
        m_inner.remove();
        calls << u"remove"_s;
    }

private:
    Status note(const char* call, Status status) {
        const QString kinds[] = {u"done"_s, u"not found"_s, u"failed (%1)"_s.arg(status.code)};
        calls << QLatin1StringView(call) + u": "_s + kinds[int(status.kind)];
        return status;
    }
    CredentialStore& m_inner;
};

mode_t modeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

QString failureText(const Result<void>& saved) {
    return saved ? u"saved"_s : describe(saved.error());
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
    std::unique_ptr<CredentialStore> store() const {
        if (secretServiceRow())
            return std::make_unique<SecretServiceStore>();
        return std::make_unique<FileCredentialStore>(fileFolder());
    }
    // Every item the row's backend holds, read beside the code under test.
    QList<QByteArray> storedItems() const {
        QList<QByteArray> found;
        if (secretServiceRow()) {
            for (const auto& item : SecretServiceKit::items(service))
                found << item.secret;
            return found;
        }
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
    static void backends() {
        QTest::addColumn<QString>("backend"); // read through the row's tag
        QTest::newRow("file") << u"file"_s;
        QTest::newRow("secret service") << u"secret service"_s;
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

    void storeLifecycle_data() { backends(); }
    void storeLifecycle() {
        const auto inner = store();
        RecordingStore recorder(*inner);
        Keychain::clear(recorder); // nothing there: silent
        QCOMPARE(Keychain::load(recorder), std::nullopt);
        QVERIFY(Keychain::save(recorder, first).has_value());
        QCOMPARE(recorder.calls, (QStringList{u"remove"_s, u"read: none"_s, u"update: not found"_s,
                                              u"add: done"_s}));
        QCOMPARE(storedItems(), QList<QByteArray>{encode(first)});
        if (secretServiceRow()) {
            auto found = SecretServiceKit::items(service);
            // GNOME Keyring may add its generic schema by itself, at times.
            found.first().attributes.remove(u"xdg:schema"_s);
            const QMap<QString, QString> attributes{{u"service"_s, service},
                                                    {u"account"_s, u"connection"_s}};
            QCOMPARE(found.first().attributes, attributes);
        }

        recorder.calls.clear();
        QVERIFY(Keychain::save(recorder, second).has_value());
        QCOMPARE(recorder.calls, QStringList{u"update: done"_s});
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
        recorder.calls.clear();
        QVERIFY(Keychain::save(recorder, first).has_value());
        QCOMPARE(recorder.calls, QStringList{u"update: done"_s});
        QCOMPARE(storedItems(), QList<QByteArray>{encode(first)});
    }

    void fileItemOnDisk() {
        const QString folder = m_dir.path() + u"/private/parvel"_s;
        FileCredentialStore file(folder);
        const mode_t oldMask = ::umask(0);
        const bool saved = Keychain::save(file, first).has_value();
        ::umask(oldMask);
        QVERIFY(saved);
        QCOMPARE(modeOf(folder), mode_t(0700));
        QCOMPARE(modeOf(file.filePath()), mode_t(0600));
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
        QCOMPARE(failureText(Keychain::save(blockedStore, first)),
                 u"Could not update the connection in Keychain (%1)."_s.arg(EISDIR));
        QCOMPARE(QDir(blocked).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{u"connection.json"_s});

        // A file where the folder belongs: nothing to update, and the add fails.
        QFile plain(m_dir.path() + u"/plainfile"_s);
        QVERIFY(plain.open(QIODevice::WriteOnly));
        FileCredentialStore noFolder(plain.fileName() + u"/parvel"_s);
        RecordingStore recorder(noFolder);
        QCOMPARE(failureText(Keychain::save(recorder, first)),
                 u"Could not save the connection in Keychain (%1)."_s.arg(ENOTDIR));
        QCOMPARE(recorder.calls,
                 (QStringList{u"update: not found"_s, u"add: failed (%1)"_s.arg(ENOTDIR)}));
    }

    void secretServiceFailuresCarryTheStatus() {
        PARVEL_REQUIRE_SECRET_SERVICE(m_secretService);
        // No collection under the alias to add to.
        SecretServiceStore nowhere(u"dev.parvel.Parvel.test-nowhere"_s, u"parvel-no-such-alias"_s);
        QCOMPARE(failureText(Keychain::save(nowhere, first)),
                 u"Could not save the connection in Keychain (3)."_s);

        // A locked collection: its item can be neither updated nor read, and
        // nothing can be added to it.
        SecretServiceKit::TestCollection collection;
        QVERIFY2(collection.isValid(), qPrintable(collection.error()));
        SecretServiceStore locked(u"dev.parvel.Parvel.test-locked"_s, u"default"_s);
        SecretServiceStore lockedAdd(u"dev.parvel.Parvel.test-locked-add"_s, u"default"_s);
        QVERIFY(Keychain::save(locked, first).has_value());
        QVERIFY2(collection.lock(), qPrintable(collection.error()));
        QCOMPARE(failureText(Keychain::save(locked, second)),
                 u"Could not update the connection in Keychain (2)."_s);
        QCOMPARE(Keychain::load(locked), std::nullopt);
        QCOMPARE(failureText(Keychain::save(lockedAdd, first)),
                 u"Could not save the connection in Keychain (2)."_s);

        // The failed saves changed nothing.
        QVERIFY2(collection.unlock(), qPrintable(collection.error()));
        QCOMPARE(Keychain::load(locked), first);
        QCOMPARE(Keychain::load(lockedAdd), std::nullopt);
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
        const QByteArray path = QFile::encodeName(plain.fileName());
        QVERIFY(size_t(path.size()) < sizeof socketAddress.sun_path);
        std::memcpy(socketAddress.sun_path, path.constData(), size_t(path.size()));
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&socketAddress), sizeof socketAddress) == 0);
        QVERIFY(dynamic_cast<SecretServiceStore*>(Keychain::systemStore().get()));
        ::close(fd);
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        qputenv("XDG_RUNTIME_DIR", runtime);
    }
};

QTEST_GUILESS_MAIN(KeychainTest)
#include "tst_keychain.moc"
