#pragma once
#include <string>
#include <string_view>

// Standard alphabet with "=" padding.
std::string Base64Encode(std::string_view bytes);
// Lenient: decodes up to the first "=" or the first byte outside the standard
// alphabet; a trailing single character yields nothing. Never fails.
std::string Base64Decode(std::string_view text);
