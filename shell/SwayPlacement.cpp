#include "shell/SwayPlacement.h"

#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>
#include <QWindow>

#include <cstring>

Q_DECLARE_LOGGING_CATEGORY(lcShell)

using namespace Qt::StringLiterals;

namespace {

constexpr quint32 runCommand = 0;
constexpr int headerSize = 14;
constexpr int retryMs = 25;
constexpr int attempts = 40;
constexpr int answerWaitMs = 500;

// One command over a fresh connection; sway answers within milliseconds.
bool runSwayCommand(const QString& socketPath, const QString& command) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(answerWaitMs))
        return false;
    socket.write(i3IpcMessage(runCommand, command.toUtf8()));
    QByteArray reply;
    while (socket.waitForReadyRead(answerWaitMs)) {
        reply += socket.readAll();
        if (reply.size() >= headerSize) {
            quint32 length = 0;
            std::memcpy(&length, reply.constData() + 6, sizeof length);
            if (reply.size() >= headerSize + qsizetype(length))
                return i3IpcCommandsSucceeded(reply.mid(headerSize, length));
        }
    }
    return false;
}

void attemptMove(QPointer<QWindow> window, QPoint position, QPointer<QObject> context,
                 std::function<void(bool)> done, int left) {
    if (!window || !context)
        return;
    const QString command = u"[id=%1] move absolute position %2 %3"_s.arg(window->winId())
                                .arg(position.x())
                                .arg(position.y());
    if (runSwayCommand(qEnvironmentVariable("SWAYSOCK"), command)) {
        done(true);
    } else if (left <= 1) {
        qCDebug(lcShell, "sway did not move the popover");
        done(false);
    } else {
        QTimer::singleShot(retryMs, context,
                           [=] { attemptMove(window, position, context, done, left - 1); });
    }
}

} // namespace

QByteArray i3IpcMessage(quint32 type, const QByteArray& payload) {
    QByteArray message("i3-ipc");
    const quint32 length = quint32(payload.size());
    message.append(reinterpret_cast<const char*>(&length), sizeof length);
    message.append(reinterpret_cast<const char*>(&type), sizeof type);
    return message + payload;
}

bool i3IpcCommandsSucceeded(const QByteArray& reply) {
    const QJsonArray results = QJsonDocument::fromJson(reply).array();
    if (results.isEmpty())
        return false;
    for (const auto& result : results)
        if (!result.toObject().value("success"_L1).toBool())
            return false;
    return true;
}

bool swayPlacesWindows() {
    return !qEnvironmentVariableIsEmpty("SWAYSOCK") && QGuiApplication::platformName() == "xcb"_L1;
}

void moveBySway(QWindow& window, QPoint position, QObject* context,
                std::function<void(bool)> done) {
    attemptMove(QPointer<QWindow>(&window), position, QPointer<QObject>(context), std::move(done),
                attempts);
}
