// The entry of libparvel-modes.so: the modes that need the model, the
// network and an application object. Each mode is one branch below; a new
// mode adds its branch here and its name to the dispatcher in main.cpp.

#include "app/Interruption.h"
#include "app/ModeEntry.h"
#include "app/OutputStreams.h"
#include "app/PreviewMode.h"
#include "app/UploadMode.h"
#include "shell/Application.h"

#include <QByteArray>
#include <QCoreApplication>

#include <cstring>

extern "C" int parvel_run_mode(const char* mode, int* argc, char** argv, const char* operand) {
    if (std::strcmp(mode, "upload") == 0)
        return runUploadMode(*argc, argv, QByteArray(operand));

    if (std::strcmp(mode, "render-previews") == 0)
        return runPreviewMode(*argc, argv, QByteArray(operand));

    if (std::strcmp(mode, "application") == 0) {
        // The session ends the tray application with SIGTERM: quitting
        // through the event loop removes the files it made for sharing.
        Interruption::install();
        qAddPreRoutine([] { Interruption::onFirstSignal(&QCoreApplication::quit); });
        return runApplication(*argc, argv);
    }

    writeError(QStringLiteral("parvel: no mode \"%1\" here.").arg(QString::fromUtf8(mode)));
    return 1;
}
