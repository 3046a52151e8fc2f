#pragma once
// JSON from outside (service answers, a link's sealed parts) is read within
// bounds that the sender cannot move: what a document may cost to parse is
// set here, not by its nesting. Each reader keeps its own failure: a document
// over a bound is one that does not parse.
#include <nlohmann/json.hpp>

#include <cstddef>
#include <string_view>

// Containers inside containers, counting the outermost as the first level.
inline constexpr int kMaxJsonDepth = 256;
// Values of every kind, object keys included: bounds the parsed size (some
// tens of bytes each, besides the text of strings) whatever the nesting.
inline constexpr std::size_t kMaxJsonValues = 100000;

// As nlohmann::json::parse(text, nullptr, false): a discarded value for text
// that is not one JSON document, and also for one over either bound. Parsing
// stops at the first value past a bound.
nlohmann::json ParseBoundedJson(std::string_view text);
