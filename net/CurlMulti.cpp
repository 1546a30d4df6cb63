#include "net/CurlMulti.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <utility>
#include <vector>

CurlMulti::CurlMulti() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    m_multi = curl_multi_init();
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CurlMulti::onSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CurlMulti::onTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
}

CurlMulti::~CurlMulti() {
    // Runs at process exit, usually after the application object (and with
    // it every notifier) is gone. Transfers still running are abandoned.
    for (auto& [easy, done] : m_done)
        curl_multi_remove_handle(m_multi, easy);
    m_done.clear();
    for (auto& [socket, w] : m_watches) {
        delete w.read.data();
        delete w.write.data();
    }
    m_watches.clear();
    delete m_context.data();
    curl_multi_cleanup(m_multi);
}

QObject* CurlMulti::context() {
    if (!m_context) {
        m_context = new QObject(QCoreApplication::instance());
        m_timer = new QTimer(m_context);
        m_timer->setSingleShot(true);
        QObject::connect(m_timer, &QTimer::timeout, m_context,
                         [this] { action(CURL_SOCKET_TIMEOUT, 0); });
        m_watches.clear();
    }
    return m_context;
}

void CurlMulti::add(CURL* easy, Done done) {
    context();
    m_done.emplace(easy, std::move(done));
    ++m_depth;
    curl_multi_add_handle(m_multi, easy); // arms the timer: the transfer starts from the loop
    --m_depth;
}

void CurlMulti::remove(CURL* easy) {
    if (m_done.erase(easy) == 0)
        return;
    ++m_depth;
    curl_multi_remove_handle(m_multi, easy);
    --m_depth;
}

void CurlMulti::post(std::function<void()> job) {
    // The context exists from the first add(), which happens before anyone
    // can ask to cancel a transfer.
    if (m_context)
        QMetaObject::invokeMethod(m_context.data(), std::move(job), Qt::QueuedConnection);
}

int CurlMulti::onTimer(CURLM*, long timeoutMs, void* self) {
    auto* me = static_cast<CurlMulti*>(self);
    me->context();
    if (timeoutMs < 0)
        me->m_timer->stop();
    else
        me->m_timer->start(int(std::min<long>(timeoutMs, 24L * 3600 * 1000)));
    return 0;
}

int CurlMulti::onSocket(CURL*, curl_socket_t socket, int what, void* self, void*) {
    auto* me = static_cast<CurlMulti*>(self);
    if (what == CURL_POLL_REMOVE)
        me->forget(socket);
    else
        me->watch(socket, what);
    return 0;
}

void CurlMulti::watch(curl_socket_t socket, int what) {
    QObject* parent = context();
    Watch& w = m_watches[socket];
    const bool wantRead = what == CURL_POLL_IN || what == CURL_POLL_INOUT;
    const bool wantWrite = what == CURL_POLL_OUT || what == CURL_POLL_INOUT;
    if (wantRead && !w.read) {
        w.read = new QSocketNotifier(socket, QSocketNotifier::Read, parent);
        QObject::connect(w.read, &QSocketNotifier::activated, parent,
                         [this, socket] { action(socket, CURL_CSELECT_IN); });
    }
    if (wantWrite && !w.write) {
        w.write = new QSocketNotifier(socket, QSocketNotifier::Write, parent);
        QObject::connect(w.write, &QSocketNotifier::activated, parent,
                         [this, socket] { action(socket, CURL_CSELECT_OUT); });
    }
    if (w.read)
        w.read->setEnabled(wantRead);
    if (w.write)
        w.write->setEnabled(wantWrite);
}

void CurlMulti::forget(curl_socket_t socket) {
    auto it = m_watches.find(socket);
    if (it == m_watches.end())
        return;
    // We may be inside the notifier's own signal: silence it now, delete it
    // later. The descriptor number may be reused at once by a new socket,
    // which then gets notifiers of its own.
    for (QSocketNotifier* n : {it->second.read.data(), it->second.write.data()}) {
        if (n) {
            n->setEnabled(false);
            n->deleteLater();
        }
    }
    m_watches.erase(it);
}

void CurlMulti::action(curl_socket_t socket, int events) {
    int running = 0;
    ++m_depth;
    curl_multi_socket_action(m_multi, socket, events, &running);

    std::vector<std::pair<Done, CURLcode>> finished;
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(m_multi, &queued)) {
        if (msg->msg != CURLMSG_DONE)
            continue;
        CURL* easy = msg->easy_handle;
        const CURLcode code = msg->data.result;
        curl_multi_remove_handle(m_multi, easy); // invalidates msg
        auto it = m_done.find(easy);
        if (it == m_done.end())
            continue;
        finished.emplace_back(std::move(it->second), code);
        m_done.erase(it);
    }
    --m_depth;

    // Outside libcurl now: the callbacks may start or cancel transfers.
    for (auto& [done, code] : finished)
        done(code);
}
