#include "app/windows_version_win.h"

#include <windows.h>

#include "app/startup.h"

WindowsVersion TrueWindowsVersion() {
    WindowsVersion version;
    // RtlGetVersion answers the kernel's own numbers, unaffected by shims.
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return version;
    const auto query = reinterpret_cast<RtlGetVersionFunction>(GetProcAddress(ntdll, "RtlGetVersion"));
    if (query == nullptr) return version;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (query(&info) != 0) return version;
    version.major = info.dwMajorVersion;
    version.minor = info.dwMinorVersion;
    version.build = info.dwBuildNumber;
    return version;
}

int WindowsVersionClass() {
    const WindowsVersion version = TrueWindowsVersion();
    return ClassifyWindowsVersion(version.major, version.minor, version.build);
}
