// The settings window's password rule and its login item on real files (its
// failure is shown through the view: tst_settings_view).

#include "platform/LoginItem.h"
#include "ui/SettingsRules.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class SettingsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void passwordRuleCountsWhatAPersonSees();
    void loginItemWritesAndRemovesItsEntry();
};

void SettingsTest::passwordRuleCountsWhatAPersonSees() {
    struct Case {
        bool protectedEdit;
        QString password;
        bool canSave;
    };
    const QString accented = u"e\u0301"_s;                  // two code points, one character
    const QString flag = u"\U0001F1E9\U0001F1EA"_s;         // two surrogate pairs, one flag
    const QString family = u"\U0001F469\u200D\U0001F467"_s; // a ZWJ sequence, one character
    const Case cases[] = {
        {true, u"abc"_s, false},
        {true, u"abcd"_s, true},
        {true, accented.repeated(3), false},
        {true, accented.repeated(4), true},
        {true, flag.repeated(3), false},
        {true, family + u"abc"_s, true},
        {true, u"    "_s, true}, // the server decides about blanks; four is four
        {false, u""_s, true},
    };
    for (const Case& c : cases)
        QVERIFY2(SettingsRules::canSaveAccess(c.protectedEdit, c.password) == c.canSave,
                 qPrintable(c.password));
}

void SettingsTest::loginItemWritesAndRemovesItsEntry() {
    QTemporaryDir config;
    const QString folder = config.filePath(u"autostart"_s); // not there yet
    const auto entry = [](const QString& exec) {
        return "[Desktop Entry]\nType=Application\nName=Parvel\n"
               "Comment=Share files from the system tray\nExec=" +
               exec.toUtf8() + "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    };

    const LoginItem plain(folder, u"dev.parvel.Parvel"_s, u"/usr/bin/parvel"_s);
    QCOMPARE(plain.path(), folder + u"/dev.parvel.Parvel.desktop"_s);
    QVERIFY(!plain.isEnabled());
    QVERIFY(plain.setEnabled(true));
    QVERIFY(plain.isEnabled());
    QFile file(plain.path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), entry(u"/usr/bin/parvel"_s));
    file.close();
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{u"dev.parvel.Parvel.desktop"_s});

    // Quoted for the Exec rules, then escaped as every string value is:
    // a quote inside quotes is \" and its backslash is doubled.
    const LoginItem odd(folder, u"dev.parvel.Parvel"_s, u"/opt/My Apps/par$vel%1\"x"_s);
    QVERIFY(odd.setEnabled(true));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), entry(u"\"/opt/My Apps/par\\\\$vel%%1\\\\\"x\""_s));
    file.close();

    QVERIFY(plain.setEnabled(false));
    QVERIFY(!QFile::exists(plain.path()));
    QVERIFY(plain.setEnabled(false)); // already off
}

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
