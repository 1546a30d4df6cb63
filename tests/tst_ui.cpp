// The views: the rules with cases as plain functions, and the QML itself
// loaded into real windows on the offscreen platform over the real model.

#include "model/ParvelModel.h"
#include "platform/ClipboardPasteboard.h"
#include "platform/PortalSettings.h"
#include "ui/DotGrid.h"
#include "ui/Fonts.h"
#include "ui/Palvo.h"
#include "ui/ViewRules.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
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

// The text field inside one of ConnectView's labelled fields.
QQuickItem* inputOf(QQuickItem* field) {
    for (QQuickItem* child : field->childItems())
        if (child->property("placeholderText").isValid())
            return child;
    return nullptr;
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

QString hexOf(QColor c) {
    return c.name(QColor::HexRgb);
}

// WCAG contrast ratio of two opaque colours.
double contrast(QColor a, QColor b) {
    const auto luminance = [](QColor c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const auto [dim, bright] = std::minmax({luminance(a), luminance(b)});
    return (bright + 0.05) / (dim + 0.05);
}

Services testServices() {
    Services services;
    services.pasteboard = std::make_shared<ClipboardPasteboard>();
    return services;
}

SharedFile sharedFile(int n) {
    SharedFile file;
    file.id = u"f%1"_s.arg(n);
    file.name = u"file-%1.pdf"_s.arg(n);
    file.size = 1000 * n;
    file.createdAt = u"2026-01-01T00:00:00Z"_s;
    file.url = u"https://files.example.org/s/f%1"_s.arg(n);
    return file;
}

// A model as the popover sees it once connected. A refresh "runs" already,
// so the view's own refresh on appearing returns at once and sends nothing.
std::unique_ptr<ParvelModel> connectedModel(int files) {
    auto model = std::make_unique<ParvelModel>(false, testServices());
    model->setConnection(Connection{u"https://files.example.org"_s, u"token"_s});
    model->setIsRefreshing(true);
    QList<SharedFile> list;
    for (int n = 1; n <= files; ++n)
        list.append(sharedFile(n));
    model->assignFiles(list);
    return model;
}

// Drags `urls` over the window at `pos` and drops them; true when accepted.
bool drop(QQuickWindow* window, QPointF pos, const QList<QUrl>& urls, bool* hovered = nullptr,
          QQuickItem* card = nullptr) {
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(pos.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &enter);
    QDragMoveEvent move(pos.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &move);
    if (hovered && card)
        *hovered = card->property("targeted").toBool();
    QDropEvent dropped(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &dropped);
    return dropped.isAccepted();
}

} // namespace

class UiTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QQuickWindow::setGraphicsApi(QSGRendererInterface::Software); }

    void rules() {
        using namespace ViewRules;
        const QList<std::pair<QString, QString>> badges{
            {u"photo.jpeg"_s, u"JPEG"_s},
            {u"report.tar.gz"_s, u"GZ"_s},
            {u"README"_s, QString()},
            {u"/a.b/c"_s, QString()},
            {u"archive."_s, QString()},
            {u"x.\u00e9t\u00e9s"_s, u"\u00c9T\u00c9S"_s},
            // Four user-perceived characters: a flag is one of them.
            {u"a.\U0001F1EB\U0001F1F7abcd"_s, u"\U0001F1EB\U0001F1F7ABC"_s}};
        for (const auto& [name, label] : badges)
            QCOMPARE(badgeLabel(name), label);

        // status shown, password, files -> rows
        const QList<std::tuple<bool, bool, int, int>> rows{
            {false, false, 5, 3}, {false, true, 5, 2},  {true, false, 5, 2},
            {true, true, 5, 1},   {false, false, 2, 2}, {false, false, 0, 0}};
        for (const auto& [status, password, files, n] : rows)
            QCOMPARE(recentRowCount(status, password, files), n);

        QCOMPARE(percentText(0.999), u"99%"_s);
        QCOMPARE(percentText(1.0), u"100%"_s);
        QCOMPARE(percentText(0), u"0%"_s);

        QVERIFY(!canConnect(QString(), false));
        QVERIFY(canConnect(u" "_s, false));
        QVERIFY(!canConnect(u"ABCD"_s, true));

        QCOMPARE(feedbackKind(u"e"_s, u"m"_s, true), FeedbackKind::Error);
        QCOMPARE(feedbackKind({}, u"m"_s, true), FeedbackKind::Progress);
        QCOMPARE(feedbackKind({}, u"m"_s, false), FeedbackKind::Done);
        QCOMPARE(feedbackKind({}, {}, true), FeedbackKind::None);

        QCOMPARE(DotGrid::dotCentres({30, 20}),
                 (QList<QPointF>{{6, 6}, {18, 6}, {6, 18}, {18, 18}}));
        QVERIFY(DotGrid::dotCentres({6, 100}).isEmpty());
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
        const auto ground = [](const Hosted& h) { return hexOf(h.grab().pixelColor(1, 1)); };
        const auto label = [](const Hosted& h) {
            auto* text = h.find("button")->property("contentItem").value<QQuickItem*>();
            return hexOf(text->property("color").value<QColor>());
        };
        QCOMPARE(ground(*light) + label(*light), u"#faf9f5#1a1814"_s);
        QCOMPARE(ground(*dark) + label(*dark), u"#1a1814#1a1814"_s);
        light->item()->setProperty("dark", true);
        QCOMPARE(ground(*light), u"#1a1814"_s);
        dark->item()->setProperty("dark", false);
        QCOMPARE(ground(*dark), u"#faf9f5"_s);
    }

    // The heavier faces are there, so a style's weight picks a face of its
    // own; and the controls that show a state stand out from what they sit
    // on (3:1) in both appearances: the off switch, the chosen dark segment.
    void typeAndControls() {
        registerApplicationFonts();
        QObject anchor;
        const PalvoAttached tokens(&anchor);
        const QList<std::pair<QFont, QString>> faces{
            {tokens.h2(), u"Geist SemiBold"_s},
            {tokens.sans(13, QFont::Medium), u"Geist Medium"_s},
            {tokens.working(), u"Geist Regular"_s},
            {tokens.stat(), u"Geist Mono Medium"_s},
            {tokens.label(), u"Geist Mono Regular"_s}};
        for (const auto& [font, face] : faces) {
            const QFontInfo info(font);
            QCOMPARE(info.family() + u' ' + info.styleName(), face);
        }

        QQmlEngine engine;
        const QByteArray source = R"(
            Rectangle {
                property bool dark
                Palvo.dark: dark
                color: Palvo.paper
                ToggleSwitch { objectName: "switch"; text: "Off" }
                SegmentedControl { objectName: "segments"; y: 40; labels: ["A", "B"] }
            })";
        for (const bool dark : {false, true}) {
            const auto hosted = host(engine, source, {340, 80}, {{u"dark"_s, dark}});
            const auto colour = [](QObject* o, const char* name) {
                return o->property(name).value<QColor>();
            };
            auto* track = hosted->find("switch")->property("indicator").value<QQuickItem*>();
            auto* border = track->property("border").value<QObject*>();
            QVERIFY(contrast(colour(border, "color"), colour(hosted->item(), "color")) >= 3);
            if (dark) {
                auto* segments = hosted->find("segments");
                QQuickItem* chosen = nullptr;
                for (QQuickItem* item : visualTree(segments))
                    if (item->property("chosen").toBool())
                        chosen = item->property("background").value<QQuickItem*>();
                auto* outline = chosen->property("border").value<QObject*>();
                QVERIFY(outline->property("width").toReal() >= 1);
                QVERIFY(contrast(colour(outline, "color"), colour(segments, "color")) >= 3);
            }
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
        // at once. The block takes its share of the card's height as it
        // fades, with no jump at either end of the fade.
        const auto model = connectedModel(1);
        const auto popover = host(engine, "MainView {}", {336, 560},
                                  {{u"model"_s, QVariant::fromValue(model.get())}});
        popover->window->show();
        QVERIFY(QTest::qWaitForWindowExposed(popover->window.get()));
        QQuickItem* card = popover->find("uploadCard");
        const auto height = [&] {
            popover->grab(); // lays the card out
            return card->height();
        };
        const qreal folded = height();
        model->setUsePassword(true);
        const qreal open = height();
        QVERIFY(open > folded + 40);
        QObject* block = popover->find("passwordBlock");
        for (const qreal reveal : {0.01, 0.5, 0.99}) {
            block->setProperty("reveal", reveal);
            QVERIFY(std::abs(height() - (folded + (open - folded) * reveal)) <= 2);
        }
        const QList<QQuickItem*> items = visualTree(popover->item());
        auto* copy = *std::ranges::find(items, u"copiedSymbol"_s, &QQuickItem::objectName);
        QVERIFY(!copy->isVisible());
        QTest::mouseClick(popover->window.get(), Qt::LeftButton, {},
                          copy->mapToScene({7, 7}).toPoint());
        QCOMPARE(copy->opacity(), 1.0);

        portal->apply(u"org.gnome.desktop.interface"_s, u"enable-animations"_s, true);
        QVERIFY(hosted->item()->property("moving").toBool());
    }

    // Server text in the status line is shown as it came, never as markup.
    void statusLineIsPlainText() {
        QQmlEngine engine;
        ParvelModel model(false, testServices());
        const auto hosted =
            host(engine, "Feedback {}", {300, 60}, {{u"model"_s, QVariant::fromValue(&model)}});
        const QString error = u"<b>Refused</b> &amp; <a href='x'>why</a>"_s;
        model.setError(error);
        QCOMPARE(hosted->item()->property("length").toInt(), error.size());
    }

    // Typing writes the model on every keystroke; a lone blank is enough.
    void connectViewTyping() {
        QQmlEngine engine;
        ParvelModel model(false, testServices());
        const auto hosted =
            host(engine, "ConnectView {}", {336, 500}, {{u"model"_s, QVariant::fromValue(&model)}});
        auto* button = hosted->find("connectButton");
        QVERIFY(!button->isEnabled());
        hosted->window->show();
        hosted->window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(hosted->window.get()));
        inputOf(hosted->find("codeField"))->forceActiveFocus();
        QTest::keyClick(hosted->window.get(), Qt::Key_Space);
        QCOMPARE(model.connectionCode(), u" "_s);
        QVERIFY(button->isEnabled());
        model.setConnecting(true);
        QVERIFY(!button->isEnabled());
    }

    void dropsOnTheUploadCard() {
        QTemporaryDir dir;
        const auto file = [&](const QString& name) {
            QFile f(dir.filePath(name));
            f.open(QIODevice::WriteOnly);
            f.write("data");
            return QUrl::fromLocalFile(f.fileName());
        };
        const QUrl a = file(u"a.txt"_s), b = file(u"b.txt"_s), c = file(u"c.txt"_s);

        QQmlEngine engine;
        const auto model = connectedModel(0);
        const auto hosted = host(engine, "MainView {}", {336, 560},
                                 {{u"model"_s, QVariant::fromValue(model.get())}});
        hosted->window->show();
        QVERIFY(QTest::qWaitForWindowExposed(hosted->window.get()));
        QQuickItem* card = hosted->find("uploadCard");
        const QPointF inside = card->mapToScene({card->width() / 2, card->height() - 10});

        QVERIFY(drop(hosted->window.get(), inside, {a}));
        QCOMPARE(model->selected(), QList<QUrl>{a});
        QVERIFY(drop(hosted->window.get(), inside, {b}));
        QCOMPARE(model->selected(), (QList<QUrl>{a, b}));

        // Refused while uploading, although the outline lights up.
        model->setIsUploading(true);
        bool hovered = false;
        QVERIFY(!drop(hosted->window.get(), inside, {c}, &hovered, card));
        QVERIFY(hovered);
        QCOMPARE(model->selected(), (QList<QUrl>{a, b}));
        QVERIFY(!card->property("targeted").toBool());
    }

    // The recent files: the keyboard path to each row's copy button, and its confirmation, kept by
    // file id while the list is assigned anew (every refresh) and ended when its row leaves the
    // screen.
    void recentFiles() {
        QQmlEngine engine;
        const auto model = connectedModel(5);
        const auto hosted = host(engine, "MainView {}", {336, 560},
                                 {{u"model"_s, QVariant::fromValue(model.get())}});
        QQuickWindow* window = hosted->window.get();
        window->show();
        window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window));
        // What each shown copy button says, top to bottom.
        const auto buttons = [&] {
            QList<QQuickItem*> found;
            for (QQuickItem* item : visualTree(hosted->item()))
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
        QCOMPARE(said(), QStringList({u"Copy link for file-1.pdf"_s, u"Copy link for file-2.pdf"_s,
                                      u"Copy link for file-3.pdf"_s}));

        // Tab from "All files ↗" reaches the rows' buttons; Space and Return
        // press them, without a status text.
        hosted->find("allFilesButton")->forceActiveFocus(Qt::TabFocusReason);
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
        // The row's other actions: its menu, from the keyboard too.
        QTest::keyClick(window, Qt::Key_Menu);
        QTest::keyClick(window, Qt::Key_Down);
        QTest::keyClick(window, Qt::Key_Return);
        QCOMPARE(model->message(), u"Link copied"_s);
        model->setMessage({});

        // A refresh brings a new file in front: the confirmations follow
        // their files into rebuilt rows. A second press restarts the 1.6 s.
        QTest::qWait(800);
        QList<SharedFile> files{sharedFile(6)};
        files.append(model->files());
        model->assignFiles(files);
        QCOMPARE(said(),
                 QStringList({u"Copy link for file-6.pdf"_s, u"Link copied for file-1.pdf"_s,
                              u"Link copied for file-2.pdf"_s}));
        model->assignFiles(files);
        QCOMPARE(said().at(1), u"Link copied for file-1.pdf"_s);
        QTest::mouseClick(window, Qt::LeftButton, {},
                          buttons().at(1)->mapToScene({14, 14}).toPoint());
        QElapsedTimer sinceSecond;
        sinceSecond.start();
        QTRY_COMPARE_WITH_TIMEOUT(said().at(1), u"Copy link for file-1.pdf"_s, 10000);
        QVERIFY2(sinceSecond.elapsed() >= 1500, qPrintable(QString::number(sinceSecond.elapsed())));
        QCOMPARE(said().at(2), u"Copy link for file-2.pdf"_s);

        // A row that leaves the screen, or the popover closing, ends it at
        // once; rows rebuilt for another count keep it.
        QTest::mouseClick(window, Qt::LeftButton, {},
                          buttons().at(1)->mapToScene({14, 14}).toPoint());
        model->setUsePassword(true);
        QCOMPARE(said(),
                 QStringList({u"Copy link for file-6.pdf"_s, u"Link copied for file-1.pdf"_s}));
        model->setError(u"Server error"_s);
        QCOMPARE(said().size(), 1);
        model->setError({});
        model->setUsePassword(false);
        QCOMPARE(said().at(1), u"Copy link for file-1.pdf"_s);
        QTest::mouseClick(window, Qt::LeftButton, {},
                          buttons().at(0)->mapToScene({14, 14}).toPoint());
        window->hide();
        QCOMPARE(said().at(0), u"Copy link for file-6.pdf"_s);
    }
};

QTEST_MAIN(UiTest)
#include "tst_ui.moc"
