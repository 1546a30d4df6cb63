#pragma once

// The server's own small PKI: a CA that users and tests trust explicitly
// (SSL_CERT_FILE, curl --cacert) and a certificate for localhost and
// 127.0.0.1 signed by it. Made once per data directory and reused, so a
// client that trusted the CA keeps working across restarts.

#include <filesystem>
#include <string>

namespace devserver {

struct CertificatePaths {
    std::filesystem::path caCertificate; // DIR/ca.pem, the file to trust
    std::filesystem::path caKey;         // DIR/ca-key.pem, owner-only
    std::filesystem::path certificate;   // DIR/server.pem
    std::filesystem::path key;           // DIR/server-key.pem, owner-only

    static CertificatePaths in(const std::filesystem::path& dataDir);
};

// Creates whatever is missing: the CA (and then a new server certificate,
// since the old one would not chain to it) or only the server certificate.
bool ensureCertificates(const CertificatePaths& paths, std::string* error);

} // namespace devserver
