#include "app/StandardStreams.h"

#include <cerrno>
#include <csignal>
#include <unistd.h>

void ignoreBrokenPipes() {
    ::signal(SIGPIPE, SIG_IGN);
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false; // a closed pipe: nobody is reading
        data += n;
        size -= std::size_t(n);
    }
    return true;
}
