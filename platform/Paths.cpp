#include "platform/Paths.h"

#include <QStandardPaths>

namespace Paths {

QString applicationDataDir() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString cacheDir() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
}

} // namespace Paths
