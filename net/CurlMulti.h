#pragma once

#include <curl/curl.h>

#include <QObject>
#include <QPointer>

#include <functional>
#include <unordered_map>

class QSocketNotifier;
class QTimer;

// Drives one libcurl multi handle from the Qt event loop of the thread that
// made it: a QSocketNotifier per socket libcurl asks to watch and one
// single-shot QTimer for libcurl's own deadlines. Transfers progress only
// while that event loop runs; no thread of ours is involved.
class CurlMulti {
public:
    using Done = std::function<void(CURLcode)>;

    CurlMulti();
    ~CurlMulti();
    CurlMulti(const CurlMulti&) = delete;
    CurlMulti& operator=(const CurlMulti&) = delete;

    // Starts a configured easy handle. `done` runs exactly once, from the
    // event loop and outside any libcurl call, after the handle has left the
    // multi handle; the caller then owns the easy handle again.
    void add(CURL* easy, Done done);

    // Takes a running transfer out without calling its `done`. Not allowed
    // while libcurl is calling us back (see insideCurl()).
    void remove(CURL* easy);

    // True while a libcurl call is on the stack: callbacks of the transfer
    // run then, and libcurl must not be re-entered.
    bool insideCurl() const { return m_depth > 0; }

    // Runs `job` soon on this multi handle's thread, from its event loop.
    // Safe to call from any thread.
    void post(std::function<void()> job);

private:
    struct Watch {
        QPointer<QSocketNotifier> read;
        QPointer<QSocketNotifier> write;
    };

    static int onSocket(CURL* easy, curl_socket_t socket, int what, void* self, void*);
    static int onTimer(CURLM*, long timeoutMs, void* self);

    QObject* context();
    void watch(curl_socket_t socket, int what);
    void forget(curl_socket_t socket);
    void action(curl_socket_t socket, int events);

    CURLM* m_multi = nullptr;
    // Parented to the application object, so its notifiers and timer go
    // with it; recreated if another application object appears later.
    QPointer<QObject> m_context;
    QPointer<QTimer> m_timer;
    std::unordered_map<curl_socket_t, Watch> m_watches;
    std::unordered_map<CURL*, Done> m_done;
    int m_depth = 0;
};
