#include "devserver/DevServer.h"

#include "devserver/Api.h"
#include "devserver/Certificates.h"
#include "devserver/Pages.h"
#include "devserver/Responses.h"
#include "devserver/Store.h"
#include "devserver/Uploads.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <csignal>
#include <fstream>
#include <mutex>
#include <thread>

#include <sys/socket.h>
#include <sys/stat.h>

namespace devserver {

namespace fs = std::filesystem;

namespace {

struct FaultEntry {
    std::string method;
    std::string path;
    Fault fault;
    int remaining = 1; // 0: forever
};

bool faultMatches(const FaultEntry& entry, const std::string& method, const std::string& path) {
    if (entry.method != method)
        return false;
    if (!entry.path.empty() && entry.path.back() == '*')
        return path.compare(0, entry.path.size() - 1, entry.path, 0, entry.path.size() - 1) == 0;
    return entry.path == path;
}

// A dropped connection must not end the process: writing to the socket we
// just shut down raises SIGPIPE.
void ignoreSigpipe() {
    struct sigaction current {};
    sigaction(SIGPIPE, nullptr, &current);
    if (current.sa_handler == SIG_DFL) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, nullptr);
    }
}

std::string rawPath(const httplib::Request& req) {
    const std::string& target = req.target.empty() ? req.path : req.target;
    return target.substr(0, target.find('?'));
}

// The request this worker thread recorded last: the HTTP library writes its
// answer, then calls the logger, on the same thread.
struct LatestRecord {
    const void* server = nullptr;
    std::uint64_t generation = 0;
    std::size_t index = 0;
};
thread_local LatestRecord latest;

} // namespace

struct Server::Private {
    Options options;
    std::unique_ptr<Store> store;
    std::unique_ptr<httplib::SSLServer> http;
    std::thread thread;
    std::atomic<bool> listenEnded{false};
    int port = 0;

    mutable std::mutex mutex; // faults, records, upload override
    std::vector<FaultEntry> faults;
    std::vector<RecordedRequest> records;
    std::optional<std::string> uploadOverride;
    // Counts clearRequests(), so that an answer finished after a clear
    // never marks a request recorded after it.
    std::uint64_t generation = 0;

    std::unique_ptr<httplib::SSLServer> makeHttp(const CertificatePaths& certificates,
                                                 std::string& message);
    void runListener();

    void markAnswered() {
        std::lock_guard lock(mutex);
        if (latest.server == this && latest.generation == generation &&
            latest.index < records.size())
            records[latest.index].answered = true;
        latest.server = nullptr;
    }

    Site site() const {
        std::lock_guard lock(mutex);
        return {"https://localhost:" + std::to_string(port),
                uploadOverride.value_or(std::string())};
    }

    void record(RecordedRequest request) {
        std::lock_guard lock(mutex);
        latest = {this, generation, records.size()};
        records.push_back(std::move(request));
    }

    std::optional<Fault> takeFault(const std::string& method, const std::string& path,
                                   bool reusedConnection) {
        std::lock_guard lock(mutex);
        const auto it = std::ranges::find_if(
            faults, [&](const FaultEntry& e) { return faultMatches(e, method, path); });
        if (it == faults.end())
            return std::nullopt;
        Fault fault = it->fault;
        const bool lastUse = it->remaining > 0 && --it->remaining == 0;
        if (lastUse)
            faults.erase(it);
        // A client that loses a reused keep-alive connection before any
        // answer takes it for the server's idle close and silently repeats
        // the request on a new one (libcurl does). Drop that repeat as well,
        // or the dropped connection would never reach the code under test.
        if (lastUse && fault.kind == Fault::Kind::Drop && reusedConnection)
            faults.insert(faults.begin(), FaultEntry{method, path, fault, 1});
        return fault;
    }

    // Answers with the fault; false for a delay, after which the request is
    // served normally.
    bool applyFault(const Fault& fault, const httplib::Request& req, httplib::Response& res) {
        switch (fault.kind) {
        case Fault::Kind::Delay:
            std::this_thread::sleep_for(fault.delay);
            return false;
        case Fault::Kind::Late:
            lateBy() = fault.delay;
            return false;
        case Fault::Kind::Status:
            res.status = fault.status;
            for (const auto& [name, value] : fault.headers)
                res.set_header(name, value);
            res.set_content(fault.body, "application/json");
            break;
        case Fault::Kind::MalformedJson:
            res.status = 200;
            res.set_content("{\"files\": [{\"id\": ", "application/json");
            break;
        case Fault::Kind::JsonNull:
            res.status = 200;
            res.set_content("null", "application/json");
            break;
        case Fault::Kind::Stream:
            res.status = fault.status;
            // A type the HTTP library does not compress: the bytes go out as
            // fast as they are made, and arrive as sent.
            res.set_chunked_content_provider(
                "application/octet-stream", [bytes = fault.streamBytes, stall = fault.delay](
                                                size_t offset, httplib::DataSink& sink) {
                    static const std::string block(16 * 1024, ' ');
                    if (offset < bytes)
                        return sink.write(block.data(), size_t(std::min<std::uint64_t>(
                                                            block.size(), bytes - offset)));
                    if (stall.count() == 0) {
                        sink.done();
                        return true;
                    }
                    std::this_thread::sleep_for(stall);
                    return false; // closes the connection mid-answer
                });
            break;
        case Fault::Kind::Drop:
            // Shut the socket under the HTTP layer: the client sees the
            // connection end with no answer at all.
            if (req.ssl)
                ::shutdown(SSL_get_fd(req.ssl), SHUT_RDWR);
            break;
        }
        return true;
    }

