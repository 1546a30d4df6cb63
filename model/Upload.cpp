// Choosing files and the upload run: one file after the other, each created,
// streamed and completed on the server, its link collected for the
// pasteboard. Every failure after a ticket was issued discards the unfinished
// file on the server before the failure is reported.

#include "model/ParvelModel.h"
#include "net/Endpoints.h"
#include "net/FileUrl.h"
#include "net/UploadProgress.h"

#include <QPointer>
#include <QSet>

#include <QCoro/QCoroTimer>

#include <sys/stat.h>

#include <cerrno>

namespace {

const QString zipFoldersText = QStringLiteral("Choose files. Zip folders before sharing them.");
const QString waitText = QStringLiteral("Wait for the current upload, or cancel it first.");
const QString tooLargeText = QStringLiteral("Choose a file up to 5 GB.");
const QString invalidAddressText = QStringLiteral("The upload address is invalid.");
const QString cancelledText = QStringLiteral("Upload cancelled.");

// What the run learns about a file right before sending it. Symlinks are
// followed: the bytes sent are those of the file they point to.
struct FileFacts {
    bool isRegular = false;
    qint64 size = 0;
};

// The path is the file's own bytes (see FileUrl): a name that is not UTF-8
// is still the file the user chose.
Result<FileFacts> readFileFacts(const QByteArray& path) {
    struct stat info {};
    if (::stat(path.constData(), &info) != 0) {
        const int code = errno;
        const QString name = QString::fromUtf8(path.mid(path.lastIndexOf('/') + 1));
        return std::unexpected(
            Error(SystemError{QStringLiteral("The file “%1” could not be read: %2.")
                                  .arg(name, qt_error_string(code))}));
    }
    return FileFacts{S_ISREG(info.st_mode), static_cast<qint64>(info.st_size)};
}

Error cancellation() {
    return Error(TransportError{TransportError::Reason::Cancelled, cancelledText});
}

// The transfer of one file, from the size check to the finished share.
// Touches the model only through `model`, re-checked after every wait; a
// model that went away mid-file counts as a cancellation.
QCoro::Task<Result<SharedFile>> uploadOne(QPointer<ParvelModel> model, API api, QUrl url,
                                          int position, int count, std::optional<QString> password,
                                          std::stop_token stop) {
    if (stop.stop_requested())
        co_return std::unexpected(cancellation());

    const Result<FileFacts> facts = readFileFacts(FileUrl::toPath(url));
    if (!facts)
        co_return std::unexpected(facts.error());
    if (!facts->isRegular || facts->size > ParvelModel::maxUploadBytes)
        co_return std::unexpected(Error(ParvelError::message(tooLargeText)));

    if (!model)
        co_return std::unexpected(cancellation());
    model->setMessage(QStringLiteral("Uploading %1 of %2…").arg(position + 1).arg(count));
    model->setProgress(0);

    const Result<UploadTicket> ticket =
        co_await Endpoints::createUpload(api, url.fileName(), facts->size, password, stop);
    if (!ticket)
        co_return std::unexpected(ticket.error());

    // From here on the server holds an unfinished file; every way out but
    // success deletes it. The deletion ignores the run's cancellation: a
    // cancelled run must still clean up after itself.
    std::optional<Error> failure;
    // Progress reports are queued calls. Those still waiting when this file
    // is done would otherwise land after the next file's reset to 0 or after
    // the run's final 0.
    const auto current = std::make_shared<bool>(true);
    if (!model || stop.stop_requested()) {
        failure = cancellation();
    } else if (!Endpoints::isUsableUploadAddress(ticket->uploadURL)) {
        failure = ParvelError::message(invalidAddressText);
    } else {
        const UploadProgress reporter([model, current](double fraction) {
            if (model && *current)
                model->setProgress(fraction);
        });
        // Made outside the co_await expression: with the closure built inside
        // it, g++ 12 released the captured reporter once too often.
        std::function<void(qint64, qint64)> onProgress = [reporter](qint64 sent, qint64 expected) {
            reporter.report(sent, expected);
        };
        auto transfer = Endpoints::uploadBytes(ticket->uploadURL, url, facts->size,
                                               std::move(onProgress), stop);
        const Result<void> sent = co_await std::move(transfer);
        if (!sent)
            failure = sent.error();
        else if (!model || stop.stop_requested())
            failure = cancellation();
    }

    std::optional<SharedFile> finished;
    if (!failure) {
        Result<FileResult> completed = co_await Endpoints::complete(api, ticket->id, stop);
        if (completed)
            finished = std::move(completed->file);
        else
            failure = completed.error();
    }
    if (failure)
        co_await Endpoints::deleteFile(api, ticket->id);

    *current = false;
    if (failure)
        co_return std::unexpected(std::move(*failure));
    co_return std::move(*finished);
}

bool wasCancelled(const Error& failure, const std::stop_token& stop) {
    // A transport failure that comes with a stop request is the stop itself,
    // whatever words the transfer found for it.
    return isCancelled(failure) ||
           (stop.stop_requested() && std::holds_alternative<TransportError>(failure));
}

} // namespace

