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
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(ParvelPlugin)

using namespace Qt::StringLiterals;

namespace {

// Stand-ins for the windows; every window event lands in one log (the
// popover's without a prefix).
struct FakePopover final : PopoverSurface {
    explicit FakePopover(QStringList& log) : log(log) {}
    bool isShown() const override { return shown; }
    void show() override {
        shown = true;
        log.append(u"shown"_s);
    }
    void close() override {
        if (!std::exchange(shown, false))
            return;
        log.append(u"closing"_s);
        if (!slowClose)
            finishClose();
    }
    bool closedByFocusLossJustNow() const override { return focusLossJustNow; }
    void finishClose() {
        log.append(u"closed"_s);
        closed();
    }

    QStringList& log;
    bool shown = false;
    bool slowClose = false; // closing animation: `closed` comes when the test says
    bool focusLossJustNow = false;
};

// Destroyed choosers and settings windows show in the log, so that one made
// again or one too many shows there too.
struct FakeChooser final : ChooserSurface {
    FakeChooser(QStringList& log, FakeChooser*& current) : log(log) { current = this; }
    ~FakeChooser() override { log.append(u"chooser gone"_s); }
    void open() override { log.append(u"chooser open"_s); }
    void raise() override { log.append(u"chooser raised"_s); }
    QStringList& log;
};

struct FakeSettings final : SettingsSurface {
    explicit FakeSettings(QStringList& log) : log(log) {}
    ~FakeSettings() override { log.append(u"settings gone"_s); }
    void show() override { log.append(u"settings shown"_s); }
    QStringList& log;
};

struct ShellRig {
    explicit ShellRig(std::unique_ptr<ParvelModel> model) {
        auto fake = std::make_unique<FakePopover>(log);
        popover = fake.get();
        shell = std::make_unique<AppShell>(
            std::move(model),
            ShellSurfaces{std::move(fake), [this] { return std::make_unique<FakeSettings>(log); },
                          [this] { return std::make_unique<FakeChooser>(log, chooser); }});
    }
    QString takeLog() { return std::exchange(log, {}).join(u", "_s); }
    ParvelModel& model() { return shell->model(); }
    // The chooser is destroyed after its completion has returned.
    bool chooserGone() {
        return QTest::qWaitFor([this] { return log.contains(u"chooser gone"_s); }, 10'000);
    }

    QStringList log;
    FakePopover* popover = nullptr;
    FakeChooser* chooser = nullptr;
    std::unique_ptr<AppShell> shell;
};

} // namespace

class ShellTest : public QObject {
    Q_OBJECT

    ServerFixture m_server;
    QTemporaryDir m_files;
    QUrl a, b, c;

    // No connection and nothing loading, `a` selected: the settings opened (log taken).
    std::unique_ptr<ShellRig> offlineShell() {
        ModelRig rig;
        auto shell = std::make_unique<ShellRig>(std::move(rig.model));
        shell->shell->launch({});
        shell->model().setFiles({a}, false);
        shell->takeLog();
        return shell;
    }

    // As a second `parvel` hands its command line to the running one.
    static LaunchRequest handedOver(const QStringList& arguments) {
        return LaunchRequest::parse(LaunchRequest::parse(arguments, u"/"_s).toArguments(),
                                    u"/elsewhere"_s);
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_server.start());
        a = QUrl::fromLocalFile(writeFile(m_files.filePath(u"a.txt"_s), 3));
        b = QUrl::fromLocalFile(writeFile(m_files.filePath(u"b.txt"_s), 5));
        c = QUrl::fromLocalFile(writeFile(m_files.filePath(u"c d.txt"_s), 7));
    }

