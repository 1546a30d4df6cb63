// The application's ways in: the hand-over's wire format over a real local
// socket, its limits, the folder the socket lives in, and what a file
// argument, a handed-over URL or a drop may name.

#include "model/ParvelModel.h"
#include "net/FileUrl.h"
#include "shell/DropTarget.h"
#include "shell/InstanceChannel.h"
#include "shell/LaunchRequest.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <future>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using HandOver = std::expected<bool, QString>;

// handOver() blocks, as a second `parvel` may: it runs beside the event loop.
std::future<HandOver> handOverLater(const QString& path, const QStringList& arguments) {
    return std::async(std::launch::async,
                      [path, arguments] { return InstanceChannel::handOver(path, arguments); });
}

HandOver finish(std::future<HandOver>& future) {
    if (!QTest::qWaitFor(
            [&] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            20'000))
        return std::unexpected(u"hung"_s);
    return future.get();
}

mode_t modeOf(const QString& path) {
    struct stat info {};
    ::lstat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 0777;
}

const QString tooMany = u"Parvel is running and cannot take this many files at once. Pass fewer "
                        "files."_s;
const QString notTaken = u"Parvel is running but did not take the files. Try again."_s;

} // namespace

class InstanceTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private Q_SLOTS:
    void handOverWireFormat() {
        const QString path = m_dir.filePath(u"wire.socket"_s);
        InstanceChannel channel;
        QVERIFY(channel.listen(path));
        QSignalSpy received(&channel, &InstanceChannel::received);

        // A second instance with no arguments still counts as a request; a
        // list as long as an argument list can be (2 MiB, every byte
        // percent-encoded) arrives whole.
        const QString longArgument(3 * (2 << 20) / 2, u'a');
        const QList<QStringList> sent = {
            {u"--show"_s, u"file:///tmp/a%20b"_s, u"\"ü\""_s}, {}, {longArgument, longArgument}};
        for (const QStringList& arguments : sent) {
            auto done = handOverLater(path, arguments);
            QCOMPARE(finish(done), HandOver(true));
            QCOMPARE(received.takeFirst().at(0).toStringList(), arguments);
        }
        // More than that is refused by the caller, not by starting another
        // instance.
        auto huge = handOverLater(path, {QString(InstanceChannel::maxMessageBytes, u'a')});
        QCOMPARE(finish(huge), HandOver(std::unexpected(tooMany)));

        // The bytes a caller sends, as the running instance reads them.
        QLocalServer raw;
        const QString rawPath = m_dir.filePath(u"raw.socket"_s);
        QVERIFY(raw.listen(rawPath));
        auto answered = handOverLater(rawPath, {u"--settings"_s, u"/x"_s});
        QVERIFY(raw.waitForNewConnection(10'000));
        QLocalSocket* peer = raw.nextPendingConnection();
        QVERIFY(QTest::qWaitFor([&] { return peer->canReadLine(); }, 10'000));
        QCOMPARE(peer->readLine(), QByteArray(R"(["--settings","/x"])"
                                              "\n"));
        // Anything but "ok" or "busy" is a failure to report: someone
        // listens there, so starting a second instance would be wrong.
        peer->write("no\n");
        peer->flush();
        QCOMPARE(finish(answered), HandOver(std::unexpected(notTaken)));

        // Garbage is dropped without an answer and without a request.
        QLocalSocket garbage;
        garbage.connectToServer(path);
        QVERIFY(garbage.waitForConnected(10'000));
        garbage.write("{\"not\":\"a list\"}\n");
        QVERIFY(QTest::qWaitFor([&] { return garbage.state() == QLocalSocket::UnconnectedState; },
                                10'000));
        QCOMPARE(received.size(), 0);
    }

    // What the channel holds at once is bounded: beyond maxInFlight callers
    // the next one hears "busy" and tries again until there is room.
    void callersInFlight() {
        const QString path = m_dir.filePath(u"busy.socket"_s);
        InstanceChannel channel;
        QVERIFY(channel.listen(path));
        QSignalSpy received(&channel, &InstanceChannel::received);
        std::vector<std::unique_ptr<QLocalSocket>> slow;
        for (int i = 0; i <= InstanceChannel::maxInFlight; ++i) {
            slow.push_back(std::make_unique<QLocalSocket>());
            slow.back()->connectToServer(path);
            QVERIFY(slow.back()->waitForConnected(10'000));
            slow.back()->write("[\"unfinished");
            QVERIFY(slow.back()->waitForBytesWritten(10'000));
        }
        QVERIFY(QTest::qWaitFor([&] { return slow.back()->canReadLine(); }, 10'000));
        QCOMPARE(slow.back()->readLine(), QByteArray("busy\n"));
        QVERIFY(!slow.front()->canReadLine());

        auto waiting = handOverLater(path, {u"--show"_s});
        QTest::qWait(300);
        QCOMPARE(received.size(), 0);
        slow.clear();
        QCOMPARE(finish(waiting), HandOver(true));
        QCOMPARE(received.size(), 1);
    }

    void listening() {
        const QString path = m_dir.filePath(u"listen.socket"_s);
        // Nobody there: no hand-over, at once.
        QCOMPARE(InstanceChannel::handOver(path, {}), HandOver(false));

        // A socket file left by an instance that crashed does not block.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray native = QFile::encodeName(path);
        std::memcpy(address.sun_path, native.constData(), native.size());
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
        QVERIFY(QFile::exists(path));

        InstanceChannel first;
        QVERIFY(first.listen(path));
        // While it runs, a second one cannot take its place.
        InstanceChannel second;
        QVERIFY(!second.listen(path));
    }

    // The socket goes only where nobody else can bind the name first.
    void socketFolder() {
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        const QByteArray tmp = qgetenv("TMPDIR");
        auto restore = qScopeGuard([&] {
            qputenv("XDG_RUNTIME_DIR", runtime);
            qputenv("TMPDIR", tmp);
        });
        QTemporaryDir tmpDir, runtimeDir;
        qputenv("TMPDIR", QFile::encodeName(tmpDir.path()));
        const QString folder = tmpDir.filePath(u"parvel-"_s + QString::number(::getuid()));
        const QString inFolder = folder + u"/instance.socket"_s;
        const QByteArray nativeRuntime = QFile::encodeName(runtimeDir.path());
        qputenv("XDG_RUNTIME_DIR", nativeRuntime);
        ::chmod(nativeRuntime.constData(), 0700);
        QCOMPARE(InstanceChannel::socketPath().value_or(QString()),
                 runtimeDir.filePath(u"dev.parvel.Parvel.socket"_s));
        // A runtime folder others may enter is not used, nor a missing one.
        ::chmod(nativeRuntime.constData(), 0710);
        QCOMPARE(InstanceChannel::socketPath().value_or(QString()), inFolder);
        qunsetenv("XDG_RUNTIME_DIR");
        QCOMPARE(InstanceChannel::socketPath().value_or(QString()), inFolder);

        // A folder of our own, 0700, even when an earlier one was left open.
        QCOMPARE(modeOf(folder), mode_t(0700));
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        QCOMPARE(InstanceChannel::socketPath().value_or(QString()), inFolder);
        QCOMPARE(modeOf(folder), mode_t(0700));

        // A link planted there is not followed, nor a folder of another
        // user's used: the next name serves, the same for every start.
        QVERIFY(QDir(folder).removeRecursively());
        QVERIFY(QFile::link(tmpDir.path(), folder));
        const QString second = folder + u"-2/instance.socket"_s;
        QCOMPARE(InstanceChannel::socketPath().value_or(QString()), second);
        QCOMPARE(InstanceChannel::socketPath().value_or(QString()), second);
        if (::getuid() == 0) {
            QVERIFY(QFile::remove(folder) && QDir().mkdir(folder));
            QCOMPARE(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
            QCOMPARE(InstanceChannel::socketPath().value_or(QString()), second);
            QCOMPARE(::chown(nativeRuntime.constData(), 65534, 65534), 0);
            ::chmod(nativeRuntime.constData(), 0700);
            qputenv("XDG_RUNTIME_DIR", nativeRuntime);
            QCOMPARE(InstanceChannel::socketPath().value_or(QString()), second);
        }
        // With every name taken, the reason instead of a socket.
        for (int n = 2; n <= 8; ++n)
            QVERIFY(QDir(folder + u'-' + QString::number(n)).removeRecursively() &&
                    QFile::link(tmpDir.path(), folder + u'-' + QString::number(n)));
        QCOMPARE(InstanceChannel::socketPath(),
                 (std::expected<QString, QString>(std::unexpected(
                     u"%1 to %1-8 belong to someone else or are no folders"_s.arg(folder)))));
    }

    // Every way a file comes in names the one path that is opened and
    // shown: arguments (as bytes), URLs handed over, drops, the model.
    void filesComingIn_data() {
        QTest::addColumn<QByteArray>("argument");
        QTest::addColumn<QByteArray>("path"); // empty: refused
        QTest::newRow("NUL") << QByteArray("file:///home/u/id_rsa%00/holiday.jpg") << QByteArray();
        QTest::newRow("other host") << QByteArray("file://otherhost/etc/hostname") << QByteArray();
        QTest::newRow("relative URL") << QByteArray("file:x.jpg") << QByteArray();
        QTest::newRow("localhost")
            << QByteArray("file://LocalHost/etc/hostname") << QByteArray("/etc/hostname");
        QTest::newRow("fragment") << QByteArray("file:///w/a.txt#b.jpg") << QByteArray("/w/a.txt");
        QTest::newRow("encoded slash")
            << QByteArray("file:///w/a%2Fb.jpg") << QByteArray("/w/a/b.jpg");
        QTest::newRow("not UTF-8") << QByteArray("caf\xe9.txt") << QByteArray("/w/caf\xe9.txt");
        QTest::newRow("dots") << QByteArray("../x/./y") << QByteArray("/x/y");
    }
    void filesComingIn() {
        QFETCH(QByteArray, argument);
        QFETCH(QByteArray, path);
        const QList<QUrl> expected =
            path.isEmpty() ? QList<QUrl>() : QList<QUrl>{FileUrl::fromPath(path)};
        const LaunchRequest request = LaunchRequest::parse(QByteArrayList{argument}, "/w");
        if (!argument.contains(':'))
            QCOMPARE(request.files, expected);
        // Handed over, the URL keeps the path's bytes; the name shown is
        // the last segment of that path.
        const QList<QUrl> handedOver =
            LaunchRequest::parse(request.toArguments(), u"/elsewhere"_s).files;
        QCOMPARE(handedOver, expected);
        QCOMPARE(DropTarget::fileURLs(QList<QUrl>{QUrl::fromEncoded(argument)}),
                 argument.contains(':') ? expected : QList<QUrl>());
        if (!expected.isEmpty()) {
            QCOMPARE(FileUrl::toPath(handedOver.first()), path);
            if (QString::fromLatin1(path).toUtf8() == path)
                QCOMPARE(handedOver.first().fileName().toLatin1(),
                         path.mid(path.lastIndexOf('/') + 1));
        }
    }

    // The model keeps the URL rebuilt from the path it checked, and refuses
    // what names no local path.
    void modelSelection() {
        QTemporaryDir files;
        const QByteArray real = QFile::encodeName(files.filePath(u"holiday.jpg"_s));
        QFile file(QFile::decodeName(real));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("photo") == 5);
        file.close();
        ParvelModel model(false, Services{});
        model.setFiles({QUrl::fromEncoded("file://localhost" + real + "?x#y.png")}, false);
        QCOMPARE(model.selected(), QList<QUrl>{FileUrl::fromPath(real)});
        model.setFiles({QUrl::fromEncoded("file://" + real + "%00/other.jpg"),
                        QUrl::fromEncoded("file://otherhost" + real)},
                       false);
        QCOMPARE(model.selected(), QList<QUrl>());
        QVERIFY(!model.error().isEmpty());
    }
};

QTEST_GUILESS_MAIN(InstanceTest)
#include "tst_shell_instance.moc"
