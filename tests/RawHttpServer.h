#pragma once

// A plain-TCP peer on loopback for what a real server would not do: show the
// request bytes exactly as they arrived, answer with bytes that are not
// HTTP, or with a hand-written redirect. Runs on the test's event loop.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

#include <optional>
#include <utility>

class RawHttpServer : public QObject {
public:
    // What every connection gets once its request (headers and a
    // Content-Length body) has arrived; the connection is then closed.
    QByteArray reply;
    QList<QByteArray> requests; // each request's bytes, as received
    int connections = 0;

    static QByteArray jsonReply(const QByteArray& body, int status = 200) {
        return "HTTP/1.1 " + QByteArray::number(status) +
               " X\r\nContent-Type: application/json\r\nContent-Length: " +
               QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }

    RawHttpServer() {
        reply = jsonReply("{}");
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] { accept(); });
    }

    quint16 port() const { return m_server.serverPort(); }

    // The header block of the request at `index`, one line per entry.
    QList<QByteArray> headerLines(int index = 0) const {
        const QByteArray& raw = requests.value(index);
        return raw.left(raw.indexOf("\r\n\r\n")).split('\n');
    }

    // The raw value of a header, with the bytes after the colon and its one
    // space kept exactly (including trailing spaces, but not the CR).
    std::optional<QByteArray> header(const QByteArray& name, int index = 0) const {
        for (QByteArray line : headerLines(index)) {
            if (line.endsWith('\r'))
                line.chop(1);
            const qsizetype colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).compare(name, Qt::CaseInsensitive) == 0)
                return line.mid(colon + 2);
        }
        return std::nullopt;
    }

    QByteArray body(int index = 0) const {
        const QByteArray& raw = requests.value(index);
        return raw.mid(raw.indexOf("\r\n\r\n") + 4);
    }

private:
    void accept() {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            ++connections;
            socket->setParent(this);
            QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                QByteArray& buffer = m_buffers[socket];
                buffer.append(socket->readAll());
                if (!isComplete(buffer))
                    return;
                requests.append(std::exchange(buffer, {}));
                socket->write(reply);
                socket->disconnectFromHost();
            });
            QObject::connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_buffers.remove(socket);
                socket->deleteLater();
            });
        }
    }

    static bool isComplete(const QByteArray& raw) {
        const qsizetype end = raw.indexOf("\r\n\r\n");
        if (end < 0)
            return false;
        qsizetype length = 0;
        for (const QByteArray& line : raw.left(end).split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        }
        return raw.size() >= end + 4 + length;
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
};
