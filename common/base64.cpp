#include "common/base64.h"

#include <array>

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

} // namespace

std::string Base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned v = (b[i] << 16) | (b[i + 1] << 8) | b[i + 2];
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(kAlphabet[(v >> 6) & 63]);
        out.push_back(kAlphabet[v & 63]);
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        unsigned v = b[i] << 16;
        if (rest == 2) v |= b[i + 1] << 8;
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(rest == 2 ? kAlphabet[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

std::string Base64Decode(std::string_view text) {
    static const auto kSextets = [] {
        std::array<signed char, 256> table{};
        table.fill(-1);
        for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
        return table;
    }();
    std::string out(text.size() / 4 * 3 + 2, '\0');
    std::size_t length = 0;
    unsigned acc = 0;
    int count = 0;
    for (unsigned char c : text) {
        const int v = kSextets[c];
        if (v < 0) break; // "=" and every foreign byte end the data
        acc = (acc << 6) | static_cast<unsigned>(v);
        if (++count == 4) {
            out[length++] = static_cast<char>((acc >> 16) & 0xFF);
            out[length++] = static_cast<char>((acc >> 8) & 0xFF);
            out[length++] = static_cast<char>(acc & 0xFF);
            acc = 0;
            count = 0;
        }
    }
    if (count == 2) {
        out[length++] = static_cast<char>((acc >> 4) & 0xFF);
    } else if (count == 3) {
        out[length++] = static_cast<char>((acc >> 10) & 0xFF);
        out[length++] = static_cast<char>((acc >> 2) & 0xFF);
    }
    out.resize(length);
    return out;
}