void ParvelModel::selectFiles(bool adding) {
    if (!isUploading() && presentFilePicker)
        presentFilePicker(adding);
}

bool ParvelModel::refuseWhileUploading() {
    if (isUploading())
        setError(waitText);
    return isUploading();
}

void ParvelModel::setFiles(const QList<QUrl>& urls, bool appending) {
    if (refuseWhileUploading())
        return;

    const QList<QUrl> candidates = appending ? selected() + urls : urls;
    QList<QUrl> accepted;
    QSet<QByteArray> seen;
    qint64 total = 0;
    bool rejected = false;

    for (const QUrl& url : candidates) {
        // One stat() answers both questions; it follows symlinks, so a link
        // to a file is a file and a link to a folder is a folder.
        const QByteArray path = FileUrl::toPath(url);
        struct stat info {};
        if (path.isEmpty() || ::stat(path.constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
            rejected = true;
            continue;
        }
        // Where it lies, for telling two spellings of one file apart.
        const QByteArray at = FileUrl::absolutePath(path, {});
        if (seen.contains(at))
            continue;
        seen.insert(at);
        // Rebuilt from the path just checked: the name shown and sent is
        // that path's, whatever else the URL carried.
        accepted.append(FileUrl::fromPath(path));
        total += static_cast<qint64>(info.st_size);
    }

    setError(rejected ? zipFoldersText : QString());
    setSelected(accepted);
    setSelectedBytes(accepted.isEmpty() ? std::nullopt : std::optional<qint64>(total));
    setMessage(QString());
}

void ParvelModel::upload() {
    if (!canUpload() || !connection())
        return;

    QList<QUrl> files = selected();
    Connection runConnection = *connection();
    std::optional<QString> runPassword =
        usePassword() ? std::optional<QString>(password()) : std::nullopt;

    setIsUploading(true);
    setError(QString());
    setMessage(QStringLiteral("Preparing upload…"));
    setProgress(0);

    m_uploadTask = newTask();
    track(m_uploadTask, runUpload(m_uploadTask, std::move(files), std::move(runConnection),
                                  std::move(runPassword)));
}

void ParvelModel::cancelUpload() {
    if (m_uploadTask)
        m_uploadTask->cancel();
}

QCoro::Task<> ParvelModel::runUpload(QPointer<TaskHandle> handle, QList<QUrl> files,
                                     Connection connection, std::optional<QString> password) {
    const QPointer<ParvelModel> self(this);
    const std::stop_token stop = handle->token();
    // Nothing of the run happens inside upload(): its caller and the views
    // first get to see "Preparing upload…".
    co_await QCoro::sleepFor(std::chrono::milliseconds(0));
    if (!self)
        co_return; // the handle went with the model

    const API api(std::move(connection));
    const int count = static_cast<int>(files.size());
    QStringList links;
    std::optional<Error> failure;

    for (int i = 0; i < count; ++i) {
        Result<SharedFile> done = co_await uploadOne(self, api, files[i], i, count, password, stop);
        if (!self)
            co_return;
        if (!done) {
            failure = std::move(done.error());
            break;
        }
        links.append(done->url);
        QList<SharedFile> updated = this->files();
        updated.prepend(std::move(*done));
        assignFiles(std::move(updated));
        saveIndex();
    }

    const QString joined = links.join(QLatin1Char('\n'));
    if (!links.isEmpty() && services().pasteboard)
        services().pasteboard->setText(joined);

    if (!failure) {
        setSelected({});
        setSelectedBytes(std::nullopt);
        setPassword(QString());
        setMessage(links.size() == 1
                       ? QStringLiteral("Link copied. Ready to share.")
                       : QStringLiteral("%1 links copied. Ready to share.").arg(links.size()));
    } else {
        if (wasCancelled(*failure, stop))
            setError(cancelledText);
        else
            handleError(*failure);
        setMessage(links.isEmpty()
                       ? QString()
                       : QStringLiteral("%1 completed links copied.").arg(links.size()));
    }

    setIsUploading(false);
    setProgress(0);
    // The handle finishes right after this (see track): whoever waits on it
    // finds the run's final state.
    if (m_uploadTask == handle)
        m_uploadTask = nullptr;
}
