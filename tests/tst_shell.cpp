// The shell's rules with stand-ins for the windows (no desktop runs here; the
// popover's own drop handling in a real window on the offscreen platform),
// a real model, real files and the dev server for the refreshes.

#include "ModelFixture.h"
#include "shell/AppShell.h"
#include "shell/LaunchRequest.h"
#include "shell/PopoverPlacement.h"
#include "shell/PopoverWindow.h"
#include "shell/RunNotifier.h"
#include "shell/StatusText.h"
#include "shell/SwayPlacement.h"

#include <QMimeData>
#include <QQmlEngine>
#include <QQuickView>
#include <QSignalSpy>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(ParvelPlugin)

using namespace Qt::StringLiterals;

namespace {

class FakePopover final : public PopoverSurface {
public:
    explicit FakePopover(QStringList& log) : m_log(log) {}
    bool isShown() const override { return shown; }
    void show() override {
        shown = true;
        m_log.append(u"popover shown"_s);
    }
    void close() override {
        if (!shown)
            return;
        shown = false;
        m_log.append(u"popover closing"_s);
        if (!slowClose)
            finishClose();
    }
    bool closedByFocusLossJustNow() const override { return focusLossJustNow; }
    void finishClose() {
        m_log.append(u"popover closed"_s);
        if (closed)
            closed();
    }

    bool shown = false;
    bool slowClose = false; // closing animation: `closed` comes when the test says
    bool focusLossJustNow = false;

private:
    QStringList& m_log;
};

class FakeChooser final : public ChooserSurface {
public:
    FakeChooser(QStringList& log, FakeChooser*& current) : m_log(log), m_current(current) {
        m_current = this;
    }
    ~FakeChooser() override {
        m_log.append(u"chooser gone"_s);
        if (m_current == this)
            m_current = nullptr;
    }
    void open() override { m_log.append(u"chooser open"_s); }
    void raise() override { m_log.append(u"chooser raised"_s); }

private:
    QStringList& m_log;
    FakeChooser*& m_current;
};

class FakeSettings final : public SettingsSurface {
public:
    explicit FakeSettings(QStringList& log) : m_log(log) {}
    void show() override { m_log.append(u"settings shown"_s); }

private:
    QStringList& m_log;
};

// A shell over stand-in windows; every window event lands in `log`.
struct ShellRig {
    explicit ShellRig(std::unique_ptr<ParvelModel> model) {
        ShellSurfaces surfaces;
        auto fake = std::make_unique<FakePopover>(log);
        popover = fake.get();
        surfaces.popover = std::move(fake);
        surfaces.makeSettings = [this] {
            ++settingsMade;
            auto made = std::make_unique<FakeSettings>(log);
            settings = made.get();
            return made;
        };
        surfaces.makeChooser = [this] {
            ++choosersMade;
            return std::make_unique<FakeChooser>(log, chooser);
        };
        surfaces.setRegularPolicy = [this](bool regular) {
            log.append(regular ? u"policy regular"_s : u"policy accessory"_s);
        };
        shell = std::make_unique<AppShell>(std::move(model), std::move(surfaces));
    }
    QStringList takeLog() { return std::exchange(log, {}); }
    // The chooser is destroyed after its completion has returned.
    bool chooserGone() {
        return QTest::qWaitFor([this] { return chooser == nullptr; }, 10'000);
    }

    QStringList log;
    FakePopover* popover = nullptr;
    FakeChooser* chooser = nullptr;
    FakeSettings* settings = nullptr;
    int settingsMade = 0;
    int choosersMade = 0;
    std::unique_ptr<AppShell> shell;
};

} // namespace

class ShellTest : public QObject {
    Q_OBJECT

    ServerFixture m_server;
    QTemporaryDir m_files;
    QUrl a, b, c;

    std::unique_ptr<ShellRig> offlineShell() {
        ModelRig rig;
        auto shell = std::make_unique<ShellRig>(std::move(rig.model));
        shell->shell->launch({});
        shell->takeLog(); // no connection and nothing loading: the settings opened
        return shell;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_server.start());
        a = QUrl::fromLocalFile(writeFile(m_files.filePath(u"a.txt"_s), 3));
        b = QUrl::fromLocalFile(writeFile(m_files.filePath(u"b.txt"_s), 5));
        c = QUrl::fromLocalFile(writeFile(m_files.filePath(u"c d.txt"_s), 7));
    }

