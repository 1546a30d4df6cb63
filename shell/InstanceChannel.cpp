#include "shell/InstanceChannel.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int timeoutMs = 2000;
constexpr qsizetype maxMessageBytes = 1 << 20;

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

} // namespace

InstanceChannel::InstanceChannel(QObject* parent)
    : QObject(parent), m_server(new QLocalServer(this)) {
    // No socket options: with them Qt binds elsewhere and renames the socket
    // into place, replacing a running instance's. The folder is private.
    QObject::connect(m_server, &QLocalServer::newConnection, this, &InstanceChannel::accept);
}

InstanceChannel::~InstanceChannel() = default;

QString InstanceChannel::socketPath() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return runtime + u"/dev.parvel.Parvel.socket"_s;
    const QString folder = QDir::tempPath() + u"/parvel-"_s + QString::number(::getuid());
    return ownPrivateFolder(folder) ? folder + u"/instance.socket"_s : QString();
}

bool InstanceChannel::handOver(const QString& path, const QStringList& arguments) {
    if (path.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(
        QJsonDocument(QJsonArray::fromStringList(arguments)).toJson(QJsonDocument::Compact));
    socket.write("\n");
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    return socket.readLine() == "ok\n";
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
        QPointer<InstanceChannel> self(this);
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [self, socket] {
            if (socket->bytesAvailable() > maxMessageBytes) {
                socket->abort();
                return;
            }
            if (!socket->canReadLine())
                return;
            const QJsonDocument message = QJsonDocument::fromJson(socket->readLine());
            if (!message.isArray()) {
                socket->abort();
                return;
            }
            QStringList arguments;
            for (const QJsonValue& value : message.array())
                if (value.isString())
                    arguments.append(value.toString());
            socket->write("ok\n");
            socket->flush();
            socket->disconnectFromServer();
            if (self)
                Q_EMIT self->received(arguments);
        });
    }
}
