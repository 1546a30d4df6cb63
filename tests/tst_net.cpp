// The network layer against the dev server over real TLS on loopback: the
// HTTP session, the API client and the endpoint catalogue. A raw TCP peer
// stands in where the exact request bytes, or an answer that is not HTTP,
// are the point.

#include "Wait.h"

#include "devserver/DevServer.h"
#include "net/API.h"
#include "net/Endpoints.h"
#include "net/HttpSession.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using devserver::Fault;
using Reason = TransportError::Reason;
using SendResult = std::expected<HttpResponse, TransportError>;

namespace {

// Keeps each request's head and body as received and answers with `reply`,
// then closes.
class RawHttpServer : public QObject {
public:
    QByteArray reply = "HTTP/1.1 200 X\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}";
    QList<std::pair<QByteArray, QByteArray>> requests;
    int connections = 0;

    RawHttpServer() {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                serve(socket);
        });
    }
    QString url() const { return u"http://localhost:%1"_s.arg(m_server.serverPort()); }

    // A header's value exactly as sent after ": " (trailing spaces kept).
    std::optional<QByteArray> header(const QByteArray& name, int index = 0) const {
        for (const QByteArray& line : requests.value(index).first.split('\n'))
            if (line.startsWith(name + ": ") || line.startsWith(name.toLower() + ": "))
                return line.mid(name.size() + 2).replace('\r', "");
        return std::nullopt;
    }

private:
    void serve(QTcpSocket* socket) {
        ++connections;
        socket->setParent(this);
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, this,
                         [this, socket, buffer = QByteArray()]() mutable {
                             buffer.append(socket->readAll());
                             const qsizetype end = buffer.indexOf("\r\n\r\n");
                             const QByteArray head = buffer.left(end);
                             const qsizetype at = head.toLower().indexOf("content-length: ");
                             const qsizetype length =
                                 at < 0 ? 0 : head.mid(at + 16).split('\r').first().toLongLong();
                             if (end < 0 || buffer.size() < end + 4 + length)
                                 return;
                             requests.append({head, buffer.mid(end + 4)});
                             socket->write(reply);
                             socket->disconnectFromHost();
                         });
    }
    QTcpServer m_server;
};

const QString invalidAddress = u"Enter a valid HTTPS server address."_s;

template <class T> T run(QCoro::Task<T>&& task) {
    auto result = waitWithin(std::move(task));
    if (!result)
        qFatal("a request did not end within %lld ms", qlonglong(waitLimit.count()));
    return std::move(*result);
}

HttpRequest get(const QString& url, const QByteArray& token = {},
                const QByteArray& method = "GET") {
    HttpRequest r;
    r.url = QUrl(url);
    r.method = method;
    if (!token.isEmpty())
        r.headers.emplaceBack("Authorization", "Bearer " + token);
    return r;
}

// "status N" for an answer, "failed R" for a failure's reason.
QString failure(Reason reason) {
    return u"failed %1"_s.arg(int(reason));
}
QString send(HttpRequest request, std::stop_token stop = {}) {
    const SendResult r = run(HttpSession::shared().send(std::move(request), std::move(stop)));
    return r ? u"status %1"_s.arg(r->status) : failure(r.error().reason);
}

// One word for the kind of outcome, or a message's exact text.
template <class T> QString outcome(const Result<T>& r) {
    if (!r && isUnauthorized(r.error()))
        return u"unauthorized"_s;
    if (!r && std::holds_alternative<ParvelError>(r.error()))
        return describe(r.error());
    static const char* const kinds[] = {"", "transport", "decoding", "system"};
    return r ? u"ok"_s : QString::fromLatin1(kinds[r.error().index()]);
}

std::optional<std::string> headerOf(const devserver::RecordedRequest& r,
                                    const std::string& name = "authorization") {
    const auto it = r.headers.find(name);
    return it == r.headers.end() ? std::nullopt : std::optional(it->second);
}

} // namespace

class NetTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::filesystem::path m_dataDir = m_dir.filePath(u"trusted"_s).toStdString();
    std::unique_ptr<devserver::Server> m_server =
        std::make_unique<devserver::Server>(devserver::Options{m_dataDir, 0, false});
    QString m_base;
    QByteArray m_token;
    Connection m_connection;

    QString me() const { return m_base + u"/api/me"_s; }
    API api(const QString& base) const { return API(Connection{base, m_connection.token}); }

