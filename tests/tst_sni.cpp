// Our StatusNotifierItem and its dbusmenu as a panel sees them: over the
// private session bus of scripts/test, with a watcher of the test's own.
#include "shell/DBusMenuExporter.h"
#include "shell/StatusNotifierItem.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString watcherName = u"org.kde.StatusNotifierWatcher"_s;

// The panel's side: takes registrations, as waybar's or Plasma's watcher does.
class Watcher final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
public:
    QStringList items;
    QList<uint> layoutRevisions; // of the menu's LayoutUpdated, which the host listens to
public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service) { items.append(service); }
    void layoutUpdated(uint revision, int) { layoutRevisions.append(revision); }
};

// The host's own connection, so every call really crosses the bus.
QDBusConnection hostBus() {
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"host"_s);
}

// The item answers on this very thread: a blocking call would wait for
// itself, so calls go out asynchronously while the event loop runs.
QDBusMessage callAsHost(const QString& service, const QString& path, const QString& interface,
                        const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments);
    QDBusPendingCall pending = hostBus().asyncCall(call, 5000);
    if (!QTest::qWaitFor([&] { return pending.isFinished(); }, 6000))
        return {};
    return pending.reply();
}

} // namespace

class SniTest final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("needs a private session bus (scripts/test provides one)");
    }

    void itemMenuAndWatcherRestart() {
        Watcher watcher;
        QDBusConnection host = hostBus();
        QVERIFY(host.registerObject(u"/StatusNotifierWatcher"_s, &watcher,
                                    QDBusConnection::ExportAllSlots));
        QVERIFY(host.registerService(watcherName));

        QMenu menu;
        QAction* status = menu.addAction(u"Uploading… 10%"_s);
        status->setEnabled(false);
        status->setVisible(false);
        menu.addAction(u"Open_Parvel"_s);
        menu.addSeparator();
        menu.addAction(u"&Quit Parvel"_s);
        QList<QPoint> activated, menus;
        StatusNotifierItem item(
            QDBusConnection::sessionBus(), menu,
            {[&](QPoint p) { activated.append(p); }, {}, [&](QPoint p) { menus.append(p); }});
        QPixmap red(48, 48);
        red.fill(QColor(255, 0, 0));
        item.setIcon(QString(), QIcon(red));
        item.setTexts(u"Parvel. Click to share files."_s, u"Send files"_s);
        QSignalSpy registered(&item, &StatusNotifierItem::registered);
        QVERIFY(item.start());
        QTRY_COMPARE(watcher.items, QStringList{item.serviceName()});
        QTRY_COMPARE(registered.size(), 1); // the answer comes after the call

        // Properties, with the image and tool tip in their wire formats.
        const QString service = item.serviceName(), sni = u"org.kde.StatusNotifierItem"_s;
        const auto get = [&](const QString& name) {
            const QDBusMessage reply =
                callAsHost(service, u"/StatusNotifierItem"_s, u"org.freedesktop.DBus.Properties"_s,
                           u"Get"_s, {sni, name});
            return qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant();
        };
        QCOMPARE((QVariantList{get(u"Category"_s), get(u"Title"_s), get(u"Status"_s),
                               get(u"ItemIsMenu"_s),
                               qvariant_cast<QDBusObjectPath>(get(u"Menu"_s)).path()}),
                 (QVariantList{u"ApplicationStatus"_s, u"Parvel. Click to share files."_s,
                               u"Active"_s, false, u"/MenuBar"_s}));
        const auto images = qdbus_cast<QList<SniImage>>(get(u"IconPixmap"_s));
        QCOMPARE(images.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(images[i].width, (QList<int>{22, 32, 48}[i]));
            QCOMPARE(images[i].pixels.size(), images[i].width * images[i].height * 4);
            QCOMPARE(images[i].pixels.left(4), QByteArray("\xff\xff\x00\x00", 4)); // A R G B
        }
        const auto tip = qdbus_cast<SniToolTip>(get(u"ToolTip"_s));
        QCOMPARE(std::pair(tip.title, tip.text), std::pair(u"Parvel"_s, u"Send files"_s));

        // Clicks carry their point.
        for (const auto& [method, x, y] :
             {std::tuple(u"Activate"_s, 1268, 789), std::tuple(u"ContextMenu"_s, 5, 6)})
            QCOMPARE(callAsHost(service, u"/StatusNotifierItem"_s, sni, method, {x, y}).type(),
                     QDBusMessage::ReplyMessage);
        QCOMPARE(activated, QList{QPoint(1268, 789)});
        QCOMPARE(menus, QList{QPoint(5, 6)});

        // The menu as the hosts read it: its revision, then every entry's type,
        // label, enabled and visible.
        const QString dbusmenu = u"com.canonical.dbusmenu"_s;
        const auto layoutNow = [&] {
            QDBusMessage reply = callAsHost(service, u"/MenuBar"_s, dbusmenu, u"GetLayout"_s,
                                            {0, -1, QStringList()});
            QStringList seen{reply.arguments().value(0).toString()};
            for (const QVariant& child :
                 qdbus_cast<DBusMenuLayout>(reply.arguments().value(1)).children) {
                const QVariantMap p = child.value<DBusMenuLayout>().properties;
                seen.append(p.value(u"type"_s).toString() + u'|' + p.value(u"label"_s).toString() +
                            u'|' + p.value(u"enabled"_s).toString() + u'|' +
                            p.value(u"visible"_s).toString());
            }
            return seen;
        };
        const QStringList before = layoutNow();
        QCOMPARE(before.mid(1),
                 (QStringList{u"|Uploading… 10%|false|false"_s, u"|Open__Parvel|true|true"_s,
                              u"separator|||true"_s, u"|_Quit Parvel|true|true"_s}));

        // A changed status line makes the hosts read the layout again.
        QVERIFY(host.connect(service, u"/MenuBar"_s, dbusmenu, u"LayoutUpdated"_s, &watcher,
                             SLOT(layoutUpdated(uint, int))));
        status->setText(u"Uploading… 60%"_s);
        status->setVisible(true);
        QTRY_COMPARE(watcher.layoutRevisions.size(), 1);
        QVERIFY(watcher.layoutRevisions[0] > before[0].toUInt());
        QCOMPARE(layoutNow().value(1), u"|Uploading… 60%|false|true"_s);

        // The panel restarts: its new watcher gets the item again.
        QVERIFY(host.unregisterService(watcherName));
        QVERIFY(host.registerService(watcherName));
        QTRY_COMPARE(watcher.items.size(), 2);
        QTRY_COMPARE(registered.size(), 2);
    }
};

QTEST_MAIN(SniTest)
#include "tst_sni.moc"
