#include "net/HttpSession.h"

#include "net/CurlMulti.h"
#include "net/FileUrl.h"

#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <coroutine>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace {

// Big enough that a loopback TLS upload is bound by encryption, not by calls
// into libcurl; libcurl allows up to 2 MiB.
constexpr long kUploadBufferSize = 1024 * 1024;
// The connect phase (TCP and TLS handshake) never waits longer than this.
constexpr std::chrono::seconds kConnectTimeout{60};
// An ignored answer body: how much of it, or how long a silence after its
// status, ends the transfer.
constexpr qint64 kIgnoredBodyBytes = 64 * 1024;
constexpr std::chrono::seconds kStallAfterStatus{30};

using Clock = std::chrono::steady_clock;

using SendResult = std::expected<HttpResponse, TransportError>;

TransportError cancelledError() {
    return {TransportError::Reason::Cancelled, QStringLiteral("The request was cancelled.")};
}

bool isCleanHeaderPart(const QByteArray& part) {
    return !part.contains('\r') && !part.contains('\n') && !part.contains('\0');
}

// One request in flight: the easy handle and everything its callbacks use.
struct Transfer {
    quint64 id = 0;
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    HttpRequest request;
    int fd = -1;
    qint64 remaining = 0;
    qint64 reportedSent = -1;
    bool notHttp = false;
    QString readError;
    QByteArray response;
    qint64 bodyBytes = 0;
    bool tooLarge = false;
    // An ignored body: the status of the answer under way once its headers
    // are in (0 before, and for a redirect, which libcurl may follow), and
    // when a byte last moved either way.
    long answerStatus = 0;
    bool endedAfterStatus = false;
    std::chrono::milliseconds stallLimit{kStallAfterStatus};
    Clock::time_point lastActivity = Clock::now();
    char errorBuffer[CURL_ERROR_SIZE] = {};

    std::optional<SendResult> result;
    std::coroutine_handle<> waiter;

    ~Transfer() {
        if (easy)
            curl_easy_cleanup(easy);
        curl_slist_free_all(headers);
        if (fd >= 0)
            ::close(fd);
    }

    bool ignoresBody() const { return request.answerBody == HttpRequest::AnswerBody::Ignored; }

    static size_t onWrite(char* data, size_t size, size_t count, void* self) {
        auto* t = static_cast<Transfer*>(self);
        const size_t bytes = size * count;
        if (t->bodyBytes == 0) {
            // An answer without a status line (HTTP/0.9 to libcurl) is not
            // HTTP at all: stop reading whatever the peer streams.
            long status = 0;
            curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
            if (status == 0) {
                t->notHttp = true;
                return 0;
            }
        }
        t->bodyBytes += qint64(bytes);
        if (t->ignoresBody()) {
            t->lastActivity = Clock::now();
            if (t->bodyBytes <= kIgnoredBodyBytes)
                return bytes;
            curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &t->answerStatus);
            t->endedAfterStatus = true;
            return 0;
        }
        if (t->bodyBytes > t->request.maxAnswerBytes) {
            t->tooLarge = true;
            return 0;
        }
        t->response.append(data, qsizetype(bytes));
        return bytes;
    }

    // Tells when the status of an answer whose body is ignored has arrived.
    static size_t onHeader(char* data, size_t size, size_t count, void* self) {
        auto* t = static_cast<Transfer*>(self);
        const size_t bytes = size * count;
        const std::string_view line(data, bytes);
        if (line.starts_with("HTTP/")) { // another answer begins: after 1xx or a redirect
            t->answerStatus = 0;
        } else if (line == "\r\n" || line == "\n") {
            long status = 0;
            curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
            if (status >= 200 && (status < 300 || status >= 400)) {
                t->answerStatus = status;
                t->lastActivity = Clock::now();
            }
        }
        return bytes;
    }

    static size_t onRead(char* buffer, size_t size, size_t count, void* self) {
        auto* t = static_cast<Transfer*>(self);
        const size_t want = size_t(std::min<qint64>(qint64(size * count), t->remaining));
        if (want == 0)
            return 0;
        ssize_t got;
        do {
            got = ::read(t->fd, buffer, want);
        } while (got < 0 && errno == EINTR);
        if (got <= 0) {
            t->readError = got < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                                   : QStringLiteral("the file is shorter than its size");
            return CURL_READFUNC_ABORT;
        }
        t->remaining -= got;
        return size_t(got);
    }

    // libcurl rewinds the body when a redirect or an early answer makes it
    // send the request again.
    static int onSeek(void* self, curl_off_t offset, int origin) {
        auto* t = static_cast<Transfer*>(self);
        if (origin != SEEK_SET || ::lseek(t->fd, offset, SEEK_SET) < 0)
            return CURL_SEEKFUNC_CANTSEEK;
        t->remaining = t->request.bodyFileSize - offset;
        return CURL_SEEKFUNC_OK;
    }

    // Runs at least once a second while a transfer runs: the idle check
    // (CURLOPT_LOW_SPEED_LIMIT) wakes the transfer that often.
    static int onProgress(void* self, curl_off_t, curl_off_t, curl_off_t total, curl_off_t sent) {
        auto* t = static_cast<Transfer*>(self);
        if (sent != t->reportedSent) {
            t->reportedSent = sent;
            t->lastActivity = Clock::now();
            const qint64 expected =
                total > 0 ? qint64(total)
                          : (t->request.body ? t->request.body->size() : t->request.bodyFileSize);
            if (t->request.onUploadProgress)
                t->request.onUploadProgress(qint64(sent), expected);
        }
        if (t->answerStatus != 0 && Clock::now() - t->lastActivity >= t->stallLimit) {
            t->endedAfterStatus = true;
            return 1;
        }
        return 0;
    }
};

