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

#include <QCoro/QCoroTask>

#include <algorithm>
#include <thread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using devserver::Fault;
using Reason = TransportError::Reason;
using SendResult = std::expected<HttpResponse, TransportError>;

namespace {

// Keeps each request's bytes as received and answers with `reply`, then closes.
class RawHttpServer : public QObject {
public:
    QByteArray reply = "HTTP/1.1 200 X\r\nContent-Type: application/json\r\n"
                       "Content-Length: 2\r\nConnection: close\r\n\r\n{}";
    QList<QByteArray> requests;
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
        const QByteArray& raw = requests.value(index);
        for (const QByteArray& line : raw.left(raw.indexOf("\r\n\r\n")).split('\n')) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).compare(name, Qt::CaseInsensitive) == 0)
                return line.mid(colon + 2).replace('\r', "");
        }
        return std::nullopt;
    }

    QByteArray body(int index = 0) const {
        const QByteArray& raw = requests.value(index);
        return raw.mid(raw.indexOf("\r\n\r\n") + 4);
    }

private:
    void serve(QTcpSocket* socket) {
        ++connections;
        socket->setParent(this);
        QObject::connect(socket, &QTcpSocket::readyRead, this,
                         [this, socket, buffer = QByteArray()]() mutable {
                             buffer.append(socket->readAll());
                             const qsizetype end = buffer.indexOf("\r\n\r\n");
                             qsizetype length = 0;
                             for (const QByteArray& line : buffer.left(end).split('\n'))
                                 if (line.toLower().startsWith("content-length:"))
                                     length = line.mid(15).trimmed().toLongLong();
                             if (end < 0 || buffer.size() < end + 4 + length)
                                 return;
                             requests.append(std::exchange(buffer, {}));
                             socket->write(reply);
                             socket->disconnectFromHost();
                         });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }

    QTcpServer m_server;
};

const QString invalidAddress = u"message: Enter a valid HTTPS server address."_s;

