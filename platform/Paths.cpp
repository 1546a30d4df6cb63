#include "platform/Paths.h"

#include <QStandardPaths>

namespace Paths {

QString applicationDataDir() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

} // namespace Paths
