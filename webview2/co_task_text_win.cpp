#include "webview2/co_task_text_win.h"

#include <objbase.h>

#include <algorithm>
#include <cwchar>

namespace WebView2 {

LPWSTR CoTaskText(const WString& text) {
    auto* out = static_cast<char16_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(char16_t)));
    if (out == nullptr) return nullptr;
    std::copy(text.begin(), text.end(), out);
    out[text.size()] = u'\0';
    return reinterpret_cast<LPWSTR>(out);
}

WString TakeCoTaskText(LPWSTR text) {
    WString result = text ? WString(reinterpret_cast<const char16_t*>(text), std::wcslen(text)) : WString();
    if (text != nullptr) CoTaskMemFree(text);
    return result;
}

} // namespace WebView2
