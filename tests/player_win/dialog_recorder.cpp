// A program planted beside the player under a system program's name
// (mshta.exe, cmd.exe): writes the path it runs from, a line feed and the
// command line it was started with, as UTF-8, to the file named by
// TOVANI_TEST_DIALOG_RECORD, and ends. It must never run.
#include <windows.h>

#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    return out;
}

} // namespace

int wmain() {
    wchar_t path[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"TOVANI_TEST_DIALOG_RECORD", path, MAX_PATH) == 0) return 2;
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::string text = Utf8(self) + "\n" + Utf8(GetCommandLineW());
    const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size() ? 0 : 4;
}