bool writeTo(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

template <class T> T run(QCoro::Task<T>&& task) {
    auto result = waitWithin(std::move(task));
    if (!result)
        qFatal("a request did not end within %lld ms", qlonglong(waitLimit.count()));
    return std::move(*result);
}

SendResult send(HttpRequest request, std::stop_token stop = {}) {
    return run(HttpSession::shared().send(std::move(request), std::move(stop)));
}

HttpRequest get(const QString& url, const QByteArray& token = {}) {
    HttpRequest r;
    r.url = QUrl(url);
    if (!token.isEmpty())
        r.headers.emplaceBack("Authorization", "Bearer " + token);
    return r;
}

// "status N" for an answer; for a failure its reason and whether it has a text.
QString outcomeOf(const SendResult& r) {
    if (r)
        return u"status %1"_s.arg(r->status);
    return u"failed %1%2"_s.arg(int(r.error().reason))
        .arg(r.error().text.isEmpty() ? u" without text"_s : QString());
}
QString failure(Reason reason) {
    return u"failed %1"_s.arg(int(reason));
}

// One word for the kind of outcome, with a message's exact text.
template <class T> QString outcome(const Result<T>& r) {
    if (r)
        return u"ok"_s;
    const Error& e = r.error();
    if (isUnauthorized(e))
        return u"unauthorized"_s;
    if (std::holds_alternative<ParvelError>(e))
        return u"message: "_s + describe(e);
    if (std::holds_alternative<DecodingError>(e))
        return u"decoding"_s;
    if (std::holds_alternative<TransportError>(e) && !describe(e).isEmpty())
        return u"transport"_s;
    return u"other: "_s + describe(e);
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

    void cleanupTestCase() { m_server->stop(); }

    void cancellation() {
        // Stopped from another thread while the server sits on the request:
        // the abort hops over to ours.
        m_server->injectFault("GET", "/api/me", Fault::delayed(3000ms));
        std::stop_source stop;
        const std::jthread stopper([&stop] {
            std::this_thread::sleep_for(200ms);
            stop.request_stop();
        });
        QCOMPARE(outcomeOf(send(get(me(), m_token), stop.get_token())), failure(Reason::Cancelled));

        // Others in flight are untouched, and the session keeps working.
        m_server->injectFault("GET", "/api/devices", Fault::delayed(600ms));
        std::stop_source one;
        auto slow = HttpSession::shared().send(get(m_base + u"/api/devices"_s, m_token));
        auto cancelled = HttpSession::shared().send(get(me(), m_token), one.get_token());
        auto quick = HttpSession::shared().send(get(me(), m_token));
        one.request_stop();
        QCOMPARE(outcomeOf(run(std::move(cancelled))), failure(Reason::Cancelled));
        QCOMPARE(outcomeOf(run(std::move(slow))), u"status 200"_s);
        QCOMPARE(outcomeOf(run(std::move(quick))), u"status 200"_s);

        // A time-out is its own reason, never taken for a cancel.
        HttpSession::shared().setIdleTimeoutCap(1s);
        m_server->injectFault("GET", "/api/me", Fault::delayed(5000ms));
        const auto r = send(get(me(), m_token));
        QCOMPARE(outcomeOf(r), failure(Reason::TimedOut));
        QVERIFY(!isCancelled(r.error()));
    }

    void certificateTrust() {
        // Another server, another CA: not in SSL_CERT_FILE, so refused.
        devserver::Server stranger(
            devserver::Options{m_dir.filePath(u"stranger"_s).toStdString(), 0, false});
        QVERIFY(stranger.start());
        const auto r = send(get(QString::fromStdString(stranger.baseURL()) + u"/api/me"_s));
        QCOMPARE(outcomeOf(r), failure(Reason::Failed));
        QVERIFY2(r.error().text.contains(u"certificate"_s), qPrintable(r.error().text));
        QVERIFY(stranger.requests().empty());
    }

    void redirects() {
        // A second server with the same certificate: another origin by port.
        const auto twinDir = m_dataDir.parent_path() / "twin";
        std::filesystem::copy(m_dataDir, twinDir, std::filesystem::copy_options::recursive);
        devserver::Server twin(devserver::Options{twinDir, 0, false});
        QVERIFY(twin.start());

        // To another host or port: followed without the token, so the target
        // sees an anonymous request and refuses it.
        const std::string bearer = "Bearer " + m_token.toStdString();
        const std::string byHost = "https://127.0.0.1:" + std::to_string(m_server->port());
        for (devserver::Server* target : {m_server.get(), &twin}) {
            m_server->clearRequests();
            twin.clearRequests();
            const std::string base = target == &twin ? twin.baseURL() : byHost;
            m_server->injectFault("GET", "/api/me", Fault::redirect(307, base + "/api/me"));
            QCOMPARE(outcomeOf(send(get(me(), m_token))), u"status 401"_s);
            QCOMPARE(headerOf(m_server->requests().front()), bearer);
            const auto arrived = target->requests().back();
            QCOMPARE(arrived.path, "/api/me");
            QCOMPARE(headerOf(arrived), std::nullopt);
        }

        // Within the same origin the token stays.
        m_server->clearRequests();
        m_server->injectFault("GET", "/api/me", Fault::redirect(307, me().toStdString()));
        QCOMPARE(outcomeOf(send(get(me(), m_token))), u"status 200"_s);
        QCOMPARE(m_server->requests().size(), size_t(2));
        QCOMPARE(headerOf(m_server->requests()[1]), bearer);

        // Never from https down to http.
        RawHttpServer plain;
        m_server->injectFault("GET", "/api/me",
                              Fault::redirect(307, plain.url().toStdString() + "/api/me"));
        QCOMPARE(outcomeOf(send(get(me(), m_token))), failure(Reason::Failed));
        QCoreApplication::processEvents();
        QCOMPARE(plain.connections, 0);
    }

    void requestBodiesOnTheWire() {
        const QString path = m_dir.filePath(u"body.bin"_s);
        QByteArray content(2 * 1024 * 1024 + 3, Qt::Uninitialized);
        for (qsizetype i = 0; i < content.size(); ++i)
            content[i] = char(i * 7 + (i >> 11));
        QVERIFY(writeTo(path, content));

        RawHttpServer raw;
        HttpRequest put = get(raw.url() + u"/put"_s);
        put.method = "PUT";
        put.bodyFile = QUrl::fromLocalFile(path);
        put.bodyFileSize = content.size();
        qint64 lastSent = -1;
        put.onUploadProgress = [&lastSent](qint64 sent, qint64) { lastSent = sent; };
        QCOMPARE(outcomeOf(send(put)), u"status 200"_s);
        QVERIFY(raw.requests[0].startsWith("PUT /put HTTP/1.1\r\n"));
        QCOMPARE(raw.header("Content-Length"), QByteArray::number(content.size()));
        QCOMPARE(raw.header("Expect"), std::nullopt); // no 100-continue round trip
        QCOMPARE(raw.header("Transfer-Encoding"), std::nullopt);
        QVERIFY(raw.body() == content);
        QCOMPARE(lastSent, qint64(content.size()));

        // A file shorter than announced fails (the peer would wait forever).
        put.bodyFileSize = content.size() + 10;
        put.onUploadProgress = {};
        const auto cut = send(put);
        QCOMPARE(outcomeOf(cut), failure(Reason::Failed));
        QVERIFY2(cut.error().text.contains(path), qPrintable(cut.error().text));

        // A POST without a body says Content-Length: 0.
        HttpRequest post = get(raw.url());
        post.method = "POST";
        QCOMPARE(outcomeOf(send(post)), u"status 200"_s);
        QCOMPARE(raw.header("Content-Length", 1), QByteArray("0"));

        // A header value that would inject another header never leaves.
        const int before = raw.connections;
        HttpRequest injected = get(raw.url());
        injected.headers.emplaceBack("Authorization", "Bearer a\r\nX-Injected: 1");
        QCOMPARE(outcomeOf(send(injected)), failure(Reason::Failed));
        QCoreApplication::processEvents();
        QCOMPARE(raw.connections, before);
    }

    void addressIsPlainConcatenation() {
        // A sub-path stays in front; a trailing "/" gives a double slash.
        const std::pair<QString, std::string> cases[] = {{m_base, "/api/me"},
                                                         {m_base + u"/sub"_s, "/sub/api/me"},
                                                         {m_base + u"/"_s, "//api/me"}};
        for (const auto& [base, path] : cases) {
            m_server->clearRequests();
            run(Endpoints::me(api(base)));
            QCOMPARE(m_server->requests().at(0).path, path);
        }
        QCOMPARE(Endpoints::installerURL(Connection{u"https://h.test/base/"_s, u"t"_s}),
                 QUrl(u"https://h.test/base//install"_s));
        QCOMPARE(Endpoints::installerURL(Connection{u"https://h .test"_s, u"t"_s}), std::nullopt);

        // Identifiers are not encoded: one that breaks the address is refused
        // before anything is sent.
        m_server->clearRequests();
        for (const QString& id : {u"a b"_s, u"a<b"_s, u"a\"b"_s, u"50%zz"_s}) {
            QCOMPARE(outcome(run(Endpoints::deleteFile(API(m_connection), id))), invalidAddress);
            QCOMPARE(outcome(run(Endpoints::complete(API(m_connection), id))), invalidAddress);
        }
        QVERIFY(m_server->requests().empty());
    }

    void schemeRule() {
        RawHttpServer raw;
        const QString port = raw.url().section(u':', 2);

        // Plain http is allowed to the host spelled "localhost" only.
        QCOMPARE(outcome(run(api(raw.url()).remove(u"/api/files/x"_s))), u"ok"_s);
        for (const QString& base : {u"http://127.0.0.1:"_s + port, u"http://[::1]:"_s + port,
                                    u"http://localhost.:"_s + port, u"http://example.test"_s,
                                    u"ftp://localhost:"_s + port, u"localhost:"_s + port,
                                    u"//localhost:"_s + port, u""_s}) {
            QCOMPARE(outcome(run(api(base).remove(u"/api/files/x"_s))), invalidAddress);
        }
        QCoreApplication::processEvents();
        QCOMPARE(raw.connections, 1);
    }

    void headersOnTheWire() {
        RawHttpServer raw;
        const API local(Connection{raw.url(), u""_s});

        // Connecting has no token yet: the header is there, "Bearer " alone.
        run(Endpoints::connect(local, u"ABCD-1234"_s, u"Desk Mac"_s));
        QCOMPARE(raw.header("Authorization"), QByteArray("Bearer "));
        QCOMPARE(raw.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(raw.body(), QByteArray(R"({"code":"ABCD-1234","name":"Desk Mac"})"));

        // No body, no Content-Type; the token follows "Bearer " as is.
        const API withToken(Connection{raw.url(), u"tok-ü"_s});
        run(Endpoints::files(withToken));
        run(Endpoints::complete(withToken, u"f1"_s));
        run(Endpoints::createPairing(withToken));
        QCOMPARE(raw.requests.size(), 4);
        for (int i = 1; i < 4; ++i) {
            QCOMPARE(raw.header("Authorization", i), "Bearer " + u"tok-ü"_s.toUtf8());
            QCOMPARE(raw.header("Content-Type", i), std::nullopt);
            QCOMPARE(raw.body(i), QByteArray());
        }
    }

    void statusesBecomeErrors() {
        const API a(m_connection);
        struct Call {
            const char* method;
            const char* path;
            std::function<QString()> run;
        };
        const Call me{"GET", "/api/me", [&] { return outcome(run(Endpoints::me(a))); }},
            files{"GET", "/api/files", [&] { return outcome(run(Endpoints::files(a))); }},
            remove{"DELETE", "/api/files/x",
                   [&] { return outcome(run(Endpoints::deleteFile(a, u"x"_s))); }},
            revoke{"DELETE", "/api/devices/d1",
                   [&] { return outcome(run(Endpoints::revokeDevice(a, u"d1"_s))); }},
            pair{"POST", "/api/pairings", [&] {
                     const auto r = run(Endpoints::createPairing(a));
                     return !r ? outcome(r) : *r ? u"code"_s : u"none"_s;
                 }};
        const std::string html = "<html>boom</html>";
        const std::tuple<Call, Fault, QString> cases[] = {
            // 401 is "unauthorized" whatever its body says.
            {me, Fault::withStatus(401, R"({"error":"Revoked."})"), u"unauthorized"_s},
            {remove, Fault::withStatus(401, R"({"error":"No."})"), u"unauthorized"_s},
            // A body that is not an APIError: the two fallback texts.
            {files, Fault::withStatus(500, html),
             u"message: The server returned 500. Please try again."_s},
            {remove, Fault::withStatus(500, html), u"message: Could not delete this item."_s},
            {files, Fault::withStatus(502, R"({"message":"no"})"),
             u"message: The server returned 502. Please try again."_s},
            // An APIError's text verbatim, even when empty.
            {files, Fault::withStatus(404, R"({"error":"No library."})"),
             u"message: No library."_s},
            {revoke, Fault::withStatus(404, R"({"error":""})"), u"message: "_s},
            // 204 without a body: fine for a delete, not a record for a request.
            {remove, Fault::withStatus(204, {}), u"ok"_s},
            {files, Fault::withStatus(204, {}), u"decoding"_s},
            // Only the pairing request may be answered with null.
            {me, Fault::jsonNull(), u"decoding"_s},
            {pair, Fault::jsonNull(), u"none"_s},
            {me, Fault::drop(), u"transport"_s},
        };
        for (const auto& [call, fault, expected] : cases) {
            m_server->injectFault(call.method, call.path, fault);
            QCOMPARE(call.run(), expected);
        }
    }

    void answerThatIsNotHttp() {
        RawHttpServer raw;
        const API local(Connection{raw.url(), u"t"_s});
        const QString text = u"message: The server did not respond."_s;
        for (const QByteArray& reply :
             {QByteArray("SSH-2.0-OpenSSH_9.2\r\nProtocol mismatch.\r\n"),
              QByteArray("HTTP/1.1 2xx Fine\r\nContent-Length: 0\r\n\r\n")}) {
            raw.reply = reply;
            QCOMPARE(outcome(run(Endpoints::me(local))), text);
            QCOMPARE(outcome(run(Endpoints::deleteFile(local, u"x"_s))), text);
        }
    }

    void answersAreBounded() {
        // An API answer is kept up to 64 MiB (here not JSON); one byte more fails the request.
        const auto create = [this](qint64 bytes) {
            m_server->injectFault("POST", "/api/files", Fault::streamed(200, bytes));
            const auto created = waitWithin([this](std::stop_token stop) {
                return Endpoints::createUpload(API(m_connection), u"a.txt"_s, 5, {}, stop);
            });
            return created ? outcome(*created) : u"hung"_s;
        };
        QCOMPARE(create(64 << 20), u"decoding"_s);
        QCOMPARE(create((64 << 20) + 1), u"message: The server's answer is too large."_s);

        // The limit is the request's: exactly it is an answer, beyond it or
        // without end is not.
        const auto sendLimited = [this](Fault fault) {
            m_server->injectFault("GET", "/api/me", fault);
            HttpRequest r = get(me(), m_token);
            r.maxAnswerBytes = 1000;
            const auto answer = waitWithin(
                [&r](std::stop_token stop) { return HttpSession::shared().send(r, stop); });
            return !answer ? u"hung"_s
                   : *answer
                       ? u"status %1, %2 bytes"_s.arg((*answer)->status).arg((*answer)->body.size())
                       : outcomeOf(*answer);
        };
        QCOMPARE(sendLimited(Fault::streamed(200, 1000)), u"status 200, 1000 bytes"_s);
        QCOMPARE(sendLimited(Fault::streamed(200, 1001)), failure(Reason::TooLarge));
        QCOMPARE(sendLimited(Fault::endless(200)), failure(Reason::TooLarge));
        QCOMPARE(sendLimited(Fault::endless(500)), failure(Reason::TooLarge));
    }

    void uploadBytes() {
        const QUrl path = QUrl::fromLocalFile(m_dir.filePath(u"a.txt"_s));
        QVERIFY(writeTo(path.toLocalFile(), "hello"));
        const auto ticket = run(Endpoints::createUpload(API(m_connection), u"a.txt"_s, 5, {}));
        QCOMPARE(outcome(ticket), u"ok"_s);

        std::pair<qint64, qint64> report;
        const auto progress = [&report](qint64 sent, qint64 total) { report = {sent, total}; };
        QCOMPARE(outcome(run(Endpoints::uploadBytes(ticket->uploadURL, path, 5, progress))),
                 u"ok"_s);
        QCOMPARE(report, std::make_pair(qint64(5), qint64(5)));
        const auto put = m_server->requests().back();
        QCOMPARE(std::tuple(put.method, headerOf(put), headerOf(put, "content-type"),
                            headerOf(put, "content-length"), put.bodyBytes),
                 std::tuple("PUT", std::nullopt, "application/octet-stream", "5", 5));

        const auto upload = [&](Fault fault, const QUrl& from) {
            m_server->injectFault("PUT", "/upload/*", fault);
            const auto sent = waitWithin([&](std::stop_token stop) {
                return Endpoints::uploadBytes(ticket->uploadURL, from, 5, {}, stop);
            });
            return sent ? outcome(*sent) : u"hung"_s;
        };
        // The answer is judged by its status alone, so 401 too is the one
        // upload text, not a lost connection; an endless body, or one that
        // stalls after a 2xx status, ends the transfer with that status.
        // (The stall limit follows the idle time-out when that is shorter.)
        const QString notFinished = u"message: The upload did not finish. Please try again."_s;
        QCOMPARE(upload(Fault::withStatus(401, R"({"error":"No."})"), path), notFinished);
        QCOMPARE(upload(Fault::endless(503), path), notFinished);
        QCOMPARE(upload(Fault::endless(200), path), u"ok"_s);
        HttpSession::shared().setIdleTimeoutCap(1s);
        QCOMPARE(upload(Fault::streamed(201, 10, 3000ms), path), u"ok"_s);
        // A missing file is a transport-level failure, not the upload text.
        // (No request: the fault is left to the next test's reset.)
        QCOMPARE(upload({}, QUrl::fromLocalFile(m_dir.filePath(u"gone"_s))), u"transport"_s);
    }
};

QTEST_GUILESS_MAIN(NetTest)
#include "tst_net.moc"
