#include "app/CommandLine.h"
#include "app/IndexMode.h"
#include "app/ModeEntry.h"
#include "app/ModeLibrary.h"

#include <string>

namespace {

// Qt Core and the credential stores: no Qt GUI, no libcurl.
const char* const importLibrary = "libparvel-import.so";
// The model, the network, Qt GUI: no Qt Quick or QML.
const char* const uploadLibrary = "libparvel-upload.so";
// The views in Qt Quick as well: previews, the application.
const char* const appLibrary = "libparvel-app.so";

std::string optionOf(const char* mode) {
    return std::string("--") + mode;
}

} // namespace

// The modes are tried in a fixed order and the first that applies ends the
// process. An option whose operand is missing is no error: it is skipped and
// the next test runs. This file and the index mode are plain C++: every
// other mode lives in a library loaded only when it runs, so `--json` pays
// for no Qt library, `--import-connection` for no Qt GUI or libcurl, and
// `--upload` for no Qt Quick.
int main(int argc, char** argv) {
    const CommandLine commandLine(argc, argv);
    using namespace ModeName;

    if (const char* path = commandLine.operandOf(optionOf(importConnection)))
        return runLibraryMode(importLibrary, importConnection, argc, argv, path);

    if (commandLine.contains("--json"))
        return runIndexMode();

    if (const char* path = commandLine.operandOf(optionOf(upload)))
        return runLibraryMode(uploadLibrary, upload, argc, argv, path);

    if (const char* folder = commandLine.operandOf(optionOf(renderPreviews)))
        return runLibraryMode(appLibrary, renderPreviews, argc, argv, folder);

    return runLibraryMode(appLibrary, application, argc, argv, nullptr);
}
