#include "shell/StatusIcon.h"

#include "model/ParvelModel.h"
#include "platform/SessionBus.h"
#include "shell/AppShell.h"
#include "shell/StatusNotifierItem.h"
#include "shell/StatusText.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QLoggingCategory>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdio>

Q_DECLARE_LOGGING_CATEGORY(lcShell)

using namespace Qt::StringLiterals;

namespace {

constexpr int pollMs = 250;
constexpr qint64 sameClickMs = 50;
const QString symbolicName = u"dev.parvel.Parvel-symbolic"_s;
// What a screen reader says for the icon.
const QString accessibleName = u"Parvel. Click to share files."_s;

// The glyph with a dark rim that reads on any panel; hosts that recolour
// symbolic icons get the installed symbolic icon's name as well.
QIcon ownImage() {
    return QIcon(u":/parvel/icons/parvel-tray.svg"_s);
}

} // namespace

StatusIcon::StatusIcon(AppShell& shell, QObject* parent)
    : QObject(parent), m_shell(shell), m_menu(new QMenu()), m_tray(new QSystemTrayIcon(this)),
      m_trayWatch(new QTimer(this)) {
    m_statusLine = m_menu->addAction(QString());
    m_statusLine->setEnabled(false);
    m_statusLine->setVisible(false);
    QObject::connect(m_menu->addAction(u"Open Parvel"_s), &QAction::triggered, this,
                     [this] { m_shell.showPopover(); });
    QObject::connect(m_menu->addAction(u"Choose files…"_s), &QAction::triggered, this,
                     [this] { m_shell.model().selectFiles(false); });
    QObject::connect(m_menu->addAction(u"Share a screenshot…"_s), &QAction::triggered, this,
                     [this] { m_shell.shareScreenshot(); });
    QObject::connect(m_menu->addAction(u"Share clipboard"_s), &QAction::triggered, this,
                     [this] { m_shell.model().shareClipboard(); });
    QObject::connect(m_menu->addAction(u"Settings…"_s), &QAction::triggered, this,
                     [this] { m_shell.showSettings(); });
    m_menu->addSeparator();
    QObject::connect(
        m_menu->addAction(u"Quit Parvel"_s), &QAction::triggered, this, [this] { m_shell.quit(); },
        Qt::QueuedConnection);

    const ParvelModel& model = m_shell.model();
    for (auto signal : {&ParvelModel::isUploadingChanged, &ParvelModel::messageChanged,
                        &ParvelModel::progressChanged})
        QObject::connect(&model, signal, this, &StatusIcon::updateStatus);

    const bool bus = SessionBus::connected();
    if (bus && StatusNotifierItem::watcherExists(QDBusConnection::sessionBus())) {
        useStatusNotifierItem();
    } else {
        m_tray->setIcon(ownImage());
        m_tray->setContextMenu(m_menu);
        QObject::connect(m_tray, &QSystemTrayIcon::activated, this,
                         [this](QSystemTrayIcon::ActivationReason reason) {
                             if (reason == QSystemTrayIcon::Trigger)
                                 m_shell.statusIconClicked();
                             else if (reason == QSystemTrayIcon::MiddleClick)
                                 m_shell.model().selectFiles(false);
                         });
        m_tray->show();
        if (bus) {
            // A panel that starts after us: its watcher replaces an icon
            // that no XEmbed tray took.
            auto* watcher = new QDBusServiceWatcher(
                u"org.kde.StatusNotifierWatcher"_s, QDBusConnection::sessionBus(),
                QDBusServiceWatcher::WatchForRegistration, this);
            QObject::connect(watcher, &QDBusServiceWatcher::serviceRegistered, this,
                             [this, watcher] {
                                 if (m_item || QSystemTrayIcon::isSystemTrayAvailable())
                                     return;
                                 watcher->deleteLater();
                                 m_tray->hide();
                                 m_tray->setContextMenu(nullptr);
                                 useStatusNotifierItem();
                                 updateStatus();
                             });
        }
    }
    updateStatus();
}

StatusIcon::~StatusIcon() {
    m_tray->setContextMenu(nullptr);
    delete m_item;
    delete m_menu;
}

void StatusIcon::useStatusNotifierItem() {
    StatusNotifierItem::Actions actions;
    actions.activate = [this](QPoint point) {
        qCDebug(lcShell) << "status item activated at" << point;
        // GTK hosts (waybar) pass on the press of a double click twice.
        if (m_lastActivation.isValid() && m_lastActivation.elapsed() < sameClickMs)
            return;
        m_lastActivation.start();
        m_clickPoint = point.isNull() ? QRect() : QRect(point, QSize(1, 1));
        m_shell.statusIconClicked();
    };
    actions.secondaryActivate = [this](QPoint) { m_shell.model().selectFiles(false); };
    actions.contextMenu = [this](QPoint point) { m_menu->popup(point); };
    m_item = new StatusNotifierItem(QDBusConnection::sessionBus(), *m_menu, std::move(actions));
    m_item->setIcon(QIcon::hasThemeIcon(symbolicName) ? symbolicName : QString(), ownImage());
    QObject::connect(m_item, &StatusNotifierItem::registered, this, &StatusIcon::reportEmbedded);
    if (!m_item->start())
        qCDebug(lcShell, "the status notifier item could not be exported");
}

QRect StatusIcon::geometry() const {
    return m_item ? m_clickPoint : m_tray->geometry();
}

bool StatusIcon::isEmbedded() const {
    return m_item ? m_item->isRegistered() : QSystemTrayIcon::isSystemTrayAvailable();
}

void StatusIcon::reportEmbedded() {
    if (m_reported)
        return;
    m_reported = true;
    m_trayWatch->stop();
    qCDebug(lcShell, "status icon registered with the tray host");
    Q_EMIT embedded();
}

void StatusIcon::watchForTrayHost(int waitMs) {
    m_trayWatch->setInterval(pollMs);
    QObject::connect(m_trayWatch, &QTimer::timeout, this, [this, waitMs] {
        m_waitedMs += pollMs;
        if (isEmbedded()) {
            reportEmbedded();
        } else if (m_waitedMs >= waitMs) {
            m_trayWatch->stop();
            std::fputs("parvel: no system tray found; opening the settings window instead.\n",
                       stderr);
            m_shell.showSettings();
        }
    });
    if (isEmbedded())
        reportEmbedded();
    else
        m_trayWatch->start();
}

void StatusIcon::updateStatus() {
    const ParvelModel& model = m_shell.model();
    const QString text = statusText(model.isUploading(), model.message(), model.progress());
    if (m_item)
        m_item->setTexts(accessibleName, text);
    else
        m_tray->setToolTip(text);
    m_statusLine->setText(text);
    m_statusLine->setVisible(model.isUploading());
}
