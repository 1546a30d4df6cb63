#pragma once

#include "net/Records.h"

#include <QString>

#include <optional>

// The rules of the settings window that have cases, kept out of QML so they
// can be checked directly.
namespace SettingsRules {

// User-perceived characters (grapheme clusters), as a person counts them:
// "é" typed as e + combining accent is one, a flag is one.
int graphemeCount(const QString& text);

// "Save access" is enabled unless a password is required and is shorter
// than four user-perceived characters.
bool canSaveAccess(bool protectedEdit, const QString& password);

// The second line of a file row: size, then who may download.
QString fileDetail(const QString& formattedSize, bool isProtected);

// Every computer but this one and the library's first ("bootstrap") can be
// disconnected from here.
bool canDisconnect(const QString& deviceId, const QString& currentDeviceID);

// "Connected to " and the connection's address, or the address being
// offered for connecting when there is none.
QString connectedTo(const std::optional<Connection>& connection, const QString& serverURL);

// "Parvel <version> · Linux"; "1.0.3" stands in for a build
// without a version.
QString versionLine(const QString& version);

} // namespace SettingsRules
