#pragma once
// Windows backend only: the texts the WebView2 ABI hands over in both
// directions, allocated with CoTaskMemAlloc.
#include <windows.h>

#include "common/text.h"

namespace WebView2 {

// CoTaskMemAlloc copy of a text, for out-parameters of the ABI.
LPWSTR CoTaskText(const WString& text);
// Takes over (and frees) a string the ABI handed out.
WString TakeCoTaskText(LPWSTR text);

} // namespace WebView2
