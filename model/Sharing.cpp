// What is on the screen or on the clipboard, shared without saving it first:
// it becomes the selection, as dropped files do, and the upload run treats
// it like any file. Files written for it are the model's MadeFiles.

#include "model/ParvelModel.h"

#include <QDateTime>

using namespace Qt::StringLiterals;

namespace {

const QString noPortalText = u"Screenshots need the desktop portal."_s;
const QString emptyClipboardText = u"The clipboard is empty."_s;

// "Screenshot 2026-12-06 at 10.42.07.png": sorts by time, and readable.
QString madeName(const QString& what, const QString& extension) {
    const QString when = QDateTime::currentDateTime().toString(u"yyyy-MM-dd 'at' hh.mm.ss"_s);
    return u"%1 %2.%3"_s.arg(what, when, extension);
}

} // namespace

void ParvelModel::shareScreenshot() {
    if (prepareScreenshot)
        prepareScreenshot();
    else
        (void)takeScreenshot();
}

TaskHandle* ParvelModel::takeScreenshot() {
    if (m_screenshotTask)
        return nullptr;
    if (refuseWhileUploading()) {
        Q_EMIT sharingDone();
        return nullptr;
    }
    m_screenshotTask = newTask();
    return track(m_screenshotTask, runScreenshot(m_screenshotTask));
}

QCoro::Task<> ParvelModel::runScreenshot(QPointer<TaskHandle> handle) {
    const QPointer<ParvelModel> self(this);
    // Held by the run: the model may go away while the desktop asks.
    const std::shared_ptr<ScreenCapture> capture = m_services.screenshots;
    std::optional<Capture> taken;
    if (capture)
        taken = co_await capture->take();
    if (!self)
        co_return;
    if (m_screenshotTask == handle)
        m_screenshotTask = nullptr;

    if (taken && taken->outcome == Capture::Outcome::Cancelled)
        co_return;
    if (!taken || taken->outcome == Capture::Outcome::Unavailable) {
        setError(noPortalText);
    } else if (!refuseWhileUploading()) {
        const auto made = m_made.copy(madeName(u"Screenshot"_s, u"png"_s), taken->path);
        if (made)
            setFiles({*made}, false);
        else
            setError(noPortalText);
    }
    Q_EMIT sharingDone();
}

void ParvelModel::shareClipboard() {
    if (!refuseWhileUploading())
        selectClipboard();
    Q_EMIT sharingDone();
}

void ParvelModel::selectClipboard() {
    const PasteboardContents contents =
        m_services.pasteboard ? m_services.pasteboard->contents() : PasteboardContents();
    if (!contents.fileURLs.isEmpty()) {
        setFiles(contents.fileURLs, false);
        return;
    }
    if (contents.png.isEmpty() && contents.text.isEmpty()) {
        setError(emptyClipboardText);
        return;
    }
    const bool picture = !contents.png.isEmpty();
    const auto made = m_made.write(madeName(u"Clipboard"_s, picture ? u"png"_s : u"txt"_s),
                                   picture ? contents.png : contents.text.toUtf8());
    if (made)
        setFiles({*made}, false);
    else
        setError(made.error());
}
