#include "net/API.h"

#include <QJsonDocument>
#include <QUrl>

namespace {

using namespace std::chrono_literals;

ParvelError invalidAddress() {
    return ParvelError::message(QStringLiteral("Enter a valid HTTPS server address."));
}

// https anywhere; plain http only to the host spelled "localhost", for a
// server on this computer. A loopback IP address does not count.
bool passesSchemeRule(const QUrl& url) {
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("https"))
        return true;
    return scheme == QLatin1String("http") && url.host() == QLatin1String("localhost");
}

} // namespace

QCoro::Task<Result<API::Raw>> API::perform(QString path, QByteArray method,
                                           std::optional<QJsonObject> body,
                                           std::stop_token stop) const {
    // Plain concatenation: no separator added, nothing encoded, so an id
    // that is not URL-safe makes the address fail to parse instead of
    // reaching some other path.
    const QUrl url(m_connection.serverURL + path, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || !passesSchemeRule(url))
        co_return std::unexpected(Error(invalidAddress()));

    HttpRequest request;
    request.method = std::move(method);
    request.url = url;
    request.idleTimeout = 60s;
    // Always sent, also with the empty token of a first connect.
    request.headers.emplaceBack("Authorization", "Bearer " + m_connection.token.toUtf8());
    if (body) {
        request.body = QJsonDocument(*body).toJson(QJsonDocument::Compact);
        request.headers.emplaceBack("Content-Type", "application/json");
    }

    // The session keeps at most HttpRequest::maxAnswerBytes (64 MiB) of an
    // answer: far above any record, far below what an endless body costs.
    auto answer = co_await HttpSession::shared().send(std::move(request), std::move(stop));
    if (!answer && answer.error().reason == TransportError::Reason::TooLarge)
        co_return std::unexpected(
            Error(ParvelError::message(QStringLiteral("The server's answer is too large."))));
    if (!answer)
        co_return std::unexpected(Error(std::move(answer.error())));
    if (answer->status == 0)
        co_return std::unexpected(
            Error(ParvelError::message(QStringLiteral("The server did not respond."))));
    co_return Raw{answer->status, std::move(answer->body)};
}

QCoro::Task<Result<void>> API::remove(QString path, std::stop_token stop) const {
    auto raw = co_await perform(std::move(path), "DELETE", std::nullopt, std::move(stop));
    if (!raw)
        co_return std::unexpected(raw.error());
    if (auto failure = statusFailure(*raw, true))
        co_return std::unexpected(*failure);
    co_return {};
}

std::optional<Error> API::statusFailure(const Raw& raw, bool forDelete) {
    // A 401 means the token is no longer accepted, whatever the body says.
    if (raw.status == 401)
        return ParvelError::unauthorized();
    if (raw.status >= 200 && raw.status <= 299)
        return std::nullopt;
    if (auto apiError = decode<APIError>(raw.body))
        return ParvelError::message(apiError->error); // verbatim, even when empty
    if (forDelete)
        return ParvelError::message(QStringLiteral("Could not delete this item."));
    return ParvelError::message(
        QStringLiteral("The server returned %1. Please try again.").arg(raw.status));
}
