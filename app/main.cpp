#include "app/CommandLine.h"
#include "app/ImportMode.h"
#include "app/IndexMode.h"
#include "app/OutputStreams.h"
#include "app/PreviewMode.h"
#include "app/UploadMode.h"
#include "shell/Application.h"

#include <QFile>

// The modes are tried in a fixed order and the first that applies ends the
// process. An option whose operand is missing is no error: it is skipped and
// the next test runs. The import and index modes create no application
// object at all, so they work without a display and without a session bus.
int main(int argc, char** argv) {
    const CommandLine commandLine(argc, argv);

    if (const auto path = commandLine.operandOf("--import-connection"))
        return runImportMode(*path);

    if (commandLine.contains("--json"))
        return runIndexMode();

    if (const auto path = commandLine.operandOf("--upload"))
        return runUploadMode(argc, argv, QFile::decodeName(*path));

    if (const auto directory = commandLine.operandOf("--render-previews"))
        return runPreviewMode(argc, argv, *directory);

    return runApplication(argc, argv);
}
