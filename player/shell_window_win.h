#pragma once
// Windows backend only: what the player window and the init window share:
// their window class template, the loading text painted until the browser
// covers the window, and the two ways of going fullscreen.
#include <windows.h>

// The program icon's resource number.
inline constexpr int kProgramIconId = 101;

// Redrawn on resize, the program icon, the arrow cursor, a black background.
// Registering a class twice is harmless (the second attempt fails quietly).
bool RegisterShellWindowClass(HINSTANCE instance, const wchar_t* className, WNDPROC procedure);

// WM_PAINT of both windows: the loading text centred on one line.
void PaintLoadingText(HWND window);

// Brings a window to the front without leaving it topmost.
void BringToFront(HWND window);

// The player's fullscreen (a page asks for it): flips *active; entering
// covers the nearest monitor with a popup, leaving restores the framed
// window at 1280 x 720.
void TogglePlayerFullscreen(HWND window, bool& active);

// The init screen's fullscreen (its navigation bar asks for it): drops the
// frame and covers the primary monitor, keeping the placement to restore;
// nothing changes when the placement or the monitor cannot be read.
void ToggleInitScreenFullscreen(HWND window, bool& active, WINDOWPLACEMENT& saved);
