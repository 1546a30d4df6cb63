// The dev server over real TLS on loopback, driven with libcurl as any client
// would drive it: codes, tokens, the upload run, share pages and a restart.

#include "devserver/DevServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <curl/curl.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>

using namespace devserver;
using namespace Qt::StringLiterals;
using Token = std::optional<std::string>;

namespace {

struct Reply {
    long status = 0;
    std::string body;

    QJsonValue operator[](QStringView key) const {
        return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object().value(key);
    }
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

Reply perform(const Server& server, const std::string& method, const std::string& url,
              const Token& token = {}, const std::optional<std::string>& body = {},
              const std::string& type = "application/json") {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    Reply reply;
    const std::string ca = server.caPath().string();
    curl_slist* headers = nullptr;
    if (token)
        headers = curl_slist_append(headers, ("Authorization: Bearer " + *token).c_str());
    if (body) {
        headers = curl_slist_append(headers, ("Content-Type: " + type).c_str());
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE, long(body->size()));
        curl_easy_setopt(curl.get(), CURLOPT_COPYPOSTFIELDS, body->c_str());
    }
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, method.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl.get(), CURLOPT_CAINFO, ca.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &reply.body);
    curl_easy_perform(curl.get());
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &reply.status);
    curl_slist_free_all(headers);
    return reply;
}

std::string ticket(const std::string& name, size_t size, const std::string& password = "null") {
    return "{\"name\":\"" + name + "\",\"size\":" + std::to_string(size) +
           ",\"password\":" + password + "}";
}

// JSON written with ' for " to stay readable here.
std::string dq(std::string text) {
    std::ranges::replace(text, '\'', '"');
    return text;
}

