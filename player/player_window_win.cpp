// The player window on Win32: the loading text until the browser covers it,
// the browser sized to the client area, the page's messages, and the end of
// the message loop when the window goes.
#include "player/player_window_win.h"

#include <memory>

#include "common/app_constants.h"
#include "common/message_box_win.h"
#include "common/splash_handle_win.h"
#include "links/player_content.h"
#include "player/browser_rules.h"
#include "player/browser_start.h"
#include "player/navigation_policy.h"
#include "player/player_messages.h"
#include "player/shell_window_win.h"
#include "player/user_data_win.h"
#include "player/web_messages.h"

namespace {

// User-interface thread only.
std::unique_ptr<WebView::WebViewHost> playerHost;
HWND playerWindow = nullptr;
bool playerShown = false;
bool playerFullscreen = false;
// The window may be closed while the host's start-up pumps messages: the host
// is then still on the stack of its own Initialize and goes once that returns.
bool starting = false;
bool closedWhileStarting = false;

void ShowPlayer() {
    playerShown = true;
    CloseSplash();
    BringToFront(playerWindow);
}

void OnReady(bool success) {
    // Closed by the user while the browser came up: nothing to load, no error.
    if (closedWhileStarting) return;
    if (!success) {
        ShowMessageBox(Messages::PlayerInitFailed(), u"Error", MessageIcon::Error, MessageButtons::Ok);
        ExitProcess(1);
    }
    LoadPlayerContent(*playerHost);
    ShowPlayer();
}

void OnMessage(const WString& message) {
    DispatchPlayerMessage(message, playerShown,
                          PlayerMessageActions{
                              .print = [] { if (playerHost) playerHost->ShowSystemPrintDialog(); },
                              .toggleFullscreen = [] { TogglePlayerFullscreen(playerWindow, playerFullscreen); },
                              .show = [] { ShowWindow(playerWindow, SW_SHOW); UpdateWindow(playerWindow); },
                          });
}

LRESULT CALLBACK PlayerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        if (playerHost) playerHost->SetBounds(0, 0, LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_PAINT: PaintLoadingText(window); return 0;
    case WM_DESTROY:
        if (starting) {
            closedWhileStarting = true;
        } else {
            DestroyPlayerHost();
        }
        if (window == playerWindow) playerWindow = nullptr;
        PostQuitMessage(0);
        return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

bool RegisterPlayerWindowClass(HINSTANCE instance) {
    return RegisterShellWindowClass(instance, kPlayerWindowClass, PlayerWindowProc);
}

HWND CreatePlayerFrameWindow(HINSTANCE instance) {
    const WString title = ApplicationConstants.WindowTitle();
    return CreateWindowExW(WS_EX_APPWINDOW, kPlayerWindowClass, reinterpret_cast<const wchar_t*>(title.c_str()),
                           WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, kPlayerWindowWidth,
                           kPlayerWindowHeight, nullptr, nullptr, instance, nullptr);
}

bool CreatePlayerWindow(HINSTANCE /*instance*/, HWND window) {
    if (window == nullptr) return false;
    playerWindow = window;
    playerShown = false;
    const WString userData = WebView::UserDataFolder();
    playerHost = std::make_unique<WebView::WebViewHost>();
    playerHost->onWebMessage = OnMessage;
    playerHost->onWebResourceRequested = YouTubeRefererRule;
    playerHost->onNavigationStarting = NavigationPolicy;
    playerHost->onReady = OnReady;
    starting = true;
    const bool ready = playerHost->Initialize(window, userData, 3);
    starting = false;
    if (closedWhileStarting) {
        // An ordinary end: the quit message is already on its way to the main loop.
        DestroyPlayerHost();
        return true;
    }
    if (ready) return true;
    ShowMessageBox(Messages::PlayerInitFailedAfterRetries(), u"Error", MessageIcon::Error, MessageButtons::Ok);
    return false;
}

WebView::WebViewHost* PlayerHost() { return playerHost.get(); }

void DestroyPlayerHost() { playerHost.reset(); }

bool PlayerShown() { return playerShown; }

bool PlayerFullscreen() { return playerFullscreen; }
