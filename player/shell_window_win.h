#pragma once
// Windows backend only: what the player window and the init window share:
// their window class template, the loading text painted until the browser
// covers the window, and the two ways of going fullscreen.
#include <windows.h>

#include <memory>

#include "common/text.h"
#include "player/webview_host.h"

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

// The browser of one of the two windows. The user may close the window while
// the host's start pumps messages; the host is then still inside its own
// Initialize and goes only once that has returned.
struct WindowBrowser {
    std::unique_ptr<WebView::WebViewHost> host;
    HWND window = nullptr;
    bool starting = false;
    bool closedWhileStarting = false;
    // Inside a call of the host's that runs a modal loop (the printer dialog).
    int inModalCall = 0;

    enum class Start { Ready, Failed, Closed };
    // Initializes the host (filled by the caller) in the window.
    Start Initialize(const WString& userDataFolder);
    // The printer choice and print of the window's page. Closing the window
    // ends the dialog with it; the host is then still inside the call and
    // stays until the main loop has ended. Nothing once the window is gone.
    void Print();
};

// The message handling both windows share: the browser follows the client
// area, the loading text shows until the browser covers it, and the window's
// end takes the browser with it (or leaves that to a start still running)
// and ends the message loop with 0.
LRESULT BrowserWindowProcedure(WindowBrowser& browser, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
