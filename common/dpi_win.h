#pragma once
// Windows backend only: the scale a window is shown at. The program declares
// itself per-monitor DPI aware in its manifest, so Windows no longer
// stretches its windows: each sizes itself for its monitor's DPI and again on
// WM_DPICHANGED. The DPI functions of Windows 8.1 and 10 1607 are looked up at
// run time, so the program still starts where they are missing (then the
// system DPI stands for every monitor).
#include <windows.h>

inline constexpr UINT kBaseDpi = 96;

// The DPI the window is shown at.
UINT WindowDpi(HWND window);
// The DPI a window placed on this monitor is shown at.
UINT MonitorDpi(HMONITOR monitor);
// The primary monitor's, where the splash and the small windows open.
UINT PrimaryMonitorDpi();

// A length given for 96 DPI, at this DPI.
inline int ScaleForDpi(int length, UINT dpi) {
    return MulDiv(length, static_cast<int>(dpi == 0 ? kBaseDpi : dpi), static_cast<int>(kBaseDpi));
}

// The new DPI a WM_DPICHANGED carries.
inline UINT DpiOfChange(WPARAM wParam) { return LOWORD(wParam) == 0 ? kBaseDpi : LOWORD(wParam); }

// WM_DPICHANGED: moves and sizes the window to the rectangle Windows
// suggests (lParam), keeping its z-order and activation. False when there is
// none.
bool ApplySuggestedDpiRect(HWND window, LPARAM lParam);

// A dialog whose layout the program redoes itself on WM_DPICHANGED: stops
// Windows' own rescaling of it (per-monitor v2, Windows 10 1703 and later),
// so the two never both apply.
void TakeOverDialogDpiScaling(HWND dialog);
