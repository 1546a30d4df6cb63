// What the other suites and scripts/demo rely on from the dev server and do not
// check themselves, driven with libcurl over real TLS on loopback: the records
// it answers with, refused tokens, fault switches and the share pages.

#include "devserver/DevServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <curl/curl.h>

#include <algorithm>

using namespace devserver;
using namespace Qt::StringLiterals;
using Token = std::optional<std::string>;

namespace {

struct Reply {
    long status = 0;
    std::string body;

    // The text under a key of the JSON body; "file/id" looks into "file".
    std::string operator[](const QString& path) const {
        QJsonValue value = QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
        for (const QString& key : path.split(u'/'))
            value = value[key];
        return value.toString().toStdString();
    }
};

// JSON with ' for ": moc cannot read raw string literals.
std::string dq(std::string json) {
    std::ranges::replace(json, '\'', '"');
    return json;
}

} // namespace

class TestDevServer : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    Server m_server{Options{m_dir.filePath(u"data"_s).toStdString()}};

    // A request to a path on the server, or to a whole address.
    Reply api(const std::string& method, const std::string& to,
              const std::optional<std::string>& body = {},
              std::optional<Token> token = {}) const { // none: the bootstrap token
        CURL* curl = curl_easy_init();
        Reply reply;
        curl_slist* headers = nullptr;
        if (const Token t = token.value_or(m_server.bootstrapToken()))
            headers = curl_slist_append(headers, ("Authorization: Bearer " + *t).c_str());
        if (body) // text only: its length is that of the C string
            curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, body->c_str());
        curl_easy_setopt(curl, CURLOPT_URL, (to[0] == '/' ? m_server.baseURL() + to : to).c_str());
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_CAINFO, m_server.caPath().c_str());
        curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
        curl_easy_setopt(
            curl, CURLOPT_WRITEFUNCTION, +[](char* data, size_t, size_t n, void* to) {
                static_cast<std::string*>(to)->append(data, n);
                return n;
            });
        curl_easy_perform(curl);
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
        curl_slist_free_all(headers);
        curl_easy_cleanup(curl);
        return reply;
    }
    // Ticket, bytes and completion; the new file's id.
    std::string share(const std::string& name, const std::string& bytes,
                      const std::string& password = "null") const {
        const std::string size = std::to_string(bytes.size());
        const Reply created =
            api("POST", "/api/files",
                dq("{'name':'" + name + "','size':" + size + ",'password':" + password + "}"));
        api("PUT", created[u"uploadURL"_s], bytes);
        return api("POST", "/api/files/" + created[u"id"_s] + "/complete")[u"file/id"_s];
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }

    // The exact bytes the client's strict decoders read: key order, integers,
    // UTF-8 unescaped, the link under the server's own address. Tokens match
    // exactly, and a refusal carries a text.
    void recordsAndTokens() {
        const Reply created =
            api("POST", "/api/files", dq("{'name':'Grüße é\\t.txt','size':3,'password':null}"));
        const std::string id = created[u"id"_s], uploadURL = created[u"uploadURL"_s];
        QCOMPARE(created.body, dq("{'id':'" + id + "','uploadURL':'" + uploadURL + "'}"));
        api("PUT", uploadURL, "abc");
        const Reply done = api("POST", "/api/files/" + id + "/complete");
        QCOMPARE(done.body,
                 dq("{'file':{'id':'" + id +
                    "','name':'Grüße é\\t.txt','size':3,'isProtected':false,'createdAt':'" +
                    done[u"file/createdAt"_s] + "','url':'" + m_server.baseURL() + "/s/" + id +
                    "'}}"));

        const std::string boot = m_server.bootstrapToken();
        for (const Token& t : {Token(), Token(""), Token("x" + boot), Token(boot + "x")}) {
            const Reply refused = api("GET", "/api/me", {}, t);
            QVERIFY(refused.status == 401 && !refused[u"error"_s].empty());
        }
    }

    // Faults the other suites inject: each serves `times` requests (0: until
    // cleared); a path ending in "*" is a prefix.
    void faultSwitches() {
        m_server.injectFault("GET", "/api/me", Fault::withStatus(503, {}), 2);
        m_server.injectFault("GET", "/api/f*", Fault::withStatus(500, {}), 0);
        std::string seen;
        for (const char* path : {"/api/me", "/api/me", "/api/me", "/api/files", "/api/files"})
            seen += std::to_string(api("GET", path).status) + ' ';
        m_server.clearFaults();
        QCOMPARE(seen + std::to_string(api("GET", "/api/files").status), "503 503 200 500 500 200");
    }

    // What scripts/demo fetches: the installer, a share page and its
    // download; a protected share only after its password.
    void sharePages() {
        QCOMPARE(api("GET", "/install").status, 200L);
        const std::string open = share("a.txt", "0123456789");
        QCOMPARE(api("GET", "/s/" + open).status, 200L);
        QCOMPARE(api("GET", "/s/" + open + "/download").body, "0123456789");

        const std::string locked = share("b.bin", "abc", "'hunter2'");
        QCOMPARE(api("GET", "/s/" + locked + "/download").status, 403L);
        QCOMPARE(api("POST", "/s/" + locked, "password=hunter2").body, "abc"); // a form
    }
};

QTEST_GUILESS_MAIN(TestDevServer)
#include "tst_devserver.moc"
