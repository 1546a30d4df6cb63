#include "ui/SettingsRules.h"

#include <QTextBoundaryFinder>

using namespace Qt::StringLiterals;

namespace SettingsRules {

int graphemeCount(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

bool canSaveAccess(bool protectedEdit, const QString& password) {
    return !protectedEdit || graphemeCount(password) >= 4;
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