    // Every click toggles the popover and every showing refreshes the list.
    // `--share` uploads at once without a password whatever the switch says,
    // leaving the switch as it was; while a run goes on it is refused with
    // the model's text.
    void clicksAndShares() {
        auto rig = m_server.connectedRig();
        ShellRig shell(std::move(rig->model));
        ParvelModel& model = shell.model();
        shell.shell->launch({});
        m_server.reset();
        shell.shell->statusIconClicked();
        // A refresh asked while one is out is dropped: the next showing waits.
        QVERIFY(QTest::qWaitFor([&] { return !model.isRefreshing(); }, 10'000));
        shell.shell->statusIconClicked();
        shell.shell->statusIconClicked();
        QVERIFY(QTest::qWaitFor([&] { return m_server.count("GET", "/api/files") == 2; }, 10'000));
        // The click that took the focus away must not bring the popover back.
        shell.popover->close();
        shell.popover->focusLossJustNow = true;
        shell.shell->statusIconClicked();

        model.setUsePassword(true);
        shell.shell->handleRequest(handedOver({u"--share"_s, a.toLocalFile(), b.toLocalFile()}));
        QVERIFY(model.isUploading() && model.usePassword());
        shell.shell->handleRequest(handedOver({u"--share"_s, c.toLocalFile()}));
        QCOMPARE(model.error(), u"Wait for the current upload, or cancel it first."_s);
        QCOMPARE(model.selected(), QList<QUrl>({a, b}));
        QCOMPARE(shell.takeLog(), u"shown, closing, closed, shown, closing, closed, shown"_s);
        QVERIFY(QTest::qWaitFor([&] { return !model.isUploading(); }, 10'000));
        const auto created = m_server.requests("POST", "/api/files");
        QCOMPARE(created.size(), size_t(2));
        for (const auto& request : created)
            QVERIFY(bodyOf(request).value(u"password"_s).isNull());
    }

    // A chooser or a screenshot asked from the open popover waits for it to
    // finish closing.
    void popoverClosesFirst() {
        auto shell = offlineShell();
        shell->shell->showPopover();
        shell->popover->slowClose = true;
        shell->model().selectFiles(true);
        // While prepared, nothing else comes up and no second chooser is made.
        shell->shell->showPopover();
        shell->shell->showSettings();
        shell->shell->chooseFiles(false);
        QCOMPARE(shell->takeLog(), u"shown, closing"_s);

        // Once open, it comes forward instead of the popover or the settings.
        shell->popover->finishClose();
        shell->shell->statusIconClicked();
        shell->shell->showSettings();
        shell->shell->chooseFiles(false);
        QCOMPARE(shell->takeLog(), u"closed, chooser open, chooser raised, chooser raised"_s);

        // Confirming adds (the request said so) in the chooser's order.
        shell->chooser->finished(QList<QUrl>{c, b});
        QCOMPARE(shell->model().selected(), QList<QUrl>({a, c, b}));
        QVERIFY(shell->chooserGone());
        QCOMPARE(shell->takeLog(), u"shown, chooser gone"_s);

        // The screenshot's outcome (here: no portal) shows in the popover.
        shell->model().shareScreenshot();
        QCOMPARE(shell->model().error(), QString());
        shell->popover->finishClose();
        QCOMPARE(shell->model().error(), u"Screenshots need the desktop portal."_s);
        QCOMPARE(shell->takeLog(), u"closing, closed, shown"_s);

        // No chooser while uploading.
        shell->model().setIsUploading(true);
        shell->shell->chooseFiles(false);
        shell->model().selectFiles(true);
        QCOMPARE(shell->takeLog(), QString());
    }

    // Cancelled from the open popover, the popover comes back; with it closed,
    // cancelling shows nothing and confirming replaces and shows the popover.
    void cancelBringsThePopoverBackOnlyWhenTheChooserReplacedIt() {
        for (const auto& [fromPopover, chosen, log] :
             std::initializer_list<std::tuple<bool, std::optional<QList<QUrl>>, QString>>{
                 {true, {}, u"shown, chooser gone"_s},
                 {false, {}, u"chooser gone"_s},
                 {false, QList{b}, u"shown, chooser gone"_s},
             }) {
            auto shell = offlineShell();
            if (fromPopover)
                shell->shell->togglePopover();
            shell->shell->chooseFiles(false);
            shell->takeLog();
            shell->chooser->finished(chosen);
            QVERIFY(shell->chooserGone());
            QCOMPARE(shell->takeLog(), log);
            QCOMPARE(shell->model().selected(), chosen.value_or(QList{a}));
        }
    }

    // Launched while the stored connection is read. None stored (first row): the
    // settings open once, when the read ends, and stay made. `--share` waits for the
    // connection; flags act in a fixed order; Qt's and other modes' options are no files.
    void launch() {
        const std::pair<QString, QString> rows[] = {
            {QString(), u"settings shown, settings shown"_s},
            {u"--share "_s + b.toLocalFile(), u"settings shown"_s},
            {u"-platform xcb --render-previews --choose-files"_s,
             u"chooser open, chooser raised"_s},
            {u"--choose-files --show --settings "_s + a.toLocalFile(),
             u"settings shown, shown, closing, closed, chooser open, chooser raised, "
             u"chooser raised"_s},
        };
        for (const auto& [arguments, log] : rows) {
            QTemporaryDir dir;
            auto store = std::make_shared<FileCredentialStore>(dir.path());
            QVERIFY(arguments.isEmpty() || store->save(m_server.bootstrap()));
            ModelRig rig(true, store);
            ShellRig shell(std::move(rig.model));
            const LaunchRequest request = handedOver(arguments.split(u' ', Qt::SkipEmptyParts));
            shell.shell->launch(request);
            QVERIFY(QTest::qWaitFor([&] { return !shell.model().isLoadingConnection(); }, 10'000));
            shell.shell->showSettings();
            QCOMPARE(shell.takeLog(), log);
            QCOMPARE(shell.model().selected(), request.files);
        }
    }

    // From another instance: file URLs only, in order, replacing; nothing but
    // web links is refused. A bare second start shows the popover, and so
    // does a `--share` that cannot start a run (here: no connection).
    void openedFilesReplaceTheSelection() {
        auto shell = offlineShell();
        shell->shell->handleRequest(
            handedOver({c.toLocalFile(), u"https://example.org/x"_s, b.toLocalFile()}));
        QVERIFY(!shell->shell->dropFiles({QUrl(u"https://example.org/x"_s)}));
        QCOMPARE(shell->model().selected(), QList<QUrl>({c, b}));
        shell->shell->togglePopover();
        shell->shell->handleRequest(handedOver({}));
        shell->shell->togglePopover();
        shell->shell->handleRequest(handedOver({u"--share"_s, a.toLocalFile()}));
        QCOMPARE(shell->takeLog(), u"shown, closing, closed, shown, closing, closed, shown"_s);
    }

    // A drop that arrives without the URLs it carried on entering (native
    // Wayland drags through XWayland) selects those seen on entering.
    void popoverDropKeepsTheURLsSeenOnEntering() {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        auto rig = m_server.connectedRig();
        QQmlEngine engine;
        PopoverWindow popover(engine, *rig->model, {}, {});
        popover.show();
        const QPoint zone(168, 100);
        QMimeData carried, empty;
        carried.setUrls({b, a});
        QDragEnterEvent enter(zone, Qt::CopyAction, &carried, Qt::LeftButton, {});
        QDragMoveEvent move(zone, Qt::CopyAction, &carried, Qt::LeftButton, {});
        QDropEvent drop(zone, Qt::CopyAction, &empty, Qt::LeftButton, {});
        for (QEvent* event : std::initializer_list<QEvent*>{&enter, &move, &drop})
            QCoreApplication::sendEvent(&popover.window(), event);
        QVERIFY(drop.isAccepted());
        QCOMPARE(rig->model->selected(), QList<QUrl>({b, a}));
    }

    // The tray icon's tool tip, the notice at the end of a run, and where
    // the popover goes.
    void textsAndPlacement() {
        QCOMPARE(statusText(false, u"2 links copied. Ready to share."_s, 1), u"Send files"_s);
        QCOMPARE(statusText(true, u"Uploading 1 of 2…"_s, 0.427), u"Uploading 1 of 2… 42%"_s);
        QCOMPARE(statusText(true, QString(), 1.5), u"Uploading… 100%"_s);
        const QString done = u"2 links copied. Ready to share."_s;
        QCOMPARE(runEndNotice(false, done, QString()), done);
        QCOMPARE(runEndNotice(false, u"Upload cancelled."_s, u"Server error"_s), u"Server error"_s);
        QCOMPARE(runEndNotice(true, done, QString()), std::nullopt);
        QCOMPARE(runEndNotice(false, QString(), QString()), std::nullopt);

        // The popover: centred on the icon or click point, below it in the top
        // half of its screen, above it in the bottom half, kept on that screen;
        // with nothing known, the primary's top-right corner.
        const QRect top(0, 24, 1920, 1056); // a 24-pixel panel at the top
        const QList<QRect> one{top}, three{top, {-1280, 0, 1280, 1024}, {1920, 0, 1280, 1024}};
        const auto at = [](int x, int y) { return QRect(x, y, 1, 1); };
        for (const auto& [anchor, screens, position] :
             std::initializer_list<std::tuple<QRect, QList<QRect>, QPoint>>{
                 {QRect(1000, 0, 24, 24), one, {844, 30}},  // icon in a top panel
                 {QRect(1896, 0, 24, 24), one, {1584, 30}}, // right edge
                 {at(1268, 1070), one, {1100, 504}},        // bottom half: above
                 {at(400, 540), one, {232, 520}},           // top half: below, kept on screen
                 {at(100, 1079), one, {0, 513}},            // bottom-left corner
                 {QRect(), three, {1578, 30}},              // nothing known
                 {at(-640, 1020), three, {-808, 454}},      // on the left screen
                 {at(5000, 2000), three, {2864, 464}},      // off every screen: the nearest
             })
            QCOMPARE(popoverPosition(anchor, QSize(336, 560), screens), position);

        // The pointer that sway centred our window on: exact away from the
        // edges; at a panel's inner edge when the window touches an edge a
        // panel takes.
        const QRect output(0, 0, 1280, 720), bottomBar(0, 0, 1280, 690), topBar(0, 30, 1280, 690);
        for (const auto& [window, usable, pointer] :
             std::initializer_list<std::tuple<QRect, QRect, QPoint>>{
                 {QRect(472, 80, 336, 560), bottomBar, {640, 360}},  // nowhere near an edge
                 {QRect(472, 160, 336, 560), bottomBar, {640, 690}}, // in the bottom panel
                 {QRect(944, 0, 336, 560), topBar, {1112, 29}},      // in the top panel, right
                 {QRect(472, 160, 336, 560), output, {640, 440}},    // no panel at that edge
             })
            QCOMPARE(pointerOf({window, output, usable}), pointer);
    }
};

QTEST_MAIN(ShellTest)
#include "tst_shell.moc"
