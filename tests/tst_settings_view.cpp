// The settings view in a real window on the offscreen platform, over the real
// model against the dev server: what pressing its buttons and keys does, on
// the server and on disk, and that closing the window answers every question
// with "Cancel".

#include "ModelFixture.h"
#include "platform/LoginItem.h"
#include "tools/SettingsHost.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QQuickItem>

using namespace std::chrono_literals;

namespace {

constexpr int limit = 10'000; // ms, for QTRY_*

// The first visible item below `root` (popups included, through the
// window's content item) whose `text` is `text`.
QQuickItem* withText(QQuickItem* root, const QString& text) {
    for (QQuickItem* child : root->childItems()) {
        if (!child->isVisible())
            continue;
        if (child->property("text").toString() == text &&
            child->metaObject()->indexOfSignal("clicked()") >= 0)
            return child;
        if (QQuickItem* found = withText(child, text))
            return found;
    }
    return nullptr;
}

// Types `text` into the focused item, one key event a character (a
// combining accent arrives on its own, as from a dead key).
void typeText(QQuickWindow& window, const QString& text) {
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, &window, Qt::Key_unknown, c, Qt::NoModifier);
}

QPoint centre(QQuickItem* item) {
    return item->mapToScene({item->width() / 2, item->height() / 2}).toPoint();
}

} // namespace

class SettingsViewTest : public QObject {
    Q_OBJECT

    ServerFixture m_server;
    std::unique_ptr<ModelRig> m_rig;
    std::unique_ptr<SettingsHost> m_host;

    ParvelModel& model() { return *m_rig->model; }
    QQuickWindow& window() { return m_host->window; }
    QQuickItem* view() { return m_host->view.get(); }

    void show(std::unique_ptr<ModelRig> rig) {
        m_rig = std::move(rig);
        m_host = std::make_unique<SettingsHost>(m_rig->model.get());
        window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&window()));
    }
    // Closes the window and shows it again, as the settings window is reused.
    bool reopen() {
        window().hide();
        window().show();
        return QTest::qWaitForWindowExposed(&window());
    }
    // Clicks the visible button reading `text`; fails the test when none.
    bool click(const QString& text) {
        QQuickItem* button = withText(window().contentItem(), text);
        if (button)
            QTest::mouseClick(&window(), Qt::LeftButton, {}, centre(button));
        else
            qWarning("no visible button \"%s\"", qPrintable(text));
        return button != nullptr;
    }
    bool key(Qt::Key key) {
        QTest::keyClick(&window(), key);
        return true;
    }
    // Items and popups alike.
    bool shows(const QString& objectName) {
        auto* object = view()->findChild<QObject*>(objectName);
        return object && object->property("visible").toBool();
    }
    QVariant state(const char* name) { return view()->property(name); }
    // The visible rows of the list called `list`.
    QList<QQuickItem*> rows(const QString& list) {
        auto* view = this->view()->findChild<QQuickItem*>(list);
        QList<QQuickItem*> found = view->property("contentItem").value<QQuickItem*>()->childItems();
        found.removeIf([](QQuickItem* row) { return !row->isVisible(); });
        return found;
    }
    // The actions menu of the row for `name`, opened with the mouse.
    bool openActions(const QString& name) {
        for (QQuickItem* row : rows(u"fileList"_s))
            if (row->property("name").toString() == name) {
                QTest::mouseClick(&window(), Qt::LeftButton, {},
                                  centre(row->findChild<QQuickItem*>(u"actionsButton"_s)));
                return true;
            }
        return false;
    }
    // Picks `item` from the actions of the row for `file` once the row is
    // there, and waits for `popup` to show.
    bool fromActions(const QString& file, const QString& item, const QString& popup) {
        return QTest::qWaitFor([&] { return openActions(file); }, limit) && click(item) &&
               QTest::qWaitFor([&] { return shows(popup); }, limit);
    }
    // Whether the question went: what it held (`held`) cleared, `popup` hidden.
    bool dismissed(const char* held, const QString& popup) {
        return QTest::qWaitFor([&] { return state(held).isNull() && !shows(popup); }, limit);
    }

private Q_SLOTS:
    void initTestCase() {
        SettingsHost::useSoftwareRenderer();
        QVERIFY(m_server.start());
    }
    void init() { m_server.reset(); }
    void cleanup() {
        m_host.reset();
        m_rig.reset();
    }
    void cleanupTestCase() { systemConnectionStore()->clear(); }

    void accessSheet();
    void deleteConfirmation();
    void yourMacs();
    void preferencesAndReopening();
};

