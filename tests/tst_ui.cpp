// The views: the badge rule as a plain function, and the QML itself loaded
// into real windows on the offscreen platform over the real model.

#include "model/ParvelModel.h"
#include "platform/ClipboardPasteboard.h"
#include "platform/PortalSettings.h"
#include "ui/Fonts.h"
#include "ui/Palvo.h"
#include "ui/ViewRules.h"

#include <QAccessible>
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
#include <QTemporaryFile>
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
    QDropEvent dropped(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &dropped);
    return dropped.isAccepted();
}

} // namespace

class UiTest : public QObject {
    Q_OBJECT
    QQmlEngine m_engine;

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
        const QByteArray source = R"(
            Item {
                property bool dark
                Palvo.dark: dark
                Ground { width: 30; height: 20 }
                PrimaryButton { objectName: "button"; y: 30; width: 200; text: "Go" }
            })";
        const auto light = host(m_engine, source, {240, 80}, {{u"dark"_s, false}});
        const auto dark = host(m_engine, source, {240, 80}, {{u"dark"_s, true}});
        const auto ground = [](const Hosted& h) { return h.grab().pixelColor(1, 1).name(); };
        QCOMPARE(ground(*light) + ground(*dark), u"#faf9f5#1a1814"_s);
        light->item()->setProperty("dark", true);
        dark->item()->setProperty("dark", false);
        QCOMPARE(ground(*light) + ground(*dark), u"#1a1814#faf9f5"_s);
        auto* label = light->find("button")->property("contentItem").value<QQuickItem*>();
        QCOMPARE(label->property("color").value<QColor>().name(), u"#1a1814"_s);
    }

    // The heavier faces are there, so a style's weight picks a face of its
    // own rather than a synthesised bold of the regular one.
    void faces() {
        registerApplicationFonts();
        QObject anchor;
        const PalvoAttached tokens(&anchor);
        QStringList faces;
        for (const QFontInfo info : {tokens.h2(), tokens.stat(), tokens.label()})
            faces.append(info.family() + u' ' + info.styleName());
        QCOMPARE(faces, QStringList({u"Geist SemiBold"_s, u"Geist Mono Medium"_s,
                                     u"Geist Mono Regular"_s}));
    }

    // Reduce motion switched on in the desktop reaches an open popover at
    // once, from the same source the model reads: the password block and the
    // copy confirmation come without animation.
    void motionFollowsTheDesktop() {
        PortalSettings* portal = PortalSettings::shared();
        QCOMPARE(Services::system().desktop.get(), static_cast<DesktopSettings*>(portal));
        const auto model = connectedModel(1);
        const auto shown = shownOver(m_engine, model.get());
        portal->apply(u"org.gnome.desktop.interface"_s, u"enable-animations"_s, false);
        QQuickItem* card = shown->find("uploadCard");
        shown->grab(); // lays the card out
        const qreal folded = card->height();
        model->setUsePassword(true);
        shown->grab();
        QVERIFY(card->height() > folded + 40);
        const QList<QQuickItem*> items = visualTree(shown->item());
        auto* copy = *std::ranges::find(items, u"copiedSymbol"_s, &QQuickItem::objectName);
        QVERIFY(!copy->isVisible());
        QTest::mouseClick(shown->window.get(), Qt::LeftButton, {},
                          copy->mapToScene({7, 7}).toPoint());
        QCOMPARE(copy->opacity(), 1.0);

        portal->apply(u"org.gnome.desktop.interface"_s, u"enable-animations"_s, true);
    }

    // The status line: the error over any message, else the message, else
    // nothing; always as it came, never as markup (server text).
    void statusLine() {
        ParvelModel model(false, Services{});
        const auto hosted =
            host(m_engine, "Feedback {}", {300, 60}, {{u"model"_s, QVariant::fromValue(&model)}});
        const QString markup = u"<b>Refused</b> &amp; <a href='x'>why</a>"_s;
        // `kind` is the colour: bad, ink2 while uploading, ok after.
        const std::tuple<QString, QString, bool, QString, Rules::Feedback> rows[] = {
            {markup, u"Uploading"_s, true, markup, Rules::Error},
            {{}, markup, true, markup, Rules::Progress},
            {{}, u"Done"_s, false, u"Done"_s, Rules::Done},
            {{}, {}, false, {}, Rules::None}};
        for (const auto& [error, message, uploading, shown, kind] : rows) {
            model.setError(error);
            model.setMessage(message);
            model.setIsUploading(uploading);
            QCOMPARE(hosted->item()->property("length").toInt(), shown.size());
            QCOMPARE(hosted->item()->property("kind").toInt(), int(kind));
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
        const std::tuple<QString, bool, int> cases[] = {{shortLink, false, 200},
                                                        {shortLink, true, 97},
                                                        {longLink, true, 200},
                                                        {longLink, false, 331}};
        const auto model = connectedModel(1);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"qr.png"_s);
        for (const auto& [link, dark, size] : cases) {
            const auto hosted = shownOver(m_engine, model.get());
            hosted->item()->setProperty("dark", dark);
            auto* sheet = hosted->find<QObject>("qrSheet");
            SharedFile file = sharedFile(1);
            file.url = link;
            QMetaObject::invokeMethod(sheet, "show", Q_ARG(QVariant, QVariant::fromValue(file)));
            auto* code = hosted->find("qrCode");
            code->setProperty("implicitWidth", size);
            code->setProperty("implicitHeight", size);
            QTest::qWait(100);
            const QImage shot = hosted->grab();
            QVERIFY(shot.save(path));
            QProcess zbar;
            zbar.start(u"zbarimg"_s,
                       {u"--quiet"_s, u"--raw"_s, u"-Sdisable"_s, u"-Sqrcode.enable"_s, path});
            QVERIFY(zbar.waitForFinished(20000));
            QCOMPARE(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(), link);

            QCOMPARE(code->width(), qreal(size));
            const QRect plate = code->mapRectToScene(QRectF(0, 0, size, size)).toRect();
            const int inset = size / 10; // clear of the plate's rounded corners
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
        ParvelModel model(false, Services{});
        const auto hosted = shownOver(m_engine, &model, "ConnectView {}");
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
        QTemporaryFile a, b;
        QVERIFY(a.open() && b.open());
        const QList<QUrl> urls{QUrl::fromLocalFile(a.fileName()),
                               QUrl::fromLocalFile(b.fileName())};
        const auto model = connectedModel(0);
        const auto shown = shownOver(m_engine, model.get());
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
        const auto model = connectedModel(5);
        const auto shown = shownOver(m_engine, model.get());
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
                names.append(
                    QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name));
            return names;
        };
        const auto press = [&](int row) {
            QTest::mouseClick(window, Qt::LeftButton, {},
                              buttons().at(row)->mapToScene({14, 14}).toPoint());
        };

        // Tab from "All files ↗" reaches the rows' buttons; Space and Return
        // press them, without a status text.
        shown->find("allFilesButton")->forceActiveFocus(Qt::TabFocusReason);
        for (const int row : {0, 1}) {
            QTest::keyClick(window, Qt::Key_Tab);
            QCOMPARE(window->activeFocusItem(), buttons().at(row));
            QTest::keyClick(window, row == 0 ? Qt::Key_Space : Qt::Key_Return);
            QCOMPARE(QGuiApplication::clipboard()->text(), sharedFile(row + 1).url);
        }
        QVERIFY(model->message().isEmpty());
        QCOMPARE(said(),
                 QStringList({u"Link copied for file-1.pdf"_s, u"Link copied for file-2.pdf"_s,
                              u"Copy link for file-3.pdf"_s}));
        // A refresh brings a new file in front: the confirmations follow
        // their files into rebuilt rows. A second press restarts the 1.6 s.
        QTest::qWait(800);
        model->assignFiles(QList<SharedFile>{sharedFile(6)} + model->files());
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
