#pragma once

#include <QObject>
#include <QRect>

class AppShell;
class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;

// The icon in the panel's tray: a left click toggles the popover, and a
// context menu serves the tray hosts that only show menus. The icon stays
// registered for the life of the process, so a tray host that starts later
// still picks it up.
class StatusIcon final : public QObject {
    Q_OBJECT
public:
    explicit StatusIcon(AppShell& shell, QObject* parent = nullptr);
    ~StatusIcon() override;

    // The icon's place on screen; empty when the tray host does not say.
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
    void updateStatus();

    AppShell& m_shell;
    QMenu* m_menu;
    QAction* m_statusLine;
    QSystemTrayIcon* m_tray;
    QTimer* m_trayWatch;
    int m_waitedMs = 0;
};
