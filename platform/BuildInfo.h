#pragma once

#include <QString>
#include <QVariant>

// Values fixed when the program was built.
namespace BuildInfo {

// The server address offered for connecting (CMake's PARVEL_SERVER_URL);
// an invalid QVariant when the build names none.
QVariant serverURLSetting();

// The program's version, as the project declares it; empty when the build
// names none.
QString version();

// The application's id: the name of its desktop entry, autostart entry and
// credential-store item.
QString applicationId();

} // namespace BuildInfo
