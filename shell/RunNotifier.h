#pragma once

#include <QObject>
#include <QSet>
#include <QString>

#include <optional>

class AppShell;
class QSystemTrayIcon;

// The text of the one notice at the end of an upload run: the error when
// the run ended with one, else the model's final message; none while the
// popover is open (the user sees it there) or when there is nothing to say.
std::optional<QString> runEndNotice(bool popoverShown, const QString& message,
                                    const QString& error);

// Tells the user that an upload run ended while the popover was closed: a
// desktop notification (org.freedesktop.Notifications) with "Copy links" and
// "Open Parvel" where the server offers actions; else the tray icon's own
// message; nothing when neither exists.
class RunNotifier final : public QObject {
    Q_OBJECT
public:
    RunNotifier(AppShell& shell, QSystemTrayIcon& tray, QObject* parent = nullptr);

private Q_SLOTS:
    void actionInvoked(uint id, const QString& action);

private:
    void runChanged();
    void notify(const QString& text);
    bool notificationServiceExists() const;
    void showTrayMessage(const QString& text);
    QString linksOfThisRun() const;

    AppShell& m_shell;
    QSystemTrayIcon& m_tray;
    bool m_running = false;
    QSet<QString> m_filesBefore;
    QString m_links;
    uint m_notification = 0;
};
