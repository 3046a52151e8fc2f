#pragma once
// Windows backend only: what the player window and the init window share:
// their window class template, the loading text painted until the browser
// covers the window, and the two ways of going fullscreen.
#include <windows.h>

#include <functional>
#include <memory>

#include "common/text.h"
#include "player/process_recovery.h"
#include "player/webview_host.h"

// The program icon's resource number.
inline constexpr int kProgramIconId = 101;

// Redrawn on resize, the program icon, the arrow cursor, a black background.
// Registering a class twice is harmless (the second attempt fails quietly).
bool RegisterShellWindowClass(HINSTANCE instance, const wchar_t* className, WNDPROC procedure);

// WM_PAINT of both windows: the loading text centred on one line, or
// another text centred line by line.
void PaintLoadingText(HWND window, const char16_t* text = nullptr);

// Posted to a window whose browser lost a process: wParam 1 for the whole
// browser, 0 for the page's renderer.
inline constexpr UINT kBrowserProcessFailedMessage = WM_APP + 0x52;
// Posted by a page's print request: the printer dialog opens from the
// window's own message, once the runtime's event handler has returned, so
// the page's traffic flows while the learner chooses.
inline constexpr UINT kPrintRequestedMessage = WM_APP + 0x53;

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

// A page element's own fullscreen (a video's button): the window covers its
// monitor without a frame while the element is fullscreen, unless its own
// fullscreen already does, and then returns to its earlier style and
// placement.
struct ElementFullscreen {
    bool active = false;       // an element of the page is fullscreen
    bool coversWindow = false; // and made the window cover its monitor
    LONG_PTR savedStyle = 0;
    WINDOWPLACEMENT savedPlacement{};
};
// windowFullscreen: the window's own fullscreen is on.
void SetElementFullscreen(HWND window, ElementFullscreen& state, bool on, bool windowFullscreen);
// The window's own fullscreen begins while an element's covers the screen:
// the window stays as it is and the element's leaving no longer restores it;
// saved (when given) receives the placement from before the element's.
// False when the element did not cover the window.
bool TakeOverElementFullscreen(ElementFullscreen& state, WINDOWPLACEMENT* saved = nullptr);

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

    // After a browser process ended: the window says so in place of the
    // browser until the content is back; a second end within the bound ends
    // in the diagnostic dialog.
    bool recovering = false;
    bool browserLost = false; // a failure waits for a modal call to end
    ProcessRecovery recovery;
    // The window's own: a new host with its callbacks, and the page's load
    // again on a view that keeps its scripts.
    std::function<void()> makeHost;
    std::function<void(WebView::WebViewHost&)> reload;
    // The host's process-failure callback: the work is posted, since a host
    // is never replaced inside its own event.
    void OnProcessFailed(WebView::BrowserProcessFailure failure);
    void Recover(bool browserDied);
    // A completed navigation ends the notice.
    void EndRecovery();

    enum class Start { Ready, Failed, Closed };
    // Initializes the host (filled by the caller) in the window.
    Start Initialize(const WString& userDataFolder);
    // The printer choice and print of the window's page. Closing the window
    // ends the dialog with it; the host is then still inside the call and
    // stays until the main loop has ended. Nothing once the window is gone.
    void Print();
    // A page's print request, for the window's own turn (at most one waits).
    void RequestPrint();
    bool printPosted = false;
};

// The message handling both windows share: the browser follows the client
// area, the loading text shows until the browser covers it, and the window's
// end takes the browser with it (or leaves that to a start still running)
// and ends the message loop with 0.
LRESULT BrowserWindowProcedure(WindowBrowser& browser, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
