// The entry of libparvel-import.so: the import mode, with Qt Core and the
// credential stores only (no Qt GUI, no libcurl).

#include "app/ImportMode.h"
#include "app/ModeEntry.h"
#include "app/OutputStreams.h"

#include <cstring>

extern "C" int parvel_run_mode(const char* mode, int*, char**, const char* operand) {
    if (std::strcmp(mode, "import-connection") == 0)
        return runImportMode(QByteArray(operand));
    writeError(QStringLiteral("parvel: no mode \"%1\" here.").arg(QString::fromUtf8(mode)));
    return 1;
}
