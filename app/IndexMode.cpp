#include "app/IndexMode.h"

#include "app/StandardStreams.h"
#include "platform/RegularFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

// Where LocalIndex writes, the way Qt finds the per-user data folder
// (QStandardPaths::GenericDataLocation): $XDG_DATA_HOME, else
// $HOME/.local/share, an unset home being "/".
std::string indexPath() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    std::string folder;
    if (dataHome && *dataHome) {
        folder = dataHome;
    } else {
        const char* home = std::getenv("HOME");
        folder = std::string(home && *home ? home : "/") + "/.local/share";
    }
    return folder + "/Parvel/files.json";
}

} // namespace

int runIndexMode() {
    ignoreBrokenPipes();
    // Never parsed: other programs may have written anything there.
    const auto index = openRegularFile(indexPath().c_str());
    if (!index)
        return writeAll(STDOUT_FILENO, "[]\n", 3) ? 0 : 1;
    // Streamed like cat does rather than gathered first: gathering a large
    // index in fresh memory costs more than the rest of the mode. The index
    // is replaced by renaming a new file over it, so the open file stays
    // whole; what grew past the size checked on opening is not printed.
    char buffer[65536];
    std::int64_t left = index->size;
    bool written = true;
    while (left > 0 && written) {
        const ssize_t n =
            ::read(index->fd, buffer, std::size_t(std::min<std::int64_t>(left, sizeof buffer)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            written = false; // half an index went out: not a success
        if (n <= 0)
            break;
        written = writeAll(STDOUT_FILENO, buffer, std::size_t(n));
        left -= n;
    }
    ::close(index->fd);
    return written ? 0 : 1;
}
