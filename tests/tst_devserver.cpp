// The dev server over real TLS on loopback, driven with libcurl as any client
// would drive it: codes, tokens, the upload run, faults, and a restart.

#include "devserver/DevServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <curl/curl.h>

#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

using namespace devserver;

namespace {

struct Reply {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
    std::string headers;

    QJsonObject json() const {
        return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
    }
    QString error() const { return json().value(QLatin1String("error")).toString(); }
};

struct Body {
    enum class Kind { None, Json, Upload, Form };
    Kind kind = Kind::None;
    std::string bytes;
};
Body json(std::string text) {
    return {Body::Kind::Json, std::move(text)};
}
Body upload(std::string bytes) {
    return {Body::Kind::Upload, std::move(bytes)};
}
Body form(std::string text) {
    return {Body::Kind::Form, std::move(text)};
}

size_t collect(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

struct UploadSource {
    const std::string* bytes;
    size_t offset = 0;
};

size_t supply(char* buffer, size_t size, size_t count, void* source) {
    auto* s = static_cast<UploadSource*>(source);
    const size_t n = std::min(size * count, s->bytes->size() - s->offset);
    std::memcpy(buffer, s->bytes->data() + s->offset, n);
    s->offset += n;
    return n;
}

Reply perform(const Server& server, const std::string& method, const std::string& url,
              const std::optional<std::string>& token = std::nullopt, const Body& body = {}) {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    Reply reply;
    const std::string ca = server.caPath().string();
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_CAINFO, ca.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl.get(), CURLOPT_HEADERFUNCTION, collect);
    curl_easy_setopt(curl.get(), CURLOPT_HEADERDATA, &reply.headers);
    curl_slist* headers = nullptr;
    if (token)
        headers = curl_slist_append(headers, ("Authorization: Bearer " + *token).c_str());
    UploadSource source{&body.bytes};
    if (body.kind == Body::Kind::Upload) {
        curl_easy_setopt(curl.get(), CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl.get(), CURLOPT_READFUNCTION, supply);
        curl_easy_setopt(curl.get(), CURLOPT_READDATA, &source);
        curl_easy_setopt(curl.get(), CURLOPT_INFILESIZE_LARGE, curl_off_t(body.bytes.size()));
        headers = curl_slist_append(headers, "Content-Type: application/octet-stream");
    } else if (body.kind != Body::Kind::None) {
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE, long(body.bytes.size()));
        curl_easy_setopt(curl.get(), CURLOPT_COPYPOSTFIELDS, body.bytes.c_str());
        if (body.kind == Body::Kind::Json)
            headers = curl_slist_append(headers, "Content-Type: application/json");
    }
    curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, method.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers);
    reply.code = curl_easy_perform(curl.get());
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &reply.status);
    curl_slist_free_all(headers);
    return reply;
}

// GET on a handle the caller keeps, so libcurl reuses its connection.
Reply getOn(CURL* curl, const Server& server, const std::string& url, const std::string& token) {
    Reply reply;
    const std::string ca = server.caPath().string();
    const std::string authorization = "Authorization: Bearer " + token;
    curl_slist* headers = curl_slist_append(nullptr, authorization.c_str());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    reply.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_slist_free_all(headers);
    return reply;
}

std::string connectBody(const std::string& code, const std::string& name) {
    return "{\"code\":\"" + code + "\",\"name\":\"" + name + "\"}";
}

std::string str(const QJsonValue& value) {
    return value.toString().toStdString();
}

