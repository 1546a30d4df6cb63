// The model's own state: notification on every assignment, the derived
// values, the constructor's defaults and the local index writer.

#include "model/LocalIndex.h"
#include "model/ParvelModel.h"
#include "net/FileCredentialStore.h"
#include "net/Keychain.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

// A store in a private folder: these cases never reach a keychain for real.
class FolderStore final : public ConnectionStore {
public:
    explicit FolderStore(QString folder) : m_files(std::move(folder)) {}
    std::optional<Connection> load() override { return Keychain::load(m_files); }
    Result<void> save(const Connection& c) override { return Keychain::save(m_files, c); }
    void clear() override { Keychain::clear(m_files); }

private:
    FileCredentialStore m_files;
};

class SwitchableDesktop final : public DesktopSettings {
public:
    bool motionAllowed() const override { return motion; }
    bool prefersDark() const override { return false; }
    bool motion = true;
};

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

SharedFile sample(const QString& id, const QString& name) {
    return {id, name, 1234, false, u"2024-05-01T10:00:00Z"_s, u"https://example.com/s/"_s + id};
}

} // namespace

class ModelStateTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    Services services(const QVariant& serverSetting = {}) {
        Services s;
        s.store = std::make_shared<FolderStore>(m_dir.filePath(u"store"_s));
        s.computerName = u"Ada’s Computer"_s;
        s.serverURLSetting = serverSetting;
        s.applicationSupportDir = m_dir.filePath(u"data"_s);
        return s;
    }

