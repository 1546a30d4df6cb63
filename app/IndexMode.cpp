#include "app/IndexMode.h"

#include "app/OutputStreams.h"

#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// All of the file or nothing: half an index followed by "[]" would be worse
// than either.
std::optional<QByteArray> readIndex(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        bytes.append(buffer, n);
    }
    ::close(fd);
    return bytes;
}

} // namespace

QString localIndexPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Parvel/files.json");
}

int runIndexMode() {
    const std::optional<QByteArray> index = readIndex(localIndexPath());
    writeOutput(index ? *index : QByteArrayLiteral("[]\n"));
    return 0;
}
