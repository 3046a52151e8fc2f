#pragma once
// Text helpers shared by the whole program. Text inside the program is UTF-16
// (WString); bodies, JSON, pins and cryptographic inputs are UTF-8 byte strings.
#include <string>
#include <string_view>

using WString = std::u16string;
using WStringView = std::u16string_view;

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD, as the system conversion does.
std::string WideToUtf8(WStringView text);
// UTF-8 to UTF-16; every ill-formed sequence (its maximal subpart) becomes U+FFFD.
WString Utf8ToWide(std::string_view text);

// Lower-cases each UTF-16 unit the way towlower does in the C locale the
// program runs in: only A to Z change. Lengths and positions are kept.
WString ToLowerCopy(WStringView text);
char16_t ToLowerUnit(char16_t c);
std::string ToLowerAscii(std::string_view text);

// Percent-encodes every UTF-8 byte except ASCII letters, digits and "-._~",
// with lower-case hex digits ("/" becomes "%2f").
WString UrlEncode(WStringView text);
// Percent-decodes over the UTF-8 bytes; "+" stays "+", a "%" that does not
// start a readable hex number stays as it is.
WString UrlDecode(WStringView text);

// ASCII text to UTF-16, one unit per byte (literals, codes).
WString WidenAscii(std::string_view text);

bool StartsWith(WStringView text, WStringView prefix);
bool EndsWith(WStringView text, WStringView suffix);
bool Contains(WStringView text, WStringView part);

// Text from outside (a service's message) as it may be shown or written to a
// terminal: control characters dropped (bidirectional embeddings, overrides
// and isolates too), line
// breaks of any kind as one line feed, tabs as spaces; at most maxLines lines
// and maxUnits UTF-16 units, a cut marked with an ellipsis.
WString DisplayText(WStringView text, std::size_t maxUnits = 1000, std::size_t maxLines = 20);

// Overwrites a secret before its memory is released.
void SecureWipe(std::string& secret);
