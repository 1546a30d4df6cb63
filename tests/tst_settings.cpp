// The login item on real files: the autostart entry's exact text, its Exec
// quoting, and removal. (The access sheet's password rule is checked through
// the view, tst_settings_view; its failure is shown there too.)

#include "platform/LoginItem.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class SettingsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void loginItemWritesAndRemovesItsEntry();
};

void SettingsTest::loginItemWritesAndRemovesItsEntry() {
    QTemporaryDir config;
    const QString folder = config.filePath(u"autostart"_s); // not there yet
    const auto written = [](const LoginItem& item) {
        QFile file(item.path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const auto entry = [](const QString& exec) {
        return "[Desktop Entry]\nType=Application\nName=Parvel\n"
               "Comment=Share files from the system tray\nExec=" +
               exec.toUtf8() + "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    };

    const LoginItem plain(folder, u"dev.parvel.Parvel"_s, u"/usr/bin/parvel"_s);
    QVERIFY(!plain.isEnabled());
    QVERIFY(plain.setEnabled(true));
    QVERIFY(plain.isEnabled());
    QCOMPARE(written(plain), entry(u"/usr/bin/parvel"_s));
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{u"dev.parvel.Parvel.desktop"_s});

    // Quoted for the Exec rules, then escaped as every string value is:
    // a quote inside quotes is \" and its backslash is doubled.
    const LoginItem odd(folder, u"dev.parvel.Parvel"_s, u"/opt/My Apps/par$vel%1\"x"_s);
    QVERIFY(odd.setEnabled(true));
    QCOMPARE(written(odd), entry(u"\"/opt/My Apps/par\\\\$vel%%1\\\\\"x\""_s));

    QVERIFY(plain.setEnabled(false));
    QVERIFY(!QFile::exists(plain.path()));
    QVERIFY(plain.setEnabled(false)); // already off
}

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
