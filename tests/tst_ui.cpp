// The views: the badge rule as a plain function, and the QML itself loaded
// into real windows on the offscreen platform over the real model.

#include "model/ParvelModel.h"
#include "platform/ClipboardPasteboard.h"
#include "platform/PortalSettings.h"
#include "ui/Fonts.h"
#include "ui/Palvo.h"
#include "ui/ViewRules.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// A window of its own holding one QML item built from `source`.
struct Hosted {
    std::unique_ptr<QQuickWindow> window = std::make_unique<QQuickWindow>();
    std::unique_ptr<QObject> object;
    QQuickItem* item() const { return qobject_cast<QQuickItem*>(object.get()); }
    QImage grab() const { return window->grabWindow(); }
    template <class T = QQuickItem> T* find(const char* name) const {
        return item()->findChild<T*>(QString::fromLatin1(name));
    }
};

std::unique_ptr<Hosted> host(QQmlEngine& engine, const QByteArray& source, QSize size,
                             const QVariantMap& properties = {}) {
    auto hosted = std::make_unique<Hosted>();
    QQmlComponent component(&engine);
    component.setData("import QtQuick\nimport Parvel\n" + source, QUrl());
    if (!component.isReady())
        qFatal("%s", qPrintable(component.errorString()));
    hosted->object.reset(component.createWithInitialProperties(properties));
    hosted->window->resize(size);
    hosted->item()->setSize(size);
    hosted->item()->setParentItem(hosted->window->contentItem());
    return hosted;
}

// `source` over `model` in a window that is shown and holds the keyboard.
std::unique_ptr<Hosted> shownOver(QQmlEngine& engine, ParvelModel* model,
                                  const QByteArray& source = "MainView {}") {
    auto hosted = host(engine, source, {336, 560}, {{u"model"_s, QVariant::fromValue(model)}});
    hosted->window->show();
    hosted->window->requestActivate();
    if (!QTest::qWaitForWindowActive(hosted->window.get()))
        qFatal("the window never became active");
    return hosted;
}

// Every item drawn under `root`, delegates included (they are not QObject
// children of the view).
QList<QQuickItem*> visualTree(QQuickItem* root) {
    QList<QQuickItem*> items{root};
    for (qsizetype i = 0; i < items.size(); ++i)
        items.append(items[i]->childItems());
    return items;
}

// What a screen reader hears for `item` (its Accessible.name).
QString accessibleName(QQuickItem* item) {
    for (QObject* child : item->children())
        if (qstrcmp(child->metaObject()->className(), "QQuickAccessibleAttached") == 0)
            return child->property("name").toString();
    return {};
}

SharedFile sharedFile(int n) {
    return {
        u"f%1"_s.arg(n), u"file-%1.pdf"_s.arg(n),   1000 * n,
        false,           u"2026-01-01T00:00:00Z"_s, u"https://files.example.org/s/f%1"_s.arg(n)};
}

// A model as the popover sees it once connected. A refresh "runs" already,
// so the view's own refresh on appearing returns at once and sends nothing.
std::unique_ptr<ParvelModel> connectedModel(int files) {
    Services services;
    services.pasteboard = std::make_shared<ClipboardPasteboard>();
    auto model = std::make_unique<ParvelModel>(false, services);
    model->setConnection(Connection{u"https://files.example.org"_s, u"token"_s});
    model->setIsRefreshing(true);
    QList<SharedFile> list;
    for (int n = 1; n <= files; ++n)
        list.append(sharedFile(n));
    model->assignFiles(list);
    return model;
}

// Drags `urls` over `window` at `pos` and drops them; true when taken.
bool drop(QQuickWindow* window, QPointF pos, const QList<QUrl>& urls) {
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(pos.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &enter);
    QDragMoveEvent move(pos.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &move);
    QDropEvent dropped(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &dropped);
    return dropped.isAccepted();
}

} // namespace

class UiTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QQuickWindow::setGraphicsApi(QSGRendererInterface::Software); }

    // The last path component's extension, its first four user-perceived
    // characters, upper-cased beyond ASCII too; nothing without one.
    void badgeLabel() {
        const QList<std::pair<QString, QString>> badges{
            {u"report.tar.gz"_s, u"GZ"_s},
            {u"README"_s, QString()},
            {u"/a.b/c"_s, QString()},
            {u"archive."_s, QString()},
            {u"x.\u00e9t\u00e9s"_s, u"\u00c9T\u00c9S"_s},
            {u"a.\U0001F1EB\U0001F1F7abcd"_s, u"\U0001F1EB\U0001F1F7ABC"_s}};
        for (const auto& [name, label] : badges)
            QCOMPARE(ViewRules::badgeLabel(name), label);
    }

    // One process draws a light and a dark window side by side; flipping a
    // window's flag restyles the items it already has. The primary button
    // keeps its near-black label on the accent in dark.
    void appearancePerWindow() {
        QQmlEngine engine;
        const QByteArray source = R"(
            Item {
                property bool dark
                Palvo.dark: dark
                Ground { width: 30; height: 20 }
                PrimaryButton { objectName: "button"; y: 30; width: 200; text: "Go" }
            })";
        const auto light = host(engine, source, {240, 80}, {{u"dark"_s, false}});
        const auto dark = host(engine, source, {240, 80}, {{u"dark"_s, true}});
        const auto ground = [](const Hosted& h) { return h.grab().pixelColor(1, 1).name(); };
        const auto label = [](const Hosted& h) {
            auto* text = h.find("button")->property("contentItem").value<QQuickItem*>();
            return text->property("color").value<QColor>().name();
        };
        QCOMPARE(ground(*light) + label(*light), u"#faf9f5#1a1814"_s);
        QCOMPARE(ground(*dark) + label(*dark), u"#1a1814#1a1814"_s);
        light->item()->setProperty("dark", true);
        QCOMPARE(ground(*light), u"#1a1814"_s);
        dark->item()->setProperty("dark", false);
        QCOMPARE(ground(*dark), u"#faf9f5"_s);
    }

    // The heavier faces are there, so a style's weight picks a face of its
    // own rather than a synthesised bold of the regular one.
    void faces() {
        registerApplicationFonts();
        QObject anchor;
        const PalvoAttached tokens(&anchor);
        const QList<std::pair<QFont, QString>> faces{{tokens.h2(), u"Geist SemiBold"_s},
                                                     {tokens.stat(), u"Geist Mono Medium"_s},
                                                     {tokens.label(), u"Geist Mono Regular"_s}};
        for (const auto& [font, face] : faces) {
            const QFontInfo info(font);
            QCOMPARE(info.family() + u' ' + info.styleName(), face);
        }
    }

    // Reduce motion switched on in the desktop reaches the views at once,
    // from the same source the model and the popover read.
    void motionFollowsTheDesktop() {
        QQmlEngine engine;
        PortalSettings* portal = PortalSettings::shared();
        QCOMPARE(Services::system().desktop.get(), static_cast<DesktopSettings*>(portal));
        const auto hosted =
            host(engine, "Item { property bool moving: Palvo.motionAllowed }", {10, 10});
        QVERIFY(hosted->item()->property("moving").toBool());
        portal->apply(u"org.gnome.desktop.interface"_s, u"enable-animations"_s, false);
        QVERIFY(!hosted->item()->property("moving").toBool());

        // Without motion the password block and the copy confirmation come
        // at once.
        const auto model = connectedModel(1);
        const auto shown = shownOver(engine, model.get());
        QQuickItem* card = shown->find("uploadCard");
        const auto height = [&] {
            shown->grab(); // lays the card out
            return card->height();
        };
        const qreal folded = height();
        model->setUsePassword(true);
        QVERIFY(height() > folded + 40);
        const QList<QQuickItem*> items = visualTree(shown->item());
        auto* copy = *std::ranges::find(items, u"copiedSymbol"_s, &QQuickItem::objectName);
        QVERIFY(!copy->isVisible());
        QTest::mouseClick(shown->window.get(), Qt::LeftButton, {},
                          copy->mapToScene({7, 7}).toPoint());
        QCOMPARE(copy->opacity(), 1.0);

        portal->apply(u"org.gnome.desktop.interface"_s, u"enable-animations"_s, true);
        QVERIFY(hosted->item()->property("moving").toBool());
    }

    // The status line: the error over any message, else the message, else
    // nothing; always as it came, never as markup (server text).
    void statusLine() {
        QQmlEngine engine;
        ParvelModel model(false, Services{});
        const auto hosted =
            host(engine, "Feedback {}", {300, 60}, {{u"model"_s, QVariant::fromValue(&model)}});
        const QString markup = u"<b>Refused</b> &amp; <a href='x'>why</a>"_s;
        const struct {
            QString error, message;
            bool uploading;
            QString shown;
            Rules::Feedback kind; // the colour: bad, ink2 while uploading, ok after
        } rows[] = {{markup, u"Uploading"_s, true, markup, Rules::Error},
                    {{}, markup, true, markup, Rules::Progress},
                    {{}, u"Done"_s, false, u"Done"_s, Rules::Done},
                    {{}, {}, false, {}, Rules::None}};
        for (const auto& row : rows) {
            model.setError(row.error);
            model.setMessage(row.message);
            model.setIsUploading(row.uploading);
            QCOMPARE(hosted->item()->property("length").toInt(), row.shown.size());
            QCOMPARE(hosted->item()->property("text").toString(), row.shown);
            QCOMPARE(hosted->item()->property("kind").toInt(), int(row.kind));
            QCOMPARE(hosted->item()->isVisible(), !row.shown.isEmpty());
        }
    }

    // The QR sheet's code reads back as the link, in both appearances and at
    // sizes that are no multiple of the module count; and it is crisp:
    // inside the plate only its two colours, never a blend. The sheet goes
    // with its window.
    void qrSheet() {
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
        QQmlEngine engine;
        ParvelModel model(false, Services{});
        QTemporaryDir dir;
        const QString path = dir.filePath(u"qr.png"_s);
        for (const auto& row : cases) {
            const QByteArray source = "Rectangle { id: root; required property ParvelModel model\n"
                                      "  property bool dark; property alias sheet: sheet\n"
                                      "  Palvo.dark: dark; color: Palvo.chrome\n"
                                      "  QrSheet { id: sheet; model: root.model } }";
            const auto hosted =
                host(engine, source, {336, 560},
                     {{u"model"_s, QVariant::fromValue(&model)}, {u"dark"_s, !row.dark}});
            hosted->item()->setProperty("dark", row.dark); // now that it has a window
            hosted->window->show();
            SharedFile file;
            file.url = row.link;
            auto* sheet = hosted->item()->property("sheet").value<QObject*>();
            QMetaObject::invokeMethod(sheet, "show", Q_ARG(QVariant, QVariant::fromValue(file)));
            auto* code = hosted->find("qrCode");
            code->setProperty("implicitWidth", row.size);
            code->setProperty("implicitHeight", row.size);
            QTest::qWait(100);
            const QImage shot = hosted->grab();
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
            hosted->window->hide();
            QVERIFY(!sheet->property("visible").toBool());
        }
    }

    // Typing writes the model on every keystroke; a lone blank is enough.
    void connectViewTyping() {
        QQmlEngine engine;
        ParvelModel model(false, Services{});
        const auto hosted = shownOver(engine, &model, "ConnectView {}");
        auto* button = hosted->find("connectButton");
        QVERIFY(!button->isEnabled());
        hosted->find("codeField")->childItems().at(1)->forceActiveFocus(); // its label, its input
        QTest::keyClick(hosted->window.get(), Qt::Key_Space);
        QCOMPARE(model.connectionCode(), u" "_s);
        QVERIFY(button->isEnabled());
        model.setConnecting(true);
        QVERIFY(!button->isEnabled());
    }

    // Each drop adds to the selection; while uploading a drop is refused.
    // Either way the outline lit by the drag goes.
    void dropsOnTheUploadCard() {
        QTemporaryDir dir;
        QList<QUrl> urls;
        for (const QString& name : {u"a.txt"_s, u"b.txt"_s}) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("data") == 4);
            urls.append(QUrl::fromLocalFile(file.fileName()));
        }
        QQmlEngine engine;
        const auto model = connectedModel(0);
        const auto shown = shownOver(engine, model.get());
        QQuickItem* card = shown->find("uploadCard");
        const QPointF inside = card->mapToScene({card->width() / 2, card->height() - 10});
        QVERIFY(drop(shown->window.get(), inside, {urls[0]}));
        QVERIFY(drop(shown->window.get(), inside, {urls[1]}));
        QCOMPARE(model->selected(), urls);
        model->setIsUploading(true);
        QVERIFY(!drop(shown->window.get(), inside, {urls[0]}));
        QCOMPARE(model->selected(), urls);
        QVERIFY(!card->property("targeted").toBool());
    }

    // The recent files: the keyboard path to each row's copy button, and its
    // confirmation, kept by file id while the list is assigned anew (every
    // refresh) and ended when its row leaves the screen.
    void recentFiles() {
        QQmlEngine engine;
        const auto model = connectedModel(5);
        const auto shown = shownOver(engine, model.get());
        QQuickWindow* window = shown->window.get();
        // The shown copy buttons, top to bottom, and what each says.
        const auto buttons = [&] {
            QList<QQuickItem*> found;
            for (QQuickItem* item : visualTree(shown->item()))
                if (item->property("confirmations").isValid() && item->isVisible())
                    found.append(item);
            std::ranges::sort(found, {}, [](QQuickItem* b) { return b->mapToScene({}).y(); });
            return found;
        };
        const auto said = [&] {
            QStringList names;
            for (QQuickItem* button : buttons())
                names.append(accessibleName(button));
            return names;
        };
        const auto press = [&](int row) {
            QTest::mouseClick(window, Qt::LeftButton, {},
                              buttons().at(row)->mapToScene({14, 14}).toPoint());
        };
        QCOMPARE(said(), QStringList({u"Copy link for file-1.pdf"_s, u"Copy link for file-2.pdf"_s,
                                      u"Copy link for file-3.pdf"_s}));

        // Tab from "All files ↗" reaches the rows' buttons; Space and Return
        // press them, without a status text.
        shown->find("allFilesButton")->forceActiveFocus(Qt::TabFocusReason);
        QTest::keyClick(window, Qt::Key_Tab);
        QCOMPARE(window->activeFocusItem(), buttons().at(0));
        QTest::keyClick(window, Qt::Key_Space);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"https://files.example.org/s/f1"_s);
        QTest::keyClick(window, Qt::Key_Tab);
        QCOMPARE(window->activeFocusItem(), buttons().at(1));
        QTest::keyClick(window, Qt::Key_Return);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"https://files.example.org/s/f2"_s);
        QVERIFY(model->message().isEmpty());
        QCOMPARE(said(),
                 QStringList({u"Link copied for file-1.pdf"_s, u"Link copied for file-2.pdf"_s,
                              u"Copy link for file-3.pdf"_s}));
        // A refresh brings a new file in front: the confirmations follow
        // their files into rebuilt rows. A second press restarts the 1.6 s.
        QTest::qWait(800);
        QList<SharedFile> files{sharedFile(6)};
        files.append(model->files());
        model->assignFiles(files);
        QCOMPARE(said(),
                 QStringList({u"Copy link for file-6.pdf"_s, u"Link copied for file-1.pdf"_s,
                              u"Link copied for file-2.pdf"_s}));
        press(1);
        QElapsedTimer sinceSecond;
        sinceSecond.start();
        QTRY_COMPARE_WITH_TIMEOUT(said().at(1), u"Copy link for file-1.pdf"_s, 10000);
        QVERIFY2(sinceSecond.elapsed() >= 1500, qPrintable(QString::number(sinceSecond.elapsed())));
        QCOMPARE(said().at(2), u"Copy link for file-2.pdf"_s);

        // A row that leaves the screen, or the popover closing, ends it at
        // once; rows rebuilt for another count keep it.
        press(1);
        model->setUsePassword(true);
        QCOMPARE(said(),
                 QStringList({u"Copy link for file-6.pdf"_s, u"Link copied for file-1.pdf"_s}));
        model->setError(u"Server error"_s);
        QCOMPARE(said().size(), 1);
        model->setError({});
        model->setUsePassword(false);
        QCOMPARE(said().at(1), u"Copy link for file-1.pdf"_s);
        press(0);
        window->hide();
        QCOMPARE(said().at(0), u"Copy link for file-6.pdf"_s);
    }
};

QTEST_MAIN(UiTest)
#include "tst_ui.moc"