// Suspends the calling coroutine until its transfer has a result. Holds no
// owning members on purpose: g++ 12 may destroy a co_await operand twice.
struct TransferAwaiter {
    Transfer* transfer;

    bool await_ready() const noexcept { return transfer->result.has_value(); }
    void await_suspend(std::coroutine_handle<> handle) noexcept { transfer->waiter = handle; }
    SendResult await_resume() {
        transfer->waiter = {};
        return std::move(*transfer->result);
    }
};

// Runs `abandon` if the awaiting frame is destroyed while still suspended,
// so that a finishing transfer never resumes a dead coroutine.
template <class F> struct AbandonGuard {
    Transfer* transfer;
    F abandon;
    ~AbandonGuard() {
        if (transfer->waiter) {
            transfer->waiter = {};
            abandon();
        }
    }
};

// The peer got our request and answered, but not with an HTTP status line:
// libcurl calls that a weird reply, or an unsupported protocol before any
// status code (after a redirect the code is the redirect's, never 0).
bool answeredWithoutHttp(CURL* easy, CURLcode code) {
    if (code == CURLE_WEIRD_SERVER_REPLY)
        return true;
    if (code != CURLE_UNSUPPORTED_PROTOCOL)
        return false;
    long status = 0;
    long requestSize = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(easy, CURLINFO_REQUEST_SIZE, &requestSize);
    return status == 0 && requestSize > 0;
}

QString describeCurl(CURLcode code, const char* detail) {
    QString text = QString::fromUtf8(curl_easy_strerror(code));
    const QString extra = QString::fromUtf8(detail).trimmed();
    if (!extra.isEmpty() && extra != text)
        text += QStringLiteral(" (") + extra + QLatin1Char(')');
    return text;
}

} // namespace

struct HttpSession::Private {
    CurlMulti multi;
    std::unordered_map<quint64, std::shared_ptr<Transfer>> running;
    quint64 nextId = 1;
    std::optional<std::chrono::seconds> idleCap;

    std::expected<std::shared_ptr<Transfer>, TransportError> prepare(HttpRequest request);
    void finish(quint64 id, CURLcode code);
    void cancel(quint64 id);
    static void wake(const std::shared_ptr<Transfer>& t);
};

HttpSession& HttpSession::shared() {
    static HttpSession session;
    return session;
}

HttpSession::HttpSession() : d(std::make_unique<Private>()) {}
HttpSession::~HttpSession() = default;

void HttpSession::setIdleTimeoutCap(std::optional<std::chrono::seconds> cap) {
    d->idleCap = cap;
}

