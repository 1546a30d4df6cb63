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
constexpr quint32 getTree = 4;
constexpr int headerSize = 14;
constexpr int retryMs = 25;
constexpr int attempts = 40;
constexpr int answerWaitMs = 500;

// One request over a fresh connection; sway answers within milliseconds.
std::optional<QByteArray> swayRequest(quint32 type, const QByteArray& payload) {
    QLocalSocket socket;
    socket.connectToServer(qEnvironmentVariable("SWAYSOCK"));
    if (!socket.waitForConnected(answerWaitMs))
        return std::nullopt;
    socket.write(i3IpcMessage(type, payload));
    QByteArray reply;
    while (socket.waitForReadyRead(answerWaitMs)) {
        reply += socket.readAll();
        if (reply.size() >= headerSize) {
            quint32 length = 0;
            std::memcpy(&length, reply.constData() + 6, sizeof length);
            if (reply.size() >= headerSize + qsizetype(length))
                return reply.mid(headerSize, length);
        }
    }
    return std::nullopt;
}

bool swayCommand(const QString& command) {
    const auto reply = swayRequest(runCommand, command.toUtf8());
    return reply && i3IpcCommandsSucceeded(*reply);
}

QRect rectOf(const QJsonObject& node) {
    const QJsonObject rect = node.value("rect"_L1).toObject();
    return QRect(rect.value("x"_L1).toInt(), rect.value("y"_L1).toInt(),
                 rect.value("width"_L1).toInt(), rect.value("height"_L1).toInt());
}

// Searches depth first, carrying the output and workspace above each node.
std::optional<SwayPlace> findWindow(const QJsonObject& node, quint64 windowId, SwayPlace above) {
    const QString type = node.value("type"_L1).toString();
    if (type == "output"_L1)
        above.output = rectOf(node);
    else if (type == "workspace"_L1)
        above.usable = rectOf(node);
    if (node.value("window"_L1).toInteger() == qint64(windowId)) {
        above.window = rectOf(node);
        return above;
    }
    for (const char* children : {"nodes", "floating_nodes"})
        for (const auto& child : node.value(QLatin1StringView(children)).toArray())
            if (auto found = findWindow(child.toObject(), windowId, above))
                return found;
    return std::nullopt;
}

// The pointer along one axis: the window's centre, unless the window touches
// an output edge that a panel takes; then the panel's inner edge, so that the
// popover keeps its distance from the panel rather than from the pointer.
int pointerAlong(int start, int size, int outputStart, int outputEnd, int usableStart,
                 int usableEnd) {
    if (start <= outputStart && usableStart > outputStart)
        return usableStart - 1;
    if (start + size >= outputEnd && usableEnd < outputEnd)
        return usableEnd;
    return start + size / 2;
}

void attemptPlacement(QPointer<QWindow> window, std::function<QPoint(QPoint, QRect)> position,
                      QPointer<QObject> context, std::function<void(bool)> done, int left) {
    if (!window || !context || !window->isVisible())
        return;
    const quint64 id = window->winId();
    std::optional<SwayPlace> place;
    if (swayCommand(u"[id=%1] move position cursor"_s.arg(id))) {
        if (const auto tree = swayRequest(getTree, {}))
            place = swayPlaceOf(*tree, id);
    }
    if (place) {
        const QPoint target = position(pointerOf(*place), place->usable);
        const bool moved = swayCommand(
            u"[id=%1] move absolute position %2 %3"_s.arg(id).arg(target.x()).arg(target.y()));
        qCDebug(lcShell) << "sway placed the popover at" << target << "for the pointer at"
                         << pointerOf(*place) << moved;
        done(moved);
    } else if (left <= 1) {
        qCDebug(lcShell, "sway did not place the popover");
        done(false);
    } else {
        QTimer::singleShot(retryMs, context,
                           [=] { attemptPlacement(window, position, context, done, left - 1); });
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

std::optional<SwayPlace> swayPlaceOf(const QByteArray& tree, quint64 windowId) {
    return findWindow(QJsonDocument::fromJson(tree).object(), windowId, {});
}

QPoint pointerOf(const SwayPlace& centred) {
    const QRect& w = centred.window;
    const QRect& o = centred.output;
    const QRect& u = centred.usable.isValid() ? centred.usable : o;
    return QPoint(
        pointerAlong(w.x(), w.width(), o.x(), o.x() + o.width(), u.x(), u.x() + u.width()),
        pointerAlong(w.y(), w.height(), o.y(), o.y() + o.height(), u.y(), u.y() + u.height()));
}

bool swayPlacesWindows() {
    return !qEnvironmentVariableIsEmpty("SWAYSOCK") && QGuiApplication::platformName() == "xcb"_L1;
}

void placeBySway(QWindow& window, std::function<QPoint(QPoint, QRect)> position, QObject* context,
                 std::function<void(bool)> done) {
    attemptPlacement(QPointer<QWindow>(&window), std::move(position), QPointer<QObject>(context),
                     std::move(done), attempts);
}
