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

bool IsJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Reads a JSON string without escapes and of printable ASCII only, the
// shape every sealed part has; false for anything else.
bool ReadPlainString(std::string_view text, std::size_t& at, std::string_view& out) {
    if (at >= text.size() || text[at] != '"') return false;
    const std::size_t start = ++at;
    for (; at < text.size(); ++at) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (c == '"') {
            out = text.substr(start, at - start);
            ++at;
            return true;
        }
        if (c < 0x20 || c > 0x7E || c == '\\') return false;
    }
    return false;
}

// The platform's envelope is one flat object of a few plain strings; such a
// text is read here, a link being opened on every click. Every other shape
// (escapes, other types, repeated or missing members) is left to the JSON
// library, whose answers and error texts stand for it.
bool ReadPlainEnvelope(std::string_view text, std::string& iv, std::string& value, std::string& mac) {
    std::size_t at = 0;
    const auto skipSpace = [&] {
        while (at < text.size() && IsJsonSpace(text[at])) ++at;
    };
    const auto take = [&](char c) {
        skipSpace();
        if (at >= text.size() || text[at] != c) return false;
        ++at;
        return true;
    };
    if (!take('{')) return false;
    bool seenIv = false, seenValue = false, seenMac = false;
    int members = 0;
    for (;;) {
        std::string_view name, member;
        skipSpace();
        if (!ReadPlainString(text, at, name) || !take(':')) return false;
        skipSpace();
        if (!ReadPlainString(text, at, member) || ++members > 8) return false;
        bool* seen = name == "iv" ? &seenIv : name == "value" ? &seenValue : name == "mac" ? &seenMac : nullptr;
        if (seen != nullptr) {
            if (*seen) return false;
            *seen = true;
            (name == "iv" ? iv : name == "value" ? value : mac).assign(member);
        }
        if (take(',')) continue;
        if (!take('}')) return false;
        break;
    }
    skipSpace();
    return at == text.size() && seenIv && seenValue;
}

} // namespace

std::string OpenSealedEnvelope(std::string_view envelopeText, std::string_view key) {
    const std::string jsonText = Base64Decode(envelopeText);
    std::string ivText;
    std::string valueText;
    std::string macText;
    if (!ReadPlainEnvelope(jsonText, ivText, valueText, macText)) {
        ivText.clear();
        valueText.clear();
        macText.clear();
        nlohmann::json document = ParseBoundedJson(jsonText);
        if (document.is_discarded()) throw std::runtime_error("Failed to parse AES envelope JSON");

        // Non-const access on purpose: a missing member reads as null (type error
        // 302), and a document that is not an object fails with type error 305.
        ivText = document["iv"].get<std::string>();
        valueText = document["value"].get<std::string>();
        if (document.is_object() && document.contains("mac")) macText = document["mac"].get<std::string>();
    }

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
