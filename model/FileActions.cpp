#include "model/ParvelModel.h"

#include "net/Endpoints.h"

#include <QPointer>

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

QCoro::Task<> ParvelModel::deleteFile(SharedFile file) {
    const auto api = this->api();
    if (!api)
        co_return;
    QPointer<ParvelModel> self(this);
    auto deleted = co_await Endpoints::deleteFile(*api, file.id);
    if (!self)
        co_return;
    if (!deleted) {
        handleError(deleted.error());
        co_return;
    }
    // The list may have changed while the request was out: look the file up
    // as it stands now, and drop every copy of it.
    QList<SharedFile> remaining = m_files;
    remaining.removeIf([&](const SharedFile& entry) { return entry.id == file.id; });
    assignFiles(std::move(remaining));
    saveIndex();
    setError({});
    setMessage(u"File deleted. Its link is no longer available."_s);
}

QCoro::Task<> ParvelModel::changePassword(SharedFile file, std::optional<QString> password) {
    const auto api = this->api();
    if (!api)
        co_return;
    QPointer<ParvelModel> self(this);
    auto changed = co_await Endpoints::changeAccess(*api, file.id, std::move(password));
    if (!self)
        co_return;
    if (!changed) {
        handleError(changed.error());
        co_return;
    }
    const auto found = std::find_if(m_files.cbegin(), m_files.cend(),
                                    [&](const SharedFile& entry) { return entry.id == file.id; });
    if (found != m_files.cend()) {
        QList<SharedFile> updated = m_files;
        updated[found - m_files.cbegin()] = changed->file;
        assignFiles(std::move(updated));
    }
    // Saved also when the file has left the list meanwhile: the index then
    // simply matches the list again.
    saveIndex();
    setError({});
    setMessage(u"Access updated."_s);
}
