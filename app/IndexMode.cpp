#include "app/IndexMode.h"

#include "app/OutputStreams.h"
#include "model/LocalIndex.h"

#include <QFile>

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

int runIndexMode() {
    const std::optional<QByteArray> index = readIndex(LocalIndex::userPath());
    writeOutput(index ? *index : QByteArrayLiteral("[]\n"));
    return 0;
}
