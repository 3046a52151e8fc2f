// A process to stand for the runtime's browser helper in the orphan sweep's
// tests (copied under the helper's name): it waits a minute and ends. With
// "spawn PROGRAM" it starts PROGRAM and ends at once, leaving it an orphan.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && std::wstring(argv[1]) == L"spawn") {
        std::wstring command = L"\"" + std::wstring(argv[2]) + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
            return 1;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return 0;
    }
    Sleep(60000);
    return 0;
}
