#include "app/ImportMode.h"

#include "app/OutputStreams.h"
#include "net/Keychain.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The whole file, or the system's reason why not. The path is used as the
// raw bytes it came in, so any file name the shell can pass works.
Result<QByteArray> readWholeFile(const QByteArray& path) {
    const auto failure = [&path](int error) {
        return std::unexpected(SystemError{QFile::decodeName(path) + QStringLiteral(": ") +
                                           QString::fromLocal8Bit(std::strerror(error))});
    };
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return failure(errno);
    QByteArray bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return failure(error);
        }
        if (n == 0)
            break;
        bytes.append(buffer, n);
    }
    ::close(fd);
    return bytes;
}

Result<void> importConnection(const QByteArray& path) {
    const Result<QByteArray> bytes = readWholeFile(path);
    if (!bytes)
        return std::unexpected(bytes.error());
    auto connection = decode<Connection>(*bytes);
    if (!connection)
        return std::unexpected(connection.error());
    return Keychain::save(*connection);
}

} // namespace

int runImportMode(const QByteArray& path) {
    const Result<void> imported = importConnection(path);
    if (!imported) {
        writeError(QStringLiteral("Connection import failed: ") + describe(imported.error()));
        return 1;
    }
    writeOutput(QByteArrayLiteral("Connection saved in Keychain.\n"));
    return 0;
}
