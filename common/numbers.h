#pragma once
// Numbers in the program's constants and the service's documents are written
// with a dot whatever the user's language: they are read here, never through
// the C library's locale-dependent conversions (the Linux player's Qt
// application adopts the user's locale, where "4.9" may read as 4).
#include <optional>
#include <string_view>

// The longest leading decimal number of text, read as strtod reads it in the
// C locale: white space first, a sign, digits with one ".", an exponent, a
// hexadecimal number after "0x", inf or nan. Nothing when the text does not
// begin with a number or the number is out of range.
std::optional<double> LeadingDecimal(std::string_view text);
