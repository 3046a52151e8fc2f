#include "links/crypto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <memory>
#include <stdexcept>

namespace {

struct CipherCtxDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDeleter>;

const EVP_CIPHER* CbcCipherFor(std::size_t keySize) {
    switch (keySize) {
    case 16: return EVP_aes_128_cbc();
    case 24: return EVP_aes_192_cbc();
    case 32: return EVP_aes_256_cbc();
    default: return nullptr;
    }
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
    unsigned char tag[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
             reinterpret_cast<const unsigned char*>(data.data()), data.size(), tag, &len) == nullptr) {
        throw std::runtime_error("BCryptCreateHash failed");
    }
    return std::string(reinterpret_cast<char*>(tag), len);
}

std::string Sha256(std::string_view data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &len, EVP_sha256(), nullptr) != 1) {
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
