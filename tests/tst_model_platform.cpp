// The Linux backends behind the model's services: this computer's name, the
// clipboard (offscreen platform) and the desktop portal's preferences over a
// private session bus.

#include "platform/ClipboardPasteboard.h"
#include "platform/ComputerName.h"
#include "platform/PortalSettings.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// Just enough of org.freedesktop.portal.Settings: dark, no animations, and
// Read answers the way older portals do (the value wrapped once too often).
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public Q_SLOTS:
    QDBusVariant Read(const QString& group, const QString&) {
        const QVariant value = group == u"org.freedesktop.appearance"_s ? QVariant(1u) : false;
        return QDBusVariant(QVariant::fromValue(QDBusVariant(value)));
    }
Q_SIGNALS:
    void SettingChanged(const QString& group, const QString& key, const QDBusVariant& value);
};

class PlatformTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // machine-info's pretty name, however quoted; else the host name, else "My computer".
    void computerName() {
        QTemporaryDir dir;
        QFile info(dir.filePath(u"machine-info"_s));
        QCOMPARE(ComputerName::resolve(info.fileName(), QString()), u"My computer"_s);
        const std::pair<const char*, QString> files[] = {
            {"PRETTY_HOSTNAME=\"Zoë’s Laptop\"\nICON_NAME=computer\n", u"Zoë’s Laptop"_s},
            {"CHASSIS=laptop\nPRETTY_HOSTNAME='Studio \"B\"'\n", u"Studio \"B\""_s},
            {"PRETTY_HOSTNAME=Plain\\ Name", u"Plain Name"_s},
            {"ICON_NAME=computer\n", u"host"_s}};
        for (const auto& [text, name] : files) {
            QVERIFY(info.open(QIODevice::WriteOnly | QIODevice::Truncate) && info.write(text) > 0);
            info.close();
            QCOMPARE(ComputerName::resolve(info.fileName(), u"host"_s), name);
        }
    }

    void clipboardHoldsOnePlainString() {
        QClipboard* clipboard = QGuiApplication::clipboard();
        auto* rich = new QMimeData;
        rich->setHtml(u"<b>old</b>"_s);
        clipboard->setMimeData(rich);

        ClipboardPasteboard().setText(u"https://a.example/s/1\nhttps://a.example/s/2"_s);
        QCOMPARE(clipboard->text(), u"https://a.example/s/1\nhttps://a.example/s/2"_s);
        QCOMPARE(clipboard->mimeData()->formats(), QStringList{u"text/plain"_s});
    }

    // Until the portal answers: the defaults. Then its answers and its
    // changes, where color scheme 2 is "light" and keys of other groups are
    // ignored.
    void portalSettings() {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("needs a private session bus (scripts/test provides one)");
        QDBusConnection portalBus =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"fake-portal"_s);
        FakePortal portal;
        QVERIFY(portalBus.registerObject(u"/org/freedesktop/portal/desktop"_s, &portal,
                                         QDBusConnection::ExportAllContents));
        QVERIFY(portalBus.registerService(u"org.freedesktop.portal.Desktop"_s));
        PortalSettings settings;
        QSignalSpy changed(&settings, &PortalSettings::changed);
        QVERIFY(settings.motionAllowed() && !settings.prefersDark());
        QTRY_COMPARE(changed.count(), 2);
        QVERIFY(!settings.motionAllowed() && settings.prefersDark());
        Q_EMIT portal.SettingChanged(u"org.gnome.desktop.interface"_s, u"enable-animations"_s,
                                     QDBusVariant(true));
        Q_EMIT portal.SettingChanged(u"org.example"_s, u"color-scheme"_s, QDBusVariant(1u));
        Q_EMIT portal.SettingChanged(u"org.freedesktop.appearance"_s, u"color-scheme"_s,
                                     QDBusVariant(2u));
        QTRY_VERIFY(settings.motionAllowed() && !settings.prefersDark());
        QCOMPARE(changed.count(), 4);
        QDBusConnection::disconnectFromBus(u"fake-portal"_s);
    }
};

QTEST_MAIN(PlatformTest)
#include "tst_model_platform.moc"
