#include "common/dpi_win.h"

namespace {

template <typename Function>
Function Lookup(HMODULE module, const char* name) {
    return module == nullptr ? nullptr : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

HMODULE User32() { return GetModuleHandleW(L"user32.dll"); }

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetDpiForSystemFn = UINT(WINAPI*)();
// shcore's GetDpiForMonitor, MDT_EFFECTIVE_DPI (0).
using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
// user32's SetDialogDpiChangeBehavior.
using SetDialogDpiChangeBehaviorFn = BOOL(WINAPI*)(HWND, int, int);
constexpr int kDialogDisableAll = 0x0001; // DDC_DISABLE_ALL

GetDpiForMonitorFn MonitorDpiFunction() {
    // Loaded once from the system folder, and kept.
    static const GetDpiForMonitorFn function = [] {
        HMODULE shcore = LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        return Lookup<GetDpiForMonitorFn>(shcore, "GetDpiForMonitor");
    }();
    return function;
}

UINT SystemDpi() {
    static const auto getDpiForSystem = Lookup<GetDpiForSystemFn>(User32(), "GetDpiForSystem");
    if (getDpiForSystem != nullptr) {
        const UINT dpi = getDpiForSystem();
        if (dpi != 0) return dpi;
    }
    UINT dpi = kBaseDpi;
    if (HDC screen = GetDC(nullptr)) {
        const int pixels = GetDeviceCaps(screen, LOGPIXELSX);
        if (pixels > 0) dpi = static_cast<UINT>(pixels);
        ReleaseDC(nullptr, screen);
    }
    return dpi;
}

} // namespace

UINT WindowDpi(HWND window) {
    static const auto getDpiForWindow = Lookup<GetDpiForWindowFn>(User32(), "GetDpiForWindow");
    if (getDpiForWindow != nullptr && window != nullptr) {
        const UINT dpi = getDpiForWindow(window);
        if (dpi != 0) return dpi;
    }
    if (window != nullptr) return MonitorDpi(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST));
    return SystemDpi();
}

UINT MonitorDpi(HMONITOR monitor) {
    const GetDpiForMonitorFn getDpiForMonitor = MonitorDpiFunction();
    UINT x = 0;
    UINT y = 0;
    if (getDpiForMonitor != nullptr && monitor != nullptr && SUCCEEDED(getDpiForMonitor(monitor, 0, &x, &y)) && x != 0) {
        return x;
    }
    return SystemDpi();
}

UINT PrimaryMonitorDpi() { return MonitorDpi(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY)); }

bool ApplySuggestedDpiRect(HWND window, LPARAM lParam) {
    const auto* suggested = reinterpret_cast<const RECT*>(lParam);
    if (suggested == nullptr || suggested->right <= suggested->left || suggested->bottom <= suggested->top) return false;
    return SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                        suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
}

void TakeOverDialogDpiScaling(HWND dialog) {
    static const auto setBehavior = Lookup<SetDialogDpiChangeBehaviorFn>(User32(), "SetDialogDpiChangeBehavior");
    if (setBehavior != nullptr) setBehavior(dialog, kDialogDisableAll, kDialogDisableAll);
}
