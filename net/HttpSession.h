#pragma once

#include "net/Error.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>

struct HttpRequest {
    QByteArray method = "GET";
    QUrl url;
    QList<std::pair<QByteArray, QByteArray>> headers;

    // Either an in-memory body or a file streamed from disk (never both).
    std::optional<QByteArray> body;
    QUrl bodyFile;           // a local file URL (see FileUrl)
    qint64 bodyFileSize = 0; // sent as Content-Length when streaming a file

    // The transfer fails when no byte moves for this long.
    std::chrono::seconds idleTimeout{60};

    // Called for every progress report of the request body: (sent, expected).
    // Runs on the main thread, from inside the session; it must not start or
    // await requests itself.
    std::function<void(qint64, qint64)> onUploadProgress;
};

struct HttpResponse {
    int status = 0; // 0: the peer answered, but not in HTTP (the body is then empty)
    QByteArray body;
};

// One process-wide HTTP session over a libcurl multi handle driven by the Qt
// event loop: no threads of ours, connections are reused between requests.
// TLS is always verified (plus SSL_CERT_FILE / SSL_CERT_DIR when set); the
// bearer token never goes to another origin on a redirect and https never
// downgrades to http.
class HttpSession {
public:
    static HttpSession& shared();

    // A transport failure, time-out or cancellation (through `stop`) comes
    // back as TransportError; any HTTP answer, whatever its status, is a
    // response.
    QCoro::Task<std::expected<HttpResponse, TransportError>> send(HttpRequest request,
                                                                  std::stop_token stop = {});

    // Tests shorten the idle time-outs: every request's idle time-out is
    // capped at this value when set.
    void setIdleTimeoutCap(std::optional<std::chrono::seconds> cap);

    ~HttpSession();

private:
    HttpSession();
    struct Private;
    std::unique_ptr<Private> d;
};
