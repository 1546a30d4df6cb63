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

    // What becomes of the answer's body. Kept: up to `maxAnswerBytes`; a
    // longer answer fails the request (TransportError::Reason::TooLarge).
    // Ignored: none of it is kept, and once the status has arrived the
    // transfer ends after 64 KiB of body or a 30 s stall, with that status
    // as the answer, so an endless or stalled body holds neither memory nor
    // the caller.
    enum class AnswerBody { Kept, Ignored };
    AnswerBody answerBody = AnswerBody::Kept;
    qint64 maxAnswerBytes = 64 * 1024 * 1024;

    // Called for every progress report of the request body: (sent, expected).
    // Runs on the main thread, from inside the session; it must not start or
    // await requests itself.
    std::function<void(qint64, qint64)> onUploadProgress;
};

struct HttpResponse {
    int status = 0;  // 0: the peer answered, but not in HTTP (the body is then empty)
    QByteArray body; // empty when the request ignored it
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
    // response. An answer that has arrived is returned even when the stop
    // came with it: the caller may hold what the request created, and the
    // stop takes effect at its next step.
    QCoro::Task<std::expected<HttpResponse, TransportError>> send(HttpRequest request,
                                                                  std::stop_token stop = {});

    // Tests shorten the idle time-outs: every request's idle time-out (and
    // with it the stall limit of an ignored answer) is capped at this value
    // when set.
    void setIdleTimeoutCap(std::optional<std::chrono::seconds> cap);

    ~HttpSession();

private:
    HttpSession();
    struct Private;
    std::unique_ptr<Private> d;
};