void SettingsViewTest::accessSheet() {
    const SharedFile file = m_server.seed(u"plan.pdf"_s, 5);
    show(m_server.connectedRig());
    const auto openSheet = [&] {
        return fromActions(file.name, u"Change access…"_s, u"accessSheet"_s);
    };
    QVERIFY(openSheet());

    // Protection on leads to the field: three characters are too few, the
    // fourth enables saving.
    QVERIFY(click(u"Require a password"_s));
    auto* save = view()->findChild<QQuickItem*>(u"saveButton"_s);
    QTRY_VERIFY_WITH_TIMEOUT(window().activeFocusItem() &&
                                 window().activeFocusItem()->objectName() == u"passwordField"_s,
                             limit);
    typeText(window(), u"e\u0301e\u0301e\u0301"_s);
    QVERIFY(!save->isEnabled());
    typeText(window(), u"!"_s);
    QVERIFY(save->isEnabled());

    // Return saves; the sheet stays open until the slow answer has come.
    m_server.server->injectFault("PATCH", "/api/files/" + file.id.toStdString(),
                                 Fault::delayed(2s));
    QTest::keyClick(&window(), Qt::Key_Return);
    QTest::qWait(200); // (the server records a delayed request only as it answers)
    QVERIFY(!state("editing").isNull() && shows(u"accessSheet"_s));
    QTRY_VERIFY_WITH_TIMEOUT(state("editing").isNull(), limit);
    QCOMPARE(bodyOf(m_server.requests("PATCH", "/api/files/*").at(0)),
             QJsonObject({{u"password"_s, u"e\u0301e\u0301e\u0301!"_s}}));

    // Protection off: nothing to type, saving sends null; a refused change
    // still closes the sheet and shows why.
    QVERIFY(openSheet());
    QCOMPARE(state("newPassword").toString(), QString());
    QVERIFY(click(u"Require a password"_s));
    QVERIFY(!shows(u"passwordField"_s) && save->isEnabled());
    m_server.server->injectFault("PATCH", "/api/files/" + file.id.toStdString(),
                                 Fault::withStatus(500, R"({"error":"Try later."})"));
    QVERIFY(click(u"Save access"_s));
    QTRY_VERIFY_WITH_TIMEOUT(state("editing").isNull(), limit);
    QCOMPARE(model().error(), u"Try later."_s);
    QCOMPARE(bodyOf(m_server.requests("PATCH", "/api/files/*").back()),
             QJsonObject({{u"password"_s, QJsonValue::Null}}));

    // Escape and closing the window are a cancel: nothing is sent, and the
    // reopened window shows the list.
    QVERIFY(openSheet() && key(Qt::Key_Escape) && dismissed("editing", u"accessSheet"_s));
    QVERIFY(openSheet() && reopen() && dismissed("editing", u"accessSheet"_s));
    QCOMPARE(m_server.count("PATCH", "/api/files/*"), size_t(2));
}

void SettingsViewTest::deleteConfirmation() {
    const QList<SharedFile> before = m_server.serverFiles();
    const SharedFile file = m_server.seed(u"old.zip"_s, 4);
    show(m_server.connectedRig());
    const auto ask = [&] { return fromActions(file.name, u"Delete…"_s, u"deleteAlert"_s); };
    const auto gone = [&] { return dismissed("deleting", u"deleteAlert"_s); };

    // Escape, Cancel, Return (even on "Delete") and closing the window all
    // leave the file where it is; the reopened window shows the list.
    QVERIFY(ask() && key(Qt::Key_Escape) && gone());
    QVERIFY(ask() && click(u"Cancel"_s) && gone());
    QVERIFY(ask());
    withText(window().contentItem(), u"Delete"_s)->forceActiveFocus();
    QVERIFY(key(Qt::Key_Return) && gone());
    QVERIFY(ask() && reopen() && gone());
    QVERIFY(openActions(file.name) && reopen() && !shows(u"fileActions"_s));
    QCOMPARE(m_server.count("DELETE", "/api/files/*"), size_t(0));
    QCOMPARE(model().files().size(), before.size() + 1);

    // (After the reopening's refresh: an older list must not come last.)
    QTRY_VERIFY_WITH_TIMEOUT(!model().isRefreshing(), limit);
    QVERIFY(ask() && click(u"Delete"_s));
    QTRY_COMPARE_WITH_TIMEOUT(m_server.serverFiles(), before, limit);
    QVERIFY(state("deleting").isNull());
    QTRY_COMPARE_WITH_TIMEOUT(model().files().size(), before.size(), limit);
}

