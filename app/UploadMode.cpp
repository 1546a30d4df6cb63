#include "app/UploadMode.h"

#include "app/Interruption.h"
#include "app/OutputStreams.h"
#include "app/TerminalProgress.h"
#include "model/LocalIndex.h"
#include "model/ParvelModel.h"
#include "net/FileUrl.h"
#include "platform/Services.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSet>
#include <QTimer>

#include <memory>

#include <unistd.h>

namespace {

const char* const passwordVariable = "PARVEL_UPLOAD_PASSWORD";
const QString cancelledText = QStringLiteral("Upload cancelled.");
const QString unfinishedText = QStringLiteral("The upload did not finish. Please try again.");

// A signal before the run started: nothing to undo.
[[noreturn]] void endCancelled() {
    writeError(cancelledText);
    ::_exit(1);
}

// Without a display there is no clipboard to put the link on, and a GUI
// application object could not even start; the upload itself needs neither.
bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// A display that is named but cannot be reached must not end the upload:
// Qt then falls back to the offscreen platform and the link only misses the
// clipboard. A platform the user chose is left alone.
void allowOffscreenFallback() {
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return;
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                                   ? QByteArrayLiteral("xcb;offscreen")
                                   : QByteArrayLiteral("wayland;xcb;offscreen"));
}

QCoro::Task<int> uploadOneFile(ParvelModel& model, QByteArray path, QList<SharedFile> index,
                               bool& started) {
    if (const auto reading = model.connectionTask())
        co_await reading->wait();

    if (!model.connection()) {
        writeError(QStringLiteral("Connect Parvel before uploading."));
        co_return 1;
    }

    if (!path.startsWith('/'))
        path = QFile::encodeName(QDir::currentPath()) + '/' + path;
    model.setFiles({FileUrl::fromPath(path)}, false);

    // Present means protected, even when empty: an empty password is then
    // refused below rather than silently sharing the file with anyone.
    if (qEnvironmentVariableIsSet(passwordVariable)) {
        model.setUsePassword(true);
        model.setPassword(qEnvironmentVariable(passwordVariable));
    }

    if (!model.canUpload()) {
        writeError(QStringLiteral(
            "Choose a valid file and a password of at least 4 characters if protected."));
        co_return 1;
    }

    // A signal the event loop has not delivered yet still stops us here.
    if (Interruption::requested())
        endCancelled();

    QSet<QString> known;
    for (const SharedFile& file : index)
        known.insert(file.id);
    model.assignFiles(std::move(index));
    TerminalProgress progress(model.selectedBytes().value_or(0));
    const QMetaObject::Connection drawing =
        QObject::connect(&model, &ParvelModel::progressChanged, &model,
                         [&progress, &model] { progress.update(model.progress()); });
    started = true;
    model.upload();
    if (const auto running = model.uploadTask())
        co_await running->wait();
    QObject::disconnect(drawing);
    progress.clear();

    // Success is the new record, not merely the absence of an error text: a
    // server may fail with an empty one.
    if (!model.files().isEmpty() && !known.contains(model.files().first().id)) {
        // A result nobody could read is no success.
        co_return writeOutput(encode(model.files().first()) + '\n') ? 0 : 1;
    }
    writeError(model.error().isEmpty() ? unfinishedText : model.error());
    co_return 1;
}

// Started from the running event loop, so that exit() always has a loop to
// end, even when the work finishes without ever waiting.
QCoro::Task<> drive(ParvelModel* model, QByteArray path, QList<SharedFile> index, bool* started) {
    const int status = co_await uploadOneFile(*model, std::move(path), std::move(index), *started);
    QCoreApplication::exit(status);
}

} // namespace

int runUploadMode(int& argc, char** argv, const QByteArray& path) {
    ignoreBrokenPipes();
    keepQtMessagesOut();
    Interruption::install();

    const bool display = hasDisplay();
    std::unique_ptr<QCoreApplication> app;
    if (display) {
        allowOffscreenFallback();
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else
        app = std::make_unique<QCoreApplication>(argc, argv);

    Services services = Services::system();
    if (!display)
        services.pasteboard.reset();
    // The application fills `files` from the server; here the index stands in
    // for it, so the new record joins the files uploaded before instead of
    // replacing them in the index.
    QList<SharedFile> index = LocalIndex::read(services.applicationSupportDir);

    ParvelModel model(true, std::move(services));
    bool started = false;
    // Once the run is under way it is cancelled like from the popover, which
    // discards the unfinished file on the server; before, there is nothing
    // to undo.
    Interruption::onFirstSignal([&model, &started] {
        if (started) {
            model.cancelUpload();
            return;
        }
        endCancelled();
    });
    QTimer::singleShot(0, app.get(), [&model, &path, &index, &started] {
        auto work = drive(&model, path, std::move(index), &started);
        Q_UNUSED(work);
    });
    return app->exec();
}
