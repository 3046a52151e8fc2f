#include "tests/support/clipboard_win.h"

#include <windows.h>

namespace TestSupport {

std::string ClipboardText() {
    std::string text;
    if (!OpenClipboard(nullptr)) return "(clipboard busy)";
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (const char* p = static_cast<const char*>(GlobalLock(data))) {
            text = p;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

} // namespace TestSupport