void SettingsViewTest::yourMacs() {
    // This computer joins with a code, after a third one did.
    const API bootstrap(m_server.bootstrap());
    const QString joinCode = QString::fromStdString(m_server.server->newConnectionCode());
    const QString other =
        must(waitWithin(Endpoints::connect(bootstrap, joinCode, u"Old laptop"_s))).device.id;
    auto rig = std::make_unique<ModelRig>();
    rig->model->setIsLoadingConnection(false);
    rig->model->setServerURL(m_server.baseURL());
    rig->model->setConnectionCode(QString::fromStdString(m_server.server->newConnectionCode()));
    QVERIFY(finishes(rig->model->connect()));
    show(std::move(rig));
    QVERIFY(click(u"Your computers"_s));

    // One row each: "This computer" only on this one, "Disconnect…" on neither it
    // nor the library's first.
    const auto devices = [&] {
        QMap<QString, QPair<bool, bool>> found; // id: This computer, Disconnect…
        for (QQuickItem* row : rows(u"deviceList"_s))
            if (row->property("deviceId").isValid())
                found.insert(row->property("deviceId").toString(),
                             {row->findChild<QQuickItem*>(u"thisMac"_s)->isVisible(),
                              row->findChild<QQuickItem*>(u"disconnectButton"_s)->isVisible()});
        return found;
    };
    const QMap<QString, QPair<bool, bool>> expected{{u"bootstrap"_s, {false, false}},
                                                    {model().currentDeviceID(), {true, false}},
                                                    {other, {false, true}}};
    QTRY_COMPARE_WITH_TIMEOUT(devices(), expected, limit);

    // A code only after asking; "Copy code" copies exactly it.
    QVERIFY(!shows(u"pairingCard"_s) && click(u"Create connection code"_s));
    QTRY_VERIFY_WITH_TIMEOUT(shows(u"pairingCard"_s), limit);
    const QString code = model().pairing()->code;
    QCOMPARE(view()->findChild<QQuickItem*>(u"pairingCode"_s)->property("text").toString(), code);
    QVERIFY(click(u"Copy code"_s));
    QCOMPARE(QGuiApplication::clipboard()->text(), code);

    // Cancelling or closing the window keeps the computer; confirming
    // disconnects it.
    const auto ask = [&] {
        return click(u"Disconnect…"_s) &&
               QTest::qWaitFor([&] { return shows(u"disconnectAlert"_s); }, limit);
    };
    QVERIFY(ask() && click(u"Cancel"_s) && dismissed("revoking", u"disconnectAlert"_s));
    QVERIFY(ask() && reopen() && dismissed("revoking", u"disconnectAlert"_s));
    QCOMPARE(m_server.count("DELETE", "/api/devices/*"), size_t(0));
    QVERIFY(ask() && click(u"Disconnect"_s));
    QTRY_COMPARE_WITH_TIMEOUT(devices().size(), 2, limit);
    QVERIFY(state("revoking").isNull());
    QVERIFY(!devices().contains(other));
}

void SettingsViewTest::preferencesAndReopening() {
    show(m_server.connectedRig());
    QVERIFY(click(u"Settings"_s));
    QTRY_VERIFY_WITH_TIMEOUT(!model().devices().isEmpty(), limit); // the first showing's calls
    m_server.reset();

    // Reopened: the same section, and again a refresh followed by the list
    // of computers.
    QVERIFY(reopen());
    QCOMPARE(state("tab").toInt(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(
        m_server.trail(),
        QStringList({u"GET /api/me"_s, u"GET /api/files"_s, u"GET /api/devices"_s}), limit);

    // Both buttons open the same page: the address with "/install" added.
    QVERIFY(click(u"Check for updates"_s) && click(u"Your computers"_s) &&
            click(u"Download installer"_s));
    const QUrl page(m_server.baseURL() + u"/install"_s);
    QCOMPARE(m_rig->browser->opened, (QList<QUrl>{page, page}));

    // The switch writes and removes the autostart entry.
    QVERIFY(click(u"Settings"_s));
    const LoginItem item = LoginItem::forThisApplication();
    auto* toggle = view()->findChild<QQuickItem*>(u"loginSwitch"_s);
    QVERIFY(click(u"Open Parvel at login"_s));
    QVERIFY(QFile::exists(item.path()) && toggle->property("checked").toBool());
    QVERIFY(click(u"Open Parvel at login"_s));
    QVERIFY(!QFile::exists(item.path()) && !toggle->property("checked").toBool());

    // A failure shows the system's reason and the switch returns to off.
    const QString folder = QFileInfo(item.path()).path();
    QVERIFY(QDir(folder).removeRecursively());
    QVERIFY(QFile(folder).open(QIODevice::WriteOnly));
    QVERIFY(click(u"Open Parvel at login"_s));
    QCOMPARE(model().error(), u"Not a directory"_s);
    QVERIFY(!toggle->property("checked").toBool() && !state("launchAtLogin").toBool());
    QVERIFY(QFile::remove(folder));

    // A replaced list keeps the place the user scrolled to.
    QVERIFY(click(u"Files"_s));
    QList<SharedFile> files;
    for (int i = 0; i < 300; ++i)
        files.append(SharedFile{u"id%1"_s.arg(i), u"f%1.txt"_s.arg(i), 10, false, u"now"_s,
                                u"https://x/"_s});
    model().assignFiles(files);
    QTRY_VERIFY_WITH_TIMEOUT(shows(u"filesScrollBar"_s), limit);
    auto* list = view()->findChild<QQuickItem*>(u"fileList"_s);
    list->setProperty("contentY", 6000);
    files.removeFirst();
    model().assignFiles(files);
    QTRY_COMPARE_WITH_TIMEOUT(list->property("contentY").toDouble(), 6000.0, limit);
    QTest::qWait(50); // a late reset to the top would show here
    QCOMPARE(list->property("contentY").toDouble(), 6000.0);
}

QTEST_MAIN(SettingsViewTest)
#include "tst_settings_view.moc"
