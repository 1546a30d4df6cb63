#include "app/IndexMode.h"

#include "app/StandardStreams.h"
#include "platform/RegularFile.h"

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
    const auto index = readRegularFile(indexPath().c_str());
    const std::string& bytes = index ? *index : std::string("[]\n");
    return writeAll(STDOUT_FILENO, bytes.data(), bytes.size()) ? 0 : 1;
}
