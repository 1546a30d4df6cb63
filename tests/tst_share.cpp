// Screenshots and the clipboard: the real X clipboard (Xvfb, with xclip as
// the other application), the real portal client without a portal. A gated
// capture stands in for the portal only where a test must hold its answer back.

#include "model/ParvelModel.h"
#include "platform/ClipboardPasteboard.h"
#include "platform/PortalScreenshot.h"

#include <QBuffer>
#include <QClipboard>
#include <QDirIterator>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <QCoro/QCoroSignal>

using namespace Qt::StringLiterals;

namespace {

const QString waitText = u"Wait for the current upload, or cancel it first."_s;

class GatedCapture final : public QObject, public ScreenCapture {
    Q_OBJECT
public:
    QCoro::Task<Capture> take() override {
        co_await qCoro(this, &GatedCapture::released);
        co_return Capture(answer);
    }
    Capture answer;
Q_SIGNALS:
    void released();
};

QStringList filesUnder(const QString& folder) {
    QStringList found;
    for (QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        found.append(it.next());
    return found;
}

} // namespace

class ShareTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString cache() const { return m_dir.filePath(u"cache"_s); }
    std::unique_ptr<ParvelModel> makeModel(std::shared_ptr<ScreenCapture> capture = {}) {
        Services services;
        services.pasteboard = std::make_shared<ClipboardPasteboard>();
        services.screenshots = std::move(capture);
        services.cacheDir = cache();
        return std::make_unique<ParvelModel>(false, services);
    }

private Q_SLOTS:
    // Each clipboard replaces the selection (and removes what was made for
    // the one before); quitting removes what is left.
    void clipboardBecomesTheSelection() {
        QImage picture(37, 23, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        QByteArray png;
        QBuffer buffer(&png);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && picture.save(&buffer, "PNG"));
        const QUrl a = QUrl::fromLocalFile(m_dir.filePath(u"a b.txt"_s));
        const QUrl c = QUrl::fromLocalFile(m_dir.filePath(u"c.txt"_s));
        for (const QUrl& url : {a, c})
            QVERIFY(QFile(url.toLocalFile()).open(QIODevice::WriteOnly));
        const QByteArray uris = a.toEncoded() + "\r\nhttps://example.org/x\r\n" + c.toEncoded();
        const QRegularExpression madeName(
            u"^"_s + QRegularExpression::escape(cache()) +
            u"/Parvel/shared/[^/]+/Clipboard \\d{4}-\\d\\d-\\d\\d at \\d\\d\\.\\d\\d\\.\\d\\d\\.(png|txt)$"_s);

        const struct {
            QString target, seenAs; // what xclip offers, what Qt calls it
            QByteArray bytes;
        } cases[] = {{u"image/png"_s, u"image/png"_s, png},
                     {u"text/uri-list"_s, u"text/uri-list"_s, uris},
                     {u"UTF8_STRING"_s, u"text/plain"_s, "Grüße — 日本\nzweite Zeile"}};
        auto model = makeModel();
        QSignalSpy done(model.get(), &ParvelModel::sharingDone);
        QProcess owner;
        QString previous;
        for (const auto& row : cases) {
            owner.kill();
            owner.waitForFinished();
            owner.start(u"xclip"_s, {u"-quiet"_s, u"-selection"_s, u"clipboard"_s, u"-t"_s,
                                     row.target, u"-i"_s});
            owner.write(row.bytes);
            owner.closeWriteChannel();
            QTRY_VERIFY(QGuiApplication::clipboard()->mimeData()->formats().contains(row.seenAs));

            model->shareClipboard();
            QCOMPARE(model->error(), QString());
            QVERIFY(previous.isEmpty() || !QFile::exists(previous));
            previous = model->selected().front().toLocalFile();
            if (row.bytes == uris) {
                QCOMPARE(model->selected(), QList<QUrl>({a, c}));
                previous.clear();
                continue;
            }
            // A picture is decoded and encoded again: the same PNG here.
            QCOMPARE(model->selected().size(), 1);
            QVERIFY2(madeName.match(previous).hasMatch(), qPrintable(previous));
            QFile made(previous);
            QVERIFY(made.open(QIODevice::ReadOnly));
            QCOMPARE(made.readAll(), row.bytes);
        }

        QCOMPARE(done.count(), 3);

        // While an upload runs nothing is read or written.
        model->setIsUploading(true);
        model->shareClipboard();
        QCOMPARE(model->error(), waitText);
        QCOMPARE(filesUnder(cache()), QStringList({previous}));
        model->setIsUploading(false);

        // Nobody owns the clipboard: said so, and the selection stays.
        owner.kill();
        owner.waitForFinished();
        QTRY_VERIFY(QGuiApplication::clipboard()->mimeData()->formats().isEmpty());
        model->shareClipboard();
        QCOMPARE(model->error(), u"The clipboard is empty."_s);
        QCOMPARE(model->selected(), QList<QUrl>({QUrl::fromLocalFile(previous)}));

        model.reset();
        QCOMPARE(filesUnder(cache()), QStringList());
    }

    void screenshotOutcomes() {
        // The real portal client with no session bus: no portal.
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        auto model = makeModel(std::make_shared<PortalScreenshot>());
        model->setFiles({QUrl::fromLocalFile(m_dir.filePath(u"a b.txt"_s))}, false);
        const QList<QUrl> before = model->selected();
        QSignalSpy done(model.get(), &ParvelModel::sharingDone);
        model->shareScreenshot();
        QTRY_COMPARE(done.count(), 1);
        QCOMPARE(model->error(), u"Screenshots need the desktop portal."_s);
        QCOMPARE(model->selected(), before);

        // Cancelled in the portal: nothing changes. An upload that starts
        // while the desktop asks wins over the picture that comes after.
        const QString portalFile = m_dir.filePath(u"portal.png"_s);
        QImage(8, 6, QImage::Format_RGB32).save(portalFile);
        for (const auto outcome : {Capture::Outcome::Cancelled, Capture::Outcome::Taken}) {
            const bool taken = outcome == Capture::Outcome::Taken;
            auto capture = std::make_shared<GatedCapture>();
            capture->answer = {outcome, portalFile};
            model = makeModel(capture);
            model->setFiles(before, false);
            QSignalSpy spy(model.get(), &ParvelModel::sharingDone);
            const QPointer<TaskHandle> task = model->takeScreenshot();
            QVERIFY(task && !model->takeScreenshot()); // one at a time
            model->setIsUploading(taken);
            Q_EMIT capture->released();
            QTRY_VERIFY(!task || task->isFinished());
            QCOMPARE(spy.count(), taken ? 1 : 0);
            QCOMPARE(model->error(), taken ? waitText : QString());
            QCOMPARE(model->selected(), before);
            QCOMPARE(filesUnder(cache()), QStringList());
            QVERIFY(QFile::exists(portalFile));
        }
    }
};

QTEST_MAIN(ShareTest)
#include "tst_share.moc"