namespace {

// The request's headers, refused when one could inject another.
std::optional<QString> malformedHeader(const HttpRequest& r) {
    for (const auto& [name, value] : r.headers) {
        if (name.isEmpty() || name.contains(':') || !isCleanHeaderPart(name) ||
            !isCleanHeaderPart(value))
            return QStringLiteral("The request header %1 is malformed.")
                .arg(QString::fromLatin1(name));
    }
    return std::nullopt;
}

// Opens the file the request sends; the failure's text when it cannot.
std::optional<QString> openBodyFile(Transfer& t) {
    const HttpRequest& r = t.request;
    const QByteArray path = FileUrl::toPath(r.bodyFile);
    const QString shown = r.bodyFile.toString(QUrl::PreferLocalFile);
    // Without blocking: a file swapped for a pipe since it was chosen
    // would otherwise wait here for a writer, on the event loop's thread.
    t.fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info {};
    if (t.fd < 0 || ::fstat(t.fd, &info) != 0)
        return QStringLiteral("Could not open %1: %2")
            .arg(shown, QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("Could not open %1: not a regular file").arg(shown);
    ::fcntl(t.fd, F_SETFL, ::fcntl(t.fd, F_GETFL) & ~O_NONBLOCK);
    ::posix_fadvise(t.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    t.remaining = r.bodyFileSize;
    return std::nullopt;
}

// Where and how to connect: TLS, redirects, time-outs and the callbacks.
void setTransport(Transfer& t, std::chrono::seconds idle) {
    CURL* e = t.easy;
    const HttpRequest& r = t.request;
    curl_easy_setopt(e, CURLOPT_URL, r.url.toEncoded().constData());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t.errorBuffer);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects stay on https. libcurl drops our Authorization header when
    // a redirect leaves the first host, port or scheme (the tests hold it to
    // that); CURLOPT_UNRESTRICTED_AUTH stays off.
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(e, CURLOPT_UNRESTRICTED_AUTH, 0L);
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, ""); // every coding libcurl can decode
    curl_easy_setopt(e, CURLOPT_HTTP09_ALLOWED, 1L);  // so that onWrite can tell "not HTTP"
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    // OpenSSL's own variables, which Qt and libcurl otherwise ignore: the
    // way to trust a self-hosted server's private CA.
    if (const QByteArray file = qgetenv("SSL_CERT_FILE"); !file.isEmpty())
        curl_easy_setopt(e, CURLOPT_CAINFO, file.constData());
    if (const QByteArray dir = qgetenv("SSL_CERT_DIR"); !dir.isEmpty())
        curl_easy_setopt(e, CURLOPT_CAPATH, dir.constData());
    // Idle time-out: fail when fewer than 1 byte a second moved for `idle`.
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, long(idle.count()));
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, long(std::min(idle, kConnectTimeout).count()));
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::onWrite);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
    if (t.ignoresBody()) {
        t.stallLimit = std::min<std::chrono::milliseconds>(kStallAfterStatus, idle);
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
        // A proxy's "200 Connection established" is not the answer.
        curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    }
}

// The method, the headers and the body as libcurl wants them spelled.
void setMethodAndBody(Transfer& t) {
    CURL* e = t.easy;
    const HttpRequest& r = t.request;
    bool hasContentType = false;
    for (const auto& [name, value] : r.headers) {
        hasContentType = hasContentType || name.compare("content-type", Qt::CaseInsensitive) == 0;
        // "Name;" is libcurl's spelling of a header with an empty value.
        const QByteArray line = value.isEmpty() ? name + ';' : name + ": " + value;
        t.headers = curl_slist_append(t.headers, line.constData());
    }

    const QByteArray& method = r.method;
    const bool carriesBody =
        r.body || !r.bodyFile.isEmpty() || method == "POST" || method == "PUT" || method == "PATCH";
    if (carriesBody) {
        // Servers answer at once; waiting for "100 Continue" only costs a
        // round trip (or a second, with servers that never send it).
        t.headers = curl_slist_append(t.headers, "Expect:");
        if (!hasContentType) // libcurl would claim a form otherwise
            t.headers = curl_slist_append(t.headers, "Content-Type:");
    }
    if (!r.bodyFile.isEmpty()) {
        curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, curl_off_t(r.bodyFileSize));
        curl_easy_setopt(e, CURLOPT_READFUNCTION, &Transfer::onRead);
        curl_easy_setopt(e, CURLOPT_READDATA, &t);
        curl_easy_setopt(e, CURLOPT_SEEKFUNCTION, &Transfer::onSeek);
        curl_easy_setopt(e, CURLOPT_SEEKDATA, &t);
        curl_easy_setopt(e, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferSize);
        if (method != "PUT")
            curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.constData());
    } else if (carriesBody) {
        // A missing body is sent as an empty one: "Content-Length: 0".
        static const char empty[] = "";
        curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.body ? r.body->constData() : empty);
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(r.body ? r.body->size() : 0));
        if (method != "POST")
            curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.constData());
    } else if (method == "HEAD") {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
        if (method != "GET")
            curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.constData());
    }
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, t.headers);
    if (r.onUploadProgress || t.ignoresBody()) {
        curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
        curl_easy_setopt(e, CURLOPT_XFERINFODATA, &t);
    }
}

} // namespace

