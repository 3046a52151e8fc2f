#pragma once
// What the stand-in runtime's library and its browser process share for one
// data folder: a named memory block with the browser's id and its clients,
// under a named lock.
#include <windows.h>

#include <string>

namespace StandInBrowser {

struct Client {
    DWORD pid = 0;
    ULONGLONG created = 0; // the process's creation time: ids are reused
};

struct Shared {
    DWORD browserPid = 0;
    ULONGLONG browserCreated = 0;
    Client clients[64];
};

inline std::wstring MappingName(const std::wstring& name) { return L"Local\\TovaniStandInBrowser-" + name; }
inline std::wstring LockName(const std::wstring& name) { return L"Local\\TovaniStandInBrowserLock-" + name; }

} // namespace StandInBrowser
