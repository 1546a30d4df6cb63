#include "platform/WholeFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString reason(const QByteArray& nativePath, const QString& why) {
    return QFile::decodeName(nativePath) + QStringLiteral(": ") + why;
}

QString systemReason(const QByteArray& nativePath, int error) {
    return reason(nativePath, QString::fromLocal8Bit(std::strerror(error)));
}

QString tooLarge(const QByteArray& nativePath) {
    return reason(nativePath, QStringLiteral("larger than %1 MiB").arg(maxWholeFileBytes >> 20));
}

struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

std::expected<QByteArray, QString> readWholeFile(const QByteArray& nativePath) {
    const Descriptor file{
        ::open(nativePath.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (file.fd < 0)
        return std::unexpected(systemReason(nativePath, errno));
    struct stat info {};
    if (::fstat(file.fd, &info) != 0)
        return std::unexpected(systemReason(nativePath, errno));
    if (!S_ISREG(info.st_mode))
        return std::unexpected(reason(nativePath, QStringLiteral("not a regular file")));
    if (info.st_size > maxWholeFileBytes)
        return std::unexpected(tooLarge(nativePath));

    QByteArray bytes;
    bytes.reserve(qsizetype(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(file.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::unexpected(systemReason(nativePath, errno));
        if (n == 0)
            return bytes;
        // The file may grow while it is read.
        if (bytes.size() + n > maxWholeFileBytes)
            return std::unexpected(tooLarge(nativePath));
        bytes.append(buffer, n);
    }
}
