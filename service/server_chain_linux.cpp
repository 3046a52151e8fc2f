#include "service/server_chain_linux.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/masking.h"

namespace {

struct X509Free {
    void operator()(X509* cert) const { X509_free(cert); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

struct StackFree {
    void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};
using X509StackPtr = std::unique_ptr<STACK_OF(X509), StackFree>;

// Every certificate in a PEM text; anything unreadable is skipped.
std::vector<X509Ptr> ReadPemCertificates(const std::string& pem) {
    std::vector<X509Ptr> certs;
    if (pem.empty()) return certs;
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    if (bio == nullptr) return certs;
    while (X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) certs.emplace_back(cert);
    BIO_free(bio);
    // The read loop ends on "no more PEM data", which leaves an error queued.
    ERR_clear_error();
    return certs;
}

// The profile's anchors are parsed once; the stores only take references.
const std::vector<X509Ptr>& ExtraAnchors() {
    static std::once_flag once;
    static std::vector<X509Ptr> anchors;
    std::call_once(once, [] { anchors = ReadPemCertificates(UnmaskConstant(Config::kExtraTrustAnchors)); });
    return anchors;
}

void AddAnchors(X509_STORE* store) {
    for (const X509Ptr& anchor : ExtraAnchors()) X509_STORE_add_cert(store, anchor.get());
    // A duplicate anchor is reported through the error queue; it is harmless.
    ERR_clear_error();
}

// The store the chain is completed against: the system's roots plus the
// profile's anchors. Built once; lookups on it are thread-safe.
X509_STORE* CompletionStore() {
    static std::once_flag once;
    static X509_STORE* store = nullptr;
    std::call_once(once, [] {
        store = X509_STORE_new();
        if (store == nullptr) return;
        X509_STORE_set_default_paths(store);
        AddAnchors(store);
        ERR_clear_error();
    });
    return store;
}

// Chain building only: a chain that fails validation is still a chain whose
// keys may be pinned.
int AcceptEverything(int, X509_STORE_CTX*) { return 1; }

// The path from the leaf towards a trusted root, or nothing when OpenSSL
// cannot build one at all. Built without judging it: a chain that fails
// validation may still carry a pinned key.
X509StackPtr CompleteChain(X509* leaf, STACK_OF(X509) * sent) {
    X509_STORE* store = CompletionStore();
    if (store == nullptr || leaf == nullptr) return nullptr;
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    if (ctx == nullptr) return nullptr;
    X509StackPtr chain;
    if (X509_STORE_CTX_init(ctx, store, leaf, sent) == 1) {
        X509_STORE_CTX_set_verify_cb(ctx, AcceptEverything);
        X509_verify_cert(ctx);
        chain.reset(X509_STORE_CTX_get1_chain(ctx));
    }
    X509_STORE_CTX_free(ctx);
    ERR_clear_error();
    return chain;
}

// Issuer names and key ids alone prove nothing (they are public): a link
// counts only when the next certificate's key verifies the signature.
bool SignedBy(X509* subject, X509* issuer) {
    if (X509_check_issued(issuer, subject) != X509_V_OK) return false;
    EVP_PKEY* key = X509_get0_pubkey(issuer);
    return key != nullptr && X509_verify(subject, key) == 1;
}

} // namespace

std::string SpkiDer(X509* cert) {
    unsigned char* der = nullptr;
    const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert), &der);
    if (length <= 0 || der == nullptr) return std::string();
    std::string out(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
    OPENSSL_free(der);
    return out;
}

ServerChain LinkedChain(X509* leaf, STACK_OF(X509) * sent) {
    ServerChain chain;
    if (leaf == nullptr) return chain;
    chain.haveCertificate = true;
    const X509StackPtr completed = CompleteChain(leaf, sent);
    X509* below = leaf;
    chain.spkiDer.push_back(SpkiDer(leaf));
    const int count = completed ? sk_X509_num(completed.get()) : 0;
    // The built path starts with the leaf itself.
    for (int i = 1; i < count; ++i) {
        X509* issuer = sk_X509_value(completed.get(), i);
        if (!SignedBy(below, issuer)) break;
        chain.spkiDer.push_back(SpkiDer(issuer));
        below = issuer;
    }
    ERR_clear_error();
    return chain;
}

X509_STORE* SharedTrustStore() { return CompletionStore(); }