private Q_SLOTS:
    void notifiesOnEveryAssignment() {
        ParvelModel model(false, services());
        struct Case {
            const char* name;
            void (ParvelModel::*signal)();
            std::function<void()> assign;
            bool affectsCanUpload = false;
        };
        const SharedFile file = sample(u"a"_s, u"a.txt"_s);
        const QList<Case> cases = {
            {"connection", &ParvelModel::connectionChanged,
             [&] { model.setConnection(std::nullopt); }},
            {"isLoadingConnection", &ParvelModel::isLoadingConnectionChanged,
             [&] { model.setIsLoadingConnection(false); }},
            {"files", &ParvelModel::filesChanged, [&] { model.assignFiles({file}); }},
            {"selected", &ParvelModel::selectedChanged, [&] { model.setSelected({}); }, true},
            {"selectedBytes", &ParvelModel::selectedBytesChanged,
             [&] { model.setSelectedBytes(std::nullopt); }},
            {"usePassword", &ParvelModel::usePasswordChanged, [&] { model.setUsePassword(false); },
             true},
            {"password", &ParvelModel::passwordChanged, [&] { model.setPassword({}); }, true},
            {"progress", &ParvelModel::progressChanged, [&] { model.setProgress(0); }},
            {"isUploading", &ParvelModel::isUploadingChanged, [&] { model.setIsUploading(false); },
             true},
            {"isRefreshing", &ParvelModel::isRefreshingChanged,
             [&] { model.setIsRefreshing(false); }},
            {"message", &ParvelModel::messageChanged, [&] { model.setMessage({}); }},
            {"error", &ParvelModel::errorChanged, [&] { model.setError({}); }},
            {"pairing", &ParvelModel::pairingChanged, [&] { model.setPairing(std::nullopt); }},
            {"devices", &ParvelModel::devicesChanged, [&] { model.setDevices({}); }},
            {"currentDeviceID", &ParvelModel::currentDeviceIDChanged,
             [&] { model.setCurrentDeviceID({}); }},
            {"deviceName", &ParvelModel::deviceNameChanged,
             [&] { model.setDeviceName(model.deviceName()); }},
            {"serverURL", &ParvelModel::serverURLChanged,
             [&] { model.setServerURL(model.serverURL()); }},
            {"connectionCode", &ParvelModel::connectionCodeChanged,
             [&] { model.setConnectionCode({}); }},
            {"connecting", &ParvelModel::connectingChanged, [&] { model.setConnecting(false); }},
        };
        for (const auto& c : cases) {
            QSignalSpy own(&model, c.signal);
            QSignalSpy canUpload(&model, &ParvelModel::canUploadChanged);
            // The same value twice: both assignments notify.
            c.assign();
            c.assign();
            QVERIFY2(own.count() == 2, c.name);
            QVERIFY2(canUpload.count() == (c.affectsCanUpload ? 2 : 0), c.name);
        }
    }

    void derivedLabels() {
        ParvelModel model(false, services());
        QCOMPARE(model.selectedLabel(), u"0 files selected"_s);
        QCOMPARE(model.selectedSizeLabel(), u"Size unavailable"_s);

        model.setSelected({QUrl::fromLocalFile(u"/tmp/reports/Q3 report.final.pdf"_s)});
        QCOMPARE(model.selectedLabel(), u"Q3 report.final.pdf"_s);
        QCOMPARE(model.selectedSizeLabel(), u"Size unavailable"_s);
        model.setSelectedBytes(0);
        QCOMPARE(model.selectedSizeLabel(), u"Zero KB"_s);
        model.setSelectedBytes(1'234'567);
        QCOMPARE(model.selectedSizeLabel(), formatByteCount(1'234'567));

        model.setSelected(
            {QUrl::fromLocalFile(u"/tmp/a.txt"_s), QUrl::fromLocalFile(u"/tmp/b.txt"_s)});
        QCOMPARE(model.selectedLabel(), u"2 files selected"_s);
    }

    void canUpload_data() {
        QTest::addColumn<int>("selected");
        QTest::addColumn<bool>("uploading");
        QTest::addColumn<bool>("usePassword");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("expected");

        const QString emoji =
            u"😀👍🏽🇫🇷👨‍👩‍👧"_s; // four clusters, 17 UTF-16 units
        const QString combining = u"e\u0301a\u0300o\u0308u\u0302"_s; // four clusters, 8 units

        QTest::newRow("nothing selected") << 0 << false << false << QString() << false;
        QTest::newRow("uploading") << 1 << true << false << QString() << false;
        QTest::newRow("no password, text ignored") << 1 << false << false << u"x"_s << true;
        QTest::newRow("3 characters") << 1 << false << true << u"abc"_s << false;
        QTest::newRow("4 characters") << 2 << false << true << u"abcd"_s << true;
        QTest::newRow("256 characters") << 1 << false << true << QString(256, u'a') << true;
        QTest::newRow("257 characters") << 1 << false << true << QString(257, u'a') << false;
        QTest::newRow("four emoji") << 1 << false << true << emoji << true;
        QTest::newRow("four combined letters") << 1 << false << true << combining << true;
        // Fewer clusters than code units: counting units would accept these.
        QTest::newRow("three emoji") << 1 << false << true << u"😀👍🏽🇫🇷"_s << false;
        QTest::newRow("two combined letters") << 1 << false << true << combining.left(4) << false;
        QTest::newRow("256 emoji") << 1 << false << true << u"😀"_s.repeated(256) << true;
        QTest::newRow("257 emoji") << 1 << false << true << u"😀"_s.repeated(257) << false;
        QTest::newRow("spaces count, not trimmed") << 1 << false << true << u" ab "_s << true;
        QTest::newRow("empty password") << 1 << false << true << QString() << false;
    }

    void canUpload() {
        QFETCH(int, selected);
        QFETCH(bool, uploading);
        QFETCH(bool, usePassword);
        QFETCH(QString, password);
        QFETCH(bool, expected);

        ParvelModel model(false, services());
        QList<QUrl> urls;
        for (int i = 0; i < selected; ++i)
            urls.append(QUrl::fromLocalFile(u"/tmp/f%1"_s.arg(i)));
        model.setSelected(urls);
        model.setIsUploading(uploading);
        model.setUsePassword(usePassword);
        model.setPassword(password);
        QCOMPARE(model.canUpload(), expected);
    }

    void constructorDefaults() {
        {
            ParvelModel model(false, services());
            QCOMPARE(model.serverURL(), u"https://localhost:8443"_s);
            QCOMPARE(model.deviceName(), u"Ada’s Computer"_s);
            QVERIFY(!model.isLoadingConnection());
            QVERIFY(!model.connection());
            QVERIFY(!model.connectionTask());
            QVERIFY(!model.uploadTask());
            QVERIFY(!model.api());
            QCOMPARE(model.progress(), 0.0);
            QVERIFY(!model.usePassword() && !model.isUploading() && !model.connecting());
        }
        // A value that is not text falls back to the default; text is taken
        // as is, even empty.
        QCOMPARE(ParvelModel(false, services(QVariant(42))).serverURL(),
                 u"https://localhost:8443"_s);
        QCOMPARE(ParvelModel(false, services(QVariant(QString()))).serverURL(), QString());
        QCOMPARE(ParvelModel(false, services(QVariant(u" https://files.example/ "_s))).serverURL(),
                 u" https://files.example/ "_s);

        Services nameless = services();
        nameless.computerName.clear();
        QCOMPARE(ParvelModel(false, nameless).deviceName(), u"My Mac"_s);

        ParvelModel connected(false, services());
        connected.setConnection(Connection{u"https://a.example"_s, u"t"_s});
        QVERIFY(connected.api());
        QCOMPARE(connected.api()->connection().serverURL, u"https://a.example"_s);
        QCOMPARE(connected.property("connection").value<Connection>().token, u"t"_s);
    }

    void motionFollowsTheDesktop() {
        auto desktop = std::make_shared<SwitchableDesktop>();
        Services s = services();
        s.desktop = desktop;
        ParvelModel model(false, s);
        QVERIFY(model.motion());
        QCOMPARE(model.motion()->duration, 0.24);
        QCOMPARE(*model.motion(), (Animation{0.24, 0.22, 1.0, 0.36, 1.0}));
        // Read afresh: a switch in the desktop shows on the next read.
        desktop->motion = false;
        QVERIFY(!model.motion());
    }

    void indexWriter() {
        QTemporaryDir dir;
        const QString data = dir.filePath(u"share"_s);
        const QString path = LocalIndex::path(data);
        QCOMPARE(path, data + u"/Parvel/files.json"_s);
        QCOMPARE(LocalIndex::path(QString()), QString());

        // Missing folders are made; the file is compact UTF-8, owner-only.
        const QList<SharedFile> files = {sample(u"2"_s, u"Café crème.txt"_s),
                                         sample(u"1"_s, u"b.txt"_s)};
        QVERIFY(LocalIndex::write(data, files));
        const QByteArray bytes = readAll(path);
        QCOMPARE(bytes, encode(files));
        QVERIFY(bytes.contains("Café crème.txt"));
        QVERIFY(!bytes.contains("\\u"));
        QVERIFY(!bytes.endsWith('\n'));
        QVERIFY(!bytes.contains(": ") && !bytes.contains(", "));
        QCOMPARE(decode<QList<SharedFile>>(bytes).value(), files);
        QCOMPARE(QFile::permissions(path), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ReadUser | QFileDevice::WriteUser);

        // Each write replaces the whole file.
        QVERIFY(LocalIndex::write(data, {}));
        QCOMPARE(readAll(path), QByteArray("[]"));

        // A regular file where the folder belongs: nothing is written.
        const QString blocked = dir.filePath(u"blocked"_s);
        QVERIFY(QDir().mkpath(blocked));
        QFile in(blocked + u"/Parvel"_s);
        QVERIFY(in.open(QIODevice::WriteOnly) && in.write("keep") == 4);
        in.close();
        QVERIFY(!LocalIndex::write(blocked, files));
        QCOMPARE(readAll(blocked + u"/Parvel"_s), QByteArray("keep"));
        QVERIFY(!LocalIndex::write(QString(), files));
    }

    void disconnectClearsAndSavesEmptyIndex() {
        ParvelModel model(false, services());
        model.setConnection(Connection{u"https://a.example"_s, u"t"_s});
        model.assignFiles({sample(u"1"_s, u"a"_s)});
        model.setSelected({QUrl::fromLocalFile(u"/tmp/a"_s)});
        model.setSelectedBytes(5);
        model.setPassword(u"secret"_s);
        model.setUsePassword(true);
        model.setPairing(Pairing{u"ABCD"_s, u"later"_s, u"https://a.example"_s});
        model.setDevices({Device{u"d"_s, u"Mac"_s, {}}});
        model.setCurrentDeviceID(u"d"_s);
        model.setMessage(u"status"_s);
        model.setError(u"earlier"_s);
        model.setIsRefreshing(true);

        model.handleError(ParvelError::unauthorized());

        QVERIFY(!model.connection());
        QVERIFY(model.files().isEmpty() && model.selected().isEmpty() && model.devices().isEmpty());
        QVERIFY(!model.selectedBytes() && !model.pairing());
        QCOMPARE(model.password(), QString());
        QCOMPARE(model.error(), u"This Mac has been disconnected. Enter a new connection code."_s);
        // What a disconnect leaves alone.
        QVERIFY(model.usePassword());
        QVERIFY(model.isRefreshing());
        QCOMPARE(model.currentDeviceID(), u"d"_s);
        QCOMPARE(model.message(), u"status"_s);
        QCOMPARE(readAll(LocalIndex::path(m_dir.filePath(u"data"_s))), QByteArray("[]"));

        // Any other error is only shown.
        model.setConnection(Connection{u"https://a.example"_s, u"t"_s});
        model.handleError(SystemError{u"Disk full"_s});
        QVERIFY(model.connection());
        QCOMPARE(model.error(), u"Disk full"_s);
        QCOMPARE(model.message(), u"status"_s);
    }
};

QTEST_GUILESS_MAIN(ModelStateTest)
#include "tst_model_state.moc"