    // Whether this request came on a connection that carried one before. The
    // HTTP library serves each connection on one worker thread from start to
    // end, so the worker can count; the peer port tells a new connection that
    // happens to get the same TLS object address.
    static bool isReusedConnection(const httplib::Request& req) {
        thread_local const SSL* ssl = nullptr;
        thread_local int peerPort = -1;
        thread_local int requests = 0;
        if (ssl != req.ssl || peerPort != req.remote_port) {
            ssl = req.ssl;
            peerPort = req.remote_port;
            requests = 0;
        }
        return ++requests > 1;
    }

    // How long the answer this worker thread just made waits before it goes.
    static std::chrono::milliseconds& lateBy() {
        thread_local std::chrono::milliseconds delay{0};
        return delay;
    }

    void serve(const httplib::Request& req, httplib::Response& res,
               const httplib::ContentReader* reader) {
        RecordedRequest recorded;
        recorded.method = req.method;
        recorded.path = req.target.empty() ? req.path : req.target;
        for (const auto& [name, value] : req.headers) {
            std::string lower = name;
            std::ranges::transform(lower, lower.begin(),
                                   [](unsigned char c) { return char(std::tolower(c)); });
            recorded.headers.emplace(std::move(lower), value);
        }
        recorded.body = req.body;
        recorded.bodyBytes = req.body.size();

        // Recorded before the answer is written, so a client that has its
        // answer can rely on finding its request in the record.
        if (const auto fault = takeFault(req.method, rawPath(req), isReusedConnection(req))) {
            if (fault->kind != Fault::Kind::Delay && fault->kind != Fault::Kind::Late)
                record(recorded);
            if (applyFault(*fault, req, res)) {
                // An upload answered early still has its body in flight.
                if (reader)
                    res.set_header("Connection", "close");
                return;
            }
        }

        const Site site = this->site();
        const std::string& path = req.path;
        if (reader) { // PUT: the only body we stream
            const std::string prefix = "/upload/";
            const auto file = path.starts_with(prefix)
                                  ? store->fileForTicket(path.substr(prefix.size()))
                                  : std::nullopt;
            if (!file) {
                record(recorded);
                res.set_header("Connection", "close");
                return answerFailure(res, {404, "This upload address is not valid."});
            }
            recorded.bodyBytes = receiveUpload(*store, *file, *reader, res);
            record(recorded);
            return;
        }
        record(recorded);
        if (path.starts_with("/api/"))
            return handleApi(*store, site, path, req, res);
        if (!handlePage(*store, site, path, req, res))
            answerFailure(res, {404, "There is nothing at " + req.method + " " + path + "."});
    }

    bool writeConnectionFile(std::string* error) const {
        const std::string token = store->bootstrapToken();
        if (token.empty())
            return true; // the first device was revoked: nothing to hand out
        const fs::path path = options.dataDir / "connection.json";
        const mode_t previous = ::umask(077); // it holds a bearer token
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        ::umask(previous);
        out << dumpJson(Json{{"serverURL", site().baseURL}, {"token", token}}) << '\n';
        if (!out) {
            *error = "Could not write " + path.string();
            return false;
        }
        return true;
    }
};

Server::Server(Options options) : d(std::make_unique<Private>()) {
    d->options = std::move(options);
}

Server::~Server() {
    stop();
}

