// Screenshots, the clipboard and QR codes: the real X clipboard (Xvfb, with
// xclip as the other application), the real portal client without a portal,
// and QR codes read back with a real decoder (zbarimg). A gated capture
// stands in for the portal only where a test must hold its answer back.

#include "model/ParvelModel.h"
#include "platform/ClipboardPasteboard.h"
#include "platform/PortalScreenshot.h"

#include <QBuffer>
#include <QClipboard>
#include <QDirIterator>
#include <QGuiApplication>
#include <QImage>
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

// Every file under `folder`.
QStringList filesUnder(const QString& folder) {
    QStringList found;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(it.next());
    return found;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
    void clipboardBecomesTheSelection() {
        QImage picture(37, 23, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        picture.setPixel(3, 4, qRgb(250, 10, 20));
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "PNG");
        const QString a = m_dir.filePath(u"a b.txt"_s), c = m_dir.filePath(u"c.txt"_s);
        for (const QString& path : {a, c}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QByteArray text = "Grüße — 日本\nzweite Zeile";
        const QByteArray uris = QUrl::fromLocalFile(a).toEncoded() +
                                "\r\nhttps://example.org/x\r\n" +
                                QUrl::fromLocalFile(c).toEncoded() + "\r\n";
        const QRegularExpression madeName(
            u"^Clipboard \\d{4}-\\d\\d-\\d\\d at \\d\\d\\.\\d\\d\\.\\d\\d\\.(png|txt)$"_s);

        struct Case {
            const char* target;
            QByteArray bytes;
            const char* extension; // of the made file; none: the files on the clipboard
        };
        const Case cases[] = {{"image/png", png, "png"},
                              {"UTF8_STRING", text, "txt"},
                              {"text/uri-list", uris, nullptr},
                              {"UTF8_STRING", text, "txt"}};

        auto model = makeModel();
        QSignalSpy done(model.get(), &ParvelModel::sharingDone);
        QProcess owner;
        QString previous;
        for (const Case& row : cases) {
            owner.kill();
            owner.waitForFinished();
            owner.start(u"xclip"_s, {u"-quiet"_s, u"-selection"_s, u"clipboard"_s, u"-t"_s,
                                     QString::fromLatin1(row.target), u"-i"_s});
            QVERIFY(owner.waitForStarted());
            owner.write(row.bytes);
            owner.closeWriteChannel();
            QTRY_VERIFY(QGuiApplication::clipboard()->mimeData()->formats().contains(
                QString::fromLatin1(row.target) == u"UTF8_STRING"
                    ? u"text/plain"_s
                    : QString::fromLatin1(row.target)));

            model->shareClipboard();
            QCOMPARE(model->error(), QString());
            QCOMPARE(done.count(), 1);
            done.clear();
            // What was made for the last row went when this one replaced it.
            if (!previous.isEmpty())
                QVERIFY(!QFile::exists(previous));
            if (!row.extension) {
                QCOMPARE(model->selected(),
                         QList<QUrl>({QUrl::fromLocalFile(a), QUrl::fromLocalFile(c)}));
                previous.clear();
                continue;
            }
            QCOMPARE(model->selected().size(), 1);
            const QString path = model->selected().front().toLocalFile();
            QVERIFY2(madeName.match(QFileInfo(path).fileName()).hasMatch(), qPrintable(path));
            QVERIFY(path.endsWith(QLatin1StringView(row.extension)));
            QVERIFY(path.startsWith(cache() + u"/Parvel/shared/"_s));
            if (std::string_view(row.extension) == "png")
                QCOMPARE(QImage(path).convertToFormat(QImage::Format_RGB32), picture);
            else
                QCOMPARE(readAll(path), row.bytes);
            previous = path;
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

        // Quitting removes what is still selected.
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
        QImage(8, 6, QImage::Format_RGB32).save(m_dir.filePath(u"portal.png"_s));
        for (const auto outcome : {Capture::Outcome::Cancelled, Capture::Outcome::Taken}) {
            auto capture = std::make_shared<GatedCapture>();
            capture->answer = {outcome, m_dir.filePath(u"portal.png"_s)};
            model = makeModel(capture);
            model->setFiles(before, false);
            QSignalSpy spy(model.get(), &ParvelModel::sharingDone);
            const QPointer<TaskHandle> task = model->takeScreenshot();
            QVERIFY(task);
            QVERIFY(!model->takeScreenshot()); // one at a time
            model->setIsUploading(outcome == Capture::Outcome::Taken);
            Q_EMIT capture->released();
            QTRY_VERIFY(!task || task->isFinished());
            QCOMPARE(spy.count(), outcome == Capture::Outcome::Taken ? 1 : 0);
            QCOMPARE(model->error(), outcome == Capture::Outcome::Taken ? waitText : QString());
            QCOMPARE(model->selected(), before);
            QCOMPARE(filesUnder(cache()), QStringList());
            QVERIFY(QFile::exists(m_dir.filePath(u"portal.png"_s)));
        }
    }

    // The drawn code reads back as the link, in both appearances and at
    // sizes where a module is not a whole number of pixels; and it is
    // crisp: inside the plate only its two colours, never a blend.
    void qrCodeReadsBackAsTheLink() {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        const QString shortLink = u"https://parvel.example/f/Zq81xk"_s;
        const QString longLink = u"https://files.example.org:8443/share/"_s + QString(60, u'k') +
                                 u"?download=1&name=Gr%C3%BC%C3%9Fe"_s;
        struct Case {
            QString link;
            bool dark;
            int size;
        };
        const Case cases[] = {{shortLink, false, 200},
                              {shortLink, true, 97},
                              {longLink, true, 200},
                              {longLink, false, 331}};
        auto model = makeModel();
        QQmlEngine engine;
        for (const Case& row : cases) {
            QQmlComponent component(&engine);
            component.setData(QByteArrayLiteral("import QtQuick\nimport Parvel\n"
                                                "Rectangle { id: root\n"
                                                "  required property ParvelModel model\n"
                                                "  property bool dark\n"
                                                "  property alias sheet: sheet\n"
                                                "  Palvo.dark: dark\n"
                                                "  width: 336; height: 560; color: Palvo.chrome\n"
                                                "  QrSheet { id: sheet; model: root.model } }"),
                              QUrl(u"qr.qml"_s));
            std::unique_ptr<QObject> made(component.createWithInitialProperties(
                {{u"model"_s, QVariant::fromValue(model.get())}, {u"dark"_s, !row.dark}}));
            QVERIFY2(made, qPrintable(component.errorString()));
            QQuickWindow window;
            window.resize(336, 560);
            qobject_cast<QQuickItem*>(made.get())->setParentItem(window.contentItem());
            made->setProperty("dark", row.dark); // now that it has a window
            auto* sheet = made->property("sheet").value<QObject*>();
            SharedFile file;
            file.name = u"notes.md"_s;
            file.url = row.link;
            window.show();
            QMetaObject::invokeMethod(sheet, "show", Q_ARG(QVariant, QVariant::fromValue(file)));
            auto* code = made->findChild<QQuickItem*>(u"qrCode"_s);
            QVERIFY(code);
            code->setProperty("implicitWidth", row.size);
            code->setProperty("implicitHeight", row.size);
            QTest::qWait(100);
            const QImage shot = window.grabWindow();

            const QString path = m_dir.filePath(u"qr.png"_s);
            QVERIFY(shot.save(path));
            QProcess zbar;
            zbar.start(u"zbarimg"_s,
                       {u"--quiet"_s, u"--raw"_s, u"-Sdisable"_s, u"-Sqrcode.enable"_s, path});
            QVERIFY(zbar.waitForFinished(20000));
            QCOMPARE(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(), row.link);

            QCOMPARE(code->width(), qreal(row.size));
            const QRectF plate = code->mapRectToScene(QRectF(0, 0, row.size, row.size));
            const int inset = row.size / 10; // clear of the plate's rounded corners
            QSet<QRgb> colours;
            for (int y = int(plate.top()) + inset; y < int(plate.bottom()) - inset; ++y)
                for (int x = int(plate.left()) + inset; x < int(plate.right()) - inset; ++x)
                    colours.insert(shot.pixel(x, y));
            QCOMPARE(colours, QSet<QRgb>({qRgb(0xff, 0xff, 0xff), qRgb(0x1a, 0x18, 0x14)}));
        }
    }
};

QTEST_MAIN(ShareTest)
#include "tst_share.moc"