// One header of a recorded request, or "<none>".
std::string header(const RecordedRequest& request, const std::string& name) {
    const auto it = request.headers.find(name);
    return it == request.headers.end() ? std::string("<none>") : it->second;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

class TestDevServer : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Server> m_server;

    std::string url(const std::string& path) const { return m_server->baseURL() + path; }
    Reply api(const std::string& method, const std::string& path, const std::string& token,
              std::optional<std::string> body = std::nullopt) {
        return perform(*m_server, method, url(path), token, body ? json(*body) : Body{});
    }
    std::string bootstrap() const { return m_server->bootstrapToken(); }

    // Connects a new device with a fresh code; returns its token and id.
    std::pair<std::string, std::string> connectDevice(const std::string& name) {
        const Reply r =
            api("POST", "/api/connect", "", connectBody(m_server->newConnectionCode(), name));
        return {str(r.json()[QLatin1String("token")]),
                str(r.json()[QLatin1String("device")].toObject()[QLatin1String("id")])};
    }

private Q_SLOTS:
    void initTestCase() {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        QVERIFY(m_dir.isValid());
        m_server = std::make_unique<Server>(Options{m_dir.path().toStdString() + "/data"});
        std::string error;
        QVERIFY2(m_server->start(&error), error.c_str());
        QVERIFY(m_server->port() > 0);
    }

    void cleanupTestCase() { m_server.reset(); }

    void init() {
        m_server->clearFaults();
        m_server->clearRequests();
        m_server->overrideUploadURL(std::nullopt);
    }

    void firstStartWritesConnectionFileAndTrustedCertificate() {
        std::string error;
        const auto connection =
            QJsonDocument::fromJson(
                QByteArray::fromStdString(readFile(m_server->connectionFilePath())))
                .object();
        QCOMPARE(str(connection[QLatin1String("serverURL")]),
                 "https://localhost:" + std::to_string(m_server->port()));
        QCOMPARE(str(connection[QLatin1String("token")]), bootstrap());
        QCOMPARE(connection.size(), 2);

        const Reply me = api("GET", "/api/me", bootstrap());
        QCOMPARE(me.status, 200L);
        QCOMPARE(me.json()[QLatin1String("device")].toObject()[QLatin1String("id")].toString(),
                 QStringLiteral("bootstrap"));
        QCOMPARE(me.json()[QLatin1String("maxFileSize")].toInteger(), 5000000000LL);
        QVERIFY(me.json()[QLatin1String("owner")].isString());
        QVERIFY(me.json()[QLatin1String("version")].isString());

        // The curl program, as a user would check it, trusting only our CA.
        const QString install = QString::fromStdString(url("/install"));
        QProcess curl;
        curl.start(QStringLiteral("curl"),
                   {QStringLiteral("-sS"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                    QStringLiteral("-w"), QStringLiteral("%{http_code}"),
                    QStringLiteral("--cacert"), QString::fromStdString(m_server->caPath().string()),
                    install});
        QVERIFY(curl.waitForFinished(30000));
        QCOMPARE(curl.readAllStandardOutput(), QByteArray("200"));
        // 127.0.0.1 is in the certificate too.
        const Reply byAddress = perform(
            *m_server, "GET", "https://127.0.0.1:" + std::to_string(m_server->port()) + "/install");
        QCOMPARE(byAddress.code, CURLE_OK);
        QCOMPARE(byAddress.status, 200L);
        QVERIFY(byAddress.body.find("<html") != std::string::npos);

        // The port is ours alone.
        Server second(Options{m_dir.path().toStdString() + "/second", m_server->port()});
        QVERIFY(!second.start(&error));
        QVERIFY(!error.empty());
        QCOMPARE(api("GET", "/install", "").status, 200L);

        // Stopping straight after starting must not leave the server thread
        // behind (it would hang here).
        for (int i = 0; i < 3; ++i) {
            Server quick(Options{m_dir.path().toStdString() + "/quick", 0, false});
            QVERIFY(quick.start());
        }

        // A damaged state file stops the start with a readable reason.
        const std::filesystem::path damaged = m_dir.path().toStdString() + "/damaged";
        std::filesystem::create_directories(damaged);
        std::ofstream(damaged / "state.json") << "{\"devices\": [";
        error.clear();
        QVERIFY(!Server(Options{damaged}).start(&error));
        QVERIFY2(error.find("state.json") != std::string::npos, error.c_str());
    }

    void connectionCodeWorksOnceAndExpires() {
        const std::string code = m_server->newConnectionCode();
        const std::string body = connectBody(code, "Studio Mac");
        const Reply first = api("POST", "/api/connect", "", body);
        QCOMPARE(first.status, 200L);
        QCOMPARE(str(first.json()[QLatin1String("serverURL")]), m_server->baseURL());
        const auto device = first.json()[QLatin1String("device")].toObject();
        QCOMPARE(device[QLatin1String("name")].toString(), QStringLiteral("Studio Mac"));
        QVERIFY(device[QLatin1String("createdAt")].isString());
        const std::string token = str(first.json()[QLatin1String("token")]);
        QVERIFY(!token.empty());
        QCOMPARE(api("GET", "/api/me", token).json()[QLatin1String("device")].toObject(), device);

        const Reply again = api("POST", "/api/connect", "", body);
        QCOMPARE(again.status, 403L);
        QVERIFY(!again.error().isEmpty());

        // Nine minutes on a code is fine; past ten it is refused.
        const std::string early = m_server->newConnectionCode();
        m_server->advanceClock(std::chrono::minutes(9));
        QCOMPARE(api("POST", "/api/connect", "", connectBody(early, "A")).status, 200L);
        const std::string late = m_server->newConnectionCode();
        m_server->advanceClock(std::chrono::seconds(601));
        const Reply expired = api("POST", "/api/connect", "", connectBody(late, "B"));
        QCOMPARE(expired.status, 403L);
        QVERIFY(!expired.error().isEmpty());

        // A code made through the API, with the server address alongside.
        const Reply pairing = api("POST", "/api/pairings", bootstrap());
        QCOMPARE(pairing.status, 200L);
        QCOMPARE(str(pairing.json()[QLatin1String("serverURL")]), m_server->baseURL());
        QVERIFY(pairing.json()[QLatin1String("expiresAt")].isString());
        const std::string apiCode = str(pairing.json()[QLatin1String("code")]);
        QCOMPARE(api("POST", "/api/connect", "", connectBody(apiCode, "C")).status, 200L);

        QCOMPARE(api("POST", "/api/connect", "", R"({"code":42,"name":"C"})").status, 400L);
    }

    void tokensAndRevocation() {
        const auto [token, id] = connectDevice("Laptop");
        QCOMPARE(api("GET", "/api/files", token).status, 200L);

        const Reply devices = api("GET", "/api/devices", bootstrap());
        QCOMPARE(devices.status, 200L);
        bool listed = false;
        for (const auto& d : devices.json()[QLatin1String("devices")].toArray())
            listed = listed || str(d.toObject()[QLatin1String("id")]) == id;
        QVERIFY(listed);

        const Reply revoke = api("DELETE", "/api/devices/" + id, bootstrap());
        QCOMPARE(revoke.status, 204L);
        QVERIFY(revoke.body.empty());
        const Reply refused = api("GET", "/api/me", token);
        QCOMPARE(refused.status, 401L);
        QVERIFY(!refused.error().isEmpty());
        QCOMPARE(api("GET", "/api/me", bootstrap()).status, 200L);
        QCOMPARE(api("DELETE", "/api/devices/" + id, bootstrap()).status, 404L);

        // No header, an empty token, a wrong scheme word: all refused.
        QCOMPARE(perform(*m_server, "GET", url("/api/me")).status, 401L);
        QCOMPARE(api("GET", "/api/me", "").status, 401L);
        QCOMPARE(api("GET", "/api/files", "x" + bootstrap()).status, 401L);
    }

    void uploadRun() {
        const std::string bytes = "0123456789";
        const Reply created = api("POST", "/api/files", bootstrap(),
                                  R"({"name":"notes one.txt","size":10,"password":null})");
        QCOMPARE(created.status, 200L);
        const std::string id = str(created.json()[QLatin1String("id")]);
        const std::string uploadURL = str(created.json()[QLatin1String("uploadURL")]);
        QVERIFY(uploadURL.starts_with(m_server->baseURL() + "/"));

        // Too few bytes: the PUT itself succeeds, completion does not.
        const Reply shortPut = perform(*m_server, "PUT", uploadURL, std::nullopt, upload("01234"));
        QVERIFY(shortPut.status >= 200 && shortPut.status < 300);
        const Reply incomplete = api("POST", "/api/files/" + id + "/complete", bootstrap());
        QCOMPARE(incomplete.status, 400L);
        QVERIFY(!incomplete.error().isEmpty());
        QVERIFY(api("GET", "/api/files", bootstrap()).body.find(id) == std::string::npos);

        QCOMPARE(perform(*m_server, "PUT", uploadURL, std::nullopt, upload(bytes)).status, 200L);
        const Reply completed = api("POST", "/api/files/" + id + "/complete", bootstrap());
        QCOMPARE(completed.status, 200L);
        const auto file = completed.json()[QLatin1String("file")].toObject();
        QCOMPARE(str(file[QLatin1String("id")]), id);
        QCOMPARE(file[QLatin1String("name")].toString(), QStringLiteral("notes one.txt"));
        QCOMPARE(file[QLatin1String("size")].toInteger(), 10);
        QCOMPARE(file[QLatin1String("isProtected")], QJsonValue(false));
        QVERIFY(file[QLatin1String("createdAt")].isString());
        QCOMPARE(str(file[QLatin1String("url")]), url("/s/" + id));
        QCOMPARE(readFile(m_dir.path().toStdString() + "/data/files/" + id), bytes);
        // The ticket is spent once the file is complete.
        QCOMPARE(perform(*m_server, "PUT", uploadURL, std::nullopt, upload(bytes)).status, 404L);

        // A second, protected file comes first in the list.
        const Reply second = api("POST", "/api/files", bootstrap(),
                                 R"({"name":"b.bin","size":3,"password":"hunter2"})");
        const std::string secondID = str(second.json()[QLatin1String("id")]);
        perform(*m_server, "PUT", str(second.json()[QLatin1String("uploadURL")]), std::nullopt,
                upload("abc"));
        const auto secondFile = api("POST", "/api/files/" + secondID + "/complete", bootstrap())
                                    .json()[QLatin1String("file")]
                                    .toObject();
        QCOMPARE(secondFile[QLatin1String("isProtected")], QJsonValue(true));
        const auto files =
            api("GET", "/api/files", bootstrap()).json()[QLatin1String("files")].toArray();
        QVERIFY(files.size() >= 2);
        QCOMPARE(str(files[0].toObject()[QLatin1String("id")]), secondID);
        QCOMPARE(str(files[1].toObject()[QLatin1String("id")]), id);

        // Share pages: a link for the open file, a form for the protected one.
        QCOMPARE(perform(*m_server, "GET", url("/s/" + id + "/download")).body, bytes);
        QVERIFY(perform(*m_server, "GET", url("/s/" + secondID)).body.find("type=\"password\"") !=
                std::string::npos);
        QCOMPARE(perform(*m_server, "GET", url("/s/" + secondID + "/download")).status, 403L);
        QCOMPARE(
            perform(*m_server, "POST", url("/s/" + secondID), std::nullopt, form("password=wrong"))
                .status,
            403L);
        QCOMPARE(perform(*m_server, "POST", url("/s/" + secondID), std::nullopt,
                         form("password=hunter2"))
                     .body,
                 std::string("abc"));

        // Access change both ways; null turns protection off.
        const Reply opened =
            api("PATCH", "/api/files/" + secondID, bootstrap(), R"({"password":null})");
        QCOMPARE(opened.json()[QLatin1String("file")].toObject()[QLatin1String("isProtected")],
                 QJsonValue(false));
        const Reply closed =
            api("PATCH", "/api/files/" + id, bootstrap(), R"({"password":"s3cret"})");
        QCOMPARE(closed.json()[QLatin1String("file")].toObject()[QLatin1String("isProtected")],
                 QJsonValue(true));
        QCOMPARE(api("PATCH", "/api/files/" + id, bootstrap(), R"({})").status, 400L);

        // Deleting: 204, gone from the list, the page and the disk.
        QCOMPARE(api("DELETE", "/api/files/" + secondID, bootstrap()).status, 204L);
        QVERIFY(api("GET", "/api/files", bootstrap()).body.find(secondID) == std::string::npos);
        QCOMPARE(perform(*m_server, "GET", url("/s/" + secondID)).status, 404L);
        QVERIFY(!std::filesystem::exists(m_dir.path().toStdString() + "/data/files/" + secondID));
        const Reply gone = api("DELETE", "/api/files/" + secondID, bootstrap());
        QCOMPARE(gone.status, 404L);
        QVERIFY(!gone.error().isEmpty());

        // Sizes: the limit itself is accepted, one byte more is not.
        QCOMPARE(api("POST", "/api/files", bootstrap(),
                     R"({"name":"big","size":5000000000,"password":null})")
                     .status,
                 200L);
        const Reply tooBig = api("POST", "/api/files", bootstrap(),
                                 R"({"name":"big","size":5000000001,"password":null})");
        QCOMPARE(tooBig.status, 400L);
        QVERIFY(!tooBig.error().isEmpty());
        QCOMPARE(
            api("POST", "/api/files", bootstrap(), R"({"name":"x","size":"10","password":null})")
                .status,
            400L);
        QCOMPARE(api("POST", "/api/files", bootstrap(), "not json").status, 400L);
    }

    void faultsAndRecords() {
        m_server->injectFault("GET", "/api/me", Fault::withStatus(503, R"({"error":"Down."})"), 2);
        QCOMPARE(api("GET", "/api/me", bootstrap()).error(), QStringLiteral("Down."));
        QCOMPARE(api("GET", "/api/me", bootstrap()).status, 503L);
        QCOMPARE(api("GET", "/api/me", bootstrap()).status, 200L); // used up

        m_server->injectFault("POST", "/api/pairings", Fault::jsonNull());
        const Reply null = api("POST", "/api/pairings", bootstrap());
        QCOMPARE(null.status, 200L);
        QCOMPARE(null.body, std::string("null"));

        m_server->injectFault("GET", "/api/files*", Fault::malformedJson(), 0);
        for (int i = 0; i < 2; ++i) {
            const Reply bad = api("GET", "/api/files", bootstrap());
            QCOMPARE(bad.status, 200L);
            QJsonParseError parseError;
            QJsonDocument::fromJson(QByteArray::fromStdString(bad.body), &parseError);
            QVERIFY(parseError.error != QJsonParseError::NoError);
        }
        m_server->clearFaults();

        const std::string elsewhere =
            "https://127.0.0.1:" + std::to_string(m_server->port()) + "/install";
        m_server->injectFault("GET", "/api/me", Fault::redirect(307, elsewhere));
        const Reply redirect = api("GET", "/api/me", bootstrap());
        QCOMPARE(redirect.status, 307L);
        QVERIFY(redirect.headers.find("Location: " + elsewhere + "\r\n") != std::string::npos);

        m_server->injectFault("GET", "/api/devices", Fault::drop());
        const Reply dropped = api("GET", "/api/devices", bootstrap());
        QVERIFY(dropped.code != CURLE_OK);
        QCOMPARE(dropped.status, 0L);
        // On a kept-alive connection too, although libcurl quietly repeats a
        // request whose reused connection died before any answer.
        {
            std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> kept(curl_easy_init(),
                                                                     curl_easy_cleanup);
            QCOMPARE(getOn(kept.get(), *m_server, url("/api/me"), bootstrap()).status, 200L);
            m_server->injectFault("GET", "/api/me", Fault::drop());
            QVERIFY(getOn(kept.get(), *m_server, url("/api/me"), bootstrap()).code != CURLE_OK);
            QCOMPARE(getOn(kept.get(), *m_server, url("/api/me"), bootstrap()).status, 200L);
        }
        m_server->injectFault("GET", "/api/devices", Fault::delayed(std::chrono::milliseconds(20)));
        QCOMPARE(api("GET", "/api/devices", bootstrap()).status, 200L);

        // The record: raw path with its query, lower-case header names, JSON
        // bodies whole, upload bodies only counted.
        m_server->clearRequests();
        api("GET", "/api/files?x=1", bootstrap());
        const std::string createBody = R"({"name":"r.txt","size":4,"password":null})";
        const Reply created = api("POST", "/api/files", bootstrap(), createBody);
        perform(*m_server, "PUT", str(created.json()[QLatin1String("uploadURL")]), std::nullopt,
                upload("wxyz"));
        const auto records = m_server->requests();
        QCOMPARE(records.size(), size_t(3));
        QCOMPARE(records[0].method, std::string("GET"));
        QCOMPARE(records[0].path, std::string("/api/files?x=1"));
        QCOMPARE(header(records[0], "authorization"), "Bearer " + bootstrap());
        QVERIFY(!records[0].headers.contains("content-type"));
        QCOMPARE(records[1].body, createBody);
        QCOMPARE(header(records[1], "content-type"), std::string("application/json"));
        QCOMPARE(records[2].method, std::string("PUT"));
        QVERIFY(records[2].body.empty());
        QCOMPARE(records[2].bodyBytes, std::uint64_t(4));
        QVERIFY(!records[2].headers.contains("authorization"));

        m_server->overrideUploadURL("http://localhost:1/elsewhere");
        const Reply redirected = api("POST", "/api/files", bootstrap(), createBody);
        QCOMPARE(str(redirected.json()[QLatin1String("uploadURL")]),
                 std::string("http://localhost:1/elsewhere"));

        // A bare POST (no Content-Length at all) has an empty body and is
        // answered at once, not after the server's read time-out.
        const Reply bare = perform(*m_server, "POST", url("/api/pairings"), bootstrap());
        QCOMPARE(bare.status, 200L);
        QCOMPARE(api("GET", "/nowhere", bootstrap()).status, 404L);
    }

    // Request bodies are read as JSON proper: escapes decoded, non-ASCII kept,
    // anything that is not one JSON object refused with a 400 and a text.
    void jsonBodies() {
        const std::string escaped = "{\"name\":\"caf\\u00e9 \\ud83d\\ude00 \\\"q\\\" \\\\ "
                                    "\\/.txt\",\"size\":1,\"password\":null}";
        const Reply created = api("POST", "/api/files", bootstrap(), escaped);
        QCOMPARE(created.status, 200L);
        const std::string id = str(created.json()[QLatin1String("id")]);
        perform(*m_server, "PUT", str(created.json()[QLatin1String("uploadURL")]), std::nullopt,
                upload("x"));
        const Reply completed = api("POST", "/api/files/" + id + "/complete", bootstrap());
        QJsonParseError parseError;
        const auto answer =
            QJsonDocument::fromJson(QByteArray::fromStdString(completed.body), &parseError);
        QCOMPARE(parseError.error, QJsonParseError::NoError);
        QCOMPARE(
            answer.object()[QLatin1String("file")].toObject()[QLatin1String("name")].toString(),
            QString::fromUtf8("caf\u00e9 \U0001F600 \"q\" \\ /.txt"));
        const Reply raw = api("POST", "/api/files", bootstrap(),
                              "{\"name\":\"\xe2\x98\x95\ttab\",\"size\":0,\"password\":null}");
        QCOMPARE(raw.status, 400L); // a raw tab inside a string is not JSON
        const Reply utf8 = api("POST", "/api/files", bootstrap(),
                               "{\"name\":\"\xe2\x98\x95\",\"size\":0,\"password\":null}");
        QCOMPARE(utf8.status, 200L);
        const std::string emptyID = str(utf8.json()[QLatin1String("id")]);
        QCOMPARE(api("POST", "/api/files/" + emptyID + "/complete", bootstrap())
                     .json()[QLatin1String("file")]
                     .toObject()[QLatin1String("name")]
                     .toString(),
                 QString::fromUtf8("\xe2\x98\x95")); // empty files complete without a PUT

        const std::string deep = std::string(5000, '[') + std::string(5000, ']');
        for (const std::string& bad :
             {std::string("{\"name\":\"a\",\"size\":1,\"password\":null} x"),
              std::string("{\"name\":\"a"), std::string("[]"), std::string(""), deep,
              std::string("{\"name\":\"a\",\"size\":1}"),
              std::string("{\"name\":\"a\",\"size\":1.5,\"password\":null}"),
              std::string("{\"name\":\"a\",\"size\":-1,\"password\":null}"),
              std::string("{\"name\":\"a\",\"size\":1,\"password\":\"abc\"}")}) {
            const Reply refused = api("POST", "/api/files", bootstrap(), bad);
            QCOMPARE(refused.status, 400L);
            QVERIFY2(!refused.error().isEmpty(), bad.c_str());
        }
    }

    // Uploads from several threads at once, as clients on several computers
    // would: every file arrives whole and is listed once.
    void concurrentUploads() {
        constexpr int count = 6;
        std::vector<std::string> ids(count);
        std::vector<long> statuses(count);
        std::vector<std::thread> threads;
        const std::string token = bootstrap();
        for (int i = 0; i < count; ++i) {
            threads.emplace_back([&, i] {
                const std::string bytes(100000 + i, char('a' + i));
                const Reply created = perform(*m_server, "POST", url("/api/files"), token,
                                              json("{\"name\":\"c" + std::to_string(i) +
                                                   "\",\"size\":" + std::to_string(bytes.size()) +
                                                   ",\"password\":null}"));
                ids[i] = str(created.json()[QLatin1String("id")]);
                perform(*m_server, "PUT", str(created.json()[QLatin1String("uploadURL")]),
                        std::nullopt, upload(bytes));
                statuses[i] =
                    perform(*m_server, "POST", url("/api/files/" + ids[i] + "/complete"), token)
                        .status;
            });
        }
        for (auto& t : threads)
            t.join();
        const std::string listed = api("GET", "/api/files", token).body;
        for (int i = 0; i < count; ++i) {
            QCOMPARE(statuses[i], 200L);
            QCOMPARE(readFile(m_dir.path().toStdString() + "/data/files/" + ids[i]),
                     std::string(100000 + i, char('a' + i)));
            QVERIFY(listed.find(ids[i]) != std::string::npos);
        }
        QCOMPARE(std::set<std::string>(ids.begin(), ids.end()).size(), size_t(count));
    }

    // Last: restarts the server on the same data directory.
    void stateSurvivesRestart() {
        const auto [token, id] = connectDevice("Kept");
        const Reply created = api("POST", "/api/files", bootstrap(),
                                  R"({"name":"kept.txt","size":2,"password":"abcd"})");
        const std::string fileID = str(created.json()[QLatin1String("id")]);
        perform(*m_server, "PUT", str(created.json()[QLatin1String("uploadURL")]), std::nullopt,
                upload("ok"));
        QCOMPARE(api("POST", "/api/files/" + fileID + "/complete", bootstrap()).status, 200L);
        const std::string pending = m_server->newConnectionCode();
        const std::string ca = readFile(m_server->caPath());
        const std::string bootstrapToken = bootstrap();
        const std::string filesBefore = api("GET", "/api/files", bootstrap()).body;

        m_server->stop();
        m_server = std::make_unique<Server>(Options{m_dir.path().toStdString() + "/data"});
        std::string error;
        QVERIFY2(m_server->start(&error), error.c_str());

        QCOMPARE(readFile(m_server->caPath()), ca);
        QCOMPARE(bootstrap(), bootstrapToken);
        QCOMPARE(api("GET", "/api/me", token).status, 200L);
        const Reply files = api("GET", "/api/files", bootstrapToken);
        QCOMPARE(files.status, 200L);
        // Same files, same order; only the port in the share links may differ.
        QCOMPARE(files.json()[QLatin1String("files")].toArray().size(),
                 QJsonDocument::fromJson(QByteArray::fromStdString(filesBefore))
                     .object()[QLatin1String("files")]
                     .toArray()
                     .size());
        QCOMPARE(
            str(files.json()[QLatin1String("files")].toArray()[0].toObject()[QLatin1String("id")]),
            fileID);
        QCOMPARE(
            perform(*m_server, "POST", url("/s/" + fileID), std::nullopt, form("password=abcd"))
                .body,
            std::string("ok"));
        QCOMPARE(api("POST", "/api/connect", "", connectBody(pending, "Later")).status, 200L);
    }
};

QTEST_GUILESS_MAIN(TestDevServer)
#include "tst_devserver.moc"
