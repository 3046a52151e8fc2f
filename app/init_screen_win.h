#pragma once
// Windows backend only: the init screen ("KelbroInitWindow"), shown when the
// program starts without a link: the platform's start page with the
// navigation bar, in a browser host of its own, InitScreenHost.
#include <windows.h>

#include "player/webview_host.h"

inline constexpr wchar_t kInitWindowClass[] = L"KelbroInitWindow";

bool RegisterInitWindowClass(HINSTANCE instance);
// Makes the window, not shown, and starts its browser in it, so that the
// browser comes up while start-up waits on the service.
void StartInitBrowserEarly(HINSTANCE instance);
// Creates (or shows) the window and its browser; false when either cannot be created.
bool CreateInitScreen(HINSTANCE instance);
WebView::WebViewHost* InitScreenHost();
HWND InitScreenWindow();
void DestroyInitScreenHost();
