// The player window on Win32: the loading text until the browser covers it,
// the browser sized to the client area, the page's messages, and the end of
// the message loop when the window goes.
#include "player/player_window_win.h"

#include <memory>

#include "common/app_constants.h"
#include "common/dpi_win.h"
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
#include "player/webview_host_win.h"

namespace {

// User-interface thread only.
WindowBrowser player;
bool playerShown = false;
bool playerFullscreen = false;
ElementFullscreen elementFullscreen;

void OnFullScreenElement(bool on) { SetElementFullscreen(player.window, elementFullscreen, on, playerFullscreen); }

void ToggleFullscreen() {
    // The window's own fullscreen takes over the screen an element covers.
    if (!playerFullscreen) TakeOverElementFullscreen(elementFullscreen);
    TogglePlayerFullscreen(player.window, playerFullscreen);
}

void ShowPlayer() {
    playerShown = true;
    CloseSplash();
    BringToFront(player.window);
}

void OnReady(bool success) {
    // Closed by the user while the browser came up: nothing to load, no error.
    if (player.closedWhileStarting) return;
    if (!success) {
        ShowMessageBox(Messages::PlayerInitFailed(), u"Error", MessageIcon::Error, MessageButtons::Ok);
        ExitProcess(1);
    }
    LoadPlayerContent(*player.host);
    ShowPlayer();
}

void OnMessage(const WString& message) {
    DispatchPlayerMessage(message, playerShown,
                          PlayerMessageActions{
                              .print = [] { player.RequestPrint(); },
                              .toggleFullscreen = ToggleFullscreen,
                              .show = [] { ShowWindow(player.window, SW_SHOW); UpdateWindow(player.window); },
                          });
}

LRESULT CALLBACK PlayerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return BrowserWindowProcedure(player, window, message, wParam, lParam);
}

} // namespace

bool RegisterPlayerWindowClass(HINSTANCE instance) {
    return RegisterShellWindowClass(instance, kPlayerWindowClass, PlayerWindowProc);
}

HWND CreatePlayerFrameWindow(HINSTANCE instance, bool visible) {
    const WString title = ApplicationConstants.WindowTitle();
    // At the primary monitor's scale, where it opens.
    const UINT dpi = PrimaryMonitorDpi();
    return CreateWindowExW(WS_EX_APPWINDOW, kPlayerWindowClass, reinterpret_cast<const wchar_t*>(title.c_str()),
                           WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0), CW_USEDEFAULT, CW_USEDEFAULT,
                           ScaleForDpi(kPlayerWindowWidth, dpi), ScaleForDpi(kPlayerWindowHeight, dpi), nullptr, nullptr,
                           instance, nullptr);
}

namespace {
void MakePlayerHost(HWND window) {
    player.window = window;
    player.host = std::make_unique<WebView::WebViewHost>();
    player.host->onWebMessage = OnMessage;
    player.host->onWebResourceRequested = YouTubeRefererRule;
    player.host->onNavigationStarting = NavigationPolicy;
    player.host->onReady = OnReady;
    // A new page has no element in fullscreen.
    SetElementFullscreen(window, elementFullscreen, false, playerFullscreen);
    WebView::SetFullScreenElementHandler(*player.host, OnFullScreenElement);
    player.host->onProcessFailed = [](WebView::BrowserProcessFailure failure) { player.OnProcessFailed(failure); };
    player.host->onNavigationCompleted = [](bool, int) { player.EndRecovery(); };
    player.makeHost = [] { MakePlayerHost(player.window); };
    player.reload = ReloadPlayerContent;
}
} // namespace

void StartPlayerBrowserEarly(HWND window) {
    if (window == nullptr || player.host) return;
    MakePlayerHost(window);
    WebView::StartEarly(*player.host, window, WebView::UserDataFolder());
}

bool CreatePlayerWindow(HINSTANCE /*instance*/, HWND window) {
    if (window == nullptr) return false;
    playerShown = false;
    const WString userData = WebView::UserDataFolder();
    // The host started early in this window is the one waited for.
    if (!player.host || player.window != window) MakePlayerHost(window);
    if (player.Initialize(userData) != WindowBrowser::Start::Failed) return true;
    ShowMessageBox(Messages::PlayerInitFailedAfterRetries(), u"Error", MessageIcon::Error, MessageButtons::Ok);
    return false;
}

WebView::WebViewHost* PlayerHost() { return player.host.get(); }

void DestroyPlayerHost() { player.host.reset(); }

bool PlayerShown() { return playerShown; }

bool PlayerFullscreen() { return playerFullscreen; }
