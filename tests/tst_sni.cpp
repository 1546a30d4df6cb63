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
    (void)QTest::qWaitFor([&] { return pending.isFinished(); }, 6000);
    return pending.reply(); // not valid when unfinished
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
        const QString service = item.serviceName(), sni = u"org.kde.StatusNotifierItem"_s,
                      itemPath = u"/StatusNotifierItem"_s;
        const auto get = [&](const QString& name) {
            const QDBusMessage reply = callAsHost(
                service, itemPath, u"org.freedesktop.DBus.Properties"_s, u"Get"_s, {sni, name});
            return qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant();
        };
        const auto tip = qdbus_cast<SniToolTip>(get(u"ToolTip"_s));
        QCOMPARE((QVariantList{
                     get(u"Category"_s), get(u"Title"_s), get(u"Status"_s), get(u"ItemIsMenu"_s),
                     qvariant_cast<QDBusObjectPath>(get(u"Menu"_s)).path(), tip.title, tip.text}),
                 (QVariantList{u"ApplicationStatus"_s, u"Parvel. Click to share files."_s,
                               u"Active"_s, false, u"/MenuBar"_s, u"Parvel"_s, u"Send files"_s}));
        QList<QSize> images; // each all opaque red, A R G B
        for (const SniImage& image : qdbus_cast<QList<SniImage>>(get(u"IconPixmap"_s)))
            if (image.pixels ==
                QByteArray("\xff\xff\x00\x00", 4).repeated(image.width * image.height))
                images.append(QSize(image.width, image.height));
        QCOMPARE(images, (QList<QSize>{{22, 22}, {32, 32}, {48, 48}}));

        // Clicks carry their point.
        callAsHost(service, itemPath, sni, u"Activate"_s, {7, 8});
        callAsHost(service, itemPath, sni, u"ContextMenu"_s, {5, 6});
        QCOMPARE(std::pair(activated, menus), std::pair(QList{QPoint(7, 8)}, QList{QPoint(5, 6)}));

        // The menu as hosts read it: revision, then type|label|enabled|visible.
        const auto layoutNow = [&] {
            QDBusMessage reply = callAsHost(service, u"/MenuBar"_s, u"com.canonical.dbusmenu"_s,
                                            u"GetLayout"_s, {0, -1, QStringList()});
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
        QVERIFY(host.connect(service, u"/MenuBar"_s, u"com.canonical.dbusmenu"_s,
                             u"LayoutUpdated"_s, &watcher, SLOT(layoutUpdated(uint, int))));
        status->setText(u"Uploading… 60%"_s);
        status->setVisible(true);
        QTRY_VERIFY(watcher.layoutRevisions.value(0) > before[0].toUInt());
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
