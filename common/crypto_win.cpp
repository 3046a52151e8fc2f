#include "common/crypto.h"

#include <windows.h>
#include <bcrypt.h>

#include <stdexcept>
#include <vector>

namespace {

bool Ok(NTSTATUS status) { return status >= 0; }

// Closes the provider (and the key, once made) on every way out.
struct AlgHandle {
    BCRYPT_ALG_HANDLE handle = nullptr;
    ~AlgHandle() {
        if (handle) BCryptCloseAlgorithmProvider(handle, 0);
    }
};
struct KeyHandle {
    BCRYPT_KEY_HANDLE handle = nullptr;
    ~KeyHandle() {
        if (handle) BCryptDestroyKey(handle);
    }
};
struct HashHandle {
    BCRYPT_HASH_HANDLE handle = nullptr;
    ~HashHandle() {
        if (handle) BCryptDestroyHash(handle);
    }
};

// PKCS#7: the last byte n (1 to 16) and the n bytes before the end all equal n.
bool StripPkcs7(std::string& plain) {
    if (plain.empty()) return false;
    const unsigned char n = static_cast<unsigned char>(plain.back());
    if (n == 0 || n > 16 || n > plain.size()) return false;
    for (std::size_t i = plain.size() - n; i < plain.size(); ++i) {
        if (static_cast<unsigned char>(plain[i]) != n) return false;
    }
    plain.resize(plain.size() - n);
    return true;
}

PUCHAR Bytes(std::string_view s) { return reinterpret_cast<PUCHAR>(const_cast<char*>(s.data())); }

std::string AesCbc(std::string_view input, std::string_view key, std::string_view iv, bool encrypt) {
    AlgHandle alg;
    if (!Ok(BCryptOpenAlgorithmProvider(&alg.handle, BCRYPT_AES_ALGORITHM, nullptr, 0))) {
        alg.handle = nullptr;
        throw std::runtime_error("BCryptOpenAlgorithmProvider failed");
    }
    if (!Ok(BCryptSetProperty(alg.handle, BCRYPT_CHAINING_MODE, reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_CBC)),
                              sizeof(BCRYPT_CHAIN_MODE_CBC), 0))) {
        throw std::runtime_error("BCryptSetProperty CBC failed");
    }
    // Windows refuses other key sizes; Wine's CNG takes a longer key and
    // cuts it, so the refusal is made here for both.
    if (key.size() != 16 && key.size() != 24 && key.size() != 32) {
        throw std::runtime_error("BCryptGenerateSymmetricKey failed");
    }
    KeyHandle keyHandle;
    if (!Ok(BCryptGenerateSymmetricKey(alg.handle, &keyHandle.handle, nullptr, 0, Bytes(key),
                                       static_cast<ULONG>(key.size()), 0))) {
        keyHandle.handle = nullptr;
        throw std::runtime_error("BCryptGenerateSymmetricKey failed");
    }
    const char* sizeQueryFailure = encrypt ? "BCryptEncrypt (size query) failed" : "BCryptDecrypt (size query) failed";
    const char* cipherFailure = encrypt ? "BCryptEncrypt failed" : "BCryptDecrypt failed";
    // Windows refuses a vector that is not one block long, and a ciphertext
    // that is not whole blocks, in the size query; Wine only fails later.
    if (iv.size() != 16 || (!encrypt && input.size() % 16 != 0)) throw std::runtime_error(sizeQueryFailure);

    // Decryption runs without the system's padding removal and checks every
    // padding byte itself: Wine's CNG looks only at the last byte, Windows
    // and OpenSSL at all of them.
    const ULONG flags = encrypt ? BCRYPT_BLOCK_PADDING : 0;
    // The system updates the vector it is given: work on a copy, refreshed
    // before the second call.
    std::vector<UCHAR> workIv(iv.begin(), iv.end());
    ULONG size = 0;
    const auto call = encrypt ? BCryptEncrypt : BCryptDecrypt;
    if (!Ok(call(keyHandle.handle, Bytes(input), static_cast<ULONG>(input.size()), nullptr, workIv.data(),
                 static_cast<ULONG>(workIv.size()), nullptr, 0, &size, flags))) {
        throw std::runtime_error(sizeQueryFailure);
    }
    std::string out(size, '\0');
    workIv.assign(iv.begin(), iv.end());
    ULONG written = 0;
    if (!Ok(call(keyHandle.handle, Bytes(input), static_cast<ULONG>(input.size()), nullptr, workIv.data(),
                 static_cast<ULONG>(workIv.size()), reinterpret_cast<PUCHAR>(out.data()), size, &written, flags))) {
        SecureZeroMemory(out.data(), out.size());
        throw std::runtime_error(cipherFailure);
    }
    out.resize(written);
    if (!encrypt && !StripPkcs7(out)) {
        SecureZeroMemory(out.data(), out.size());
        throw std::runtime_error(cipherFailure);
    }
    return out;
}

std::string Hash(std::string_view data, std::string_view key, bool hmac) {
    AlgHandle alg;
    if (!Ok(BCryptOpenAlgorithmProvider(&alg.handle, BCRYPT_SHA256_ALGORITHM, nullptr,
                                        hmac ? BCRYPT_ALG_HANDLE_HMAC_FLAG : 0))) {
        alg.handle = nullptr;
        throw std::runtime_error(hmac ? "BCryptOpenAlgorithmProvider HMAC failed" : "BCryptOpenAlgorithmProvider failed");
    }
    DWORD digestLength = 32;
    ULONG got = 0;
    BCryptGetProperty(alg.handle, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&digestLength), sizeof(digestLength),
                      &got, 0);
    HashHandle hash;
    if (!Ok(BCryptCreateHash(alg.handle, &hash.handle, nullptr, 0, hmac ? Bytes(key) : nullptr,
                             hmac ? static_cast<ULONG>(key.size()) : 0, 0))) {
        hash.handle = nullptr;
        throw std::runtime_error("BCryptCreateHash failed");
    }
    if (!Ok(BCryptHashData(hash.handle, Bytes(data), static_cast<ULONG>(data.size()), 0))) {
        throw std::runtime_error("BCryptHashData failed");
    }
    std::string out(digestLength, '\0');
    if (!Ok(BCryptFinishHash(hash.handle, reinterpret_cast<PUCHAR>(out.data()), digestLength, 0))) {
        throw std::runtime_error("BCryptFinishHash failed");
    }
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
    return Hash(data, key, true);
}

std::string Sha256(std::string_view data) {
    return Hash(data, {}, false);
}

std::string RandomBytes(std::size_t count) {
    std::string out(count, '\0');
    if (!Ok(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(out.data()), static_cast<ULONG>(count),
                            BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        throw std::runtime_error("BCryptGenRandom failed");
    }
    return out;
}