std::expected<std::shared_ptr<Transfer>, TransportError>
HttpSession::Private::prepare(HttpRequest request) {
    auto fail = [](QString text) {
        return std::unexpected(TransportError{TransportError::Reason::Failed, std::move(text)});
    };
    auto t = std::make_shared<Transfer>();
    t->id = nextId++;
    t->request = std::move(request);
    const HttpRequest& r = t->request;

    if (!r.url.isValid())
        return fail(QStringLiteral("The address is not a valid URL."));
    if (auto malformed = malformedHeader(r))
        return fail(*std::move(malformed));
    if (!r.bodyFile.isEmpty())
        if (auto failed = openBodyFile(*t))
            return fail(*std::move(failed));

    t->easy = curl_easy_init();
    if (!t->easy)
        return fail(QStringLiteral("Could not start a request."));
    auto idle = r.idleTimeout;
    if (idleCap)
        idle = std::min(idle, *idleCap);
    setTransport(*t, std::max(idle, std::chrono::seconds{1}));
    setMethodAndBody(*t);
    return t;
}

void HttpSession::Private::wake(const std::shared_ptr<Transfer>& t) {
    if (auto waiter = std::exchange(t->waiter, {}))
        waiter.resume();
}

void HttpSession::Private::finish(quint64 id, CURLcode code) {
    auto it = running.find(id);
    if (it == running.end())
        return;
    std::shared_ptr<Transfer> t = std::move(it->second);
    running.erase(it);

    // A stall after the status of an ignored body is judged by that status,
    // whichever of our watch and libcurl's idle time-out noticed it first.
    const bool stalledAfterStatus = code == CURLE_OPERATION_TIMEDOUT && t->answerStatus != 0;
    if (t->notHttp || answeredWithoutHttp(t->easy, code)) {
        t->result = HttpResponse{0, {}};
    } else if (t->endedAfterStatus || stalledAfterStatus) {
        t->result = HttpResponse{int(t->answerStatus), {}};
    } else if (t->tooLarge) {
        t->result = std::unexpected(TransportError{
            TransportError::Reason::TooLarge,
            QStringLiteral("The answer is longer than %1 bytes.").arg(t->request.maxAnswerBytes)});
    } else if (code == CURLE_OK) {
        long status = 0;
        curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
        t->result = HttpResponse{int(status), std::move(t->response)};
    } else {
        const auto reason = code == CURLE_OPERATION_TIMEDOUT ? TransportError::Reason::TimedOut
                                                             : TransportError::Reason::Failed;
        QString text = describeCurl(code, t->errorBuffer);
        if (!t->readError.isEmpty())
            text += QStringLiteral(" (reading %1: %2)")
                        .arg(t->request.bodyFile.toString(QUrl::PreferLocalFile), t->readError);
        t->result = std::unexpected(TransportError{reason, text});
    }
    wake(t);
}

void HttpSession::Private::cancel(quint64 id) {
    if (multi.insideCurl()) { // a progress callback asked: let libcurl return first
        multi.post([this, id] { cancel(id); });
        return;
    }
    auto it = running.find(id);
    if (it == running.end())
        return;
    std::shared_ptr<Transfer> t = std::move(it->second);
    running.erase(it);
    multi.remove(t->easy);
    t->result = std::unexpected(cancelledError());
    wake(t);
}

QCoro::Task<std::expected<HttpResponse, TransportError>> HttpSession::send(HttpRequest request,
                                                                           std::stop_token stop) {
    if (stop.stop_requested())
        co_return std::unexpected(cancelledError());
    auto prepared = d->prepare(std::move(request));
    if (!prepared)
        co_return std::unexpected(prepared.error());
    std::shared_ptr<Transfer> t = std::move(*prepared);

    Private* p = d.get();
    const quint64 id = t->id;
    p->running.emplace(id, t);
    p->multi.add(t->easy, [p, id](CURLcode code) { p->finish(id, code); });

    // request_stop() may come from any thread; libcurl is touched only from
    // ours, so the abort hops over through the event loop.
    const auto abandon = [p, id] { p->multi.post([p, id] { p->cancel(id); }); };
    std::stop_callback onStop(stop, abandon);
    AbandonGuard<decltype(abandon)> guard{t.get(), abandon};
    // An answer that has arrived is returned even when a stop came with it:
    // the caller may be holding what the request created (an upload ticket)
    // and must see it to clean up. The stop takes effect at its next step.
    auto result = co_await TransferAwaiter{t.get()};
    co_return result;
}