    void clickTogglesAndEveryShowingRefreshes() {
        auto rig = m_server.connectedRig();
        ShellRig shell(std::move(rig->model));
        shell.shell->launch({});
        QCOMPARE(shell.takeLog(), QStringList());
        m_server.reset();

        shell.shell->statusIconClicked();
        QVERIFY(QTest::qWaitFor([&] { return m_server.count("GET", "/api/files") == 1; }, 10'000));
        shell.shell->statusIconClicked();
        shell.shell->statusIconClicked();
        QCOMPARE(shell.takeLog(), QStringList({u"popover shown"_s, u"popover closing"_s,
                                               u"popover closed"_s, u"popover shown"_s}));
        QVERIFY(QTest::qWaitFor([&] { return m_server.count("GET", "/api/files") == 2; }, 10'000));

        // The click that took the focus away must not bring the popover back.
        shell.popover->close();
        shell.popover->focusLossJustNow = true;
        shell.takeLog();
        shell.shell->statusIconClicked();
        QCOMPARE(shell.takeLog(), QStringList());
        shell.popover->focusLossJustNow = false;
        shell.shell->statusIconClicked();
        QCOMPARE(shell.takeLog(), QStringList({u"popover shown"_s}));
    }

    void chooserFromOpenPopoverWaitsForItsClose() {
        auto shell = offlineShell();
        shell->shell->model().setFiles({a}, false);
        shell->shell->showPopover();
        shell->popover->slowClose = true;
        shell->takeLog();

        shell->shell->model().selectFiles(true);
        QCOMPARE(shell->takeLog(), QStringList({u"popover closing"_s}));
        // While prepared, nothing else comes up and no second chooser is made.
        shell->shell->showPopover();
        shell->shell->showSettings();
        shell->shell->chooseFiles(false);
        QCOMPARE(shell->takeLog(), QStringList());
        QCOMPARE(shell->choosersMade, 1);

        shell->popover->finishClose();
        QCOMPARE(shell->takeLog(), QStringList({u"popover closed"_s, u"chooser open"_s}));
        // Once open, it comes forward instead of the popover or the settings.
        shell->shell->statusIconClicked();
        shell->shell->showSettings();
        shell->shell->chooseFiles(false);
        QCOMPARE(shell->takeLog(), QStringList({u"chooser raised"_s, u"chooser raised"_s}));
        QCOMPARE(shell->settingsMade, 1);

        // Confirming adds (the request said so) in the chooser's order.
        shell->chooser->finished(QList<QUrl>{c, b});
        QCOMPARE(shell->shell->model().selected(), QList<QUrl>({a, c, b}));
        QVERIFY(shell->chooserGone());
        QCOMPARE(shell->takeLog(), QStringList({u"popover shown"_s, u"chooser gone"_s}));
        QVERIFY(!shell->shell->hasChooser());
    }

    void cancelBringsThePopoverBackOnlyWhenTheChooserReplacedIt() {
        // From the open popover: it comes back.
        auto fromPopover = offlineShell();
        fromPopover->shell->showPopover();
        fromPopover->shell->chooseFiles(false);
        fromPopover->takeLog();
        fromPopover->chooser->finished(std::nullopt);
        QVERIFY(fromPopover->chooserGone());
        QCOMPARE(fromPopover->takeLog(), QStringList({u"popover shown"_s, u"chooser gone"_s}));

        // With the popover closed: nothing is left on screen.
        auto closed = offlineShell();
        closed->shell->model().setFiles({a}, false);
        closed->shell->chooseFiles(false);
        QCOMPARE(closed->takeLog(), QStringList({u"chooser open"_s}));
        closed->chooser->finished(std::nullopt);
        QVERIFY(closed->chooserGone());
        QCOMPARE(closed->takeLog(), QStringList({u"chooser gone"_s}));
        QCOMPARE(closed->shell->model().selected(), QList<QUrl>({a}));

        // Confirming a chooser opened with the popover closed replaces the
        // selection and shows the popover.
        closed->shell->chooseFiles(false);
        closed->chooser->finished(QList<QUrl>{b});
        QCOMPARE(closed->shell->model().selected(), QList<QUrl>({b}));
        QVERIFY(closed->chooserGone());
        QCOMPARE(closed->takeLog(),
                 QStringList({u"chooser open"_s, u"popover shown"_s, u"chooser gone"_s}));
    }

    void nothingWhileUploading() {
        auto shell = offlineShell();
        shell->shell->showPopover();
        shell->takeLog();
        shell->shell->model().setIsUploading(true);
        shell->shell->chooseFiles(false);
        shell->shell->model().selectFiles(true);
        QCOMPARE(shell->choosersMade, 0);
        QCOMPARE(shell->takeLog(), QStringList());
        QVERIFY(shell->popover->shown);
    }

    void launch() {
        // No stored connection: once the read has found nothing, the settings
        // open, once; the window is made once and kept.
        QTemporaryDir empty;
        ModelRig rig(true, std::make_shared<FolderStore>(empty.path()));
        ShellRig shell(std::move(rig.model));
        shell.shell->launch({});
        QVERIFY(
            QTest::qWaitFor([&] { return !shell.shell->model().isLoadingConnection(); }, 10'000));
        QCOMPARE(shell.takeLog(), QStringList({u"policy regular"_s, u"settings shown"_s}));
        // Closed, it is kept: the next showing is the same window.
        shell.settings->closed();
        shell.shell->showSettings();
        QCOMPARE(shell.settingsMade, 1);
        QCOMPARE(shell.takeLog(),
                 QStringList({u"policy accessory"_s, u"policy regular"_s, u"settings shown"_s}));
        shell.shell->showPopover();
        shell.takeLog();

        // --choose-files alone: the chooser, no popover.
        auto connected = m_server.connectedRig();
        ShellRig chooser(std::move(connected->model));
        chooser.shell->launch(LaunchRequest::parse({u"--choose-files"_s}, u"/"_s));
        QCOMPARE(chooser.takeLog(), QStringList({u"chooser open"_s}));

        // All three flags, in their fixed order, then the files given.
        auto other = m_server.connectedRig();
        ShellRig all(std::move(other->model));
        all.shell->launch(LaunchRequest::parse(
            {u"--choose-files"_s, u"--show"_s, u"--settings"_s, a.toLocalFile()}, u"/"_s));
        QCOMPARE(all.takeLog(),
                 QStringList({u"policy regular"_s, u"settings shown"_s, u"popover shown"_s,
                              u"popover closing"_s, u"popover closed"_s, u"chooser open"_s,
                              u"chooser raised"_s}));
        QCOMPARE(all.shell->model().selected(), QList<QUrl>({a}));
    }

    void openedFilesReplaceTheSelection() {
        auto shell = offlineShell();
        shell->shell->model().setFiles({a}, false);

        // From another instance: file URLs only, in order, replacing.
        const QStringList handedOver =
            LaunchRequest{.files = {c, QUrl(u"https://example.org/x"_s), b}}.toArguments();
        shell->shell->handleRequest(LaunchRequest::parse(handedOver, u"/elsewhere"_s));
        QCOMPARE(shell->shell->model().selected(), QList<QUrl>({c, b}));
        QCOMPARE(shell->takeLog(), QStringList({u"popover shown"_s}));

        // Nothing but web links: refused, the selection stays.
        shell->shell->togglePopover();
        shell->takeLog();
        QVERIFY(!shell->shell->dropFiles({QUrl(u"https://example.org/x"_s)}));
        QCOMPARE(shell->shell->model().selected(), QList<QUrl>({c, b}));
        QCOMPARE(shell->takeLog(), QStringList());

        // A bare second start shows the popover.
        shell->shell->handleRequest(LaunchRequest::parse({}, u"/"_s));
        QCOMPARE(shell->takeLog(), QStringList({u"popover shown"_s}));
    }

    // The popover is out of the picture before the desktop is asked; the
    // outcome (here: no portal) shows in it.
    void screenshotWaitsForThePopoverToClose() {
        auto shell = offlineShell();
        shell->shell->showPopover();
        shell->popover->slowClose = true;
        shell->takeLog();
        shell->shell->model().shareScreenshot();
        QCOMPARE(shell->takeLog(), QStringList({u"popover closing"_s}));
        QCOMPARE(shell->shell->model().error(), QString());
        shell->popover->finishClose();
        QCOMPARE(shell->shell->model().error(), u"Screenshots need the desktop portal."_s);
        QCOMPARE(shell->takeLog(), QStringList({u"popover closed"_s, u"popover shown"_s}));
    }

    // `--share`: uploaded at once without a password whatever the switch
    // says, the switch left as it was; refused with the model's text while a
    // run goes on; the popover shows why when no run can start.
    void shareUploadsAtOnce() {
        auto rig = m_server.connectedRig();
        ShellRig shell(std::move(rig->model));
        ParvelModel& model = shell.shell->model();
        shell.shell->launch({});
        model.setUsePassword(true);
        m_server.reset();
        const auto share = [&](QStringList arguments) {
            arguments.prepend(u"--share"_s);
            shell.shell->handleRequest(LaunchRequest::parse(
                LaunchRequest::parse(arguments, u"/"_s).toArguments(), u"/"_s));
        };
        share({a.toLocalFile(), b.toLocalFile()});
        QVERIFY(model.isUploading());
        QVERIFY(model.usePassword());
        share({c.toLocalFile()});
        QCOMPARE(model.error(), u"Wait for the current upload, or cancel it first."_s);
        QCOMPARE(model.selected(), QList<QUrl>({a, b}));
        QCOMPARE(shell.takeLog(), QStringList({u"popover shown"_s}));
        QVERIFY(QTest::qWaitFor([&] { return !model.isUploading(); }, 10'000));
        const auto created = m_server.requests("POST", "/api/files");
        QCOMPARE(created.size(), size_t(2));
        for (const auto& request : created)
            QVERIFY(bodyOf(request).value(u"password"_s).isNull());

        auto offline = offlineShell();
        offline->shell->shareFiles({a});
        QVERIFY(!offline->shell->model().isUploading());
        QCOMPARE(offline->takeLog(), QStringList({u"popover shown"_s}));

        // Started by `--share`: the run waits for the stored connection.
        QTemporaryDir stored;
        auto store = std::make_shared<FolderStore>(stored.path());
        QVERIFY(store->save(m_server.bootstrap()));
        ModelRig starting(true, store);
        ShellRig started(std::move(starting.model));
        started.shell->launch(LaunchRequest::parse({u"--share"_s, c.toLocalFile()}, u"/"_s));
        QVERIFY(QTest::qWaitFor([&] { return started.shell->model().isUploading(); }, 10'000));
        QCOMPARE(started.takeLog(), QStringList());
    }

    // A drop that arrives without the URLs it carried on entering (native
    // Wayland drags through XWayland) selects those seen on entering.
    void popoverDropKeepsTheURLsSeenOnEntering() {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        auto rig = m_server.connectedRig();
        QQmlEngine engine;
        PopoverWindow popover(engine, *rig->model, {}, {});
        popover.show();
        QQuickView& window = popover.window();
        const QPoint zone(168, 100);
        const auto dropOn = [&](const QList<QUrl>& entering) {
            QMimeData carried, empty;
            carried.setUrls(entering);
            QDragEnterEvent enter(zone, Qt::CopyAction, &carried, Qt::LeftButton, {});
            QCoreApplication::sendEvent(&window, &enter);
            QDragMoveEvent move(zone, Qt::CopyAction, &carried, Qt::LeftButton, {});
            QCoreApplication::sendEvent(&window, &move);
            QDropEvent drop(zone, Qt::CopyAction, &empty, Qt::LeftButton, {});
            QCoreApplication::sendEvent(&window, &drop);
            return drop.isAccepted();
        };
        QVERIFY(dropOn({b, a}));
        QCOMPARE(rig->model->selected(), QList<QUrl>({b, a}));
    }

    void launchArguments() {
        const LaunchRequest request = LaunchRequest::parse(
            {u"-platform"_s, u"xcb"_s, u"--upload"_s, u"sub/../x y.txt"_s, u"--show"_s, u"/abs/z"_s,
             u"file:///tmp/a%20b"_s, u"--screenshot"_s, u"--render-previews"_s},
            u"/home/u/work"_s);
        QVERIFY(request.show && request.screenshot && !request.settings && !request.chooseFiles);
        QCOMPARE(request.files, QList<QUrl>({QUrl::fromLocalFile(u"/home/u/work/x y.txt"_s),
                                             QUrl::fromLocalFile(u"/abs/z"_s),
                                             QUrl::fromLocalFile(u"/tmp/a b"_s)}));
        QCOMPARE(request.toArguments(),
                 QStringList({u"--show"_s, u"--screenshot"_s, u"file:///home/u/work/x%20y.txt"_s,
                              u"file:///abs/z"_s, u"file:///tmp/a%20b"_s}));
        const LaunchRequest back = LaunchRequest::parse(request.toArguments(), u"/"_s);
        QCOMPARE(back.files, request.files);
        QVERIFY(back.screenshot);
        QVERIFY(LaunchRequest::parse({u"--import-connection"_s}, u"/"_s).isEmpty());
    }

    // The tray icon's tool tip, the notice at the end of a run, and where
    // the popover goes.
    void textsAndPlacement() {
        QCOMPARE(statusText(false, u"2 links copied. Ready to share."_s, 1), u"Send files"_s);
        QCOMPARE(statusText(true, u"Uploading 1 of 2…"_s, 0.427), u"Uploading 1 of 2… 42%"_s);
        QCOMPARE(statusText(true, QString(), 1.5), u"Uploading… 100%"_s);

        const QString done = u"2 links copied. Ready to share."_s;
        QCOMPARE(runEndNotice(false, done, QString()), std::optional<QString>(done));
        QCOMPARE(runEndNotice(false, u"Upload cancelled."_s, u"Server error"_s),
                 std::optional<QString>(u"Server error"_s));
        QCOMPARE(runEndNotice(true, done, QString()), std::nullopt);
        QCOMPARE(runEndNotice(false, QString(), QString()), std::nullopt);

        // Where the popover goes: centred on the icon or click point, below
        // it in the top half of its screen, above it in the bottom half, kept
        // on that screen; with nothing known, the primary's top-right corner.
        const QSize size(336, 560);
        const QRect top(0, 24, 1920, 1056); // a 24-pixel panel at the top
        const QRect left(-1280, 0, 1280, 1024), right(1920, 0, 1280, 1024);
        const QList<QRect> one{top}, three{top, left, right};
        const auto at = [](int x, int y) { return QRect(x, y, 1, 1); };
        const struct {
            QRect anchor;
            QList<QRect> screens;
            QPoint position;
        } cases[] = {
            {QRect(1000, 0, 24, 24), one, {844, 30}},  // icon in a top panel
            {QRect(1896, 0, 24, 24), one, {1584, 30}}, // right edge
            {QRect(0, 0, 24, 24), one, {0, 30}},       // left edge
            {at(1268, 1070), one, {1100, 504}},        // bottom half: above
            {at(400, 540), one, {232, 520}},           // top half: below, kept on screen
            {at(400, 600), one, {232, 34}},            // bottom half: above
            {at(100, 1079), one, {0, 513}},            // bottom-left corner
            {QRect(), three, {1578, 30}},              // nothing known
            {at(-640, 1020), three, {-808, 454}},      // on the left screen
            {at(3190, 5), three, {2864, 12}},          // right screen's top-right
            {at(5000, 2000), three, {2864, 464}},      // off every screen: the nearest
        };
        for (const auto& c : cases)
            QCOMPARE(popoverPosition(c.anchor, size, c.screens), c.position);

        // The sway command's wire format and its answers.
        QCOMPARE(i3IpcMessage(0, "exit"), QByteArray("i3-ipc\x04\0\0\0\0\0\0\0exit", 18));
        QVERIFY(i3IpcCommandsSucceeded(R"([{"success": true}])"));
        QVERIFY(!i3IpcCommandsSucceeded(R"([{"success": false, "error": "No matching node."}])"));
        QVERIFY(!i3IpcCommandsSucceeded(""));

        // Where sway's tree puts our window, and the pointer that sway centred
        // it on: exact away from the edges; at a panel's inner edge when the
        // window touches an edge a panel takes.
        const QByteArray tree =
            R"({"type": "root", "rect": {"x": 0, "y": 0, "width": 2560, "height": 720},
            "nodes": [{"type": "output", "rect": {"x": 1280, "y": 0, "width": 1280, "height": 720},
              "nodes": [{"type": "workspace", "rect": {"x": 1280, "y": 0, "width": 1280, "height": 690},
                "nodes": [], "floating_nodes": [{"window": 4194307,
                  "rect": {"x": 1752, "y": 160, "width": 336, "height": 560}}]}]}]})";
        const auto place = swayPlaceOf(tree, 4194307);
        QVERIFY(place);
        QCOMPARE(place->window, QRect(1752, 160, 336, 560));
        QCOMPARE(place->output, QRect(1280, 0, 1280, 720));
        QCOMPARE(place->usable, QRect(1280, 0, 1280, 690));
        QVERIFY(!swayPlaceOf(tree, 7));
        const QRect output(0, 0, 1280, 720), bottomBar(0, 0, 1280, 690), topBar(0, 30, 1280, 690);
        const struct {
            QRect window, usable;
            QPoint pointer;
        } pointers[] = {
            {QRect(472, 80, 336, 560), bottomBar, {640, 360}},  // nowhere near an edge
            {QRect(472, 160, 336, 560), bottomBar, {640, 690}}, // in the bottom panel
            {QRect(944, 0, 336, 560), topBar, {1112, 29}},      // in the top panel, right
            {QRect(472, 160, 336, 560), output, {640, 440}},    // no panel at that edge
        };
        for (const auto& p : pointers)
            QCOMPARE(pointerOf({p.window, output, p.usable}), p.pointer);
    }
};

QTEST_MAIN(ShellTest)
#include "tst_shell.moc"
