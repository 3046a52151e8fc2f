#include "player/certificate_trust_qt.h"

#include "player/browser_relay_linux.h"
#include "service/server_chain_linux.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <QHostAddress>
#include <QWebEngineCertificateError>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "common/masking.h"

namespace WebView {

namespace {

struct X509Free {
    void operator()(X509* cert) const { X509_free(cert); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

X509Ptr ToX509(const QSslCertificate& certificate) {
    const QByteArray der = certificate.toDer();
    if (der.isEmpty()) return nullptr;
    const unsigned char* data = reinterpret_cast<const unsigned char*>(der.constData());
    return X509Ptr(d2i_X509(nullptr, &data, der.size()));
}

// The profile's anchors, read once from its PEM text.
const std::vector<X509Ptr>& ExtraAnchors() {
    static std::once_flag once;
    static std::vector<X509Ptr> anchors;
    std::call_once(once, [] {
        const std::string pem = UnmaskConstant(Config::kExtraTrustAnchors);
        if (pem.empty()) return;
        BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
        if (bio == nullptr) return;
        while (X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) anchors.emplace_back(cert);
        BIO_free(bio);
        ERR_clear_error();
    });
    return anchors;
}

} // namespace

ServerChain ChainFromCertificates(const QList<QSslCertificate>& chain) {
    if (chain.isEmpty()) return ServerChain();
    const X509Ptr leaf = ToX509(chain.first());
    if (!leaf) {
        ServerChain unreadable;
        unreadable.haveCertificate = true;
        return unreadable;
    }
    std::vector<X509Ptr> sent;
    STACK_OF(X509)* untrusted = sk_X509_new_null();
    for (qsizetype i = 1; untrusted != nullptr && i < chain.size(); ++i) {
        X509Ptr cert = ToX509(chain.at(i));
        if (!cert) continue;
        sk_X509_push(untrusted, cert.get());
        sent.push_back(std::move(cert));
    }
    // Only the certificates whose links verify count for the pins.
    ServerChain out = LinkedChain(leaf.get(), untrusted);
    if (untrusted != nullptr) sk_X509_free(untrusted); // the certificates belong to sent
    ERR_clear_error();
    return out;
}

bool ChainEndsAtExtraAnchor(const QList<QSslCertificate>& chain, const QString& host) {
    const std::vector<X509Ptr>& anchors = ExtraAnchors();
    if (chain.isEmpty() || anchors.empty() || host.isEmpty()) return false;

    X509Ptr leaf = ToX509(chain.first());
    if (!leaf) return false;
    std::vector<X509Ptr> intermediates;
    STACK_OF(X509)* untrusted = sk_X509_new_null();
    X509_STORE* store = X509_STORE_new();
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    bool trusted = false;
    if (untrusted != nullptr && store != nullptr && ctx != nullptr) {
        for (qsizetype i = 1; i < chain.size(); ++i) {
            X509Ptr cert = ToX509(chain.at(i));
            if (!cert) continue;
            sk_X509_push(untrusted, cert.get());
            intermediates.push_back(std::move(cert));
        }
        for (const X509Ptr& anchor : anchors) X509_STORE_add_cert(store, anchor.get());
        // An anchor need not be self-signed to end the path.
        X509_STORE_set_flags(store, X509_V_FLAG_PARTIAL_CHAIN);
        if (X509_STORE_CTX_init(ctx, store, leaf.get(), untrusted) == 1) {
            X509_STORE_CTX_set_purpose(ctx, X509_PURPOSE_SSL_SERVER);
            X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx);
            const QByteArray name = host.toUtf8();
            const bool named = QHostAddress(host).isNull()
                                   ? X509_VERIFY_PARAM_set1_host(param, name.constData(), name.size()) == 1
                                   : X509_VERIFY_PARAM_set1_ip_asc(param, name.constData()) == 1;
            trusted = named && X509_verify_cert(ctx) == 1;
        }
    }
    if (ctx != nullptr) X509_STORE_CTX_free(ctx);
    if (store != nullptr) X509_STORE_free(store);
    if (untrusted != nullptr) sk_X509_free(untrusted); // the certificates belong to intermediates
    ERR_clear_error();
    return trusted;
}

bool ShouldAcceptCertificateError(const QUrl& url, int errorType, const QList<QSslCertificate>& chain) {
    // Only a missing trust anchor is ours to decide; an expired, misnamed or
    // revoked certificate stays refused whoever issued it.
    if (errorType != QWebEngineCertificateError::CertificateAuthorityInvalid) return false;
    const QString host = url.host();
    if (host.isEmpty() || chain.isEmpty()) return false;
    const QByteArray leaf = chain.constFirst().toDer();
    if (IssuedByBrowserRelay(std::string(leaf.constData(), static_cast<std::size_t>(leaf.size())))) return true;
    const std::optional<PinEntry> entry = FindPinEntry(host.toStdU16String());
    if (entry && !entry->pins.empty()) return false;
    return ChainEndsAtExtraAnchor(chain, host);
}

} // namespace WebView
