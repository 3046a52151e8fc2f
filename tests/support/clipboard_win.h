#pragma once
// Windows tests only: what the diagnostic dialog left on the clipboard.
#include <string>

namespace TestSupport {
// The clipboard's CF_TEXT, empty when it holds none; "(clipboard busy)" when
// it cannot be opened.
std::string ClipboardText();
} // namespace TestSupport
