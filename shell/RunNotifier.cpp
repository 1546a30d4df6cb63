#include "shell/RunNotifier.h"

#include "model/ParvelModel.h"
#include "shell/AppShell.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QSystemTrayIcon>

using namespace Qt::StringLiterals;

namespace {

const QString service = u"org.freedesktop.Notifications"_s;
const QString path = u"/org/freedesktop/Notifications"_s;

bool haveSessionBus() {
    // Never let libdbus autolaunch a bus: that can hang on a keyring prompt.
    return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
           QDBusConnection::sessionBus().isConnected();
}

} // namespace

std::optional<QString> runEndNotice(bool popoverShown, const QString& message,
                                    const QString& error) {
    if (popoverShown)
        return std::nullopt;
    const QString text = error.isEmpty() ? message : error;
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

RunNotifier::RunNotifier(AppShell& shell, QSystemTrayIcon& tray, QObject* parent)
    : QObject(parent), m_shell(shell), m_tray(tray) {
    QObject::connect(&m_shell.model(), &ParvelModel::isUploadingChanged, this,
                     &RunNotifier::runChanged);
    if (haveSessionBus())
        QDBusConnection::sessionBus().connect(service, path, service, u"ActionInvoked"_s, this,
                                              SLOT(actionInvoked(uint, QString)));
}

void RunNotifier::runChanged() {
    const ParvelModel& model = m_shell.model();
    if (model.isUploading() == m_running)
        return;
    m_running = model.isUploading();
    if (m_running) {
        m_filesBefore.clear();
        for (const SharedFile& file : model.files())
            m_filesBefore.insert(file.id);
        return;
    }
    m_links = linksOfThisRun();
    if (const auto text = runEndNotice(m_shell.popover().isShown(), model.message(), model.error()))
        notify(*text);
}

QString RunNotifier::linksOfThisRun() const {
    QStringList links;
    for (const SharedFile& file : m_shell.model().files())
        if (!m_filesBefore.contains(file.id))
            links.append(file.url);
    return links.join(u'\n');
}

void RunNotifier::notify(const QString& text) {
    if (haveSessionBus() &&
        QDBusConnection::sessionBus().interface()->isServiceRegistered(service)) {
        QDBusMessage capabilities =
            QDBusMessage::createMethodCall(service, path, service, u"GetCapabilities"_s);
        const QDBusReply<QStringList> reply = QDBusConnection::sessionBus().call(capabilities);
        QStringList actions;
        if (reply.isValid() && reply.value().contains(u"actions"_s)) {
            if (!m_links.isEmpty())
                actions << u"copy"_s << u"Copy links"_s;
            actions << u"open"_s << u"Open Parvel"_s;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(service, path, service, u"Notify"_s);
        call << u"Parvel"_s << m_notification << u"dev.parvel.Parvel"_s << u"Parvel"_s << text
             << actions << QVariantMap{{u"desktop-entry"_s, u"dev.parvel.Parvel"_s}} << -1;
        const QDBusReply<uint> id = QDBusConnection::sessionBus().call(call);
        if (id.isValid()) {
            m_notification = id.value();
            return;
        }
    }
    if (QSystemTrayIcon::isSystemTrayAvailable() && QSystemTrayIcon::supportsMessages())
        m_tray.showMessage(u"Parvel"_s, text, QSystemTrayIcon::NoIcon);
}

void RunNotifier::actionInvoked(uint id, const QString& action) {
    if (id != m_notification)
        return;
    if (action == u"copy" && !m_links.isEmpty())
        m_shell.model().copy(m_links);
    else if (action == u"open")
        m_shell.showPopover();
}
