#include "net/Endpoints.h"

#include <QJsonValue>

// Each function copies the API value into its own frame, so callers may pass
// a temporary and still co_await the result later.
namespace Endpoints {

namespace {

using namespace std::chrono_literals;

QJsonValue passwordValue(const std::optional<QString>& password) {
    return password ? QJsonValue(*password) : QJsonValue(QJsonValue::Null);
}

} // namespace

QCoro::Task<Result<ConnectionResult>> connect(const API& api, QString code, QString name,
                                              std::stop_token stop) {
    const API self = api;
    QJsonObject body{{QStringLiteral("code"), code}, {QStringLiteral("name"), name}};
    co_return co_await self.request<ConnectionResult>(QStringLiteral("/api/connect"), "POST",
                                                      std::move(body), std::move(stop));
}

QCoro::Task<Result<Me>> me(const API& api, std::stop_token stop) {
    const API self = api;
    co_return co_await self.request<Me>(QStringLiteral("/api/me"), "GET", std::nullopt,
                                        std::move(stop));
}

QCoro::Task<Result<FileList>> files(const API& api, std::stop_token stop) {
    const API self = api;
    co_return co_await self.request<FileList>(QStringLiteral("/api/files"), "GET", std::nullopt,
                                              std::move(stop));
}

QCoro::Task<Result<UploadTicket>> createUpload(const API& api, QString name, qint64 size,
                                               std::optional<QString> password,
                                               std::stop_token stop) {
    const API self = api;
    QJsonObject body{{QStringLiteral("name"), name},
                     {QStringLiteral("size"), size},
                     {QStringLiteral("password"), passwordValue(password)}};
    co_return co_await self.request<UploadTicket>(QStringLiteral("/api/files"), "POST",
                                                  std::move(body), std::move(stop));
}

bool isUsableUploadAddress(const QString& uploadURL) {
    // On the text as sent: QUrl lower-cases the scheme, so "HTTPS:" would
    // pass a check of the parsed address.
    const QUrl url(uploadURL, QUrl::StrictMode);
    return uploadURL.startsWith(QLatin1String("https:")) && url.isValid() &&
           url.scheme() == QLatin1String("https");
}

QCoro::Task<Result<void>> uploadBytes(QString uploadURL, QUrl file, qint64 size,
                                      std::function<void(qint64, qint64)> progress,
                                      std::stop_token stop) {
    // Not an API exchange: the address comes from the server's ticket, may
    // be another host, and never gets the token.
    if (!isUsableUploadAddress(uploadURL))
        co_return std::unexpected(
            Error(ParvelError::message(QStringLiteral("The upload address is invalid."))));

    HttpRequest request;
    request.method = "PUT";
    request.url = QUrl(uploadURL, QUrl::StrictMode);
    request.headers.emplaceBack("Content-Type", "application/octet-stream");
    request.bodyFile = std::move(file);
    request.bodyFileSize = size;
    request.idleTimeout = 3600s;
    // Only the status counts; an endless or stalled body must not hold the run.
    request.answerBody = HttpRequest::AnswerBody::Ignored;
    request.onUploadProgress = std::move(progress);

    auto answer = co_await HttpSession::shared().send(std::move(request), std::move(stop));
    if (!answer)
        co_return std::unexpected(Error(std::move(answer.error())));
    if (answer->status < 200 || answer->status > 299)
        co_return std::unexpected(Error(
            ParvelError::message(QStringLiteral("The upload did not finish. Please try again."))));
    co_return {};
}

QCoro::Task<Result<FileResult>> complete(const API& api, QString id, std::stop_token stop) {
    const API self = api;
    co_return co_await self.request<FileResult>(QStringLiteral("/api/files/") + id +
                                                    QStringLiteral("/complete"),
                                                "POST", std::nullopt, std::move(stop));
}

QCoro::Task<Result<void>> deleteFile(const API& api, QString id, std::stop_token stop) {
    const API self = api;
    co_return co_await self.remove(QStringLiteral("/api/files/") + id, std::move(stop));
}

QCoro::Task<Result<FileResult>>
changeAccess(const API& api, QString id, std::optional<QString> password, std::stop_token stop) {
    const API self = api;
    QJsonObject body{{QStringLiteral("password"), passwordValue(password)}};
    co_return co_await self.request<FileResult>(QStringLiteral("/api/files/") + id, "PATCH",
                                                std::move(body), std::move(stop));
}

QCoro::Task<Result<std::optional<Pairing>>> createPairing(const API& api, std::stop_token stop) {
    const API self = api;
    co_return co_await self.request<std::optional<Pairing>>(QStringLiteral("/api/pairings"), "POST",
                                                            std::nullopt, std::move(stop));
}

QCoro::Task<Result<DeviceList>> devices(const API& api, std::stop_token stop) {
    const API self = api;
    co_return co_await self.request<DeviceList>(QStringLiteral("/api/devices"), "GET", std::nullopt,
                                                std::move(stop));
}

QCoro::Task<Result<void>> revokeDevice(const API& api, QString id, std::stop_token stop) {
    const API self = api;
    co_return co_await self.remove(QStringLiteral("/api/devices/") + id, std::move(stop));
}

std::optional<QUrl> installerURL(const Connection& connection) {
    const QUrl url(connection.serverURL + QStringLiteral("/install"), QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return std::nullopt;
    return url;
}

} // namespace Endpoints
