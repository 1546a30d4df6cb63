#pragma once

// A Parvel server for trying the client and for tests: the REST interface
// over HTTPS on loopback, state kept in a data directory, a CA and a
// certificate for localhost and 127.0.0.1 made on first start. Tests run it
// in-process, inject faults per request and read back what was asked.
//
// Plain C++ and cpp-httplib: no Qt, so it never shares an event loop with
// the client under test.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace devserver {

struct RecordedRequest {
    std::string method;
    std::string path;                                // as sent, query included
    std::multimap<std::string, std::string> headers; // names lower-cased
    std::string body; // empty for uploaded file bytes, which go to disk
    std::uint64_t bodyBytes = 0;
    // Set once the answer has been written out in full (or given up on), for
    // tests that must know an answer is on its way before they act.
    bool answered = false;
};

// What to do instead of (or before) the normal answer to one request.
struct Fault {
    enum class Kind {
        Status,        // answer `status` with `body` (content type application/json)
        MalformedJson, // answer 200 with a body that is not JSON
        JsonNull,      // answer 200 with the JSON literal null
        Delay,         // wait `delay`, then answer normally
        Late,          // answer normally, but hold the answer `delay` before sending
                       // it (GET only): an answer older than what happened meanwhile
        Drop,          // close the connection without an answer (see injectFault)
        Stream,        // answer `status`, send `streamBytes` of body, then hold the
                       // connection for `delay` and close it unfinished (endless: no limit)
    };
    Kind kind = Kind::Status;
    int status = 500;
    std::string body;
    std::chrono::milliseconds delay{0};
    // Extra response headers of a Status answer (a redirect's Location).
    std::vector<std::pair<std::string, std::string>> headers;
    std::uint64_t streamBytes = 0;

    static Fault withStatus(int status, std::string body) {
        return {Kind::Status, status, std::move(body), {}, {}};
    }
    // A redirect with an empty body, for example to the same server by
    // another origin: https://127.0.0.1:PORT/... (the certificate covers it).
    static Fault redirect(int status, std::string location) {
        return {Kind::Status, status, {}, {}, {{"Location", std::move(location)}}};
    }
    static Fault malformedJson() { return {Kind::MalformedJson, 200, {}, {}, {}}; }
    static Fault jsonNull() { return {Kind::JsonNull, 200, {}, {}, {}}; }
    static Fault delayed(std::chrono::milliseconds delay) {
        return {Kind::Delay, 0, {}, delay, {}};
    }
    static Fault late(std::chrono::milliseconds delay) { return {Kind::Late, 0, {}, delay, {}}; }
    static Fault drop() { return {Kind::Drop, 0, {}, {}, {}}; }
    // A body that never ends, sent as fast as the client takes it.
    static Fault endless(int status) { return {Kind::Stream, status, {}, {}, {}, UINT64_MAX}; }
    // `bytes` of body (chunked), then nothing for `stall`, then the
    // connection closes without the last chunk.
    static Fault streamed(int status, std::uint64_t bytes, std::chrono::milliseconds stall = {}) {
        return {Kind::Stream, status, {}, stall, {}, bytes};
    }
};

struct Options {
    std::filesystem::path dataDir;
    int port = 0; // 0: any free port
    // Write DIR/connection.json for the "bootstrap" device on start.
    bool writeConnectionFile = true;
};

class Server {
public:
    explicit Server(Options options);
    ~Server();

    // Loads or creates the state, CA and certificate, binds 127.0.0.1 and
    // serves on a thread of its own. False with `error` filled on failure.
    bool start(std::string* error = nullptr);
    void stop();

    int port() const;
    std::string baseURL() const;                      // https://localhost:PORT
    std::filesystem::path caPath() const;             // DIR/ca.pem
    std::filesystem::path connectionFilePath() const; // DIR/connection.json
    std::string bootstrapToken() const;

    // A fresh one-time connection code, valid for ten minutes.
    std::string newConnectionCode();

    // Faults match "METHOD path" exactly, with the path without query; the
    // path may end in "*" to match a prefix. Each fault serves `times`
    // requests (0: every request) and is then forgotten. A Drop that hits a
    // reused keep-alive connection also drops the one repeat that clients send
    // on a new connection in that case, so the client does see the failure
    // (and the record holds the request twice).
    void injectFault(const std::string& method, const std::string& path, Fault fault,
                     int times = 1);
    void clearFaults();

    std::vector<RecordedRequest> requests() const;
    void clearRequests();

    // Answer the upload ticket with this address, verbatim, instead of our
    // own https://localhost:PORT/upload/TICKET; nullopt restores ours.
    void overrideUploadURL(std::optional<std::string> url);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace devserver
