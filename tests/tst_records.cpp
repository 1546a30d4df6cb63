#include "net/Error.h"
#include "net/Records.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
const QByteArray goodFile =
    R"({"id":"f1","name":"a.txt","size":12,"isProtected":false,"createdAt":"2026-01-02T03:04:05Z","url":"https://x.test/s/f1"})";
}

#include "tst_records.h"

// The error text of a decode, empty when it is accepted.
template <class T> QString errorOf(const QByteArray& json) {
    const auto r = decode<T>(json);
    return r ? QString() : r.error().text;
}

void RecordsTest::decoding() {
    const auto edited = [](const char* from, const char* to) {
        return QByteArray(goodFile).replace(from, to);
    };
    const QString notInteger = u"SharedFile: \"size\" must be an integer"_s;
    const QByteArray me =
        R"({"device":{"id":"d1","name":"Mac"},"owner":"o","version":"1","maxFileSize":5000000000})";
    const auto without = [&me](const char* key) {
        QJsonObject o = QJsonDocument::fromJson(me).object();
        o.remove(QLatin1StringView(key));
        return QJsonDocument(o).toJson();
    };
    const std::pair<QString, QString> rows[] = {
        {errorOf<SharedFile>(goodFile), {}},
        {errorOf<SharedFile>(edited(R"("url")", R"("extra":[1,{"a":null}],"url")")), {}},
        {errorOf<SharedFile>(edited(R"("size":12)", R"("size":"12")")), notInteger},
        {errorOf<SharedFile>(edited(R"("size":12)", R"("size":1.5)")), notInteger},
        {errorOf<SharedFile>(edited(R"("size":12)", R"("size":9223372036854775808)")), notInteger},
        {errorOf<SharedFile>(edited("false", "0")),
         u"SharedFile: \"isProtected\" must be a boolean"_s},
        {errorOf<SharedFile>(edited(R"("f1")", "null")), u"SharedFile: \"id\" must not be null"_s},
        {errorOf<SharedFile>(edited(R"(,"url":"https://x.test/s/f1")", "")),
         u"SharedFile: \"url\" is missing"_s},
        {errorOf<SharedFile>(edited(R"("id")", R"("ID")")), u"SharedFile: \"id\" is missing"_s},
        {errorOf<SharedFile>("[]"), u"SharedFile: expected a JSON object"_s},
        {errorOf<SharedFile>(goodFile + goodFile).left(38),
         u"SharedFile: the data is not valid JSON"_s},
        // Device: createdAt absent, null or any text.
        {errorOf<Device>(R"({"id":"d","name":"n"})"), {}},
        {errorOf<Device>(R"({"id":"d","name":"n","createdAt":null})"), {}},
        {errorOf<Device>(R"({"id":"d","name":"n","createdAt":5})"),
         u"Device: \"createdAt\" must be a string"_s},
        // Me: every key is required although only the device id is used.
        {errorOf<Me>(me), {}},
        {errorOf<Me>(without("device")), u"Me: \"device\" is missing"_s},
        {errorOf<Me>(without("maxFileSize")), u"Me: \"maxFileSize\" is missing"_s},
        {errorOf<Me>(QByteArray(me).replace(R"("d1")", "7")),
         u"Me: \"device\": Device: \"id\" must be a string"_s},
        // Lists: empty is fine, absent is not, one bad element fails the whole list.
        {errorOf<FileList>(R"({"files":[]})"), {}},
        {errorOf<FileList>("{}"), u"FileList: \"files\" is missing"_s},
        {errorOf<FileList>("{\"files\":[" + goodFile + R"(,{"id":"x"}]})"),
         u"FileList: \"files\": element 1: SharedFile: \"name\" is missing"_s},
        // Only the pairing answer may be null; a plain Pairing never is.
        {errorOf<std::optional<Pairing>>(" null\n"), {}},
        {errorOf<std::optional<Pairing>>(
             R"({"code":"ABCD-1234","expiresAt":"in ten minutes","serverURL":"https://h"})"),
         {}},
    };
    for (const auto& [error, expected] : rows)
        QCOMPARE(error, expected);
    // Refused, whatever the text says.
    QVERIFY(!decode<std::optional<Pairing>>("{}") && !decode<Pairing>("null"));
    QVERIFY(!decode<ConnectionResult>(R"({"serverURL":"https://h","token":"t"})"));
    QCOMPARE(decode<Me>(me)->maxFileSize, 5'000'000'000LL);
    QCOMPARE(*decode<Device>(R"({"id":"d","name":"n","createdAt":"teatime"})")->createdAt,
             u"teatime"_s);
}

void RecordsTest::roundTrips() {
    SharedFile file{u"id/1"_s, u"Grüße – ünïcode/slash.txt"_s,     5'000'000'001LL,
                    true,      u"2026-12-05T14:47:00.123+01:00"_s, u"https://h/s/id/1?x=1&y=2"_s};
    const QByteArray bytes = encode(file);
    QVERIFY(!bytes.contains('\n'));
    QVERIFY(bytes.contains("Grüße")); // UTF-8, not \u escapes
    QVERIFY(bytes.contains("5000000001"));
    QCOMPARE(*decode<SharedFile>(bytes), file);

    const QList<SharedFile> list{file, SharedFile{u"b"_s, u"b"_s, 0, false, u"c"_s, u"u"_s}};
    QCOMPARE(*decode<QList<SharedFile>>(encode(list)), list);
    QCOMPARE(encode(QList<SharedFile>{}), "[]"_ba);

    const Connection c{u"https://h:8443/sub"_s, u"tök/en"_s};
    const QByteArray cb = encode(c);
    QCOMPARE(QJsonDocument::fromJson(cb).object().size(), 2);
    QCOMPARE(*decode<Connection>(cb), c);
}

void RecordsTest::byteCounts() {
    QStringList texts;
    for (const qint64 bytes : {0LL, 1LL, 999LL, 1000LL, 1500LL, 999'499LL, 999'999LL, 1'500'000LL,
                               48'700'000LL, 5'000'000'000LL, 1'234'567'890LL, 2'000'000'000'000LL})
        texts.append(formatByteCount(bytes));
    QCOMPARE(texts.join(u'|'), u"Zero KB|1 byte|999 bytes|1 KB|2 KB|999 KB|1 MB|1.5 MB|48.7 MB|"
                               "5 GB|1.23 GB|2 TB"_s);
}

// Random, truncated and deeply nested input: always a value or an error.
void RecordsTest::hostileInputNeverCrashes() {
    QRandomGenerator rng(20261205);
    const QByteArray seed = "{\"files\":[" + goodFile + "," + goodFile + "]}";
    for (int round = 0; round < 3000; ++round) {
        QByteArray input = seed;
        const int edits = int(rng.bounded(1, 8));
        for (int e = 0; e < edits; ++e) {
            const int at = int(rng.bounded(input.size() + 1));
            if (const int kind = int(rng.bounded(4)); kind == 0)
                input.truncate(at);
            else if (kind == 1 && at < input.size())
                input[at] = char(rng.bounded(256));
            else if (kind == 2)
                input.insert(at, "{[\"\\u0000\":-1e999,null]}"_ba.mid(int(rng.bounded(20)), 3));
            else if (kind == 3)
                input.remove(at, int(rng.bounded(5)));
        }
        const auto list = decode<FileList>(input);
        if (list)
            QVERIFY(list->files.size() <= 2);
        else
            QVERIFY(list.error().text.startsWith(u"FileList: "_s));
        (void)decode<std::optional<Pairing>>(input);
        (void)decode<QList<SharedFile>>(input);
    }
    for (int depth : {10, 2000, 100000}) {
        const QByteArray nested = QByteArray(depth, '[') + QByteArray(depth, ']');
        QVERIFY(!decode<FileList>(nested));
        const QByteArray objects =
            QByteArray("{\"files\":").repeated(depth) + "[]" + QByteArray(depth, '}');
        QVERIFY(depth > 1 || decode<FileList>(objects));
        (void)decode<FileList>(objects);
    }
}

QTEST_GUILESS_MAIN(RecordsTest)
