#include "ui/SettingsRules.h"

#include "model/PasswordRule.h"

using namespace Qt::StringLiterals;

namespace SettingsRules {

bool canSaveAccess(bool protectedEdit, const QString& password) {
    return !protectedEdit || PasswordRule::accepts(password);
}

QString fileDetail(const QString& formattedSize, bool isProtected) {
    return formattedSize + u" · "_s +
           (isProtected ? u"Password protected"_s : u"Anyone with link"_s);
}

bool canDisconnect(const QString& deviceId, const QString& currentDeviceID) {
    return deviceId != u"bootstrap"_s && deviceId != currentDeviceID;
}

QString connectedTo(const std::optional<Connection>& connection, const QString& serverURL) {
    return u"Connected to "_s + (connection ? connection->serverURL : serverURL);
}

QString versionLine(const QString& version) {
    return u"Parvel "_s + (version.isEmpty() ? u"1.0.3"_s : version) + u" · Linux"_s;
}

} // namespace SettingsRules
