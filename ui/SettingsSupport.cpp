#include "ui/SettingsSupport.h"

#include "model/ParvelModel.h"
#include "net/Endpoints.h"
#include "platform/BuildInfo.h"
#include "platform/LoginItem.h"
#include "ui/SettingsRules.h"

QString SettingsSupport::versionLine() const {
    return SettingsRules::versionLine(BuildInfo::version());
}

bool SettingsSupport::canSaveAccess(bool protectedEdit, const QString& password) const {
    return SettingsRules::canSaveAccess(protectedEdit, password);
}

QString SettingsSupport::fileDetail(const QString& formattedSize, bool isProtected) const {
    return SettingsRules::fileDetail(formattedSize, isProtected);
}

bool SettingsSupport::canDisconnect(const QString& deviceId, const QString& currentDeviceID) const {
    return SettingsRules::canDisconnect(deviceId, currentDeviceID);
}

QString SettingsSupport::connectedTo(const QVariant& connection, const QString& serverURL) const {
    std::optional<Connection> value;
    if (connection.metaType() == QMetaType::fromType<Connection>())
        value = connection.value<Connection>();
    return SettingsRules::connectedTo(value, serverURL);
}

void SettingsSupport::openInstaller(ParvelModel* model) const {
    if (!model || !model->connection() || !model->services().browser)
        return;
    if (const auto url = Endpoints::installerURL(*model->connection()))
        model->services().browser->open(*url);
}

bool SettingsSupport::launchAtLogin() const {
    return LoginItem::forThisApplication().isEnabled();
}

bool SettingsSupport::setLaunchAtLogin(ParvelModel* model, bool enabled) const {
    const LoginItem item = LoginItem::forThisApplication();
    if (const auto done = item.setEnabled(enabled); !done && model)
        model->setError(done.error());
    return item.isEnabled();
}
