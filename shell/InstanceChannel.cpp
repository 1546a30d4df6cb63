#include "shell/InstanceChannel.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int timeoutMs = 2000;
// How long a caller keeps trying while the instance answers "busy".
constexpr int busyWaitMs = 5000;
// Fallback folder names tried before giving up: parvel-UID, parvel-UID-2, …
constexpr int fallbackNames = 8;

// A folder this user owns and nobody else may enter, the test Qt applies
// to the runtime folder: otherwise another user could bind the socket name
// first and receive the paths meant for us.
bool closedToOthers(const QByteArray& native) {
    struct stat info {};
    return ::stat(native.constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::getuid() && (info.st_mode & 0077) == 0;
}

// A folder only this user can enter: made with mode 0700, refused when it is
// a symbolic link or belongs to someone else.
bool ownPrivateFolder(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    ::mkdir(native.constData(), 0700);
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid())
        return false;
    if ((info.st_mode & 0077) != 0 && ::chmod(native.constData(), 0700) != 0)
        return false;
    return true;
}

// Sends `message` and returns the answer line; empty when none came.
QByteArray exchange(QLocalSocket& socket, const QByteArray& message) {
    socket.write(message);
    while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(timeoutMs)) {
    }
    while (!socket.canReadLine() && socket.waitForReadyRead(timeoutMs)) {
    }
    return socket.canReadLine() ? socket.readLine(16) : QByteArray();
}

} // namespace

InstanceChannel::InstanceChannel(QObject* parent)
    : QObject(parent), m_server(new QLocalServer(this)) {
    // No socket options: with them Qt binds elsewhere and renames the socket
    // into place, replacing a running instance's. The folder is private.
    QObject::connect(m_server, &QLocalServer::newConnection, this, &InstanceChannel::accept);
}

InstanceChannel::~InstanceChannel() = default;

std::expected<QString, QString> InstanceChannel::socketPath() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && closedToOthers(QFile::encodeName(runtime)))
        return runtime + u"/dev.parvel.Parvel.socket"_s;
    const QString first = QDir::tempPath() + u"/parvel-"_s + QString::number(::getuid());
    for (int n = 1; n <= fallbackNames; ++n) {
        const QString folder = n == 1 ? first : first + u'-' + QString::number(n);
        if (ownPrivateFolder(folder))
            return folder + u"/instance.socket"_s;
    }
    return std::unexpected(u"%1 to %1-%2 belong to someone else or are no folders"_s.arg(
        QDir::toNativeSeparators(first), QString::number(fallbackNames)));
}

std::expected<bool, QString> InstanceChannel::handOver(const QString& path,
                                                       const QStringList& arguments) {
    if (path.isEmpty())
        return false;
    const QByteArray message =
        QJsonDocument(QJsonArray::fromStringList(arguments)).toJson(QJsonDocument::Compact) + '\n';
    const QDeadlineTimer busyDeadline(busyWaitMs);
    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(path);
        if (!socket.waitForConnected(timeoutMs))
            return false;
        if (message.size() > maxMessageBytes)
            return std::unexpected(u"Parvel is running and cannot take this many files at "
                                   "once. Pass fewer files."_s);
        const QByteArray answer = exchange(socket, message);
        if (answer == "ok\n")
            return true;
        if (answer != "busy\n" || busyDeadline.hasExpired())
            return std::unexpected(u"Parvel is running but did not take the files. "
                                   "Try again."_s);
        QThread::msleep(50);
    }
}

bool InstanceChannel::listen(const QString& path) {
    if (path.isEmpty())
        return false;
    if (m_server->listen(path))
        return true;
    if (m_server->serverError() != QAbstractSocket::AddressInUseError)
        return false;
    // Someone answering there is a running instance; a socket nobody
    // answers on was left by one that crashed.
    QLocalSocket probe;
    probe.connectToServer(path);
    if (probe.waitForConnected(500))
        return false;
    QLocalServer::removeServer(path);
    return m_server->listen(path);
}

void InstanceChannel::accept() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A caller that never finishes its line is dropped.
        QTimer::singleShot(timeoutMs, socket, &QObject::deleteLater);
        if (m_inFlight >= maxInFlight) {
            // Nothing of its message is read: the kernel's buffer holds it
            // until the socket closes.
            socket->write("busy\n");
            socket->disconnectFromServer();
            continue;
        }
        take(socket);
    }
}

// Reads one caller's message as it arrives, into a buffer of its own that
// never grows past maxMessageBytes.
void InstanceChannel::take(QLocalSocket* socket) {
    ++m_inFlight;
    QObject::connect(socket, &QObject::destroyed, this, [this] { --m_inFlight; });
    const auto message = std::make_shared<QByteArray>();
    QPointer<InstanceChannel> self(this);
    QObject::connect(socket, &QLocalSocket::readyRead, socket, [self, socket, message] {
        const qsizetype scanned = message->size();
        message->append(socket->readAll());
        if (message->size() > maxMessageBytes) {
            socket->abort();
            return;
        }
        const qsizetype end = message->indexOf('\n', scanned);
        if (end < 0)
            return;
        const QJsonDocument document = QJsonDocument::fromJson(message->left(end));
        message->clear();
        if (!document.isArray()) {
            socket->abort();
            return;
        }
        QStringList arguments;
        for (const QJsonValue& value : document.array())
            if (value.isString())
                arguments.append(value.toString());
        // One message per connection: whatever follows is not read.
        QObject::disconnect(socket, &QLocalSocket::readyRead, socket, nullptr);
        socket->write("ok\n");
        socket->flush();
        socket->disconnectFromServer();
        if (self)
            Q_EMIT self->received(arguments);
    });
}
