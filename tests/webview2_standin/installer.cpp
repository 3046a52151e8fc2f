// The stand-in runtime's installer, as the development service hands it out
// in place of the runtime's bootstrapper: it carries the stand-in library and
// browser program and installs them per user, where a per-user runtime installer puts the real one.
// TOVANI_STANDIN_INSTALLER chooses a failure: "fail" ends with an installer
// error and installs nothing; "old" installs a runtime too old to be used.
#include <windows.h>

#include <string>

namespace {

constexpr wchar_t kStableClientState[] =
    L"SOFTWARE\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";

std::wstring Mode() {
    wchar_t value[64] = {};
    const DWORD length = GetEnvironmentVariableW(L"TOVANI_STANDIN_INSTALLER", value, 64);
    return length > 0 && length < 64 ? value : L"";
}

bool MakeFolders(const std::wstring& path) {
    for (std::size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool WriteResource(HINSTANCE instance, int id, const std::wstring& path) {
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    HGLOBAL loaded = found ? LoadResource(instance, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = found ? SizeofResource(instance, found) : 0;
    if (bytes == nullptr || size == 0) return false;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL wrote = WriteFile(file, bytes, size, &written, nullptr);
    CloseHandle(file);
    return wrote && written == size;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    const std::wstring mode = Mode();
    if (mode == L"fail") return 1603; // the installers' "fatal error during installation"

    wchar_t local[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH) == 0) return 3;
    const std::wstring version = mode == L"old" ? L"80.0.361.48" : L"120.0.2210.91";
    const std::wstring folder = std::wstring(local) + L"\\Microsoft\\EdgeWebView\\Application\\" + version;
    const std::wstring libraryFolder = folder + L"\\EBWebView\\x64";
    if (!MakeFolders(libraryFolder)) return 4;
    // The library, and the browser program where the runtime keeps its own.
    if (!WriteResource(instance, 1, libraryFolder + L"\\EmbeddedBrowserWebView.dll") ||
        !WriteResource(instance, 2, folder + L"\\msedgewebview2.exe"))
        return 5;

    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kStableClientState, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return 6;
    const LSTATUS status =
        RegSetValueExW(key, L"EBWebView", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                       static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? 0 : 6;
}
