#include "platform/RegularFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

std::unexpected<std::string> systemReason(int error) {
    return std::unexpected(std::string(std::strerror(error)));
}

std::unexpected<std::string> tooLarge() {
    return std::unexpected("larger than " + std::to_string(maxWholeFileBytes >> 20) + " MiB");
}

} // namespace

std::expected<OpenRegularFile, std::string> openRegularFile(const char* nativePath) {
    Descriptor file{::open(nativePath, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (file.fd < 0)
        return systemReason(errno);
    struct stat info {};
    if (::fstat(file.fd, &info) != 0)
        return systemReason(errno);
    if (!S_ISREG(info.st_mode))
        return std::unexpected(std::string("not a regular file"));
    if (info.st_size > maxWholeFileBytes)
        return tooLarge();
    const OpenRegularFile opened{file.fd, std::int64_t(info.st_size)};
    file.fd = -1;
    return opened;
}

std::expected<std::string, std::string> readRegularFile(const char* nativePath) {
    const auto opened = openRegularFile(nativePath);
    if (!opened)
        return std::unexpected(opened.error());
    const Descriptor file{opened->fd};

    std::string bytes;
    bytes.reserve(std::size_t(opened->size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(file.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return systemReason(errno);
        if (n == 0)
            return bytes;
        // The file may grow while it is read.
        if (std::int64_t(bytes.size()) + n > maxWholeFileBytes)
            return tooLarge();
        bytes.append(buffer, std::size_t(n));
    }
}
