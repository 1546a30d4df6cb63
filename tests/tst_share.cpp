// Screenshots, the clipboard and QR codes: the real X clipboard (Xvfb, with
// xclip as the other application), the real portal client without a portal,
// QR codes read back with a real decoder (zbarimg). A gated capture stands in
// for the portal only where a test must hold its answer back.

#include "model/ParvelModel.h"
#include "platform/ClipboardPasteboard.h"
#include "platform/PortalScreenshot.h"

#include <QBuffer>
#include <QClipboard>
#include <QDirIterator>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
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
        picture.setPixel(3, 4, qRgb(250, 10, 20));
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
            QCOMPARE(done.count(), 1);
            done.clear();
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

    // The sheet's code reads back as the link, in both appearances and at
    // sizes that are no multiple of the module count; and it is crisp:
    // inside the plate only its two colours, never a blend. The sheet goes
    // with its window.
    void qrCodeReadsBackAsTheLink() {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        const QString shortLink = u"https://parvel.example/f/Zq81xk"_s;
        const QString longLink = u"https://files.example.org:8443/share/"_s + QString(60, u'k') +
                                 u"?download=1&name=Gr%C3%BC%C3%9Fe"_s;
        const struct {
            QString link;
            bool dark;
            int size;
        } cases[] = {{shortLink, false, 200},
                     {shortLink, true, 97},
                     {longLink, true, 200},
                     {longLink, false, 331}};
        auto model = makeModel();
        QQmlEngine engine;
        QQmlComponent component(&engine);
        component.setData("import QtQuick\nimport Parvel\nRectangle { id: root\n"
                          "  required property ParvelModel model; property bool dark\n"
                          "  property alias sheet: sheet; Palvo.dark: dark\n"
                          "  width: 336; height: 560; color: Palvo.chrome\n"
                          "  QrSheet { id: sheet; model: root.model } }",
                          QUrl(u"qr.qml"_s));
        const QString path = m_dir.filePath(u"qr.png"_s);
        for (const auto& row : cases) {
            std::unique_ptr<QObject> made(component.createWithInitialProperties(
                {{u"model"_s, QVariant::fromValue(model.get())}, {u"dark"_s, !row.dark}}));
            QVERIFY2(made, qPrintable(component.errorString()));
            QQuickWindow window;
            window.resize(336, 560);
            qobject_cast<QQuickItem*>(made.get())->setParentItem(window.contentItem());
            made->setProperty("dark", row.dark); // now that it has a window
            SharedFile file;
            file.url = row.link;
            window.show();
            auto* sheet = made->property("sheet").value<QObject*>();
            QMetaObject::invokeMethod(sheet, "show", Q_ARG(QVariant, QVariant::fromValue(file)));
            auto* code = made->findChild<QQuickItem*>(u"qrCode"_s);
            code->setProperty("implicitWidth", row.size);
            code->setProperty("implicitHeight", row.size);
            QTest::qWait(100);
            const QImage shot = window.grabWindow();
            QVERIFY(shot.save(path));
            QProcess zbar;
            zbar.start(u"zbarimg"_s,
                       {u"--quiet"_s, u"--raw"_s, u"-Sdisable"_s, u"-Sqrcode.enable"_s, path});
            QVERIFY(zbar.waitForFinished(20000));
            QCOMPARE(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(), row.link);

            QCOMPARE(code->width(), qreal(row.size));
            const QRect plate = code->mapRectToScene(QRectF(0, 0, row.size, row.size)).toRect();
            const int inset = row.size / 10; // clear of the plate's rounded corners
            QSet<QRgb> colours;
            for (int y = plate.top() + inset; y < plate.bottom() - inset; ++y)
                for (int x = plate.left() + inset; x < plate.right() - inset; ++x)
                    colours.insert(shot.pixel(x, y));
            QCOMPARE(colours, QSet<QRgb>({qRgb(0xff, 0xff, 0xff), qRgb(0x1a, 0x18, 0x14)}));
            window.hide();
            QVERIFY(!sheet->property("visible").toBool());
        }
    }
};

QTEST_MAIN(ShareTest)
#include "tst_share.moc"
