#include "shell/RunNotifier.h"

#include "model/ParvelModel.h"
#include "platform/SessionBus.h"
#include "shell/AppShell.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QSystemTrayIcon>

using namespace Qt::StringLiterals;

namespace {

const QString service = u"org.freedesktop.Notifications"_s;
const QString path = u"/org/freedesktop/Notifications"_s;

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
    if (SessionBus::connected())
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
    if (!notificationServiceExists()) {
        showTrayMessage(text);
        return;
    }
    // Asynchronous: a notification server that is being started by the bus,
    // or that hangs, must not stall the popover and the tray icon.
    const QDBusMessage capabilities =
        QDBusMessage::createMethodCall(service, path, service, u"GetCapabilities"_s);
    auto* asked =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(capabilities), this);
    QObject::connect(asked, &QDBusPendingCallWatcher::finished, this, [this, text, asked] {
        asked->deleteLater();
        const QDBusPendingReply<QStringList> reply = *asked;
        const QStringList capabilities = reply.isError() ? QStringList() : reply.value();
        QStringList actions;
        if (capabilities.contains(u"actions"_s)) {
            if (!m_links.isEmpty())
                actions << u"copy"_s << u"Copy links"_s;
            // "default" is what a click on the notification itself invokes;
            // servers show no button for it, hence "open" as well.
            actions << u"open"_s << u"Open Parvel"_s << u"default"_s << u"Open Parvel"_s;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(service, path, service, u"Notify"_s);
        // A server with "body-markup" reads the body as markup; file names and
        // the server's error texts are plain text.
        const QString body = capabilities.contains(u"body-markup"_s) ? text.toHtmlEscaped() : text;
        call << u"Parvel"_s << m_notification << u"dev.parvel.Parvel"_s << u"Parvel"_s << body
             << actions << QVariantMap{{u"desktop-entry"_s, u"dev.parvel.Parvel"_s}} << -1;
        auto* sent =
            new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
        QObject::connect(sent, &QDBusPendingCallWatcher::finished, this, [this, text, sent] {
            sent->deleteLater();
            const QDBusPendingReply<uint> id = *sent;
            if (id.isError())
                showTrayMessage(text);
            else
                m_notification = id.value();
        });
    });
}

bool RunNotifier::notificationServiceExists() const {
    if (!SessionBus::connected())
        return false;
    // Most notification servers are started by the bus on the first call.
    const QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    return bus->isServiceRegistered(service) ||
           bus->activatableServiceNames().value().contains(service);
}

void RunNotifier::showTrayMessage(const QString& text) {
    if (QSystemTrayIcon::isSystemTrayAvailable() && QSystemTrayIcon::supportsMessages())
        m_tray.showMessage(u"Parvel"_s, text, QSystemTrayIcon::NoIcon);
}

void RunNotifier::actionInvoked(uint id, const QString& action) {
    if (id != m_notification)
        return;
    if (action == u"copy" && !m_links.isEmpty())
        m_shell.model().copy(m_links);
    else if (action == u"open" || action == u"default")
        m_shell.showPopover();
}
