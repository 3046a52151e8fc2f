#include "common/masking.h"

std::string UnmaskConstant(const unsigned char* masked, std::size_t size) {
    std::string out;
    if (masked == nullptr || size < 2) return out;
    out.resize(size - 1);
    const unsigned char mask = masked[0];
    for (std::size_t i = 0; i + 1 < size; ++i) {
        out[i] = static_cast<char>((masked[i + 1] ^ mask ^ static_cast<unsigned char>(i & 0xFF)) & 0xFF);
    }
    return out;
}

std::string UnmaskConstant(const Config::MaskedConstant& masked) {
    return UnmaskConstant(masked.data, masked.size);
}

std::vector<std::string> UnmaskList(const Config::MaskedConstant* items, std::size_t count) {
    std::vector<std::string> out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) out.push_back(UnmaskConstant(items[i]));
    return out;
}
