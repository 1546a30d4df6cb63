#include "platform/BuildInfo.h"

#ifndef PARVEL_SERVER_URL
#define PARVEL_SERVER_URL ""
#endif
#ifndef PARVEL_VERSION
#define PARVEL_VERSION ""
#endif

namespace BuildInfo {

QVariant serverURLSetting() {
    // CMake cannot pass "no value", so an empty setting stands for absent.
    const QString configured = QString::fromUtf8(PARVEL_SERVER_URL);
    if (configured.isEmpty())
        return {};
    return configured;
}

QString version() {
    return QString::fromUtf8(PARVEL_VERSION);
}

QString applicationId() {
    return QStringLiteral("dev.parvel.Parvel");
}

} // namespace BuildInfo
