// Stands in for mshta beside a copy of tovani.exe (the program's own folder
// is searched first): writes the command line it was started with, as UTF-8,
// to the file named by TOVANI_TEST_DIALOG_RECORD, and ends.
#include <windows.h>

#include <string>

int wmain() {
    wchar_t path[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"TOVANI_TEST_DIALOG_RECORD", path, MAX_PATH) == 0) return 2;
    const wchar_t* line = GetCommandLineW();
    const int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    std::string text(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, line, -1, text.data(), size, nullptr, nullptr);
    const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size() ? 0 : 4;
}
