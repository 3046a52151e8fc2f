#pragma once
// Sensitive texts live in the binary only masked; each is unmasked right
// before use and the clear copy is short-lived.
#include <cstddef>
#include <string>
#include <vector>

#include "tovani_config.h"

// n + 1 masked bytes to n bytes: byte i = stored[i + 1] ^ stored[0] ^ i (low 8 bits).
std::string UnmaskConstant(const unsigned char* masked, std::size_t size);
std::string UnmaskConstant(const Config::MaskedConstant& masked);
// A masked list of the profile, unmasked item by item.
std::vector<std::string> UnmaskList(const Config::MaskedConstant* items, std::size_t count);
