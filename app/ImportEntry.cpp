// The entry of libparvel-import.so: the import mode, with Qt Core and the
// credential stores only (no Qt GUI, no libcurl).

#include "app/ImportMode.h"
#include "app/ModeEntries.h"
#include "app/ModeEntry.h"

extern "C" int parvel_run_mode(const char* mode, int*, char**, const char* operand) {
    if (isMode(mode, ModeName::importConnection))
        return runImportMode(QByteArray(operand));
    return unknownMode(mode);
}
