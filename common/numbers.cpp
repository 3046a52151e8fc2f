#include "common/numbers.h"

#include <charconv>
#include <system_error>

namespace {

// White space as the C locale classifies it.
bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// "0x" followed by what a hexadecimal number begins with.
bool HasHexPrefix(std::string_view text) {
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
    return IsHexDigit(text[2]) || (text[2] == '.' && text.size() > 3 && IsHexDigit(text[3]));
}

} // namespace

std::optional<double> LeadingDecimal(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && IsCSpace(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    // from_chars takes a "-" of its own, which a sign already read must not be followed by.
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) return std::nullopt;
    const std::string_view rest = text.substr(at);
    double value = 0;
    const std::from_chars_result read =
        HasHexPrefix(rest) ? std::from_chars(rest.data() + 2, rest.data() + rest.size(), value, std::chars_format::hex)
                           : std::from_chars(rest.data(), rest.data() + rest.size(), value);
    if (read.ec != std::errc()) return std::nullopt;
    return negative ? -value : value;
}
