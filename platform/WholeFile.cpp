#include "platform/WholeFile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

std::expected<QByteArray, int> readWholeFile(const QByteArray& nativePath) {
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::unexpected(errno);
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) { // a folder in its place, an I/O error
            const int error = errno;
            ::close(fd);
            return std::unexpected(error);
        }
        if (n == 0)
            break;
        bytes.append(buffer, n);
    }
    ::close(fd);
    return bytes;
}
