// The Linux backends behind the model's services: this computer's name, the
// clipboard (offscreen platform) and the desktop portal's preferences over a
// private session bus.

#include "platform/ClipboardPasteboard.h"
#include "platform/ComputerName.h"
#include "platform/PortalSettings.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusVariant>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Just enough of org.freedesktop.portal.Settings: Read answers the way older
// portals do (the value wrapped in one variant too many).
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    QMap<QString, QVariant> values;

public Q_SLOTS:
    QDBusVariant Read(const QString& group, const QString& key) {
        return QDBusVariant(QVariant::fromValue(QDBusVariant(values.value(group + u'|' + key))));
    }

Q_SIGNALS:
    void SettingChanged(const QString& group, const QString& key, const QDBusVariant& value);
};

} // namespace

class PlatformTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void computerName() {
        using ComputerName::prettyHostName;
        QCOMPARE(prettyHostName("PRETTY_HOSTNAME=\"Ada's Laptop\"\nICON_NAME=computer\n"),
                 u"Ada's Laptop"_s);
        QCOMPARE(prettyHostName("CHASSIS=laptop\nPRETTY_HOSTNAME='Studio \"B\"'\n"),
                 u"Studio \"B\""_s);
        QCOMPARE(prettyHostName("PRETTY_HOSTNAME=Plain\\ Name"), u"Plain Name"_s);
        QCOMPARE(prettyHostName("PRETTY_HOSTNAME=\"Zoë’s Mac\""), u"Zoë’s Mac"_s);
        QCOMPARE(prettyHostName("ICON_NAME=computer\n"), QString());

        // A missing file or an empty name: the host name, else "My computer".
        QTemporaryDir dir;
        const QString info = dir.filePath(u"machine-info"_s);
        QCOMPARE(ComputerName::resolve(info, u"host"_s), u"host"_s);
        const auto write = [&](const QByteArray& text) {
            QFile file(info);
            return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
        };
        QVERIFY(write("PRETTY_HOSTNAME=\"Desk\"\n"));
        QCOMPARE(ComputerName::resolve(info, u"host"_s), u"Desk"_s);
        QVERIFY(write("PRETTY_HOSTNAME=\"\"\n"));
        QCOMPARE(ComputerName::resolve(info, u"host"_s), u"host"_s);
        QCOMPARE(ComputerName::resolve(info, QString()), u"My computer"_s);
    }

    void clipboardHoldsOnePlainString() {
        QClipboard* clipboard = QGuiApplication::clipboard();
        auto* rich = new QMimeData;
        rich->setHtml(u"<b>old</b>"_s);
        rich->setText(u"old"_s);
        rich->setData(u"application/x-parvel-test"_s, "x");
        clipboard->setMimeData(rich);

        ClipboardPasteboard().setText(u"https://a.example/s/1\nhttps://a.example/s/2"_s);
        QCOMPARE(clipboard->text(), u"https://a.example/s/1\nhttps://a.example/s/2"_s);
        QCOMPARE(clipboard->mimeData()->formats(), QStringList{u"text/plain"_s});
    }

    void portalDefaultsWithoutBus() {
        // No bus named: defaults, and no attempt to find one.
        const QByteArray saved = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        PortalSettings settings;
        if (!saved.isEmpty())
            qputenv("DBUS_SESSION_BUS_ADDRESS", saved);
        QVERIFY(settings.motionAllowed() && !settings.prefersDark());

        // Color scheme 2 is "light"; keys of other groups are ignored.
        QSignalSpy changed(&settings, &PortalSettings::changed);
        settings.apply(u"org.freedesktop.appearance"_s, u"color-scheme"_s, 2u);
        settings.apply(u"org.example"_s, u"other"_s, true);
        QVERIFY(!settings.prefersDark());
        QCOMPARE(changed.count(), 1);
    }

    void portalOverSessionBus() {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("needs a private session bus (scripts/test provides one)");
        QDBusConnection portalBus =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"fake-portal"_s);
        QVERIFY(portalBus.isConnected());
        FakePortal portal;
        portal.values.insert(u"org.gnome.desktop.interface|enable-animations"_s, false);
        portal.values.insert(u"org.freedesktop.appearance|color-scheme"_s, 1u);
        QVERIFY(portalBus.registerObject(u"/org/freedesktop/portal/desktop"_s, &portal,
                                         QDBusConnection::ExportAllSlots |
                                             QDBusConnection::ExportAllSignals));
        QVERIFY(portalBus.registerService(u"org.freedesktop.portal.Desktop"_s));

        PortalSettings settings;
        QSignalSpy changed(&settings, &PortalSettings::changed);
        QTRY_COMPARE(changed.count(), 2);
        QVERIFY(!settings.motionAllowed() && settings.prefersDark());

        Q_EMIT portal.SettingChanged(u"org.gnome.desktop.interface"_s, u"enable-animations"_s,
                                     QDBusVariant(true));
        QTRY_VERIFY(settings.motionAllowed());
        Q_EMIT portal.SettingChanged(u"org.freedesktop.appearance"_s, u"color-scheme"_s,
                                     QDBusVariant(0u));
        QTRY_VERIFY(!settings.prefersDark());

        portalBus.unregisterService(u"org.freedesktop.portal.Desktop"_s);
        QDBusConnection::disconnectFromBus(u"fake-portal"_s);
    }
};

QTEST_MAIN(PlatformTest)
#include "tst_model_platform.moc"
