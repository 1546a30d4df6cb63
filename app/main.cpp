#include "app/CommandLine.h"
#include "app/IndexMode.h"
#include "app/ModeLibrary.h"

namespace {

// Qt Core and the credential stores: no Qt GUI, no libcurl.
const char* const importLibrary = "libparvel-import.so";
// The model, the network, Qt GUI: upload, previews, the application.
const char* const modesLibrary = "libparvel-modes.so";

} // namespace

// The modes are tried in a fixed order and the first that applies ends the
// process. An option whose operand is missing is no error: it is skipped and
// the next test runs. This file and the index mode are plain C++: every
// other mode lives in a library loaded only when it runs, so `--json` pays
// for no Qt library and `--import-connection` for no Qt GUI or libcurl.
int main(int argc, char** argv) {
    const CommandLine commandLine(argc, argv);

    if (const char* path = commandLine.operandOf("--import-connection"))
        return runLibraryMode(importLibrary, "import-connection", argc, argv, path);

    if (commandLine.contains("--json"))
        return runIndexMode();

    if (const char* path = commandLine.operandOf("--upload"))
        return runLibraryMode(modesLibrary, "upload", argc, argv, path);

    if (const char* folder = commandLine.operandOf("--render-previews"))
        return runLibraryMode(modesLibrary, "render-previews", argc, argv, folder);

    return runLibraryMode(modesLibrary, "application", argc, argv, nullptr);
}
