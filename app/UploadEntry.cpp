// The entry of libparvel-upload.so: the upload mode, with the model, the
// network and Qt GUI (for the clipboard) but no Qt Quick or QML.

#include "app/ModeEntries.h"
#include "app/ModeEntry.h"
#include "app/UploadMode.h"

extern "C" int parvel_run_mode(const char* mode, int* argc, char** argv, const char* operand) {
    if (isMode(mode, ModeName::upload))
        return runUploadMode(*argc, argv, QByteArray(operand));
    return unknownMode(mode);
}
