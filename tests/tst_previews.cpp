// `parvel --render-previews` end to end: the executable as a user runs it,
// with nothing about the desktop in its environment.

#include "model/LocalIndex.h"
#include "net/Records.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class PreviewsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_scratch;

    // No display, no session bus, no platform choice: the mode picks its own.
    // Exit status (-1: crashed or hung), standard output, standard error.
    std::tuple<int, QString, QString> render(const QString& directory) const {
        QProcess process;
        process.setEnvironment({u"PATH="_s + qEnvironmentVariable("PATH"),
                                u"HOME="_s + m_scratch.filePath(u"home"_s),
                                u"XDG_DATA_HOME="_s + m_scratch.filePath(u"data"_s)});
        process.setWorkingDirectory(m_scratch.path());
        process.start(QStringLiteral(PARVEL_EXECUTABLE), {u"--render-previews"_s, directory});
        const bool exited =
            process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit;
        return {exited ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

private Q_SLOTS:
    void tenPicturesIntoNewFolders() {
        QCOMPARE(render(u"out/a/b"_s), std::tuple(0, u"Native views rendered.\n"_s, QString()));
        const QDir folder(m_scratch.filePath(u"out/a/b"_s));
        for (const QString& state :
             {u"selected"_s, u"protected"_s, u"empty"_s, u"uploading"_s, u"error"_s})
            for (const QString& appearance : {u"light"_s, u"dark"_s}) {
                const QImage picture(folder.filePath(u"parvel-%1-%2.png"_s.arg(state, appearance)));
                QCOMPARE(picture.size(), QSize(336, 560));
                // The chrome colour inside the popover's outline.
                QCOMPARE(picture.pixelColor(0, 0).name() + picture.pixelColor(1, 1).name(),
                         appearance == u"light"_s ? u"#e6e3db#e6e9ed"_s : u"#2a2820#161618"_s);
            }

        // A second run replaces the ten, and shows the local index's files.
        QVERIFY(LocalIndex::write(m_scratch.filePath(u"data"_s),
                                  {{u"f1"_s, u"report.pdf"_s, 1'200'000, false,
                                    u"2026-01-01T00:00:00Z"_s, u"https://example.org/s/f1"_s}}));
        const QImage before(folder.filePath(u"parvel-empty-light.png"_s));
        QCOMPARE(std::get<0>(render(u"out/a/b"_s)), 0);
        QVERIFY(QImage(folder.filePath(u"parvel-empty-light.png"_s)) != before);
        QCOMPARE(folder.entryList(QDir::Files).size(), 10);

        // A file where a folder should be: refused even to root, with the
        // mode's one line and nothing of Qt's own (no XDG_RUNTIME_DIR here).
        const auto [status, out, err] = render(u"out/a/b/parvel-error-dark.png/previews"_s);
        QCOMPARE(std::pair(status, out), std::pair(1, QString()));
        QVERIFY2(err.startsWith(u"Preview rendering failed: "_s) && err.count(u'\n') == 1 &&
                     err.endsWith(u'\n'),
                 qPrintable(err));
    }
};

QTEST_GUILESS_MAIN(PreviewsTest)
#include "tst_previews.moc"
