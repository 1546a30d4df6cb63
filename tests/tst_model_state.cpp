// The model's derived values (labels, the upload rule) and the local index
// writer.

#include "ModelFixture.h"

namespace {

SharedFile sample(const QString& id, const QString& name) {
    return {id, name, 1234, false, u"2024-05-01T10:00:00Z"_s, u"https://example.com/s/"_s + id};
}

} // namespace

class ModelStateTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    Services services() {
        Services s;
        s.store = std::make_shared<FolderStore>(m_dir.filePath(u"store"_s));
        s.applicationSupportDir = m_dir.filePath(u"data"_s);
        return s;
    }

private Q_SLOTS:
    void derivedValues() {
        ParvelModel model(false, services());
        QCOMPARE(model.selectedLabel(), u"0 files selected"_s);
        QCOMPARE(model.selectedSizeLabel(), u"Size unavailable"_s);
        model.setSelected({QUrl::fromLocalFile(u"/tmp/reports/Q3 report.final.pdf"_s)});
        QCOMPARE(model.selectedLabel(), u"Q3 report.final.pdf"_s);
        model.setSelectedBytes(0);
        QCOMPARE(model.selectedSizeLabel(), u"Zero KB"_s);

        const QString combining = u"e\u0301a\u0300o\u0308u\u0302"_s; // 4 clusters, 8 units
        const struct {
            const char* name;
            int selected;
            bool uploading, usePassword;
            QString password;
            bool expected;
        } rows[] = {
            {"nothing selected", 0, false, false, {}, false},
            {"uploading", 1, true, false, {}, false},
            {"no password, text ignored", 1, false, false, u"x"_s, true},
            {"3 characters", 1, false, true, u"abc"_s, false},
            {"4 characters, 2 files", 2, false, true, u"abcd"_s, true},
            {"256 characters", 1, false, true, QString(256, u'a'), true},
            {"257 characters", 1, false, true, QString(257, u'a'), false},
            {"four emoji", 1, false, true, u"😀👍🏽🇫🇷👨‍👩‍👧"_s, true},
            {"four combined letters", 1, false, true, combining, true},
            // Fewer clusters than code points or units: counting those accepts.
            {"three emoji", 1, false, true, u"😀👍🏽🇫🇷"_s, false},
            {"two combined letters", 1, false, true, combining.left(4), false},
            {"256 emoji", 1, false, true, u"😀"_s.repeated(256), true},
            {"spaces count, not trimmed", 1, false, true, u" ab "_s, true},
        };
        for (const auto& row : rows) {
            QList<QUrl> urls;
            for (int i = 0; i < row.selected; ++i)
                urls.append(QUrl::fromLocalFile(u"/tmp/f%1"_s.arg(i)));
            model.setSelected(urls);
            model.setIsUploading(row.uploading);
            model.setUsePassword(row.usePassword);
            model.setPassword(row.password);
            QVERIFY2(model.canUpload() == row.expected, row.name);
            if (row.selected == 2)
                QCOMPARE(model.selectedLabel(), u"2 files selected"_s);
        }
    }

    void indexWriter() {
        // Missing folders are made; the file is the encoded list, owner-only,
        // and each write replaces the whole file.
        const QString data = m_dir.filePath(u"share"_s);
        const QList<SharedFile> files = {sample(u"2"_s, u"Café crème.txt"_s),
                                         sample(u"1"_s, u"b"_s)};
        QVERIFY(LocalIndex::write(data, files));
        QCOMPARE(readAll(LocalIndex::path(data)), encode(files));
        QCOMPARE(QFile::permissions(LocalIndex::path(data)),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                     QFileDevice::WriteUser);
        QVERIFY(LocalIndex::write(data, {}));
        QCOMPARE(readAll(LocalIndex::path(data)), QByteArray("[]"));
        QVERIFY(!LocalIndex::write(QString(), files));
    }
};

QTEST_GUILESS_MAIN(ModelStateTest)
#include "tst_model_state.moc"
