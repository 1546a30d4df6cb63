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

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using HandOver = std::expected<bool, QString>;

// handOver() blocks, as a second `parvel` may: it runs beside the event loop.
std::future<HandOver> handOverLater(const QString& path, const QStringList& arguments) {
    return std::async(std::launch::async,
                      [path, arguments] { return InstanceChannel::handOver(path, arguments); });
}

HandOver finish(std::future<HandOver> future) {
    if (!QTest::qWaitFor(
            [&] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            20'000))
        return std::unexpected(u"hung"_s);
    return future.get();
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
        // Nobody there: no hand-over, at once.
        const QString path = m_dir.filePath(u"wire.socket"_s);
        QCOMPARE(InstanceChannel::handOver(path, {}), HandOver(false));

        // The socket file of an instance that crashed does not block; bind()
        // refuses a plain file there alike.
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        InstanceChannel channel, second;
        QVERIFY(channel.listen(path));
        // While it runs, a second one cannot take its place.
        QVERIFY(!second.listen(path));
        QSignalSpy received(&channel, &InstanceChannel::received);

        // No arguments still make a request; a list as long as an argument
        // list can be (2 MiB, every byte percent-encoded) arrives whole.
        const QString longArgument(3 * (1 << 20), u'a');
        const QStringList lists[] = {
            {u"--show"_s, u"file:///tmp/a%20b"_s, u"\"ü\""_s}, {}, {longArgument, longArgument}};
        for (const QStringList& arguments : lists) {
            QCOMPARE(finish(handOverLater(path, arguments)), HandOver(true));
            QCOMPARE(received.takeFirst().at(0).toStringList(), arguments);
        }
        // More is refused by the caller, not by starting another instance.
        QCOMPARE(finish(handOverLater(path, {QString(InstanceChannel::maxMessageBytes, u'a')})),
                 HandOver(std::unexpected(tooMany)));

        // Beyond maxInFlight unfinished callers the next one hears "busy"
        // and tries again until there is room; garbage gets no answer.
        std::vector<std::unique_ptr<QLocalSocket>> slow;
        for (int i = 0; i <= InstanceChannel::maxInFlight + 1; ++i) {
            slow.push_back(std::make_unique<QLocalSocket>());
            slow.back()->connectToServer(path);
            QVERIFY(slow.back()->waitForConnected(10'000));
            slow.back()->write(i == 0 ? "{\"not\":\"a list\"}\n" : "[\"unfinished");
            if (i == 0) // the server drops it, which makes room for one more
                QVERIFY(QTest::qWaitFor(
                    [&] { return slow[0]->state() == QLocalSocket::UnconnectedState; }, 10'000));
        }
        QVERIFY(QTest::qWaitFor([&] { return slow.back()->canReadLine(); }, 10'000));
        QCOMPARE(slow.back()->readLine(), QByteArray("busy\n"));
        QCOMPARE(slow.front()->readAll(), QByteArray());
        QVERIFY(!slow[1]->canReadLine());
        auto waiting = handOverLater(path, {u"--show"_s});
        QTest::qWait(300);
        QCOMPARE(received.size(), 0);
        slow.clear();
        QCOMPARE(finish(std::move(waiting)), HandOver(true));

        // The bytes a caller sends, as the running instance reads them.
        QLocalServer raw;
        QVERIFY(raw.listen(m_dir.filePath(u"raw.socket"_s)));
        auto answered = handOverLater(raw.fullServerName(), {u"--settings"_s, u"/x"_s});
        QVERIFY(raw.waitForNewConnection(10'000));
        QLocalSocket* peer = raw.nextPendingConnection();
        QVERIFY(QTest::qWaitFor([&] { return peer->canReadLine(); }, 10'000));
        QCOMPARE(peer->readLine(), QByteArray("[\"--settings\",\"/x\"]\n"));
        // Anything else than "ok" or "busy" is a failure to report: someone
        // listens there, so a second instance would be wrong.
        peer->write("no\n");
        QCOMPARE(finish(std::move(answered)), HandOver(std::unexpected(notTaken)));
    }

    // The socket goes only where nobody else can bind the name first.
    void socketFolder() {
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR"), tmp = qgetenv("TMPDIR");
        auto restore = qScopeGuard([&] {
            qputenv("XDG_RUNTIME_DIR", runtime);
            qputenv("TMPDIR", tmp);
        });
        QTemporaryDir tmpDir, runtimeDir;
        qputenv("TMPDIR", QFile::encodeName(tmpDir.path()));
        const QByteArray runtimeFolder = QFile::encodeName(runtimeDir.path());
        qputenv("XDG_RUNTIME_DIR", runtimeFolder);
        const QString folder = tmpDir.filePath(u"parvel-"_s + QString::number(::getuid()));
        const auto socketIn = [](const QString& in) {
            QCOMPARE(InstanceChannel::socketPath().value_or(QString()), in);
        };
        ::chmod(runtimeFolder.constData(), 0700);
        socketIn(runtimeDir.filePath(u"dev.parvel.Parvel.socket"_s));
        // A runtime folder others may enter is not used: a folder of our
        // own instead, 0700 even when an earlier one was left open.
        ::chmod(runtimeFolder.constData(), 0710);
        socketIn(folder + u"/instance.socket"_s);
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        socketIn(folder + u"/instance.socket"_s);
        struct stat info {};
        QCOMPARE(::lstat(QFile::encodeName(folder).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0700u);

        // A link planted there is not followed, nor is a folder of another
        // user's used: the next name serves, the same for every start.
        QVERIFY(QDir(folder).removeRecursively() && QFile::link(tmpDir.path(), folder));
        socketIn(folder + u"-2/instance.socket"_s);
        if (::getuid() == 0) {
            QVERIFY(QFile::remove(folder) && QDir().mkdir(folder));
            QCOMPARE(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
            QCOMPARE(::chown(runtimeFolder.constData(), 65534, 65534), 0);
            ::chmod(runtimeFolder.constData(), 0700);
            socketIn(folder + u"-2/instance.socket"_s);
        }
        // With every name taken, the reason instead of a socket.
        for (int n = 2; n <= 8; ++n)
            QVERIFY(QDir(folder + u'-' + QString::number(n)).removeRecursively() &&
                    QFile::link(tmpDir.path(), folder + u'-' + QString::number(n)));
        QCOMPARE(InstanceChannel::socketPath().error(),
                 u"%1 to %1-8 belong to someone else or are no folders"_s.arg(folder));
    }

    // Every way a file comes in names the one path that is opened and
    // shown: arguments (as bytes), URLs handed over, drops, the model (real
    // files only, hence /etc/passwd, by the URL rebuilt from the path).
    void filesComingIn_data() {
        QTest::addColumn<QByteArray>("argument");
        QTest::addColumn<QByteArray>("path"); // empty: refused
        QTest::newRow("NUL") << QByteArray("file:///etc/passwd%00/holiday.jpg") << QByteArray();
        QTest::newRow("other host") << QByteArray("file://otherhost/etc/passwd") << QByteArray();
        QTest::newRow("relative URL") << QByteArray("file:x.jpg") << QByteArray();
        QTest::newRow("localhost, query, fragment")
            << QByteArray("file://LocalHost/etc/passwd?x#y.png") << QByteArray("/etc/passwd");
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
        // Handed over, the URL keeps the path's bytes; the name shown is
        // the last segment of that path.
        const QList<QUrl> handedOver =
            LaunchRequest::parse(LaunchRequest::parse(QByteArrayList{argument}, "/w").toArguments(),
                                 u"/elsewhere"_s)
                .files;
        QCOMPARE(handedOver, expected);
        QCOMPARE(DropTarget::fileURLs(QList<QUrl>{QUrl::fromEncoded(argument)}),
                 argument.contains(':') ? expected : QList<QUrl>());
        if (!expected.isEmpty()) {
            QCOMPARE(FileUrl::toPath(handedOver.first()), path);
            if (QString::fromLatin1(path).toUtf8() == path)
                QCOMPARE(handedOver.first().fileName().toLatin1(),
                         path.mid(path.lastIndexOf('/') + 1));
        }
        ParvelModel model(false, Services{});
        model.setFiles({QUrl::fromEncoded(argument)}, false);
        QCOMPARE(model.selected(),
                 QFile::exists(QFile::decodeName(path)) ? expected : QList<QUrl>());
    }
};

QTEST_GUILESS_MAIN(InstanceTest)
#include "tst_shell_instance.moc"
