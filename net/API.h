#pragma once

#include "net/Error.h"
#include "net/HttpSession.h"
#include "net/Records.h"

#include <QJsonObject>

#include <QCoro/QCoroTask>

#include <optional>
#include <stop_token>

// One authenticated JSON exchange with the user's server. An immutable value
// over one Connection; it keeps nothing between requests.
class API {
public:
    explicit API(Connection connection) : m_connection(std::move(connection)) {}

    const Connection& connection() const { return m_connection; }

    struct Raw {
        int status = 0;
        QByteArray body;
    };

    // The address is serverURL + path as text; only https, or http to the host
    // "localhost", is accepted.
    QCoro::Task<Result<Raw>> perform(QString path, QByteArray method,
                                     std::optional<QJsonObject> body, std::stop_token stop) const;

    // Decodes a 2xx answer as T. 401 is `unauthorized`; any other failure
    // status carries the server's APIError text or the fallback text.
    template <class T>
    QCoro::Task<Result<T>> request(QString path, QByteArray method = "GET",
                                   std::optional<QJsonObject> body = std::nullopt,
                                   std::stop_token stop = {}) const {
        auto raw = co_await perform(std::move(path), std::move(method), std::move(body), stop);
        if (!raw)
            co_return std::unexpected(raw.error());
        if (auto failure = statusFailure(*raw, false))
            co_return std::unexpected(*failure);
        auto decoded = decode<T>(raw->body);
        if (!decoded)
            co_return std::unexpected(Error(decoded.error()));
        co_return std::move(*decoded);
    }

    // DELETE without a body; the answer's body is ignored on success.
    QCoro::Task<Result<void>> remove(QString path, std::stop_token stop = {}) const;

private:
    // The error for a non-2xx answer, none for 2xx.
    static std::optional<Error> statusFailure(const Raw& raw, bool forDelete);

    Connection m_connection;
};
