// Windows: the scheme under HKEY_CURRENT_USER\Software\Classes, rewritten on
// every start. The root key falls back to HKEY_LOCAL_MACHINE only for the
// scheme key itself; its icon and command keys stay per user.
#include "app/scheme_registration.h"

#include <windows.h>

#include "common/app_constants.h"
#include "player/shell_window_win.h"

namespace {

std::wstring Wide(const WString& text) { return std::wstring(text.begin(), text.end()); }

bool SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) == ERROR_SUCCESS;
}

HKEY CreateKey(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

void SetDefaultUnderUser(const std::wstring& path, const std::wstring& value) {
    if (HKEY key = CreateKey(HKEY_CURRENT_USER, path)) {
        SetString(key, nullptr, value);
        RegCloseKey(key);
    }
}

// The full path of this program; empty when it cannot be read whole (a cut
// path would name some other file).
std::wstring ExecutablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    while (buffer.size() <= 32768) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::wstring();
        if (length < buffer.size()) return buffer.substr(0, length);
        buffer.resize(buffer.size() * 2);
    }
    return std::wstring();
}

} // namespace

std::wstring SchemeIconLocation(const std::wstring& executable) {
    return executable + L",-" + std::to_wstring(kProgramIconId);
}

void RegisterUrlScheme() {
    const std::wstring executable = ExecutablePath();
    if (executable.empty()) return;
    const std::wstring keyPath = L"Software\\Classes\\" + Wide(ApplicationConstants.schemeWord);

    HKEY key = CreateKey(HKEY_CURRENT_USER, keyPath);
    if (key == nullptr) key = CreateKey(HKEY_LOCAL_MACHINE, keyPath);
    if (key == nullptr) return;
    SetString(key, nullptr, L"Kelbro Desktop Player");
    SetString(key, L"URL Protocol", L"");
    RegCloseKey(key);

    SetDefaultUnderUser(keyPath + L"\\DefaultIcon", SchemeIconLocation(executable));
    SetDefaultUnderUser(keyPath + L"\\shell\\open\\command", L"\"" + executable + L"\" \"%1\"");
}

