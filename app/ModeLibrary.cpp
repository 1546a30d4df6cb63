#include "app/ModeLibrary.h"

#include "app/ModeEntry.h"
#include "app/StandardStreams.h"

#include <dlfcn.h>
#include <unistd.h>

#include <string>

namespace {

int fail(const std::string& why) {
    const std::string line = "parvel: " + why + '\n';
    writeAll(STDERR_FILENO, line.data(), line.size());
    return 1;
}

} // namespace

int runLibraryMode(const char* library, const char* mode, int& argc, char** argv,
                   const char* operand) {
    // Never closed: the mode ends the process.
    void* handle = ::dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return fail(::dlerror());
    const auto entry = reinterpret_cast<ParvelRunMode>(::dlsym(handle, PARVEL_MODE_ENTRY));
    if (!entry)
        return fail(::dlerror());
    return entry(mode, &argc, argv, operand);
}
