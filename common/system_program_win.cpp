#include "common/system_program_win.h"

#include <windows.h>

WString SystemProgramPath(const WString& name) {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return WString(reinterpret_cast<const char16_t*>(folder), length) + u"\\" + name;
}