std::string readFile(const std::filesystem::path& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// The status, and whether an APIError text came with it.
QString refusal(const Reply& r) {
    return QString::number(r.status) +
           (r[u"error"].toString().isEmpty() ? u" without text"_s : u" with text"_s);
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
    Reply get(const std::string& path) const { return perform(*m_server, "GET", url(path)); }
    Reply put(const std::string& uploadURL, const std::string& bytes) const {
        return perform(*m_server, "PUT", uploadURL, {}, bytes, "application/octet-stream");
    }
    Reply connect(const std::string& code, const std::string& name) const {
        return api("POST", "/api/connect", "",
                   "{\"code\":\"" + code + "\",\"name\":\"" + name + "\"}");
    }
    QStringList listed() const {
        QStringList ids;
        for (const QJsonValue& file : api("GET", "/api/files", boot())[u"files"].toArray())
            ids.append(file[u"id"].toString());
        return ids;
    }
    // Ticket, bytes and completion; the completion's reply.
    Reply share(const std::string& name, const std::string& bytes,
                const std::string& password = "null") const {
        const Reply created =
            api("POST", "/api/files", boot(), ticket(name, bytes.size(), password));
        put(str(created[u"uploadURL"]), bytes);
        return api("POST", "/api/files/" + str(created[u"id"]) + "/complete", boot());
    }
    bool restart(const char* data, std::string* error = nullptr) {
        m_server.reset();
        m_server = std::make_unique<Server>(Options{dir(data)});
        return m_server->start(error);
    }

private Q_SLOTS:
    void initTestCase() {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        QVERIFY(m_dir.isValid());
        std::string error;
        QVERIFY2(restart("data", &error), error.c_str());
    }

    // Stopping straight after starting must not leave the server thread behind.
    void startsAndServesInstaller() {
        QCOMPARE(get("/install").status, 200L);
        QVERIFY(Server(Options{dir("quick"), 0, false}).start());
    }

    void connectionCodeWorksOnceAndExpires() {
        const std::string code = m_server->newConnectionCode();
        const Reply first = connect(code, "Studio Mac");
        QCOMPARE(first[u"device"][u"name"].toString(), u"Studio Mac"_s);
        QCOMPARE(api("GET", "/api/me", str(first[u"token"]))[u"device"], first[u"device"]);
        QCOMPARE(refusal(connect(code, "Studio Mac")), u"403 with text"_s);

        const std::string early = m_server->newConnectionCode();
        m_server->advanceClock(std::chrono::minutes(9));
        QCOMPARE(connect(early, "A").status, 200L);
        const std::string late = m_server->newConnectionCode();
        m_server->advanceClock(std::chrono::seconds(601));
        QCOMPARE(refusal(connect(late, "B")), u"403 with text"_s);

        const Reply pairing = api("POST", "/api/pairings", boot());
        QCOMPARE(connect(str(pairing[u"code"]), "C").status, 200L);
    }

    // Revoking is driven through the model in tst_model_actions.
    void tokensAreExact() {
        for (const Token& t : {Token(), Token(""), Token("x" + boot()), Token(boot() + "x")})
            QCOMPARE(refusal(api("GET", "/api/me", t)), u"401 with text"_s);
    }

    void uploadRunAndSharePages() {
        const Reply created = api("POST", "/api/files", boot(), ticket("notes one.txt", 10));
        const std::string id = str(created[u"id"]), uploadURL = str(created[u"uploadURL"]);
        const std::string complete = "/api/files/" + id + "/complete";

        // Too few bytes: the PUT itself succeeds, completion does not.
        QCOMPARE(put(uploadURL, "01234").status / 100, 2L);
        QCOMPARE(refusal(api("POST", complete, boot())), u"400 with text"_s);
        QVERIFY(!listed().contains(q(id)));

        QCOMPARE(put(uploadURL, "0123456789").status, 200L);
        QCOMPARE(str(api("POST", complete, boot())[u"file"][u"url"]), url("/s/" + id));
        QCOMPARE(readFile(dir("data") + "/files/" + id), "0123456789");
        QCOMPARE(put(uploadURL, "0123456789").status, 404L);
        QCOMPARE(get("/s/" + id + "/download").body, "0123456789");

        const std::string locked = str(share("b.bin", "abc", "\"hunter2\"")[u"file"][u"id"]);
        QCOMPARE(get("/s/" + locked + "/download").status, 403L);
        QCOMPARE(perform(*m_server, "POST", url("/s/" + locked), {}, "password=hunter2",
                         "application/x-www-form-urlencoded")
                     .body,
                 "abc");
        QCOMPARE(api("DELETE", "/api/files/" + locked, boot()).status, 204L);
        QCOMPARE(get("/s/" + locked).status, 404L);
        QVERIFY(!std::filesystem::exists(dir("data") + "/files/" + locked));
    }

    // The answer's exact bytes (key order, integers, UTF-8 unescaped), the first
    // of repeated keys, and bodies that must be refused with a text, not thrown on.
    void requestBodiesAndWireFormat() {
        const Reply created =
            api("POST", "/api/files", boot(),
                dq("{'x':{'name':0},'name':'Grüße \\u00e9\\t.txt','size':3,'password':null,"
                   "'name':'second','size':'x','password':'secret'}"));
        const std::string id = str(created[u"id"]), uploadURL = str(created[u"uploadURL"]);
        QCOMPARE(q(created.body), q(dq("{'id':'" + id + "','uploadURL':'" + uploadURL + "'}")));
        put(uploadURL, "abc");
        const Reply done = api("POST", "/api/files/" + id + "/complete", boot());
        QCOMPARE(q(done.body),
                 q(dq("{'file':{'id':'" + id +
                      "','name':'Grüße é\\t.txt','size':3,'isProtected':false,'createdAt':'" +
                      str(done[u"file"][u"createdAt"]) + "','url':'" + url("/s/" + id) + "'}}")));

        const std::string notObject = "The request body must be a JSON object.";
        const std::string notInteger = "\"size\" must be an integer.";
        const auto withSize = [](const std::string& size) {
            return dq("{'name':'a','size':" + size + ",'password':null}");
        };
        const std::pair<std::string, std::string> refused[] = {
            {withSize("9223372036854775808"), notInteger},
            {withSize("-1"), "The file size must not be negative."},
            {withSize("9007199254740993"),
             "This file is larger than 5 GB, the most this server accepts."},
            {ticket("\xff", 1), notObject},
            {ticket("a", 1) + "x", notObject},
            {"[]", notObject},
            {std::string(100000, '['), notObject},
        };
        for (const auto& [body, text] : refused) {
            const Reply r = api("POST", "/api/files", boot(), body);
            QCOMPARE(q(std::to_string(r.status) + ' ' + str(r[u"error"])), q("400 " + text));
        }
    }

    // Last: restarts the server on the same data directory.
    void stateSurvivesRestart() {
        const std::string token = str(connect(m_server->newConnectionCode(), "Kept")[u"token"]);
        const std::string fileID = str(share("kept.txt", "ok")[u"file"][u"id"]);
        const std::string pending = m_server->newConnectionCode();
        const std::string ca = readFile(m_server->caPath()), bootstrap = boot();
        const QStringList before = listed();
        QCOMPARE(before.value(0), q(fileID));

        std::string error;
        QVERIFY2(restart("data", &error), error.c_str());
        QCOMPARE(readFile(m_server->caPath()), ca);
        QCOMPARE(boot(), bootstrap);
        QCOMPARE(api("GET", "/api/me", token).status, 200L);
        QCOMPARE(listed(), before);
        QCOMPARE(get("/s/" + fileID + "/download").body, "ok");
        QCOMPARE(connect(pending, "Later").status, 200L);
    }
};

QTEST_GUILESS_MAIN(TestDevServer)
#include "tst_devserver.moc"
