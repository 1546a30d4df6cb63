// One instance per user: the hand-over's wire format over a real local
// socket, a socket left by a crashed instance, and the private folder used
// when the session has no runtime folder.

#include "shell/InstanceChannel.h"

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

// handOver() blocks, as a second `parvel` may: it runs beside the event loop.
std::future<bool> handOverLater(const QString& path, const QStringList& arguments) {
    return std::async(std::launch::async,
                      [path, arguments] { return InstanceChannel::handOver(path, arguments); });
}

bool finished(std::future<bool>& future) {
    return QTest::qWaitFor(
        [&] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        10'000);
}

mode_t modeOf(const QString& path) {
    struct stat info {};
    ::lstat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 0777;
}

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

        const QStringList arguments = {u"--show"_s, u"file:///tmp/a%20b"_s, u"\"ü\""_s};
        auto done = handOverLater(path, arguments);
        QVERIFY(finished(done));
        QVERIFY(done.get());
        QCOMPARE(received.size(), 1);
        QCOMPARE(received.at(0).at(0).toStringList(), arguments);

        // A second instance with no arguments still counts as a request.
        auto empty = handOverLater(path, {});
        QVERIFY(finished(empty));
        QVERIFY(empty.get());
        QCOMPARE(received.at(1).at(0).toStringList(), QStringList());

        // The bytes a caller sends, as the running instance reads them.
        QLocalServer raw;
        const QString rawPath = m_dir.filePath(u"raw.socket"_s);
        QVERIFY(raw.listen(rawPath));
        auto sent = handOverLater(rawPath, {u"--settings"_s, u"/x"_s});
        QVERIFY(raw.waitForNewConnection(10'000));
        QLocalSocket* peer = raw.nextPendingConnection();
        QVERIFY(QTest::qWaitFor([&] { return peer->canReadLine(); }, 10'000));
        QCOMPARE(peer->readLine(), QByteArray(R"(["--settings","/x"])"
                                              "\n"));
        // Anything but "ok" is no hand-over: the caller starts on its own.
        peer->write("no\n");
        peer->flush();
        QVERIFY(finished(sent));
        QVERIFY(!sent.get());

        // Garbage is dropped without an answer and without a request.
        QLocalSocket garbage;
        garbage.connectToServer(path);
        QVERIFY(garbage.waitForConnected(10'000));
        garbage.write("{\"not\":\"a list\"}\n");
        QVERIFY(QTest::qWaitFor([&] { return garbage.state() == QLocalSocket::UnconnectedState; },
                                10'000));
        QCOMPARE(received.size(), 2);
    }

    void listening() {
        const QString path = m_dir.filePath(u"listen.socket"_s);
        // Nobody there: no hand-over, at once.
        QVERIFY(!InstanceChannel::handOver(path, {}));

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
        QVERIFY(!InstanceChannel::socketPath().isEmpty());
    }

    void socketFolder() {
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        const QByteArray tmp = qgetenv("TMPDIR");
        auto restore = qScopeGuard([&] {
            qputenv("XDG_RUNTIME_DIR", runtime);
            qputenv("TMPDIR", tmp);
        });
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
        QCOMPARE(InstanceChannel::socketPath(), m_dir.filePath(u"dev.parvel.Parvel.socket"_s));

        // Without a runtime folder: a folder of our own, 0700, even when an
        // earlier one was left too open.
        QTemporaryDir tmpDir;
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(tmpDir.path()));
        const QString folder = tmpDir.filePath(u"parvel-"_s + QString::number(::getuid()));
        QCOMPARE(InstanceChannel::socketPath(), folder + u"/instance.socket"_s);
        QCOMPARE(modeOf(folder), mode_t(0700));
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        QCOMPARE(InstanceChannel::socketPath(), folder + u"/instance.socket"_s);
        QCOMPARE(modeOf(folder), mode_t(0700));

        // A link planted there is not followed.
        QVERIFY(QDir(folder).removeRecursively());
        QVERIFY(QFile::link(tmpDir.path(), folder));
        QCOMPARE(InstanceChannel::socketPath(), QString());
    }
};

QTEST_GUILESS_MAIN(InstanceTest)
#include "tst_shell_instance.moc"
