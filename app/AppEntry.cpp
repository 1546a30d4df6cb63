// The entry of libparvel-app.so: what shows the views in Qt Quick, the tray
// application and the preview pictures.

#include "app/Interruption.h"
#include "app/ModeEntries.h"
#include "app/ModeEntry.h"
#include "app/PreviewMode.h"
#include "shell/Application.h"

#include <QCoreApplication>

extern "C" int parvel_run_mode(const char* mode, int* argc, char** argv, const char* operand) {
    if (isMode(mode, ModeName::renderPreviews))
        return runPreviewMode(*argc, argv, QByteArray(operand));
    if (isMode(mode, ModeName::application)) {
        // The session ends the tray application with SIGTERM: quitting
        // through the event loop removes the files it made for sharing.
        Interruption::install();
        qAddPreRoutine([] { Interruption::onFirstSignal(&QCoreApplication::quit); });
        return runApplication(*argc, argv);
    }
    return unknownMode(mode);
}
