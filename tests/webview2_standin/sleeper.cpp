// A process to stand for the runtime's browser helper in the orphan sweep's
// tests (copied under the helper's name): it waits a minute and ends. With
// "spawn PROGRAM [ARGUMENT...]" it starts PROGRAM and ends at once, leaving
// it an orphan.
//
// Installed as the stand-in runtime's msedgewebview2.exe it is the browser
// process one data folder's clients share: started with
// "--embedded-browser-webview=1 --user-data-dir=... --tovani-standin-clients=NAME"
// it lives while any client registered in the shared memory NAME is alive.
#include <windows.h>

#include <string>

#include "standin_browser_shared.h"

namespace {

bool SameProcessAlive(DWORD pid, ULONGLONG created) {
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) return false;
    FILETIME start{}, exit{}, kernel{}, user{};
    bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    if (alive && GetProcessTimes(process, &start, &exit, &kernel, &user))
        alive = ((static_cast<ULONGLONG>(start.dwHighDateTime) << 32) | start.dwLowDateTime) == created;
    CloseHandle(process);
    return alive;
}

// The browser: ends once none of its clients is alive.
int Browser(const std::wstring& name) {
    HANDLE lock = CreateMutexW(nullptr, FALSE, StandInBrowser::LockName(name).c_str());
    HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, StandInBrowser::MappingName(name).c_str());
    auto* shared = mapping ? static_cast<StandInBrowser::Shared*>(
                                 MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(StandInBrowser::Shared)))
                           : nullptr;
    if (lock == nullptr || shared == nullptr) return 2;
    for (;;) {
        Sleep(100);
        const DWORD locked = WaitForSingleObject(lock, 5000);
        if (locked != WAIT_OBJECT_0 && locked != WAIT_ABANDONED) continue;
        int clients = 0;
        for (StandInBrowser::Client& client : shared->clients) {
            if (client.pid == 0) continue;
            if (SameProcessAlive(client.pid, client.created)) ++clients;
            else client = {};
        }
        const bool last = clients == 0 && shared->browserPid == GetCurrentProcessId();
        if (last) shared->browserPid = 0;
        ReleaseMutex(lock);
        if (clients == 0) return 0;
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && std::wstring(argv[1]) == L"spawn") {
        std::wstring command = L"\"" + std::wstring(argv[2]) + L"\"";
        for (int i = 3; i < argc; ++i) command += L" \"" + std::wstring(argv[i]) + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
            return 1;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return 0;
    }
    const std::wstring clientsSwitch = L"--tovani-standin-clients=";
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg.rfind(clientsSwitch, 0) == 0) return Browser(arg.substr(clientsSwitch.size()));
    }
    Sleep(60000);
    return 0;
}
