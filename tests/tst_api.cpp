// The API client and the endpoint catalogue against the dev server over real
// TLS on loopback, and against a raw TCP peer where the exact request bytes
// or a non-HTTP answer matter.

#include "RawHttpServer.h"

#include "devserver/DevServer.h"
#include "net/API.h"
#include "net/Endpoints.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <QCoro/QCoroTask>

using namespace Qt::StringLiterals;
using devserver::Fault;

namespace {

const QString invalidAddressText = u"Enter a valid HTTPS server address."_s;

template <class T> T run(QCoro::Task<T>&& task) {
    return QCoro::waitFor(std::move(task));
}

template <class T> QString failureText(const Result<T>& result) {
    return result ? u"<success>"_s : describe(result.error());
}

template <class T> bool isMessage(const Result<T>& result, const QString& text) {
    if (result)
        return false;
    const auto* e = std::get_if<ParvelError>(&result.error());
    return e && e->kind() == ParvelError::Case::Message && e->description() == text;
}

Fault status(int code, std::string body) {
    Fault f;
    f.kind = Fault::Kind::Status;
    f.status = code;
    f.body = std::move(body);
    return f;
}

Fault ofKind(Fault::Kind kind) {
    Fault f;
    f.kind = kind;
    return f;
}

std::optional<std::string> headerOf(const devserver::RecordedRequest& r, const std::string& name) {
    auto it = r.headers.find(name);
    if (it == r.headers.end())
        return std::nullopt;
    return it->second;
}

QJsonObject jsonOf(const std::string& body) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
}

} // namespace

class ApiTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<devserver::Server> m_server;
    QString m_base;
    Connection m_connection;

    API api(const QString& base) const { return API(Connection{base, m_connection.token}); }

    std::vector<devserver::RecordedRequest> recorded(const std::string& method) const {
        std::vector<devserver::RecordedRequest> found;
        for (auto& r : m_server->requests())
            if (r.method == method)
                found.push_back(r);
        return found;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_server = std::make_unique<devserver::Server>(
            devserver::Options{std::filesystem::path(m_dir.path().toStdString()), 0, false});
        std::string error;
        QVERIFY2(m_server->start(&error), error.c_str());
        qputenv("SSL_CERT_FILE", QByteArray::fromStdString(m_server->caPath().string()));
        m_base = QString::fromStdString(m_server->baseURL());
        m_connection = Connection{m_base, QString::fromStdString(m_server->bootstrapToken())};
    }

    void init() {
        m_server->clearFaults();
        m_server->clearRequests();
    }

    void cleanupTestCase() { m_server->stop(); }

    void addressIsPlainConcatenation() {
        const auto me = run(Endpoints::me(API(m_connection)));
        QVERIFY2(me.has_value(), qPrintable(failureText(me)));
        QCOMPARE(me->device.id, u"bootstrap"_s);

        // A sub-path stays in front; a trailing "/" gives a double slash.
        run(Endpoints::me(api(m_base + u"/sub"_s)));
        run(Endpoints::me(api(m_base + u"/"_s)));
        const auto gets = recorded("GET");
        QCOMPARE(gets.size(), size_t(3));
        QCOMPARE(gets[0].path, "/api/me");
        QCOMPARE(gets[1].path, "/sub/api/me");
        QCOMPARE(gets[2].path, "//api/me");

        // Identifiers are not encoded: one that breaks the address is refused
        // before anything is sent.
        m_server->clearRequests();
        for (const QString& id : {u"a b"_s, u"a<b"_s, u"a\"b"_s, u"50%zz"_s}) {
            QVERIFY2(
                isMessage(run(Endpoints::deleteFile(API(m_connection), id)), invalidAddressText),
                qPrintable(id));
            QVERIFY(isMessage(run(Endpoints::complete(API(m_connection), id)), invalidAddressText));
        }
        QVERIFY(m_server->requests().empty());
    }

    void schemeRule() {
        RawHttpServer raw;
        raw.reply = RawHttpServer::jsonReply("{}");
        const QString port = QString::number(raw.port());

        // Plain http is allowed to the host spelled "localhost" only.
        const auto local = run(api(u"http://localhost:"_s + port).remove(u"/api/files/x"_s));
        QVERIFY2(local.has_value(), qPrintable(failureText(local)));
        QCOMPARE(raw.requests.size(), 1);

        for (const QString& base : {u"http://127.0.0.1:"_s + port, u"http://[::1]:"_s + port,
                                    u"http://localhost.:"_s + port, u"http://example.test"_s,
                                    u"ftp://localhost:"_s + port, u"localhost:"_s + port,
                                    u"//localhost:"_s + port, u""_s}) {
            QVERIFY2(isMessage(run(api(base).remove(u"/api/files/x"_s)), invalidAddressText),
                     qPrintable(base));
            QVERIFY2(isMessage(run(Endpoints::me(api(base))), invalidAddressText),
                     qPrintable(base));
        }
        QCoreApplication::processEvents();
        QCOMPARE(raw.connections, 1);
    }

    void headersOnTheWire() {
        RawHttpServer raw;
        const API local(Connection{u"http://localhost:"_s + QString::number(raw.port()), u""_s});

        // Connecting has no token yet: the header is there, "Bearer " alone.
        run(Endpoints::connect(local, u"ABCD-1234"_s, u"Desk Mac"_s));
        QCOMPARE(raw.header("Authorization"), QByteArray("Bearer "));
        QCOMPARE(raw.header("Content-Type"), QByteArray("application/json"));
        const QByteArray body = raw.body();
        QVERIFY2(!body.contains(": ") && !body.contains(", ") && !body.contains('\n'),
                 body.constData()); // compact
        QCOMPARE(QJsonDocument::fromJson(body).object(),
                 (QJsonObject{{u"code"_s, u"ABCD-1234"_s}, {u"name"_s, u"Desk Mac"_s}}));

        // No body, no Content-Type; the token follows "Bearer " as is.
        const API withToken(Connection{local.connection().serverURL, u"tok-ü"_s});
        run(Endpoints::files(withToken));
        run(Endpoints::complete(withToken, u"f1"_s));
        run(Endpoints::createPairing(withToken));
        QCOMPARE(raw.requests.size(), 4);
        for (int i = 1; i < 4; ++i) {
            QCOMPARE(raw.header("Authorization", i), "Bearer " + u"tok-ü"_s.toUtf8());
            QCOMPARE(raw.header("Content-Type", i), std::nullopt);
            QVERIFY(raw.body(i).isEmpty());
        }
        QVERIFY(raw.requests[1].startsWith("GET /api/files HTTP/1.1\r\n"));
        QVERIFY(raw.requests[2].startsWith("POST /api/files/f1/complete HTTP/1.1\r\n"));
        QVERIFY(raw.requests[3].startsWith("POST /api/pairings HTTP/1.1\r\n"));

        // The same rules over TLS to the dev server.
        run(Endpoints::me(API(m_connection)));
        const auto me = m_server->requests().back();
        QCOMPARE(headerOf(me, "authorization"), "Bearer " + m_server->bootstrapToken());
        QCOMPARE(headerOf(me, "content-type"), std::nullopt);
    }

    void statusesBecomeErrors() {
        const API a(m_connection);

        // 401 is "unauthorized" whatever its body says.
        m_server->injectFault("GET", "/api/me", status(401, R"({"error":"Token revoked."})"));
        QVERIFY(isUnauthorized(run(Endpoints::me(a)).error()));
        m_server->injectFault("DELETE", "/api/files/x", status(401, R"({"error":"Nope."})"));
        QVERIFY(isUnauthorized(run(Endpoints::deleteFile(a, u"x"_s)).error()));

        // A body that is not an APIError: the two different fallback texts.
        m_server->injectFault("GET", "/api/files", status(500, "<html>boom</html>"));
        QVERIFY(
            isMessage(run(Endpoints::files(a)), u"The server returned 500. Please try again."_s));
        m_server->injectFault("DELETE", "/api/files/x", status(500, "<html>boom</html>"));
        QVERIFY(isMessage(run(Endpoints::deleteFile(a, u"x"_s)), u"Could not delete this item."_s));
        m_server->injectFault("GET", "/api/devices", status(502, R"({"message":"no"})"));
        QVERIFY(
            isMessage(run(Endpoints::devices(a)), u"The server returned 502. Please try again."_s));

        // An APIError's text is shown verbatim, even when empty.
        m_server->injectFault("GET", "/api/files", status(404, R"({"error":"No library here."})"));
        QVERIFY(isMessage(run(Endpoints::files(a)), u"No library here."_s));
        m_server->injectFault("DELETE", "/api/devices/d1", status(404, R"({"error":""})"));
        QVERIFY(isMessage(run(Endpoints::revokeDevice(a, u"d1"_s)), QString()));
        m_server->injectFault("POST", "/api/files", status(413, R"({"error":"Too big"})"));
        QVERIFY(isMessage(run(Endpoints::createUpload(a, u"f"_s, 1, std::nullopt)), u"Too big"_s));

        // 204 without a body: fine for a delete, not a record for a request.
        m_server->injectFault("DELETE", "/api/files/x", status(204, ""));
        QVERIFY(run(Endpoints::deleteFile(a, u"x"_s)).has_value());
        m_server->injectFault("GET", "/api/files", status(204, ""));
        const auto empty = run(Endpoints::files(a));
        QVERIFY(!empty && std::holds_alternative<DecodingError>(empty.error()));

        // 2xx that is not the record: the decoder's error, unchanged.
        m_server->injectFault("GET", "/api/me", ofKind(Fault::Kind::MalformedJson));
        const auto malformed = run(Endpoints::me(a));
        QVERIFY(!malformed && std::holds_alternative<DecodingError>(malformed.error()));

        // The pairing request alone may be answered with null: no code.
        const auto pairing = run(Endpoints::createPairing(a));
        QVERIFY2(pairing && pairing->has_value(), qPrintable(failureText(pairing)));
        QVERIFY(!(*pairing)->code.isEmpty());
        m_server->injectFault("POST", "/api/pairings", ofKind(Fault::Kind::JsonNull));
        const auto none = run(Endpoints::createPairing(a));
        QVERIFY2(none.has_value(), qPrintable(failureText(none)));
        QVERIFY(!none->has_value());
        m_server->injectFault("GET", "/api/me", ofKind(Fault::Kind::JsonNull));
        QVERIFY(std::holds_alternative<DecodingError>(run(Endpoints::me(a)).error()));

        // A dropped connection is the transport's failure, with its text.
        m_server->injectFault("GET", "/api/me", ofKind(Fault::Kind::Drop));
        const auto dropped = run(Endpoints::me(a));
        QVERIFY(!dropped && std::holds_alternative<TransportError>(dropped.error()));
        QVERIFY(!describe(dropped.error()).isEmpty());

        // Nothing is left behind: the next request works.
        QVERIFY(run(Endpoints::me(a)).has_value());
    }

    void answerThatIsNotHttp() {
        RawHttpServer raw;
        raw.reply = "SSH-2.0-OpenSSH_9.2\r\nProtocol mismatch.\r\n";
        const API local(Connection{u"http://localhost:"_s + QString::number(raw.port()), u"t"_s});
        const QString text = u"The server did not respond."_s;
        QVERIFY2(isMessage(run(Endpoints::me(local)), text),
                 qPrintable(failureText(run(Endpoints::me(local)))));
        QVERIFY(isMessage(run(Endpoints::deleteFile(local, u"x"_s)), text));
        raw.reply = "HTTP/1.1 2xx Fine\r\nContent-Length: 0\r\n\r\n";
        QVERIFY2(isMessage(run(Endpoints::me(local)), text),
                 qPrintable(failureText(run(Endpoints::me(local)))));
    }

    void uploadRoundTrip() {
        const API a(m_connection);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"report.bin"_s);
        QByteArray content(3 * 1024 * 1024 + 17, Qt::Uninitialized);
        for (qsizetype i = 0; i < content.size(); ++i)
            content[i] = char((i * 131) ^ (i >> 9));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        const qint64 size = content.size();

        // "password" is always there: null for an open upload.
        const auto ticket = run(Endpoints::createUpload(a, u"report.bin"_s, size, std::nullopt));
        QVERIFY2(ticket.has_value(), qPrintable(failureText(ticket)));
        const QJsonObject createBody = jsonOf(recorded("POST").back().body);
        QVERIFY(createBody.contains(u"password"_s) && createBody[u"password"_s].isNull());
        QCOMPARE(createBody[u"size"_s].toInteger(), size);
        QCOMPARE(createBody[u"name"_s].toString(), u"report.bin"_s);

        QList<std::pair<qint64, qint64>> reports;
        const auto sent = run(Endpoints::uploadBytes(ticket->uploadURL, path, size,
                                                     [&reports](qint64 done, qint64 total) {
                                                         reports.append({done, total});
                                                     }));
        QVERIFY2(sent.has_value(), qPrintable(failureText(sent)));
        const auto put = recorded("PUT").back();
        QCOMPARE(headerOf(put, "authorization"), std::nullopt);
        QCOMPARE(headerOf(put, "content-type"), "application/octet-stream");
        QCOMPARE(headerOf(put, "content-length"), std::to_string(size));
        QCOMPARE(put.bodyBytes, quint64(size));
        QVERIFY(!reports.isEmpty());
        QCOMPARE(reports.back(), std::make_pair(size, size));
        for (qsizetype i = 0; i < reports.size(); ++i) {
            QCOMPARE(reports[i].second, size);
            QVERIFY(i == 0 || reports[i].first >= reports[i - 1].first);
        }

        const auto done = run(Endpoints::complete(a, ticket->id));
        QVERIFY2(done.has_value(), qPrintable(failureText(done)));
        QCOMPARE(done->file.size, size);
        QCOMPARE(done->file.name, u"report.bin"_s);
        QVERIFY(!done->file.isProtected);

        // Access changes: a password protects, null opens again.
        const QString id = done->file.id;
        auto changed = run(Endpoints::changeAccess(a, id, u"hunter22"_s));
        QVERIFY2(changed && changed->file.isProtected, qPrintable(failureText(changed)));
        QCOMPARE(jsonOf(recorded("PATCH").back().body)[u"password"_s].toString(), u"hunter22"_s);
        changed = run(Endpoints::changeAccess(a, id, std::nullopt));
        QVERIFY2(changed && !changed->file.isProtected, qPrintable(failureText(changed)));
        const QJsonObject openBody = jsonOf(recorded("PATCH").back().body);
        QVERIFY(openBody.contains(u"password"_s) && openBody[u"password"_s].isNull());

        QVERIFY(run(Endpoints::deleteFile(a, id)).has_value());
        QCOMPARE(recorded("DELETE").back().path, "/api/files/" + id.toStdString());
    }

    void uploadRefusals() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"a.txt"_s);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("hello");
        f.close();

        // Only https, with no localhost exception.
        RawHttpServer raw;
        const QString plain = u"http://localhost:"_s + QString::number(raw.port()) + u"/upload/t"_s;
        QVERIFY(!Endpoints::isUsableUploadAddress(plain));
        QVERIFY(!Endpoints::isUsableUploadAddress(u"https://h/a b"_s));
        QVERIFY(!Endpoints::isUsableUploadAddress(u"/upload/t"_s));
        QVERIFY(Endpoints::isUsableUploadAddress(u"https://cdn.example.test/put?sig=1"_s));
        const QString invalid = u"The upload address is invalid."_s;
        QVERIFY(isMessage(run(Endpoints::uploadBytes(plain, path, 5, {})), invalid));
        QVERIFY(
            isMessage(run(Endpoints::uploadBytes(u"ftp://localhost/x"_s, path, 5, {})), invalid));
        QCoreApplication::processEvents();
        QCOMPARE(raw.connections, 0);

        // Any non-2xx, whatever its body, is the one upload text.
        const auto ticket =
            run(Endpoints::createUpload(API(m_connection), u"a.txt"_s, 5, u"pw12"_s));
        QVERIFY(ticket.has_value());
        QCOMPARE(jsonOf(recorded("POST").back().body)[u"password"_s].toString(), u"pw12"_s);
        m_server->injectFault("PUT", "/upload/*", status(500, R"({"error":"disk full"})"));
        QVERIFY(isMessage(run(Endpoints::uploadBytes(ticket->uploadURL, path, 5, {})),
                          u"The upload did not finish. Please try again."_s));
        m_server->injectFault("PUT", "/upload/*", status(401, "{}"));
        QVERIFY(isMessage(run(Endpoints::uploadBytes(ticket->uploadURL, path, 5, {})),
                          u"The upload did not finish. Please try again."_s));
        // A missing file is a transport-level failure, not the upload text.
        const auto missing =
            run(Endpoints::uploadBytes(ticket->uploadURL, dir.filePath(u"gone"_s), 5, {}));
        QVERIFY(!missing && std::holds_alternative<TransportError>(missing.error()));
    }

    void installerAddress() {
        QCOMPARE(Endpoints::installerURL(Connection{u"https://files.example.test"_s, u"t"_s}),
                 QUrl(u"https://files.example.test/install"_s));
        QCOMPARE(Endpoints::installerURL(Connection{u"https://h.test/base/"_s, u"t"_s}),
                 QUrl(u"https://h.test/base//install"_s));
        QCOMPARE(Endpoints::installerURL(Connection{u"https://h .test"_s, u"t"_s}), std::nullopt);
        QCOMPARE(Endpoints::installerURL(Connection{u""_s, u"t"_s}), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(ApiTest)
#include "tst_api.moc"
