#include "app/OutputStreams.h"

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace {

bool writeAll(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false; // a closed pipe: nobody is reading
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

void ignoreBrokenPipes() {
    ::signal(SIGPIPE, SIG_IGN);
}

bool writeOutput(const QByteArray& bytes) {
    return writeAll(STDOUT_FILENO, bytes);
}

bool writeError(const QString& line) {
    return writeAll(STDERR_FILENO, line.toUtf8() + '\n');
}

bool writeErrorBytes(const QByteArray& bytes) {
    return writeAll(STDERR_FILENO, bytes);
}
