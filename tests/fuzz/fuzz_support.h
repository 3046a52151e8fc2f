#pragma once
// Shared by the fuzz targets: how one input is cut into several texts, and
// the check that stops the run on a broken property (libFuzzer keeps the
// input that did it).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"

// Fields are separated by the byte 0xFF, which never occurs in UTF-8, so a
// seed written as UTF-8 text is one field per line of its own.
inline std::vector<std::string> FuzzFields(const std::uint8_t* data, std::size_t size, std::size_t count) {
    std::vector<std::string> fields(count);
    std::size_t field = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF && field + 1 < count) {
            ++field;
            continue;
        }
        fields[field].push_back(static_cast<char>(data[i]));
    }
    return fields;
}

// A field as program text: UTF-8, or, after a leading 0xFE byte, raw UTF-16LE
// units, so that lone surrogates and every unit value reach the code too.
inline WString FuzzText(std::string_view field) {
    if (field.empty() || static_cast<unsigned char>(field.front()) != 0xFE) return Utf8ToWide(field);
    WString text;
    for (std::size_t i = 1; i + 1 < field.size(); i += 2) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(field[i]) |
                                             (static_cast<unsigned char>(field[i + 1]) << 8)));
    }
    return text;
}

inline std::string FuzzShow(const WString& text) { return WideToUtf8(text.substr(0, 200)); }

[[noreturn]] inline void FuzzFail(const char* what, const std::string& detail, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: property broken: %s\n  %s\n", file, line, what, detail.c_str());
    std::abort();
}

#define FUZZ_CHECK(condition, detail)                                               \
    do {                                                                             \
        if (!(condition)) FuzzFail(#condition, (detail), __FILE__, __LINE__);        \
    } while (0)
