// The model's derived values (labels, the upload rule) and the local index
// writer.

#include "ModelFixture.h"

class ModelStateTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void derivedValues() {
        ParvelModel model(false, Services{});
        QCOMPARE((QStringList{model.selectedLabel(), model.selectedSizeLabel()}),
                 lines("0 files selected|Size unavailable"));
        QVERIFY(!model.canUpload());
        model.setSelected({QUrl::fromLocalFile(u"/tmp/reports/Q3 report.final.pdf"_s)});
        model.setSelectedBytes(0);
        QCOMPARE((QStringList{model.selectedLabel(), model.selectedSizeLabel()}),
                 lines("Q3 report.final.pdf|Zero KB"));
        model.setSelected({QUrl::fromLocalFile(u"/tmp/a"_s), QUrl::fromLocalFile(u"/tmp/b"_s)});
        QCOMPARE(model.selectedLabel(), u"2 files selected"_s);

        // 4 to 256 user-perceived characters, spaces included: fewer clusters
        // than code points or units, and counting those would accept.
        const QString combining = u"e\u0301a\u0300o\u0308u\u0302"_s; // 4 clusters, 8 units
        const auto accepts = [&](const QString& password) {
            model.setPassword(password);
            return model.canUpload();
        };
        model.setUsePassword(true);
        for (const QString& good :
             {u"abcd"_s, QString(256, u'a'), u"😀👍🏽🇫🇷👨‍👩‍👧"_s, combining,
              u"😀"_s.repeated(256), u" ab "_s})
            QVERIFY2(accepts(good), qPrintable(good.left(8)));
        for (const QString& bad :
             {u"abc"_s, QString(257, u'a'), u"😀👍🏽🇫🇷"_s, combining.left(4)})
            QVERIFY2(!accepts(bad), qPrintable(bad.left(8)));
        model.setUsePassword(false); // the refused text no longer counts
        QVERIFY(model.canUpload());
        model.setIsUploading(true);
        QVERIFY(!model.canUpload());
    }

    void indexWriter() {
        // Missing folders are made; the file is the encoded list, owner-only,
        // and each write replaces the whole file.
        const QString data = m_dir.filePath(u"share"_s);
        const QList<SharedFile> files = {{u"2"_s, u"Café crème.txt"_s, 1234, true,
                                          u"2024-05-01T10:00:00Z"_s, u"https://e/s/2"_s}};
        QVERIFY(LocalIndex::write(data, files));
        QCOMPARE(readAll(LocalIndex::path(data)), encode(files));
        QCOMPARE(QFile::permissions(LocalIndex::path(data)),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QVERIFY(LocalIndex::write(data, {}));
        QCOMPARE(readAll(LocalIndex::path(data)), QByteArray("[]"));
        QVERIFY(!LocalIndex::write(QString(), files));
    }
};

QTEST_GUILESS_MAIN(ModelStateTest)
#include "tst_model_state.moc"
