#include "app/OutputStreams.h"

#include <cerrno>
#include <unistd.h>

namespace {

void writeAll(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // a closed pipe: nobody is reading
        p += n;
        left -= n;
    }
}

} // namespace

void writeOutput(const QByteArray& bytes) {
    writeAll(STDOUT_FILENO, bytes);
}

void writeError(const QString& line) {
    writeAll(STDERR_FILENO, line.toUtf8() + '\n');
}
