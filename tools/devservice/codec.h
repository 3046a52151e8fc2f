#pragma once
// Small text codecs the service needs for canned answers, pins and echoes.
#include <optional>
#include <string>
#include <string_view>

namespace devservice {

// Standard Base64 with "=" padding.
std::string Base64Encode(std::string_view bytes);

// Base64url as tests write it into a URL path segment: "-" and "_" (or "+"),
// padding optional. Returns nothing for any character outside the alphabet,
// misplaced padding or an impossible length.
std::optional<std::string> Base64UrlDecode(std::string_view text);

// Whole-string decimal integer in [min, max]; no sign tricks, no spaces.
std::optional<long long> ParseInteger(std::string_view text, long long min, long long max);

}  // namespace devservice
