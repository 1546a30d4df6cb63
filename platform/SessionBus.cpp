#include "platform/SessionBus.h"

#include <QFile>

#include <sys/stat.h>

namespace SessionBus {

bool configured() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtimeDir.isEmpty())
        return false;
    struct stat st {};
    const QByteArray bus = QFile::encodeName(runtimeDir + QStringLiteral("/bus"));
    return ::stat(bus.constData(), &st) == 0 && S_ISSOCK(st.st_mode);
}

} // namespace SessionBus
