#include "shell/StatusIcon.h"

#include "model/ParvelModel.h"
#include "shell/AppShell.h"
#include "shell/StatusText.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QLoggingCategory>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdio>

Q_DECLARE_LOGGING_CATEGORY(lcShell)

using namespace Qt::StringLiterals;

namespace {

constexpr int pollMs = 250;

// Tray hosts speaking StatusNotifierItem take an icon name and recolour the
// symbolic icon to suit the panel; XEmbed trays draw our pixels as they are,
// so those get the glyph with a dark rim that reads on any panel.
QIcon trayImage() {
    const QIcon own(u":/parvel/icons/parvel-tray.svg"_s);
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        const auto* bus = QDBusConnection::sessionBus().interface();
        if (bus && bus->isServiceRegistered(u"org.kde.StatusNotifierWatcher"_s))
            return QIcon::fromTheme(u"dev.parvel.Parvel-symbolic"_s, own);
    }
    return own;
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
    QObject::connect(m_menu->addAction(u"Quit Parvel"_s), &QAction::triggered, qApp,
                     &QCoreApplication::quit, Qt::QueuedConnection);

    m_tray->setIcon(trayImage());
    m_tray->setContextMenu(m_menu);
    QObject::connect(m_tray, &QSystemTrayIcon::activated, this,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger)
                             m_shell.statusIconClicked();
                         else if (reason == QSystemTrayIcon::MiddleClick)
                             m_shell.model().selectFiles(false);
                     });

    const ParvelModel& model = m_shell.model();
    for (auto signal : {&ParvelModel::isUploadingChanged, &ParvelModel::messageChanged,
                        &ParvelModel::progressChanged})
        QObject::connect(&model, signal, this, &StatusIcon::updateStatus);
    updateStatus();
    m_tray->show();
}

StatusIcon::~StatusIcon() {
    m_tray->setContextMenu(nullptr);
    delete m_menu;
}

QRect StatusIcon::geometry() const {
    return m_tray->geometry();
}

bool StatusIcon::isEmbedded() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void StatusIcon::watchForTrayHost(int waitMs) {
    m_trayWatch->setInterval(pollMs);
    QObject::connect(m_trayWatch, &QTimer::timeout, this, [this, waitMs] {
        m_waitedMs += pollMs;
        if (isEmbedded()) {
            m_trayWatch->stop();
            qCDebug(lcShell, "status icon registered with the tray host");
            Q_EMIT embedded();
        } else if (m_waitedMs >= waitMs) {
            m_trayWatch->stop();
            std::fputs("parvel: no system tray found; opening the settings window instead.\n",
                       stderr);
            m_shell.showSettings();
        }
    });
    if (isEmbedded()) {
        qCDebug(lcShell, "status icon registered with the tray host");
        Q_EMIT embedded();
    } else {
        m_trayWatch->start();
    }
}

void StatusIcon::updateStatus() {
    const ParvelModel& model = m_shell.model();
    const QString text = statusText(model.isUploading(), model.message(), model.progress());
    m_tray->setToolTip(text);
    m_statusLine->setText(text);
    m_statusLine->setVisible(model.isUploading());
}
