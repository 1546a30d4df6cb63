#include "devserver/Certificates.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <system_error>

#include <sys/stat.h>

namespace devserver {

namespace fs = std::filesystem;

namespace {

struct Free {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(X509* p) const { X509_free(p); }
    void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
    void operator()(BIGNUM* p) const { BN_free(p); }
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Free>;
using CertPtr = std::unique_ptr<X509, Free>;
using FilePtr = std::unique_ptr<std::FILE, Free>;

std::string opensslError(const std::string& what) {
    std::string text = what;
    if (const unsigned long code = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        text += ": ";
        text += buffer;
    }
    ERR_clear_error();
    return text;
}

// P-256 keys: fast handshakes, and every TLS stack we care about takes them.
KeyPtr newKey() {
    return KeyPtr(EVP_EC_gen("P-256"));
}

bool addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, Free> extension(
        X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    return extension && X509_add_ext(cert, extension.get(), -1) == 1;
}

bool setRandomSerial(X509* cert) {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        return false;
    bytes[0] &= 0x7F; // positive
    std::unique_ptr<BIGNUM, Free> number(BN_bin2bn(bytes, sizeof bytes, nullptr));
    return number && BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(cert));
}

CertPtr newCertificate(EVP_PKEY* key, const char* commonName, long validDays) {
    CertPtr cert(X509_new());
    if (!cert || X509_set_version(cert.get(), 2) != 1 || !setRandomSerial(cert.get()))
        return nullptr;
    // Back-date a day so a client whose clock runs a little behind accepts it.
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24L * 3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), validDays * 24L * 3600);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Parvel dev server"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    if (X509_set_pubkey(cert.get(), key) != 1)
        return nullptr;
    return cert;
}

bool writeKey(const fs::path& path, EVP_PKEY* key) {
    // Private keys are readable by their owner only, from the first byte on.
    const mode_t previous = ::umask(077);
    FilePtr file(std::fopen(path.c_str(), "wb"));
    ::umask(previous);
    return file &&
           PEM_write_PrivateKey(file.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
}

bool writeCertificate(const fs::path& path, X509* cert) {
    FilePtr file(std::fopen(path.c_str(), "wb"));
    return file && PEM_write_X509(file.get(), cert) == 1;
}

KeyPtr readKey(const fs::path& path) {
    FilePtr file(std::fopen(path.c_str(), "rb"));
    return KeyPtr(file ? PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr) : nullptr);
}

CertPtr readCertificate(const fs::path& path) {
    FilePtr file(std::fopen(path.c_str(), "rb"));
    return CertPtr(file ? PEM_read_X509(file.get(), nullptr, nullptr, nullptr) : nullptr);
}

bool makeAuthority(const CertificatePaths& paths, std::string* error) {
    KeyPtr key = newKey();
    CertPtr cert = key ? newCertificate(key.get(), "Parvel dev server CA", 3650) : nullptr;
    if (!cert) {
        *error = opensslError("Could not create the CA");
        return false;
    }
    X509_set_issuer_name(cert.get(), X509_get_subject_name(cert.get()));
    const bool ok =
        addExtension(cert.get(), cert.get(), NID_basic_constraints, "critical,CA:TRUE") &&
        addExtension(cert.get(), cert.get(), NID_key_usage, "critical,keyCertSign,cRLSign") &&
        addExtension(cert.get(), cert.get(), NID_subject_key_identifier, "hash") &&
        addExtension(cert.get(), cert.get(), NID_authority_key_identifier, "keyid:always") &&
        X509_sign(cert.get(), key.get(), EVP_sha256()) > 0;
    if (!ok) {
        *error = opensslError("Could not sign the CA");
        return false;
    }
    if (!writeKey(paths.caKey, key.get()) || !writeCertificate(paths.caCertificate, cert.get())) {
        *error = "Could not write the CA to " + paths.caCertificate.parent_path().string();
        return false;
    }
    return true;
}

bool makeServerCertificate(const CertificatePaths& paths, std::string* error) {
    KeyPtr caKey = readKey(paths.caKey);
    CertPtr caCert = readCertificate(paths.caCertificate);
    if (!caKey || !caCert) {
        *error =
            opensslError("Could not read the CA in " + paths.caCertificate.parent_path().string());
        return false;
    }
    KeyPtr key = newKey();
    // 825 days: the longest lifetime strict TLS clients accept for a leaf.
    CertPtr cert = key ? newCertificate(key.get(), "localhost", 825) : nullptr;
    if (!cert) {
        *error = opensslError("Could not create the server certificate");
        return false;
    }
    X509_set_issuer_name(cert.get(), X509_get_subject_name(caCert.get()));
    const bool ok =
        addExtension(cert.get(), caCert.get(), NID_basic_constraints, "critical,CA:FALSE") &&
        addExtension(cert.get(), caCert.get(), NID_key_usage, "critical,digitalSignature") &&
        addExtension(cert.get(), caCert.get(), NID_ext_key_usage, "serverAuth") &&
        addExtension(cert.get(), caCert.get(), NID_subject_alt_name,
                     "DNS:localhost,IP:127.0.0.1") &&
        addExtension(cert.get(), caCert.get(), NID_subject_key_identifier, "hash") &&
        addExtension(cert.get(), caCert.get(), NID_authority_key_identifier, "keyid:always") &&
        X509_sign(cert.get(), caKey.get(), EVP_sha256()) > 0;
    if (!ok) {
        *error = opensslError("Could not sign the server certificate");
        return false;
    }
    if (!writeKey(paths.key, key.get()) || !writeCertificate(paths.certificate, cert.get())) {
        *error =
            "Could not write the server certificate to " + paths.certificate.parent_path().string();
        return false;
    }
    return true;
}

} // namespace

CertificatePaths CertificatePaths::in(const fs::path& dataDir) {
    return {dataDir / "ca.pem", dataDir / "ca-key.pem", dataDir / "server.pem",
            dataDir / "server-key.pem"};
}

bool ensureCertificates(const CertificatePaths& paths, std::string* error) {
    std::error_code ec;
    const bool haveAuthority = fs::exists(paths.caCertificate, ec) && fs::exists(paths.caKey, ec);
    if (!haveAuthority && !makeAuthority(paths, error))
        return false;
    const bool haveServer =
        haveAuthority && fs::exists(paths.certificate, ec) && fs::exists(paths.key, ec);
    if (!haveServer && !makeServerCertificate(paths, error))
        return false;
    return true;
}

} // namespace devserver
