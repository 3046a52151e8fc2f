#pragma once
// Test servers on loopback: a listening socket on an address of the test's
// choice, and a TLS server context with a self-signed EC certificate made
// fresh for the test (a key no client knows beforehand).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdint>
#include <string>

namespace TestSupport {

// A socket listening on address (dotted IPv4) at a port the system chose,
// given in port; -1 when it could not be made.
inline int ListenOnLoopback(const std::string& address, std::uint16_t& port, int backlog = 16) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    socklen_t length = sizeof where;
    if (fd < 0 || inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1 ||
        bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || listen(fd, backlog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length) != 0) {
        if (fd >= 0) close(fd);
        return -1;
    }
    port = ntohs(where.sin_port);
    return fd;
}

class SelfSignedTls {
public:
    explicit SelfSignedTls(const char* commonName = nullptr, long serial = 1) {
        key_ = EVP_EC_gen("P-256");
        cert_ = X509_new();
        X509_set_version(cert_, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert_), serial);
        X509_gmtime_adj(X509_getm_notBefore(cert_), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert_), 3600);
        if (commonName != nullptr)
            X509_NAME_add_entry_by_txt(X509_get_subject_name(cert_), "CN", MBSTRING_ASC,
                                       reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
        X509_set_issuer_name(cert_, X509_get_subject_name(cert_));
        X509_set_pubkey(cert_, key_);
        X509_sign(cert_, key_, EVP_sha256());
        ctx_ = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate(ctx_, cert_);
        SSL_CTX_use_PrivateKey(ctx_, key_);
    }
    ~SelfSignedTls() {
        SSL_CTX_free(ctx_);
        X509_free(cert_);
        EVP_PKEY_free(key_);
    }
    SelfSignedTls(const SelfSignedTls&) = delete;
    SelfSignedTls& operator=(const SelfSignedTls&) = delete;

    SSL_CTX* context() const { return ctx_; }
    X509* certificate() const { return cert_; }

private:
    EVP_PKEY* key_ = nullptr;
    X509* cert_ = nullptr;
    SSL_CTX* ctx_ = nullptr;
};

} // namespace TestSupport