// The HTTPS server with its options and routes, not yet bound.
std::unique_ptr<httplib::SSLServer> Server::Private::makeHttp(const CertificatePaths& certificates,
                                                              std::string& message) {
    auto http = std::make_unique<httplib::SSLServer>(certificates.certificate.c_str(),
                                                     certificates.key.c_str());
    if (!http->is_valid()) {
        message = "Could not load the server certificate from " + options.dataDir.string();
        return nullptr;
    }
    // Enough workers that idle keep-alive connections of a few clients never
    // starve a new request; many requests per connection, as a client reuses it.
    http->new_task_queue = [] { return new httplib::ThreadPool(16); };
    // Address reuse for a quick restart, but not port sharing (the library's
    // default): a second server on the same port must fail, not split the
    // connections with the first.
    http->set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    http->set_tcp_nodelay(true);
    http->set_keep_alive_max_count(10000);
    http->set_keep_alive_timeout(2);
    http->set_logger(
        [p = this](const httplib::Request&, const httplib::Response&) { p->markAnswered(); });
    http->set_read_timeout(30);
    http->set_write_timeout(30);
    Private* p = this;
    const auto handler = [p](const httplib::Request& req, httplib::Response& res) {
        p->serve(req, res, nullptr);
        std::this_thread::sleep_for(std::exchange(Private::lateBy(), {}));
    };
    // A request without Content-Length and without chunked encoding has no
    // body (what libcurl sends for a bare POST), but the HTTP library would
    // wait for one until its read time-out. Serve those before it tries.
    http->set_pre_routing_handler([p](const httplib::Request& req, httplib::Response& res) {
        // The rest of an upload's body, sent after the server had answered
        // and closed, can reach here parsed as a request without a method;
        // it is no request of the client's, so it is not recorded.
        if (req.method.empty()) {
            res.status = 400;
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.has_header("Content-Length") || req.has_header("Transfer-Encoding"))
            return httplib::Server::HandlerResponse::Unhandled;
        const httplib::ContentReader nothing(
            [](httplib::ContentReceiver) { return true; },
            [](httplib::MultipartContentHeader, httplib::ContentReceiver) { return true; });
        p->serve(req, res, req.method == "PUT" ? &nothing : nullptr);
        std::this_thread::sleep_for(std::exchange(Private::lateBy(), {}));
        return httplib::Server::HandlerResponse::Handled;
    });
    http->Get(".*", handler);
    http->Post(".*", handler);
    http->Patch(".*", handler);
    http->Delete(".*", handler);
    http->Put(".*", [p](const httplib::Request& req, httplib::Response& res,
                        const httplib::ContentReader& reader) { p->serve(req, res, &reader); });

    return http;
}

// Serves on a thread of its own; returns once the accept loop runs, so that
// a stop() right after start() cannot leave the thread running.
void Server::Private::runListener() {
    Private* p = this;
    listenEnded = false;
    thread = std::thread([p] {
        p->http->listen_after_bind();
        p->listenEnded = true;
    });
    while (!http->is_running() && !listenEnded)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool Server::start(std::string* error) {
    std::string ignored;
    std::string& message = error ? *error : ignored;
    if (d->http)
        return true;
    ignoreSigpipe();

    std::error_code ec;
    fs::create_directories(d->options.dataDir, ec);
    if (ec) {
        message = "Could not create " + d->options.dataDir.string() + ": " + ec.message();
        return false;
    }
    auto store = std::make_unique<Store>(d->options.dataDir);
    if (!store->load(&message))
        return false;
    const CertificatePaths certificates = CertificatePaths::in(d->options.dataDir);
    if (!ensureCertificates(certificates, &message))
        return false;

    auto http = d->makeHttp(certificates, message);
    if (!http)
        return false;

    int port = d->options.port;
    if (port == 0) {
        port = http->bind_to_any_port("127.0.0.1");
    } else if (!http->bind_to_port("127.0.0.1", port)) {
        port = -1;
    }
    if (port <= 0) {
        message = "Could not listen on 127.0.0.1:" + std::to_string(d->options.port) +
                  " (is another server using it?)";
        return false;
    }

    d->store = std::move(store);
    d->http = std::move(http);
    {
        std::lock_guard lock(d->mutex);
        d->port = port;
    }
    if (d->options.writeConnectionFile && !d->writeConnectionFile(&message)) {
        stop();
        return false;
    }
    d->runListener();
    return true;
}

void Server::stop() {
    if (!d->http)
        return;
    d->http->stop();
    if (d->thread.joinable())
        d->thread.join();
    d->http.reset();
    d->store.reset();
}

int Server::port() const {
    std::lock_guard lock(d->mutex);
    return d->port;
}

std::string Server::baseURL() const {
    return d->site().baseURL;
}

fs::path Server::caPath() const {
    return d->options.dataDir / "ca.pem";
}

fs::path Server::connectionFilePath() const {
    return d->options.dataDir / "connection.json";
}

std::string Server::bootstrapToken() const {
    return d->store ? d->store->bootstrapToken() : std::string();
}

std::string Server::newConnectionCode() {
    return d->store ? d->store->newCode().code : std::string();
}

void Server::injectFault(const std::string& method, const std::string& path, Fault fault,
                         int times) {
    std::lock_guard lock(d->mutex);
    d->faults.push_back({method, path, std::move(fault), std::max(times, 0)});
}

void Server::clearFaults() {
    std::lock_guard lock(d->mutex);
    d->faults.clear();
}

std::vector<RecordedRequest> Server::requests() const {
    std::lock_guard lock(d->mutex);
    return d->records;
}

void Server::clearRequests() {
    std::lock_guard lock(d->mutex);
    d->records.clear();
    ++d->generation;
}

void Server::overrideUploadURL(std::optional<std::string> url) {
    std::lock_guard lock(d->mutex);
    d->uploadOverride = std::move(url);
}

} // namespace devserver
