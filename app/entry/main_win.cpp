// The Windows player: tovani.exe [LINK]
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <shellapi.h>

#include <vector>

#include "app/startup_shell_win.h"

namespace {

std::vector<WString> CommandLineArguments() {
    std::vector<WString> args;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argv == nullptr) return args;
    for (int i = 0; i < count; ++i) args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
    LocalFree(argv);
    return args;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandTail, int) {
    // The user-interface thread is a single-threaded apartment: the browser
    // runtime calls back on it.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR gdiplusToken = 0;
    const bool gdiplus = Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr) == Gdiplus::Ok;

    int code = 1;
    {
        WinStartupShell shell(instance);
        const WString rawTail = commandTail != nullptr ? WString(reinterpret_cast<const char16_t*>(commandTail)) : WString();
        code = RunStartup(shell, CommandLineArguments(), rawTail);
        shell.Shutdown();
    }

    if (gdiplus) Gdiplus::GdiplusShutdown(gdiplusToken);
    if (SUCCEEDED(com)) CoUninitialize();
    return code;
}
