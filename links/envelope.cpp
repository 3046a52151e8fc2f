#include "links/envelope.h"

#include <nlohmann/json.hpp>

#include <cstring>
#include <stdexcept>

#include "common/base64.h"
#include "common/bounded_json.h"
#include "common/crypto.h"

namespace {

std::string HexLower(std::string_view bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

// Case-insensitive (ASCII) comparison of two texts up to their first NUL.
bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    const char* x = a.c_str();
    const char* y = b.c_str();
    for (;; ++x, ++y) {
        char cx = *x;
        char cy = *y;
        if (cx >= 'A' && cx <= 'Z') cx = static_cast<char>(cx + 32);
        if (cy >= 'A' && cy <= 'Z') cy = static_cast<char>(cy + 32);
        if (cx != cy) return false;
        if (cx == '\0') return true;
    }
}

} // namespace

std::string OpenSealedEnvelope(std::string_view envelopeText, std::string_view key) {
    const std::string jsonText = Base64Decode(envelopeText);
    nlohmann::json document = ParseBoundedJson(jsonText);
    if (document.is_discarded()) throw std::runtime_error("Failed to parse AES envelope JSON");

    // Non-const access on purpose: a missing member reads as null (type error
    // 302), and a document that is not an object fails with type error 305.
    const std::string ivText = document["iv"].get<std::string>();
    const std::string valueText = document["value"].get<std::string>();

    std::string macText;
    if (document.is_object() && document.contains("mac")) macText = document["mac"].get<std::string>();

    // An absent or empty tag is no tag: CBC without one is malleable, so a
    // part whose tag was dropped could be rewritten by anyone.
    const std::string expected = HexLower(HmacSha256(ivText + valueText, key));
    if (macText.empty() || !EqualsIgnoringCase(expected, macText)) {
        throw std::runtime_error("MAC verification failed \xE2\x80\x94 data may be tampered");
    }
    return AesCbcDecrypt(Base64Decode(valueText), key, Base64Decode(ivText));
}

std::string SealEnvelope(std::string_view plaintext, std::string_view key, bool withMac, bool upperMac) {
    const std::string iv = RandomBytes(16);
    const std::string ivText = Base64Encode(iv);
    const std::string valueText = Base64Encode(AesCbcEncrypt(plaintext, key, iv));
    nlohmann::json document = {{"iv", ivText}, {"value", valueText}};
    if (withMac) {
        std::string mac = HexLower(HmacSha256(ivText + valueText, key));
        if (upperMac) {
            for (auto& c : mac) {
                if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 32);
            }
        }
        document["mac"] = mac;
    }
    return Base64Encode(document.dump());
}
