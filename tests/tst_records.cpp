#include "net/Records.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
const QByteArray goodFile =
    R"({"id":"f1","name":"a.txt","size":12,"isProtected":false,"createdAt":"2026-01-02T03:04:05Z","url":"https://x.test/s/f1"})";
const QByteArray me =
    R"({"device":{"id":"d1","name":"Mac"},"owner":"o","version":"1","maxFileSize":5000000000})";

// The error text of a decode, empty when it is accepted.
template <class T> QString errorOf(const QByteArray& json) {
    const auto r = decode<T>(json);
    return r ? QString() : r.error().text;
}
} // namespace

#include "tst_records.h"

void RecordsTest::decoding() {
    // Each record whole, then without each of its keys in turn: all are required.
    const std::pair<QString (*)(const QByteArray&), QByteArray> records[] = {
        {errorOf<SharedFile>, goodFile},
        {errorOf<Device>, R"({"id":"d","name":"n"})"},
        {errorOf<Me>, me},
        {errorOf<FileList>, R"({"files":[]})"},
        {errorOf<FileResult>, "{\"file\":" + goodFile + "}"},
        {errorOf<UploadTicket>, R"({"id":"t","uploadURL":"https://h/u"})"},
        {errorOf<Connection>, R"({"serverURL":"https://h","token":"t"})"},
        {errorOf<ConnectionResult>,
         R"({"serverURL":"h","token":"t","device":{"id":"d","name":"n"}})"},
        {errorOf<Pairing>, R"({"code":"ABCD-1234","expiresAt":"in ten minutes","serverURL":"h"})"},
        {errorOf<DeviceList>, R"({"devices":[]})"},
        {errorOf<APIError>, R"({"error":""})"},
    };
    for (const auto& [errorFor, json] : records) {
        QCOMPARE(errorFor(json), QString());
        const QJsonObject whole = QJsonDocument::fromJson(json).object();
        for (const QString& key : whole.keys()) {
            QJsonObject cut = whole;
            cut.remove(key);
            QVERIFY(
                errorFor(QJsonDocument(cut).toJson()).endsWith(u": \"%1\" is missing"_s.arg(key)));
        }
    }

    const auto fileError = [](const char* from, const char* to) {
        return errorOf<SharedFile>(QByteArray(goodFile).replace(from, to));
    };
    const QString notInteger = u"SharedFile: \"size\" must be an integer"_s;
    const std::pair<QString, QString> rows[] = {
        {fileError(R"("url")", R"("extra":[1,{"a":null}],"url")"), {}},
        {fileError("12", R"("12")"), notInteger},
        {fileError("12", "9223372036854775808"), notInteger},
        {fileError("false", "0"), u"SharedFile: \"isProtected\" must be a boolean"_s},
        {fileError(R"("f1")", "null"), u"SharedFile: \"id\" must not be null"_s},
        {fileError(R"("id")", R"("ID")"), u"SharedFile: \"id\" is missing"_s},
        {errorOf<SharedFile>("[]"), u"SharedFile: expected a JSON object"_s},
        {errorOf<SharedFile>(goodFile + goodFile).left(38),
         u"SharedFile: the data is not valid JSON"_s},
        // The one optional key: absent (above), null or any text.
        {errorOf<Device>(R"({"id":"d","name":"n","createdAt":null})"), {}},
        {errorOf<Device>(R"({"id":"d","name":"n","createdAt":5})"),
         u"Device: \"createdAt\" must be a string"_s},
        {errorOf<Me>(QByteArray(me).replace(R"("d1")", "7")),
         u"Me: \"device\": Device: \"id\" must be a string"_s},
        // One bad element fails the whole list.
        {errorOf<FileList>("{\"files\":[" + goodFile + R"(,{"id":"x"}]})"),
         u"FileList: \"files\": element 1: SharedFile: \"name\" is missing"_s},
        // Only the pairing answer may be null; a plain Pairing never is.
        {errorOf<std::optional<Pairing>>(" null\n"), {}},
        {errorOf<std::optional<Pairing>>("{}"), u"Pairing: \"code\" is missing"_s},
        {errorOf<Pairing>("null"), u"Pairing: expected a JSON object"_s},
    };
    for (const auto& [error, expected] : rows)
        QCOMPARE(error, expected);
    QCOMPARE(decode<Me>(me)->maxFileSize, 5'000'000'000LL);
    QCOMPARE(decode<Device>(R"({"id":"d","name":"n","createdAt":"teatime"})")->createdAt,
             std::optional(u"teatime"_s));
}

void RecordsTest::roundTrips() {
    const QList<SharedFile> list{{u"id/1"_s, u"Grüße – ü/ß.txt"_s, 5'000'000'001LL, true,
                                  u"2026-12-05"_s, u"https://h/?x&y"_s}};
    // One line, UTF-8 rather than \u escapes, sizes beyond 32 bits.
    const QByteArray bytes =
        R"([{"createdAt":"2026-12-05","id":"id/1","isProtected":true,"name":"Grüße – ü/ß.txt","size":5000000001,"url":"https://h/?x&y"}])";
    QCOMPARE(encode(list), bytes);
    QCOMPARE(*decode<QList<SharedFile>>(bytes), list);
    QCOMPARE(encode(QList<SharedFile>{}), "[]"_ba);
    QCOMPARE(encode(Connection{u"https://h:8443/sub"_s, u"tök/en"_s}),
             R"({"serverURL":"https://h:8443/sub","token":"tök/en"})"_ba);
}

void RecordsTest::byteCounts() {
    QStringList texts;
    for (const qint64 bytes : {0LL, 1LL, 999LL, 1000LL, 1500LL, 999'499LL, 999'999LL, 1'500'000LL,
                               48'700'000LL, 5'000'000'000LL, 1'234'567'890LL, 2'000'000'000'000LL})
        texts.append(formatByteCount(bytes));
    QCOMPARE(texts.join(u'|'), u"Zero KB|1 byte|999 bytes|1 KB|2 KB|999 KB|1 MB|1.5 MB|48.7 MB|"
                               "5 GB|1.23 GB|2 TB"_s);
}

// Every cut and many damaged copies of a valid list, and deep nesting: a
// value or an error, never a crash.
void RecordsTest::hostileInputNeverCrashes() {
    const QByteArray list = "{\"files\":[" + goodFile + "," + goodFile + "]}";
    for (qsizetype at = 0; at < list.size(); ++at) {
        QVERIFY(!decode<FileList>(list.left(at)));
        for (const char c : {'\0', '"', '[', '}', '\xff'}) {
            const auto r = decode<FileList>(QByteArray(list).replace(at, 1, &c, 1));
            QVERIFY(r ? r->files.size() <= 2 : r.error().text.startsWith(u"FileList: "_s));
        }
    }
    const int depth = 100000;
    QVERIFY(!decode<FileList>(QByteArray(depth, '[') + QByteArray(depth, ']')));
    (void)decode<FileList>(QByteArray("{\"files\":").repeated(depth) + "[]" +
                           QByteArray(depth, '}'));
}

QTEST_GUILESS_MAIN(RecordsTest)