private Q_SLOTS:
    void initTestCase() {
        std::string error;
        QVERIFY2(m_server->start(&error), error.c_str());
        qputenv("SSL_CERT_FILE", QByteArray::fromStdString(m_server->caPath().string()));
        m_base = QString::fromStdString(m_server->baseURL());
        m_token = QByteArray::fromStdString(m_server->bootstrapToken());
        m_connection = Connection{m_base, QString::fromLatin1(m_token)};
    }

    void init() {
        m_server->clearFaults();
        m_server->clearRequests();
        HttpSession::shared().setIdleTimeoutCap(std::nullopt);
    }

    void cancellation() {
        // Stopped from another thread while the server sits on the request:
        // the abort hops over to ours.
        m_server->injectFault("GET", "/api/me", Fault::delayed(3000ms));
        std::stop_source stop;
        const std::jthread stopper([&stop] {
            std::this_thread::sleep_for(200ms);
            stop.request_stop();
        });
        QCOMPARE(send(get(me(), m_token), stop.get_token()), failure(Reason::Cancelled));

        // Others in flight are untouched, and the session keeps working.
        m_server->injectFault("GET", "/api/devices", Fault::delayed(600ms));
        std::stop_source one;
        auto slow = HttpSession::shared().send(get(m_base + u"/api/devices"_s, m_token));
        auto cancelled = HttpSession::shared().send(get(me(), m_token), one.get_token());
        auto quick = HttpSession::shared().send(get(me(), m_token));
        one.request_stop();
        QCOMPARE(run(std::move(cancelled)).error().reason, Reason::Cancelled);
        QCOMPARE(run(std::move(slow))->status + run(std::move(quick))->status, 400);

        // A time-out is its own reason, never taken for a cancel.
        HttpSession::shared().setIdleTimeoutCap(1s);
        m_server->injectFault("GET", "/api/me", Fault::delayed(5000ms));
        QCOMPARE(send(get(me(), m_token)), failure(Reason::TimedOut));
    }

    void trustAndRedirects() {
        // Another server, another CA: not in SSL_CERT_FILE, so refused.
        devserver::Server stranger(
            devserver::Options{m_dir.filePath(u"stranger"_s).toStdString(), 0, false});
        QVERIFY(stranger.start());
        const auto r = run(HttpSession::shared().send(
            get(QString::fromStdString(stranger.baseURL()) + u"/api/me"_s)));
        QVERIFY2(r.error().text.contains(u"certificate"_s), qPrintable(r.error().text));
        QVERIFY(stranger.requests().empty());

        // A second server with the same certificate: another origin by port.
        const auto twinDir = m_dataDir.parent_path() / "twin";
        std::filesystem::copy(m_dataDir, twinDir, std::filesystem::copy_options::recursive);
        devserver::Server twin(devserver::Options{twinDir, 0, false});
        QVERIFY(twin.start());

        // Within the origin the token stays. To another host or port the
        // redirect is followed without it: the target refuses the request.
        const std::string bearer = "Bearer " + m_token.toStdString();
        const std::pair<std::string, devserver::Server*> targets[] = {
            {m_base.toStdString(), m_server.get()},
            {"https://127.0.0.1:" + std::to_string(m_server->port()), m_server.get()},
            {twin.baseURL(), &twin}};
        for (const auto& [origin, target] : targets) {
            m_server->injectFault("GET", "/api/me", Fault::redirect(307, origin + "/api/me"));
            const bool same = origin == m_base.toStdString();
            QCOMPARE(send(get(me(), m_token)), same ? u"status 200"_s : u"status 401"_s);
            QCOMPARE(headerOf(target->requests().back()),
                     same ? std::optional(bearer) : std::nullopt);
        }

        // Never from https down to http.
        RawHttpServer plain;
        m_server->injectFault("GET", "/api/me",
                              Fault::redirect(307, plain.url().toStdString() + "/api/me"));
        QCOMPARE(send(get(me(), m_token)), failure(Reason::Failed));
        QCoreApplication::processEvents();
        QCOMPARE(plain.connections, 0);
    }

    void requestsOnTheWire() {
        RawHttpServer raw;
        // A file body: its exact bytes with their length, no 100-continue
        // round trip, not chunked, the progress reaching the whole size.
        const QByteArray content = QByteArray("0123456789abcdef").repeated(131072) + "xyz";
        QFile file(m_dir.filePath(u"body.bin"_s));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size() &&
                file.flush());
        HttpRequest put = get(raw.url() + u"/put"_s, {}, "PUT");
        put.bodyFile = QUrl::fromLocalFile(file.fileName());
        put.bodyFileSize = content.size();
        qint64 lastSent = -1;
        put.onUploadProgress = [&lastSent](qint64 sent, qint64) { lastSent = sent; };
        QCOMPARE(send(put), u"status 200"_s);
        QVERIFY(raw.requests[0].first.startsWith("PUT /put HTTP/1.1\r\n"));
        QCOMPARE(raw.header("Content-Length"), QByteArray::number(content.size()));
        QVERIFY(!raw.header("Expect") && !raw.header("Transfer-Encoding"));
        QVERIFY(raw.requests[0].second == content);
        QCOMPARE(lastSent, qint64(content.size()));

        // A file shorter than announced fails (the peer would wait forever).
        put.bodyFileSize = content.size() + 10;
        const auto cut = run(HttpSession::shared().send(put));
        QVERIFY2(cut.error().text.contains(file.fileName()), qPrintable(cut.error().text));

        // A POST without a body says Content-Length: 0.
        QCOMPARE(send(get(raw.url(), {}, "POST")), u"status 200"_s);
        QCOMPARE(raw.header("Content-Length", 1), QByteArray("0"));

        // Connecting has no token yet: the header is there, "Bearer " alone.
        run(Endpoints::connect(API(Connection{raw.url(), u""_s}), u"ABCD-1234"_s, u"Desk Mac"_s));
        QCOMPARE(raw.header("Authorization", 2), QByteArray("Bearer "));
        QCOMPARE(raw.header("Content-Type", 2), QByteArray("application/json"));
        QCOMPARE(raw.requests[2].second, QByteArray(R"({"code":"ABCD-1234","name":"Desk Mac"})"));

        // No body, no Content-Type; the token follows "Bearer " as is.
        const API withToken(Connection{raw.url(), u"tok-ü"_s});
        run(Endpoints::files(withToken));
        run(Endpoints::createPairing(withToken));
        for (int i = 3; i < 5; ++i) {
            QCOMPARE(raw.header("Authorization", i), "Bearer " + u"tok-ü"_s.toUtf8());
            QVERIFY(!raw.header("Content-Type", i) && raw.requests[i].second.isEmpty());
        }

        // A header value that would inject another header never leaves.
        HttpRequest injected = get(raw.url());
        injected.headers.emplaceBack("Authorization", "Bearer a\r\nX-Injected: 1");
        QCOMPARE(send(injected), failure(Reason::Failed));
        QCoreApplication::processEvents();
        QCOMPARE(raw.connections, 6);
    }

    void addresses() {
        // Plain concatenation: a sub-path stays in front; a trailing "/"
        // gives a double slash.
        for (const auto& [base, path] :
             {std::pair(m_base, "/api/me"), std::pair(m_base + u"/sub"_s, "/sub/api/me"),
              std::pair(m_base + u"/"_s, "//api/me")}) {
            m_server->clearRequests();
            run(Endpoints::me(api(base)));
            QCOMPARE(m_server->requests().at(0).path, path);
        }

        // Identifiers are not encoded: one that breaks the address is refused
        // before anything is sent.
        m_server->clearRequests();
        for (const QString& id : {u"a b"_s, u"a<b"_s, u"a\"b"_s, u"50%zz"_s})
            QCOMPARE(outcome(run(Endpoints::deleteFile(API(m_connection), id))), invalidAddress);
        QVERIFY(m_server->requests().empty());

        // Plain http is allowed to the host spelled "localhost" only.
        RawHttpServer raw;
        const QString port = raw.url().section(u':', 2);
        QCOMPARE(outcome(run(api(raw.url()).remove(u"/api/files/x"_s))), u"ok"_s);
        for (const QString& base : {u"http://127.0.0.1:"_s + port, u"http://[::1]:"_s + port,
                                    u"http://localhost.:"_s + port, u"http://example.test"_s,
                                    u"ftp://localhost:"_s + port, u"localhost:"_s + port,
                                    u"//localhost:"_s + port, u""_s})
            QCOMPARE(outcome(run(api(base).remove(u"/api/files/x"_s))), invalidAddress);
        QCoreApplication::processEvents();
        QCOMPARE(raw.connections, 1);
    }

    void answersBecomeErrors() {
        const API a(m_connection);
        const QString tooLarge = u"The server's answer is too large."_s;
        // The call each path stands for.
        const auto call = [&a](const std::string& path) {
            if (path == "/api/files")
                return outcome(run(Endpoints::files(a)));
            if (path == "/api/files/x")
                return outcome(run(Endpoints::deleteFile(a, u"x"_s)));
            const auto r = run(Endpoints::createPairing(a));
            return !r ? outcome(r) : *r ? u"code"_s : u"none"_s;
        };
        const std::tuple<std::string, Fault, QString> cases[] = {
            // 401 is "unauthorized" whatever its body says.
            {"/api/files", Fault::withStatus(401, R"({"error":"Revoked."})"), u"unauthorized"_s},
            {"/api/files/x", Fault::withStatus(401, {}), u"unauthorized"_s},
            // A body that is not an APIError: the two fallback texts.
            {"/api/files", Fault::withStatus(502, R"({"message":"no"})"),
             u"The server returned 502. Please try again."_s},
            {"/api/files/x", Fault::withStatus(500, "<html>"), u"Could not delete this item."_s},
            // An APIError's text verbatim, even when empty.
            {"/api/files", Fault::withStatus(404, R"({"error":"No library."})"), u"No library."_s},
            {"/api/files/x", Fault::withStatus(404, R"({"error":""})"), u""_s},
            // 204 without a body: fine for a delete, not a record for a request.
            {"/api/files/x", Fault::withStatus(204, {}), u"ok"_s},
            {"/api/files", Fault::withStatus(204, {}), u"decoding"_s},
            // Only the pairing request may be answered with null.
            {"/api/files", Fault::jsonNull(), u"decoding"_s},
            {"/api/pairings", Fault::jsonNull(), u"none"_s},
            {"/api/files", Fault::drop(), u"transport"_s},
            // An answer is kept up to 64 MiB (here not JSON); one byte more,
            // or a body without end, fails the request.
            {"/api/files", Fault::streamed(200, 64 << 20), u"decoding"_s},
            {"/api/files", Fault::streamed(200, (64 << 20) + 1), tooLarge},
            {"/api/files", Fault::endless(200), tooLarge},
        };
        for (const auto& [path, fault, expected] : cases) {
            for (const char* method : {"GET", "DELETE", "POST"})
                m_server->injectFault(method, path, fault);
            QCOMPARE(call(path), expected);
        }

        // An answer that is not HTTP.
        RawHttpServer raw;
        const API local(Connection{raw.url(), u"t"_s});
        for (const QByteArray& reply :
             {QByteArray("SSH-2.0-OpenSSH_9.2\r\nProtocol mismatch.\r\n"),
              QByteArray("HTTP/1.1 2xx Fine\r\nContent-Length: 0\r\n\r\n")}) {
            raw.reply = reply;
            QCOMPARE(outcome(run(Endpoints::me(local))) +
                         outcome(run(Endpoints::deleteFile(local, u"x"_s))),
                     u"The server did not respond."_s.repeated(2));
        }
    }

    void uploadBytes() {
        const QUrl path = QUrl::fromLocalFile(m_dir.filePath(u"a.txt"_s));
        QFile file(path.toLocalFile());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("hello") == 5 && file.flush());
        const auto ticket = run(Endpoints::createUpload(API(m_connection), u"a.txt"_s, 5, {}));
        QCOMPARE(outcome(ticket), u"ok"_s);

        // The token never goes to the upload address.
        QCOMPARE(outcome(run(Endpoints::uploadBytes(ticket->uploadURL, path, 5, {}))), u"ok"_s);
        const auto put = m_server->requests().back();
        QCOMPARE(std::tuple(put.method, headerOf(put), headerOf(put, "content-type"),
                            headerOf(put, "content-length"), put.bodyBytes),
                 std::tuple("PUT", std::nullopt, "application/octet-stream", "5", 5));

        const auto upload = [&](Fault fault, const QUrl& from) {
            m_server->injectFault("PUT", "/upload/*", fault);
            return outcome(run(Endpoints::uploadBytes(ticket->uploadURL, from, 5, {})));
        };
        // The answer is judged by its status alone, so 401 too is the one
        // upload text, not a lost connection; an endless body, or one that
        // stalls after a 2xx status, ends the transfer with that status.
        // (The stall limit follows the idle time-out when that is shorter.)
        const QString notFinished = u"The upload did not finish. Please try again."_s;
        QCOMPARE(upload(Fault::withStatus(401, R"({"error":"No."})"), path), notFinished);
        QCOMPARE(upload(Fault::endless(503), path), notFinished);
        HttpSession::shared().setIdleTimeoutCap(1s);
        QCOMPARE(upload(Fault::streamed(201, 10, 3000ms), path), u"ok"_s);
        // A missing file is a transport-level failure, not the upload text.
        // (No request: the fault is left to the next test's reset.)
        QCOMPARE(upload({}, QUrl::fromLocalFile(m_dir.filePath(u"gone"_s))), u"transport"_s);
    }
};

QTEST_GUILESS_MAIN(NetTest)
#include "tst_net.moc"
