#include "common/crypto.h"

#include <openssl/evp.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <cstring>
#include <initializer_list>
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
    // HMAC built on the digest fetched once: OpenSSL's MAC object looks the
    // digest up by name on every use, a third of a link's opening.
    constexpr std::size_t kBlock = 64;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    const EVP_MD* sha256 = Sha256Digest();
    if (!ctx || sha256 == nullptr) throw std::runtime_error("BCryptOpenAlgorithmProvider HMAC failed");
    const auto hash = [&](std::initializer_list<std::string_view> parts, unsigned char* out, const char* failure) {
        unsigned int len = 0;
        bool ok = EVP_DigestInit_ex(ctx.get(), sha256, nullptr) == 1;
        for (std::string_view part : parts) ok = ok && EVP_DigestUpdate(ctx.get(), part.data(), part.size()) == 1;
        if (!ok || EVP_DigestFinal_ex(ctx.get(), out, &len) != 1) throw std::runtime_error(failure);
    };
    // A key longer than the block is replaced by its digest.
    std::string longKeyDigest = key.size() > kBlock ? Sha256(key) : std::string();
    const std::string_view blockKey = key.size() > kBlock ? std::string_view(longKeyDigest) : key;
    unsigned char block[kBlock] = {};
    if (!blockKey.empty()) std::memcpy(block, blockKey.data(), blockKey.size());
    unsigned char pad[kBlock];
    for (std::size_t i = 0; i < kBlock; ++i) pad[i] = block[i] ^ 0x36;
    unsigned char inner[EVP_MAX_MD_SIZE];
    const auto view = [](const unsigned char* p, std::size_t n) { return std::string_view(reinterpret_cast<const char*>(p), n); };
    hash({view(pad, kBlock), data}, inner, "BCryptHashData failed");
    for (std::size_t i = 0; i < kBlock; ++i) pad[i] = block[i] ^ 0x5c;
    unsigned char tag[EVP_MAX_MD_SIZE];
    hash({view(pad, kBlock), view(inner, 32)}, tag, "BCryptFinishHash failed");
    OPENSSL_cleanse(block, sizeof block);
    OPENSSL_cleanse(pad, sizeof pad);
    OPENSSL_cleanse(longKeyDigest.data(), longKeyDigest.size());
    return std::string(reinterpret_cast<char*>(tag), 32);
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
