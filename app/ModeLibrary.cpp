#include "app/ModeLibrary.h"

#include "app/ModeEntry.h"
#include "app/StandardStreams.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <string>

namespace {

int fail(const std::string& why) {
    const std::string line = "parvel: " + why + '\n';
    writeAll(STDERR_FILENO, line.data(), line.size());
    return 1;
}

// The library's path beside the executable (the build tree), else where
// `cmake --install` puts it relative to the executable. Found by path rather
// than through the executable's RUNPATH: an interposed dlopen (AddressSanitizer
// wraps it) searches the RUNPATH of the wrapper, not ours.
std::string libraryPath(const char* library) {
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return library;
    std::string folder(self, std::size_t(length));
    folder.erase(folder.rfind('/') + 1);
    for (const std::string& candidate :
         {folder + library, folder + PARVEL_MODES_FROM_BIN + '/' + library}) {
        if (::access(candidate.c_str(), F_OK) == 0)
            return candidate;
    }
    return library;
}

} // namespace

int runLibraryMode(const char* library, const char* mode, int& argc, char** argv,
                   const char* operand) {
    // Never closed: the mode ends the process.
    void* handle = ::dlopen(libraryPath(library).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return fail(::dlerror());
    const auto entry = reinterpret_cast<ParvelRunMode>(::dlsym(handle, PARVEL_MODE_ENTRY));
    if (!entry)
        return fail(::dlerror());
    return entry(mode, &argc, argv, operand);
}
