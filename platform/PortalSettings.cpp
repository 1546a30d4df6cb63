#include "platform/PortalSettings.h"

#include "platform/Portal.h"
#include "platform/SessionBus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QPointer>

using namespace Qt::StringLiterals;

namespace {

const QString settingsInterface = u"org.freedesktop.portal.Settings"_s;

const QString appearanceGroup = u"org.freedesktop.appearance"_s;
const QString colorSchemeKey = u"color-scheme"_s;
const QString interfaceGroup = u"org.gnome.desktop.interface"_s;
const QString animationsKey = u"enable-animations"_s;

// Older portals answer Read with the value wrapped in one variant more.
QVariant unwrap(QVariant value) {
    while (value.userType() == qMetaTypeId<QDBusVariant>())
        value = qvariant_cast<QDBusVariant>(value).variant();
    return value;
}

} // namespace

PortalSettings::PortalSettings(QObject* parent) : QObject(parent) {
    if (!SessionBus::connected())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(Portal::service, Portal::path, settingsInterface, u"SettingChanged"_s, this,
                SLOT(onSettingChanged(QDBusMessage)));
    read(appearanceGroup, colorSchemeKey);
    read(interfaceGroup, animationsKey);
}

PortalSettings* PortalSettings::shared() {
    static QPointer<PortalSettings> instance;
    if (!instance)
        instance = new PortalSettings(QCoreApplication::instance());
    return instance;
}

void PortalSettings::read(const QString& group, const QString& key) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(Portal::service, Portal::path, settingsInterface, u"Read"_s);
    call << group << key;
    // Asynchronous: starting the portal may take a while, and nobody should
    // wait for a preference.
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this,
                     [this, group, key](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         const QDBusPendingReply<QDBusVariant> reply = *finished;
                         if (reply.isError())
                             return; // no portal, or it does not know the key
                         apply(group, key, reply.value().variant());
                     });
}

void PortalSettings::onSettingChanged(const QDBusMessage& message) {
    const QVariantList args = message.arguments();
    if (args.size() < 3)
        return;
    apply(args.at(0).toString(), args.at(1).toString(), args.at(2));
}

void PortalSettings::apply(const QString& group, const QString& key, const QVariant& value) {
    const QVariant plain = unwrap(value);
    if (group == appearanceGroup && key == colorSchemeKey) {
        // 0: no preference, 1: dark, 2: light.
        m_prefersDark = plain.toUInt() == 1;
    } else if (group == interfaceGroup && key == animationsKey) {
        m_motionAllowed = plain.toBool();
    } else {
        return;
    }
    Q_EMIT changed();
}
