#pragma once
// Windows backend only: the two kinds of source the machine identity is read
// from. Every failure gives an empty optional.
#include <windows.h>

#include <optional>

#include "common/text.h"

// One string property of the first object a WQL query returns.
std::optional<WString> ReadWmiString(const WString& wmiNamespace, const WString& query, const WString& property);
// One value of an open key, read into a 512-byte buffer (longer values fail).
std::optional<WString> QueryRegistryString(HKEY key, const WString& valueName);
// Opens the key with the given access, reads the value, closes the key.
std::optional<WString> ReadRegistryString(HKEY root, const WString& keyPath, const WString& valueName, REGSAM access);
