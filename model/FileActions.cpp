#include "model/ParvelModel.h"
#include "model/ServerCall.h"

#include "net/Endpoints.h"

using namespace Qt::StringLiterals;

void ParvelModel::copy(const QString& text) {
    if (m_services.pasteboard)
        m_services.pasteboard->setText(text);
}

void ParvelModel::copyLink(const SharedFile& file, bool feedback) {
    copy(file.url);
    setMessage(feedback ? u"Link copied"_s : QString());
    setError({});
}

void ParvelModel::openLink(const SharedFile& file) {
    // A link that is not a well-formed address is not handed on at all.
    const QUrl url(file.url, QUrl::StrictMode);
    if (file.url.isEmpty() || !url.isValid())
        return;
    if (m_services.browser)
        m_services.browser->open(url);
}

TaskHandle* ParvelModel::deleteFile(const SharedFile& file) {
    TaskHandle* handle = newTask();
    return track(handle, runDelete(file, handle->token()));
}

TaskHandle* ParvelModel::changePassword(const SharedFile& file, const QVariant& password) {
    TaskHandle* handle = newTask();
    // QML's null and undefined both mean "no password".
    std::optional<QString> text;
    if (!password.isNull())
        text = password.toString();
    return track(handle, runChangePassword(file, std::move(text), handle->token()));
}

QCoro::Task<> ParvelModel::runDelete(SharedFile file, std::stop_token stop) {
    auto call = serverCall<void>(this, stop, [id = file.id](const API& api, std::stop_token stop) {
        return Endpoints::deleteFile(api, id, stop);
    });
    const ServerAnswer<void> deleted = co_await std::move(call);
    if (!deleted)
        co_return;
    // The list may have changed while the request was out: look the file up
    // as it stands now, and drop every copy of it.
    QList<SharedFile> remaining = files();
    remaining.removeIf([&](const SharedFile& entry) { return entry.id == file.id; });
    assignFiles(std::move(remaining));
    noteChange({file.id, std::nullopt});
    saveIndex();
    setError({});
    setMessage(u"File deleted. Its link is no longer available."_s);
}

QCoro::Task<> ParvelModel::runChangePassword(SharedFile file, std::optional<QString> password,
                                             std::stop_token stop) {
    auto call = serverCall<FileResult>(
        this, stop, [id = file.id, password](const API& api, std::stop_token stop) {
            return Endpoints::changeAccess(api, id, password, stop);
        });
    const ServerAnswer<FileResult> changed = co_await std::move(call);
    if (!changed)
        co_return;
    QList<SharedFile> updated = files();
    const auto found = std::find_if(updated.begin(), updated.end(),
                                    [&](const SharedFile& entry) { return entry.id == file.id; });
    if (found != updated.end()) {
        *found = changed->file;
        assignFiles(std::move(updated));
        noteChange({{}, changed->file});
    }
    // Saved also when the file has left the list meanwhile: the index then
    // simply matches the list again.
    saveIndex();
    setError({});
    setMessage(u"Access updated."_s);
}
