#pragma once
// The system's cryptography (CNG on Windows, OpenSSL on Linux); the program
// carries no cipher or hash code of its own. Every failure throws a
// std::runtime_error whose message names the failing step, the same texts on
// both platforms.
#include <string>
#include <string_view>

// AES in CBC mode with PKCS#7 padding; a 32-byte key selects AES-256.
std::string AesCbcDecrypt(std::string_view ciphertext, std::string_view key, std::string_view iv);
// Used by the tools and tests to seal links as the platform does.
std::string AesCbcEncrypt(std::string_view plaintext, std::string_view key, std::string_view iv);
std::string HmacSha256(std::string_view data, std::string_view key);
std::string Sha256(std::string_view data);
// Cryptographically strong random bytes.
std::string RandomBytes(std::size_t count);
