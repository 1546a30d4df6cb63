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
using namespace Qt::StringLiterals;
using Token = std::optional<std::string>;

namespace {

struct Reply {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;

    QJsonValue operator[](QStringView key) const {
        return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object().value(key);
    }
    QString error() const { return (*this)[u"error"].toString(); }
};

std::string str(const QJsonValue& value) {
    return value.toString().toStdString();
}

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

size_t collect(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

// `keep` is a handle the caller reuses, so that libcurl keeps its connection.
Reply perform(const Server& server, const std::string& method, const std::string& url,
              const Token& token = {}, const std::optional<std::string>& body = {},
              const std::string& type = "application/json", CURL* keep = nullptr) {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> own(keep ? nullptr : curl_easy_init(),
                                                            curl_easy_cleanup);
    CURL* curl = keep ? keep : own.get();
    Reply reply;
    const std::string ca = server.caPath().string();
    curl_slist* headers = nullptr;
    if (token)
        headers = curl_slist_append(headers, ("Authorization: Bearer " + *token).c_str());
    if (body) {
        headers = curl_slist_append(headers, ("Content-Type: " + type).c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, long(body->size()));
        curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, body->c_str());
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    reply.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_slist_free_all(headers);
    return reply;
}

std::string ticket(const std::string& name, size_t size, const std::string& password = "null") {
    return "{\"name\":\"" + name + "\",\"size\":" + std::to_string(size) +
           ",\"password\":" + password + "}";
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The status, and whether an APIError text came with it.
QString refusal(const Reply& r) {
    return QString::number(r.status) + (r.error().isEmpty() ? u" without text"_s : u" with text"_s);
}

QStringList idsOf(const QJsonValue& files) {
    QStringList ids;
    for (const QJsonValue& file : files.toArray())
        ids.append(file[u"id"].toString());
    return ids;
}

} // namespace

class TestDevServer : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<Server> m_server;

    std::string dir(const char* name) const { return m_dir.filePath(q(name)).toStdString(); }
    std::string url(const std::string& path) const { return m_server->baseURL() + path; }
    std::string boot() const { return m_server->bootstrapToken(); }

    Reply api(const std::string& method, const std::string& path, const Token& token,
              const std::optional<std::string>& body = {}) const {
        return perform(*m_server, method, url(path), token, body);
    }
    Reply put(const std::string& uploadURL, const std::string& bytes) const {
        return perform(*m_server, "PUT", uploadURL, {}, bytes, "application/octet-stream");
    }
    Reply unlock(const std::string& id, const std::string& password) const {
        return perform(*m_server, "POST", url("/s/" + id), {}, "password=" + password,
                       "application/x-www-form-urlencoded");
    }
    Reply connect(const std::string& code, const std::string& name) const {
        return api("POST", "/api/connect", "",
                   "{\"code\":\"" + code + "\",\"name\":\"" + name + "\"}");
    }
    // Ticket, bytes and completion; the completion's reply.
    Reply share(const std::string& name, const std::string& bytes,
                const std::string& password = "null") const {
        const Reply created =
            api("POST", "/api/files", boot(), ticket(name, bytes.size(), password));
        put(str(created[u"uploadURL"]), bytes);
        return api("POST", "/api/files/" + str(created[u"id"]) + "/complete", boot());
    }
    // A new device's token and id.
    std::pair<std::string, std::string> connectDevice(const std::string& name) const {
        const Reply r = connect(m_server->newConnectionCode(), name);
        return {str(r[u"token"]), str(r[u"device"][u"id"])};
    }

private Q_SLOTS:
    void initTestCase() {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        QVERIFY(m_dir.isValid());
        m_server = std::make_unique<Server>(Options{dir("data")});
        std::string error;
        QVERIFY2(m_server->start(&error), error.c_str());
    }

    void cleanupTestCase() { m_server.reset(); }

    void init() {
        m_server->clearFaults();
        m_server->clearRequests();
    }

    void startWritesConnectionFileAndTrustedCertificate() {
        const std::string port = std::to_string(m_server->port());
        QCOMPARE(QJsonDocument::fromJson(
                     QByteArray::fromStdString(readFile(m_server->connectionFilePath())))
                     .object(),
                 (QJsonObject{{u"serverURL"_s, q("https://localhost:" + port)},
                              {u"token"_s, q(boot())}}));
        const Reply me = api("GET", "/api/me", boot());
        QCOMPARE(me[u"device"][u"id"].toString(), u"bootstrap"_s);
        QCOMPARE(me[u"maxFileSize"].toInteger(), 5000000000LL);

        // The curl program, as a user would check it, trusting only our CA.
        QProcess curl;
        curl.start(u"curl"_s, {u"-sS"_s, u"-o"_s, u"/dev/null"_s, u"-w"_s, u"%{http_code}"_s,
                               u"--cacert"_s, q(m_server->caPath().string()), q(url("/install"))});
        QVERIFY(curl.waitForFinished(30000));
        QCOMPARE(curl.readAllStandardOutput(), QByteArray("200"));

        // Stopping straight after starting must not leave the server thread
        // behind (it would hang here).
        for (int i = 0; i < 3; ++i)
            QVERIFY(Server(Options{dir("quick"), 0, false}).start());

        // A damaged state file stops the start with a readable reason.
        std::filesystem::create_directories(dir("damaged"));
        std::ofstream(dir("damaged") + "/state.json") << "{\"devices\": [";
        std::string error;
        QVERIFY(!Server(Options{dir("damaged")}).start(&error));
        QVERIFY2(error.find("state.json") != std::string::npos, error.c_str());
    }

    void connectionCodeWorksOnceAndExpires() {
        const std::string code = m_server->newConnectionCode();
        const Reply first = connect(code, "Studio Mac");
        QCOMPARE(first.status, 200L);
        QCOMPARE(str(first[u"serverURL"]), m_server->baseURL());
        QCOMPARE(first[u"device"][u"name"].toString(), u"Studio Mac"_s);
        QCOMPARE(api("GET", "/api/me", str(first[u"token"]))[u"device"], first[u"device"]);
        QCOMPARE(refusal(connect(code, "Studio Mac")), u"403 with text"_s);

        // Nine minutes on a code is fine; past ten it is refused.
        const std::string early = m_server->newConnectionCode();
        m_server->advanceClock(std::chrono::minutes(9));
        QCOMPARE(connect(early, "A").status, 200L);
        const std::string late = m_server->newConnectionCode();
        m_server->advanceClock(std::chrono::seconds(601));
        QCOMPARE(refusal(connect(late, "B")), u"403 with text"_s);

        // A code made through the API, with the server address alongside.
        const Reply pairing = api("POST", "/api/pairings", boot());
        QCOMPARE(str(pairing[u"serverURL"]), m_server->baseURL());
        QVERIFY(pairing[u"expiresAt"].isString());
        QCOMPARE(connect(str(pairing[u"code"]), "C").status, 200L);
    }

    void tokensAndRevocation() {
        const auto [token, id] = connectDevice("Laptop");
        QCOMPARE(api("GET", "/api/files", token).status, 200L);
        QVERIFY(idsOf(api("GET", "/api/devices", boot())[u"devices"]).contains(q(id)));

        const Reply revoke = api("DELETE", "/api/devices/" + id, boot());
        QCOMPARE(revoke.status, 204L);
        QVERIFY(revoke.body.empty());
        QCOMPARE(refusal(api("GET", "/api/me", token)), u"401 with text"_s);
        QCOMPARE(api("GET", "/api/me", boot()).status, 200L);
        QCOMPARE(api("DELETE", "/api/devices/" + id, boot()).status, 404L);

        // No header, an empty token, a wrong one: all refused.
        for (const Token& t : {Token(), Token(""), Token("x" + boot())})
            QCOMPARE(api("GET", "/api/me", t).status, 401L);
    }

    void uploadRun() {
        const std::string bytes = "0123456789";
        const Reply created = api("POST", "/api/files", boot(), ticket("notes one.txt", 10));
        const std::string id = str(created[u"id"]), uploadURL = str(created[u"uploadURL"]);
        QVERIFY(uploadURL.starts_with(m_server->baseURL() + "/"));

        // Too few bytes: the PUT itself succeeds, completion does not.
        QCOMPARE(put(uploadURL, "01234").status / 100, 2L);
        QCOMPARE(refusal(api("POST", "/api/files/" + id + "/complete", boot())),
                 u"400 with text"_s);
        QVERIFY(!idsOf(api("GET", "/api/files", boot())[u"files"]).contains(q(id)));

        QCOMPARE(put(uploadURL, bytes).status, 200L);
        QJsonObject file =
            api("POST", "/api/files/" + id + "/complete", boot())[u"file"].toObject();
        QVERIFY(file.take(u"createdAt").isString());
        QCOMPARE(file, (QJsonObject{{u"id"_s, q(id)},
                                    {u"name"_s, u"notes one.txt"_s},
                                    {u"size"_s, 10},
                                    {u"isProtected"_s, false},
                                    {u"url"_s, q(url("/s/" + id))}}));
        QCOMPARE(readFile(dir("data") + "/files/" + id), bytes);
        QCOMPARE(put(uploadURL, bytes).status, 404L); // the ticket is spent

        // A second, protected file comes first in the list.
        const Reply second = share("b.bin", "abc", "\"hunter2\"");
        QCOMPARE(second[u"file"][u"isProtected"], QJsonValue(true));
        const std::string secondID = str(second[u"file"][u"id"]);
        QCOMPARE(idsOf(api("GET", "/api/files", boot())[u"files"]).mid(0, 2),
                 (QStringList{q(secondID), q(id)}));

        // Share pages: a link for the open file, a form for the protected one.
        QCOMPARE(perform(*m_server, "GET", url("/s/" + id + "/download")).body, bytes);
        QVERIFY(perform(*m_server, "GET", url("/s/" + secondID)).body.find("type=\"password\"") !=
                std::string::npos);
        QCOMPARE(perform(*m_server, "GET", url("/s/" + secondID + "/download")).status, 403L);
        QCOMPARE(unlock(secondID, "wrong").status, 403L);
        QCOMPARE(unlock(secondID, "hunter2").body, "abc");

        // Deleting: 204, gone from the list, the page and the disk.
        QCOMPARE(api("DELETE", "/api/files/" + secondID, boot()).status, 204L);
        QVERIFY(!idsOf(api("GET", "/api/files", boot())[u"files"]).contains(q(secondID)));
        QCOMPARE(perform(*m_server, "GET", url("/s/" + secondID)).status, 404L);
        QVERIFY(!std::filesystem::exists(dir("data") + "/files/" + secondID));
    }

    void droppedConnectionsAndBarePosts() {
        m_server->injectFault("GET", "/api/devices", Fault::drop());
        const Reply dropped = api("GET", "/api/devices", boot());
        QVERIFY(dropped.code != CURLE_OK);
        QCOMPARE(dropped.status, 0L);
        // On a kept-alive connection too, although libcurl quietly repeats a
        // request whose reused connection died before any answer.
        {
            std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> kept(curl_easy_init(),
                                                                     curl_easy_cleanup);
            const auto again = [&] {
                return perform(*m_server, "GET", url("/api/me"), boot(), {}, {}, kept.get());
            };
            QCOMPARE(again().status, 200L);
            m_server->injectFault("GET", "/api/me", Fault::drop());
            QVERIFY(again().code != CURLE_OK);
            QCOMPARE(again().status, 200L);
        }

        // A bare POST (no Content-Length at all) has an empty body and is
        // answered at once, not after the server's read time-out.
        QCOMPARE(api("POST", "/api/pairings", boot()).status, 200L);
        QCOMPARE(api("GET", "/nowhere", boot()).status, 404L);
    }

    // Request bodies are JSON proper: escapes decoded, non-ASCII kept,
    // anything that is not one such object refused with a 400 and a text.
    void jsonBodies() {
        const Reply escaped = share(R"(caf\u00e9 \ud83d\ude00 \"q\" \\ \/.txt)", "x");
        QCOMPARE(escaped[u"file"][u"name"].toString(), u"café 😀 \"q\" \\ /.txt"_s);
        // Empty files complete without a PUT.
        const Reply coffee = api("POST", "/api/files", boot(), ticket("\xe2\x98\x95", 0));
        QCOMPARE(
            api("POST", "/api/files/" + str(coffee[u"id"]) + "/complete", boot())[u"file"][u"name"]
                .toString(),
            u"☕"_s);

        const std::string deep = std::string(5000, '[') + std::string(5000, ']');
        for (const std::string& bad :
             {ticket("a", 1) + " x", std::string("{\"name\":\"a"), std::string("[]"), std::string(),
              deep, ticket("\xe2\x98\x95\ttab", 0), // a raw tab inside a string is not JSON
              std::string(R"({"name":"a","size":1})"),
              std::string(R"({"name":"a","size":"10","password":null})"),
              std::string(R"({"name":"a","size":1.5,"password":null})"),
              std::string(R"({"name":"a","size":-1,"password":null})"),
              ticket("a", 1, "\"abc\"")}) {
            QVERIFY2(refusal(api("POST", "/api/files", boot(), bad)) == u"400 with text"_s,
                     bad.c_str());
        }
    }

    // Uploads from several threads at once, as from several computers: every
    // file arrives whole and is listed once.
    void concurrentUploads() {
        constexpr int count = 6;
        std::vector<Reply> done(count);
        {
            std::vector<std::jthread> threads;
            for (int i = 0; i < count; ++i)
                threads.emplace_back([&, i] {
                    done[i] =
                        share("c" + std::to_string(i), std::string(100000 + i, char('a' + i)));
                });
        }
        const QStringList listed = idsOf(api("GET", "/api/files", boot())[u"files"]);
        std::set<std::string> ids;
        for (int i = 0; i < count; ++i) {
            QCOMPARE(done[i].status, 200L);
            const std::string id = str(done[i][u"file"][u"id"]);
            QCOMPARE(readFile(dir("data") + "/files/" + id),
                     std::string(100000 + i, char('a' + i)));
            QCOMPARE(listed.count(q(id)), 1);
            ids.insert(id);
        }
        QCOMPARE(ids.size(), size_t(count));
    }

    // Last: restarts the server on the same data directory.
    void stateSurvivesRestart() {
        const auto [token, id] = connectDevice("Kept");
        const std::string fileID = str(share("kept.txt", "ok", "\"abcd\"")[u"file"][u"id"]);
        const std::string pending = m_server->newConnectionCode();
        const std::string ca = readFile(m_server->caPath()), bootstrap = boot();
        const QStringList before = idsOf(api("GET", "/api/files", boot())[u"files"]);
        QCOMPARE(before.value(0), q(fileID));

        m_server->stop();
        m_server = std::make_unique<Server>(Options{dir("data")});
        std::string error;
        QVERIFY2(m_server->start(&error), error.c_str());

        QCOMPARE(readFile(m_server->caPath()), ca);
        QCOMPARE(boot(), bootstrap);
        QCOMPARE(api("GET", "/api/me", token).status, 200L);
        QCOMPARE(idsOf(api("GET", "/api/files", boot())[u"files"]), before);
        QCOMPARE(unlock(fileID, "abcd").body, "ok");
        QCOMPARE(connect(pending, "Later").status, 200L);
    }
};

QTEST_GUILESS_MAIN(TestDevServer)
#include "tst_devserver.moc"
