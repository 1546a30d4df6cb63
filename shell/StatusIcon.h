#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QRect>

class AppShell;
class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class StatusNotifierItem;

// The icon in the panel: a left click toggles the popover at the icon, and a
// context menu serves the hosts that show menus. Where a StatusNotifierItem
// watcher is on the session bus (most current panels) the icon is our own
// StatusNotifierItem; otherwise Qt's tray icon, for XEmbed trays. Never both:
// one icon per desktop. The icon stays registered for the life of the
// process, so a tray host that starts later still picks it up.
class StatusIcon final : public QObject {
    Q_OBJECT
public:
    explicit StatusIcon(AppShell& shell, QObject* parent = nullptr);
    ~StatusIcon() override;

    // Where the icon is: its rectangle on XEmbed trays, the point of the
    // last click on StatusNotifierItem hosts; empty when unknown.
    QRect geometry() const;
    bool isEmbedded() const;

    // When no tray host has appeared within `waitMs`, says so once on
    // standard error and opens the settings window, so Parvel never runs
    // unseen.
    void watchForTrayHost(int waitMs);

    QSystemTrayIcon& trayIcon() const { return *m_tray; }

Q_SIGNALS:
    // A tray host has taken the icon (logged for the tests and benchmarks).
    void embedded();

private:
    void useStatusNotifierItem();
    void updateStatus();
    void reportEmbedded();

    AppShell& m_shell;
    QMenu* m_menu;
    QAction* m_statusLine;
    QSystemTrayIcon* m_tray;
    StatusNotifierItem* m_item = nullptr;
    QTimer* m_trayWatch;
    QRect m_clickPoint;
    QElapsedTimer m_lastActivation;
    int m_waitedMs = 0;
    bool m_reported = false;
};
