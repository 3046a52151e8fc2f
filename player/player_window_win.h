#pragma once
// Windows backend only: the player window ("TovaniWindow") and its browser
// host, PlayerHost.
#include <windows.h>

#include "player/webview_host.h"

inline constexpr wchar_t kPlayerWindowClass[] = L"TovaniWindow";
inline constexpr int kPlayerWindowWidth = 1280;
inline constexpr int kPlayerWindowHeight = 720;

bool RegisterPlayerWindowClass(HINSTANCE instance);
// The empty player window with the loading text, visible unless asked
// otherwise; null on failure.
HWND CreatePlayerFrameWindow(HINSTANCE instance, bool visible = true);
// Starts PlayerHost in the window (not yet shown) without waiting for it;
// CreatePlayerWindow then waits for it and loads PlayerContent.
void StartPlayerBrowserEarly(HWND window);
// Brings up PlayerHost in the window and loads PlayerContent; false (after
// telling the user) when the browser could not be started.
bool CreatePlayerWindow(HINSTANCE instance, HWND window);
// The player's browser host, null when there is none.
WebView::WebViewHost* PlayerHost();
// Destroys PlayerHost if it exists (the controller closes first).
void DestroyPlayerHost();
bool PlayerShown();
bool PlayerFullscreen();
