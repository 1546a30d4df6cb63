// parvel-devserver: a Parvel server on this machine, for trying the client.

#include "devserver/DevServer.h"

#include <charconv>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string_view>

#include <pthread.h>

namespace {

constexpr int defaultPort = 8443;

void printHelp(std::ostream& out) {
    out << "Usage: parvel-devserver --data DIR [--port N]\n"
           "\n"
           "Runs a Parvel server on this machine for trying the client: the REST interface,\n"
           "upload addresses, share pages and /install, over HTTPS on 127.0.0.1 only.\n"
           "\n"
           "Options:\n"
           "  --data DIR   Where the server keeps its state; created if missing. It holds\n"
           "               state.json (devices, tokens, files, connection codes), files/\n"
           "               (the uploaded bytes), the CA (ca.pem, ca-key.pem), the server\n"
           "               certificate for localhost and 127.0.0.1 (server.pem,\n"
           "               server-key.pem) and connection.json. Everything survives a\n"
           "               restart; the CA and certificate are made on the first start.\n"
           "  --port N     The port to listen on (default "
        << defaultPort
        << ").\n"
           "  --help       Show this text.\n"
           "\n"
           "Connecting a client:\n"
           "  The certificate is signed by the server's own CA, so the client must trust\n"
           "  it: run the client with SSL_CERT_FILE=DIR/ca.pem (curl: --cacert DIR/ca.pem).\n"
           "  Then either import DIR/connection.json, which holds the server address and\n"
           "  the token of the first device (id \"bootstrap\"):\n"
           "      SSL_CERT_FILE=DIR/ca.pem parvel --import-connection DIR/connection.json\n"
           "  or connect from the client with server address https://localhost:PORT and\n"
           "  the connection code printed at start (single use, valid for 10 minutes).\n"
           "\n"
           "Stop the server with Ctrl+C.\n";
}

bool parsePort(std::string_view text, int& port) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    return ec == std::errc() && end == text.data() + text.size() && port > 0 && port < 65536;
}

int usageError(const std::string& text) {
    std::cerr << "parvel-devserver: " << text << "\nTry 'parvel-devserver --help'.\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    devserver::Options options;
    options.port = defaultPort;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            printHelp(std::cout);
            return 0;
        }
        if ((arg == "--data" || arg == "--port") && i + 1 >= argc)
            return usageError(std::string(arg) + " needs a value.");
        if (arg == "--data") {
            options.dataDir = argv[++i];
        } else if (arg == "--port") {
            if (!parsePort(argv[++i], options.port))
                return usageError(std::string("not a port number: ") + argv[i]);
        } else {
            return usageError("unknown option " + std::string(arg));
        }
    }
    if (options.dataDir.empty())
        return usageError("--data DIR is required.");

    // Block the stop signals before any thread starts, so every thread
    // inherits the mask and the main thread alone receives them in sigwait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    devserver::Server server(options);
    std::string error;
    if (!server.start(&error)) {
        std::cerr << "parvel-devserver: " << error << '\n';
        return 1;
    }
    const std::string dir = options.dataDir.string();
    std::cout << "Parvel dev server listening on " << server.baseURL() << " (127.0.0.1 only)\n"
              << "\n"
              << "Trust its CA:       SSL_CERT_FILE=" << server.caPath().string() << '\n';
    if (!server.bootstrapToken().empty())
        std::cout << "Connection file:    " << server.connectionFilePath().string() << '\n'
                  << "  import it with:   SSL_CERT_FILE=" << server.caPath().string()
                  << " parvel --import-connection " << server.connectionFilePath().string() << '\n';
    std::cout << "Connection code:    " << server.newConnectionCode() << "  (server address "
              << server.baseURL() << ", single use, 10 minutes)\n"
              << "Try it:             curl --cacert " << server.caPath().string() << ' '
              << server.baseURL() << "/install\n"
              << "\nPress Ctrl+C to stop.\n"
              << std::flush;

    int signal = 0;
    sigwait(&stopSignals, &signal);
    std::cout << "Stopping.\n";
    server.stop();
    return 0;
}
