// The HTTP session on its own: cancellation from either thread, the idle
// time-out, certificate trust, redirects and the token, streamed bodies.
// Real TLS against the dev server on loopback; a raw TCP peer where the exact
// bytes on the wire are the point.

#include "RawHttpServer.h"

#include "devserver/Certificates.h"
#include "devserver/DevServer.h"
#include "net/API.h"
#include "net/Endpoints.h"
#include "net/HttpSession.h"

#include <httplib.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <QCoro/QCoroTask>

#include <thread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using devserver::Fault;

namespace {

using SendResult = std::expected<HttpResponse, TransportError>;

SendResult send(HttpRequest request, std::stop_token stop = {}) {
    return QCoro::waitFor(HttpSession::shared().send(std::move(request), std::move(stop)));
}

HttpRequest get(const QString& url, QByteArray token = {}) {
    HttpRequest r;
    r.url = QUrl(url);
    if (!token.isEmpty())
        r.headers.emplaceBack("Authorization", "Bearer " + token);
    return r;
}

Fault delay(std::chrono::milliseconds ms) {
    Fault f;
    f.kind = Fault::Kind::Delay;
    f.delay = ms;
    return f;
}

bool failedWith(const SendResult& r, TransportError::Reason reason) {
    return !r && r.error().reason == reason && !r.error().text.isEmpty();
}

QString textOf(const SendResult& r) {
    return r ? u"status %1"_s.arg(r->status) : r.error().text;
}

// An https peer that answers every request with a redirect, reusing the
// dev server's certificate so that the client trusts it.
class Redirector {
public:
    Redirector(const std::filesystem::path& dataDir, std::string location)
        : m_server(devserver::CertificatePaths::in(dataDir).certificate.c_str(),
                   devserver::CertificatePaths::in(dataDir).key.c_str()) {
        m_server.Get(".*", [this, location](const httplib::Request& req, httplib::Response& res) {
            {
                std::lock_guard lock(m_mutex);
                m_authorizations.push_back(req.get_header_value("Authorization"));
            }
            if (req.path == "/same-origin-target") {
                res.set_content("{}", "application/json");
                return;
            }
            res.status = 307;
            res.set_header("Location",
                           location == "self" ? m_self + "/same-origin-target" : location);
        });
        m_server.set_keep_alive_max_count(1); // stop() need not wait for idle clients
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_self = "https://localhost:" + std::to_string(m_port);
        // Bound already: connections queue until the thread accepts them.
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
    }
    ~Redirector() {
        m_server.stop();
        m_thread.join();
    }
    QString url(const char* path) const {
        return QString::fromStdString(m_self) + QLatin1String(path);
    }
    std::vector<std::string> authorizations() const {
        std::lock_guard lock(m_mutex);
        return m_authorizations;
    }

private:
    httplib::SSLServer m_server;
    std::thread m_thread;
    int m_port = 0;
    std::string m_self;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_authorizations;
};

} // namespace

class HttpTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::filesystem::path m_dataDir;
    std::unique_ptr<devserver::Server> m_server;
    QString m_base;
    QByteArray m_token;

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_dataDir = std::filesystem::path(m_dir.filePath(u"trusted"_s).toStdString());
        m_server = std::make_unique<devserver::Server>(devserver::Options{m_dataDir, 0, false});
        std::string error;
        QVERIFY2(m_server->start(&error), error.c_str());
        qputenv("SSL_CERT_FILE", QByteArray::fromStdString(m_server->caPath().string()));
        m_base = QString::fromStdString(m_server->baseURL());
        m_token = QByteArray::fromStdString(m_server->bootstrapToken());
    }

    void init() {
        m_server->clearFaults();
        m_server->clearRequests();
        HttpSession::shared().setIdleTimeoutCap(std::nullopt);
    }

    void cleanupTestCase() { m_server->stop(); }

    void cancellation() {
        // Already stopped: nothing is sent.
        std::stop_source early;
        early.request_stop();
        QVERIFY(failedWith(send(get(m_base + u"/api/me"_s, m_token), early.get_token()),
                           TransportError::Reason::Cancelled));

        // Stopped from the main thread while the server sits on the request.
        m_server->injectFault("GET", "/api/me", delay(3000ms));
        std::stop_source fromLoop;
        QTimer::singleShot(200ms, [&fromLoop] { fromLoop.request_stop(); });
        QElapsedTimer clock;
        clock.start();
        auto r = send(get(m_base + u"/api/me"_s, m_token), fromLoop.get_token());
        QVERIFY2(failedWith(r, TransportError::Reason::Cancelled), qPrintable(textOf(r)));
        QVERIFY(clock.elapsed() < 2500);

        // Stopped from another thread: the abort hops over to ours.
        m_server->injectFault("GET", "/api/me", delay(3000ms));
        std::stop_source fromThread;
        std::thread stopper([&fromThread] {
            std::this_thread::sleep_for(200ms);
            fromThread.request_stop();
        });
        clock.restart();
        r = send(get(m_base + u"/api/me"_s, m_token), fromThread.get_token());
        stopper.join();
        QVERIFY2(failedWith(r, TransportError::Reason::Cancelled), qPrintable(textOf(r)));
        QVERIFY(clock.elapsed() < 2500);

        // Through the API the caller sees the cancellation as such.
        m_server->injectFault("GET", "/api/files", delay(3000ms));
        std::stop_source viaApi;
        QTimer::singleShot(100ms, [&viaApi] { viaApi.request_stop(); });
        const auto files = QCoro::waitFor(Endpoints::files(
            API(Connection{m_base, QString::fromLatin1(m_token)}), viaApi.get_token()));
        QVERIFY(!files && isCancelled(files.error()));

        // Others in flight are untouched, and the session keeps working.
        m_server->injectFault("GET", "/api/devices", delay(600ms));
        std::stop_source one;
        auto slow = HttpSession::shared().send(get(m_base + u"/api/devices"_s, m_token));
        auto cancelled =
            HttpSession::shared().send(get(m_base + u"/api/me"_s, m_token), one.get_token());
        auto quick = HttpSession::shared().send(get(m_base + u"/api/me"_s, m_token));
        one.request_stop();
        const auto c = QCoro::waitFor(std::move(cancelled));
        QVERIFY(failedWith(c, TransportError::Reason::Cancelled));
        const auto s = QCoro::waitFor(std::move(slow));
        const auto q = QCoro::waitFor(std::move(quick));
        QVERIFY2(s && s->status == 200, qPrintable(textOf(s)));
        QVERIFY2(q && q->status == 200, qPrintable(textOf(q)));
    }

    void idleTimeout() {
        HttpSession::shared().setIdleTimeoutCap(1s);
        m_server->injectFault("GET", "/api/me", delay(5000ms));
        const auto r = send(get(m_base + u"/api/me"_s, m_token));
        QVERIFY2(failedWith(r, TransportError::Reason::TimedOut), qPrintable(textOf(r)));

        // A slow answer within the limit is not a time-out.
        HttpSession::shared().setIdleTimeoutCap(3s);
        m_server->injectFault("GET", "/api/me", delay(500ms));
        const auto slow = send(get(m_base + u"/api/me"_s, m_token));
        QVERIFY2(slow && slow->status == 200, qPrintable(textOf(slow)));
    }

    void certificateTrust() {
        // Another server, another CA: not in SSL_CERT_FILE, so refused.
        devserver::Server stranger(devserver::Options{
            std::filesystem::path(m_dir.filePath(u"stranger"_s).toStdString()), 0, false});
        std::string error;
        QVERIFY2(stranger.start(&error), error.c_str());
        const auto r = send(get(QString::fromStdString(stranger.baseURL()) + u"/api/me"_s));
        QVERIFY2(failedWith(r, TransportError::Reason::Failed), qPrintable(textOf(r)));
        QVERIFY2(r.error().text.contains(u"certificate"_s), qPrintable(r.error().text));
        QVERIFY(stranger.requests().empty());
        stranger.stop();
    }

    void redirects() {
        const QString target = m_base + u"/api/me"_s;

        // To another origin (another port): followed, without the token, so
        // the dev server sees an anonymous request and refuses it.
        {
            Redirector hop(m_dataDir, target.toStdString());
            const auto r = send(get(hop.url("/api/me"), m_token));
            QVERIFY2(r && r->status == 401, qPrintable(textOf(r)));
            QCOMPARE(hop.authorizations(),
                     std::vector<std::string>{"Bearer " + m_token.toStdString()});
            const auto arrived = m_server->requests();
            QCOMPARE(arrived.size(), size_t(1));
            QCOMPARE(arrived[0].path, "/api/me");
            QVERIFY(arrived[0].headers.find("authorization") == arrived[0].headers.end());
        }
        // Within the same origin the token stays.
        {
            Redirector hop(m_dataDir, "self");
            const auto r = send(get(hop.url("/start"), "tok"));
            QVERIFY2(r && r->status == 200, qPrintable(textOf(r)));
            QCOMPARE(hop.authorizations(), (std::vector<std::string>{"Bearer tok", "Bearer tok"}));
        }
        // Never from https down to http.
        {
            RawHttpServer plain;
            Redirector hop(m_dataDir,
                           "http://localhost:" + std::to_string(plain.port()) + "/api/me");
            const auto r = send(get(hop.url("/api/me"), m_token));
            QVERIFY2(failedWith(r, TransportError::Reason::Failed), qPrintable(textOf(r)));
            QCoreApplication::processEvents();
            QCOMPARE(plain.connections, 0);
        }
    }

    void streamedBody() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"body.bin"_s);
        QByteArray content(2 * 1024 * 1024 + 3, Qt::Uninitialized);
        for (qsizetype i = 0; i < content.size(); ++i)
            content[i] = char(i * 7 + (i >> 11));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();

        RawHttpServer raw;
        const QString url = u"http://localhost:"_s + QString::number(raw.port()) + u"/put"_s;
        HttpRequest put;
        put.method = "PUT";
        put.url = QUrl(url);
        put.bodyFile = path;
        put.bodyFileSize = content.size();
        put.headers.emplaceBack("Content-Type", "application/octet-stream");
        qint64 lastSent = -1;
        put.onUploadProgress = [&lastSent](qint64 sent, qint64) { lastSent = sent; };
        const auto r = send(put);
        QVERIFY2(r && r->status == 200, qPrintable(textOf(r)));
        QCOMPARE(raw.header("Content-Length"), QByteArray::number(content.size()));
        QCOMPARE(raw.header("Expect"), std::nullopt); // no 100-continue round trip
        QCOMPARE(raw.header("Transfer-Encoding"), std::nullopt);
        QVERIFY(raw.requests[0].startsWith("PUT /put HTTP/1.1\r\n"));
        QVERIFY(raw.body() == content);
        QCOMPARE(lastSent, qint64(content.size()));

        // A file shorter than announced fails (the peer would wait forever).
        HttpRequest shortFile = put;
        shortFile.bodyFileSize = content.size() + 10;
        shortFile.onUploadProgress = {};
        const auto cut = send(shortFile);
        QVERIFY2(failedWith(cut, TransportError::Reason::Failed), qPrintable(textOf(cut)));
        QVERIFY2(cut.error().text.contains(path), qPrintable(cut.error().text));

        // An in-memory body without a Content-Type gets none (libcurl would
        // claim a form); a POST without a body says Content-Length: 0.
        HttpRequest post;
        post.method = "POST";
        post.url = QUrl(url);
        QVERIFY(send(post).has_value());
        post.body = QByteArray("abc");
        QVERIFY(send(post).has_value());
        const qsizetype n = raw.requests.size();
        QCOMPARE(raw.header("Content-Length", int(n - 2)), QByteArray("0"));
        QCOMPARE(raw.header("Content-Type", int(n - 2)), std::nullopt);
        QCOMPARE(raw.header("Content-Type", int(n - 1)), std::nullopt);
        QCOMPARE(raw.body(int(n - 1)), QByteArray("abc"));
    }

    void malformedHeadersNeverLeave() {
        RawHttpServer raw;
        HttpRequest r = get(u"http://localhost:"_s + QString::number(raw.port()) + u"/x"_s);
        r.headers.emplaceBack("Authorization", "Bearer a\r\nX-Injected: 1");
        QVERIFY(failedWith(send(r), TransportError::Reason::Failed));
        QCoreApplication::processEvents();
        QCOMPARE(raw.connections, 0);
    }
};

QTEST_GUILESS_MAIN(HttpTest)
#include "tst_http.moc"
