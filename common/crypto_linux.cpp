#include "common/crypto.h"

#include <openssl/evp.h>
#include <openssl/core_names.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <memory>
#include <stdexcept>

namespace {

struct CipherCtxDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDeleter>;

// OpenSSL 3 looks an algorithm up on every use of the EVP_aes_*() and
// EVP_sha256() shortcuts; fetching each once keeps a link under its budget.
const EVP_CIPHER* CbcCipherFor(std::size_t keySize) {
    static EVP_CIPHER* const aes128 = EVP_CIPHER_fetch(nullptr, "AES-128-CBC", nullptr);
    static EVP_CIPHER* const aes192 = EVP_CIPHER_fetch(nullptr, "AES-192-CBC", nullptr);
    static EVP_CIPHER* const aes256 = EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr);
    switch (keySize) {
    case 16: return aes128;
    case 24: return aes192;
    case 32: return aes256;
    default: return nullptr;
    }
}

const EVP_MD* Sha256Digest() {
    static EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return sha256;
}

// Same step texts as the CNG backend: key size first, then the shape of the
// input (vector and block count), then the padding check.
std::string AesCbc(std::string_view input, std::string_view key, std::string_view iv, bool encrypt) {
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx) throw std::runtime_error("BCryptOpenAlgorithmProvider failed");
    const EVP_CIPHER* cipher = CbcCipherFor(key.size());
    if (cipher == nullptr) throw std::runtime_error("BCryptGenerateSymmetricKey failed");
    if (iv.size() != 16 || (!encrypt && input.size() % 16 != 0)) {
        throw std::runtime_error(encrypt ? "BCryptEncrypt (size query) failed" : "BCryptDecrypt (size query) failed");
    }
    const auto* k = reinterpret_cast<const unsigned char*>(key.data());
    const auto* v = reinterpret_cast<const unsigned char*>(iv.data());
    if (EVP_CipherInit_ex(ctx.get(), cipher, nullptr, k, v, encrypt ? 1 : 0) != 1) {
        throw std::runtime_error("BCryptGenerateSymmetricKey failed");
    }
    std::string out(input.size() + 16, '\0');
    int len1 = 0;
    int len2 = 0;
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    const char* failure = encrypt ? "BCryptEncrypt failed" : "BCryptDecrypt failed";
    if (EVP_CipherUpdate(ctx.get(), o, &len1, reinterpret_cast<const unsigned char*>(input.data()),
                         static_cast<int>(input.size())) != 1) {
        throw std::runtime_error(failure);
    }
    if (EVP_CipherFinal_ex(ctx.get(), o + len1, &len2) != 1) throw std::runtime_error(failure);
    out.resize(static_cast<std::size_t>(len1 + len2));
    return out;
}

} // namespace

std::string AesCbcDecrypt(std::string_view ciphertext, std::string_view key, std::string_view iv) {
    return AesCbc(ciphertext, key, iv, false);
}

std::string AesCbcEncrypt(std::string_view plaintext, std::string_view key, std::string_view iv) {
    return AesCbc(plaintext, key, iv, true);
}

std::string HmacSha256(std::string_view data, std::string_view key) {
    static EVP_MAC* const hmac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    if (hmac == nullptr) throw std::runtime_error("BCryptOpenAlgorithmProvider HMAC failed");
    std::unique_ptr<EVP_MAC_CTX, decltype(&EVP_MAC_CTX_free)> ctx(EVP_MAC_CTX_new(hmac), EVP_MAC_CTX_free);
    char digestName[] = "SHA256";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string("digest", digestName, 0), OSSL_PARAM_construct_end()};
    // An empty key is a valid HMAC key; OpenSSL wants a non-null pointer for it.
    static const unsigned char kEmpty = 0;
    const auto* k = key.empty() ? &kEmpty : reinterpret_cast<const unsigned char*>(key.data());
    if (!ctx || EVP_MAC_init(ctx.get(), k, key.size(), params) != 1) throw std::runtime_error("BCryptCreateHash failed");
    if (EVP_MAC_update(ctx.get(), reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1) {
        throw std::runtime_error("BCryptHashData failed");
    }
    unsigned char tag[EVP_MAX_MD_SIZE];
    std::size_t len = 0;
    if (EVP_MAC_final(ctx.get(), tag, &len, sizeof tag) != 1) throw std::runtime_error("BCryptFinishHash failed");
    return std::string(reinterpret_cast<char*>(tag), len);
}

std::string Sha256(std::string_view data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &len, Sha256Digest(), nullptr) != 1) {
        throw std::runtime_error("BCryptHashData failed");
    }
    return std::string(reinterpret_cast<char*>(digest), len);
}

std::string RandomBytes(std::size_t count) {
    std::string out(count, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(count)) != 1) {
        throw std::runtime_error("BCryptGenRandom failed");
    }
    return out;
}
