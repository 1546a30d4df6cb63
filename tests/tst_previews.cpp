// `parvel --render-previews` end to end: the executable as a user runs it,
// with nothing about the desktop in its environment.

#include "model/LocalIndex.h"
#include "net/Records.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Outcome {
    int status = -1;
    QString out, err;
};

// The mode's one line, and nothing of Qt's own (no XDG_RUNTIME_DIR here).
bool failureLine(const QString& text) {
    return text.startsWith(u"Preview rendering failed: "_s) && text.count(u'\n') == 1 &&
           text.endsWith(u'\n');
}

const QStringList states{u"selected"_s, u"protected"_s, u"empty"_s, u"uploading"_s, u"error"_s};

} // namespace

class PreviewsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_scratch;

    // No display, no session bus, no platform choice: the mode picks its own.
    Outcome render(const QString& directory) const {
        QProcessEnvironment env;
        env.insert(u"PATH"_s, qEnvironmentVariable("PATH"));
        env.insert(u"HOME"_s, m_scratch.filePath(u"home"_s));
        env.insert(u"XDG_DATA_HOME"_s, m_scratch.filePath(u"data"_s));
        QProcess process;
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(m_scratch.path());
        process.start(QStringLiteral(PARVEL_EXECUTABLE), {u"--render-previews"_s, directory});
        if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit)
            return {};
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

private Q_SLOTS:
    void tenPicturesIntoNewFolders() {
        const Outcome first = render(u"out/a/b"_s);
        QCOMPARE(first.status, 0);
        QCOMPARE(std::pair(first.out, first.err),
                 std::pair(u"Native views rendered.\n"_s, QString()));
        const QDir out(m_scratch.filePath(u"out/a/b"_s));
        QCOMPARE(out.entryList(QDir::Files).size(), 10);
        for (const QString& state : states)
            for (const QString& appearance : {u"light"_s, u"dark"_s}) {
                const QImage picture(out.filePath(u"parvel-%1-%2.png"_s.arg(state, appearance)));
                QCOMPARE(picture.size(), QSize(336, 560));
                // The chrome colour inside the popover's outline.
                QCOMPARE(picture.pixelColor(0, 0).name() + picture.pixelColor(1, 1).name(),
                         appearance == u"light"_s ? u"#e6e3db#e6e9ed"_s : u"#2a2820#161618"_s);
            }

        // A second run replaces them, and shows the files of the local index.
        const SharedFile file{
            u"f1"_s, u"quarterly-report.pdf"_s, 1'200'000,
            false,   u"2026-01-01T00:00:00Z"_s, u"https://files.example.org/s/f1"_s};
        QVERIFY(LocalIndex::write(m_scratch.filePath(u"data"_s), {file}));
        const QString empty = out.filePath(u"parvel-empty-light.png"_s);
        const QImage before(empty);
        QCOMPARE(render(u"out/a/b"_s).status, 0);
        QVERIFY(QImage(empty) != before);
        QCOMPARE(out.entryList(QDir::Files).size(), 10);
    }

    void unwritableFolder() {
        // A file where a folder should be; refused even to root, unlike modes.
        QVERIFY(QFile(m_scratch.filePath(u"blocker"_s)).open(QIODevice::WriteOnly));
        const Outcome outcome = render(u"blocker/previews"_s);
        QCOMPARE(outcome.status, 1);
        QVERIFY2(failureLine(outcome.err), qPrintable(outcome.err));
        QVERIFY(outcome.out.isEmpty());
    }
};

QTEST_GUILESS_MAIN(PreviewsTest)
#include "tst_previews.moc"
