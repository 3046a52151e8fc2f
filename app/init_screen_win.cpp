#include "app/init_screen_win.h"

#include <memory>

#include "app/messages.h"
#include "common/app_constants.h"
#include "common/dpi_win.h"
#include "common/message_box_win.h"
#include "common/splash_handle_win.h"
#include "player/browser_rules.h"
#include "player/browser_start.h"
#include "player/shell_window_win.h"
#include "player/user_data_win.h"
#include "player/web_messages.h"
#include "player/webview_host_win.h"

namespace {

// User-interface thread only.
WindowBrowser init;
bool fullscreenActive = false;
WINDOWPLACEMENT savedPlacement{};
ElementFullscreen elementFullscreen;

void OnFullScreenElement(bool on) { SetElementFullscreen(init.window, elementFullscreen, on, fullscreenActive); }

void ToggleFullscreen() {
    // Already covering the screen for a page element: the toggle takes that over.
    if (!fullscreenActive && TakeOverElementFullscreen(elementFullscreen, &savedPlacement)) {
        fullscreenActive = true;
        return;
    }
    ToggleInitScreenFullscreen(init.window, fullscreenActive, savedPlacement);
}

void OnReady(bool success) {
    // Closed by the user while the browser came up: nothing to show, no error.
    if (init.closedWhileStarting) return;
    if (!success) {
        ShowMessageBox(Messages::InitScreenInitFailed(), u"Error", MessageIcon::Error, MessageButtons::Ok, false,
                       init.window);
        ExitProcess(1);
    }
    LoadInitScreen(*init.host);
}

// Every completed navigation, whatever its outcome, brings the window forward.
void OnNavigationCompleted(bool, int) {
    init.EndRecovery();
    CloseSplash();
    BringToFront(init.window);
}

void OnMessage(const WString& message) {
    if (init.host) InitScreenMessageHandler(*init.host, message, ToggleFullscreen);
}

LRESULT CALLBACK InitWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return BrowserWindowProcedure(init, window, message, wParam, lParam);
}

HWND MakeInitWindow(HINSTANCE instance, bool visible) {
    const WString title = ApplicationConstants.WindowTitle();
    // 1024 x 768 at the primary monitor's scale, where it opens.
    const UINT dpi = PrimaryMonitorDpi();
    return CreateWindowExW(WS_EX_APPWINDOW, kInitWindowClass, reinterpret_cast<const wchar_t*>(title.c_str()),
                           WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0), CW_USEDEFAULT, CW_USEDEFAULT,
                           ScaleForDpi(1024, dpi), ScaleForDpi(768, dpi), nullptr, nullptr, instance, nullptr);
}

void MakeInitHost() {
    init.host = std::make_unique<WebView::WebViewHost>();
    init.host->onWebMessage = OnMessage;
    init.host->onNavigationStarting = [](const WString&, bool&) {};
    init.host->onNavigationCompleted = OnNavigationCompleted;
    init.host->onWebResourceRequested = [](const WString&, WebView::ResourceRequest& request) {
        for (const auto& [name, value] : InitScreenRequestHeaders()) request.SetHeader(name, value);
    };
    init.host->onReady = OnReady;
    // A new page has no element in fullscreen.
    SetElementFullscreen(init.window, elementFullscreen, false, fullscreenActive);
    WebView::SetFullScreenElementHandler(*init.host, OnFullScreenElement);
    init.host->onProcessFailed = [](WebView::BrowserProcessFailure failure) { init.OnProcessFailed(failure); };
    init.makeHost = MakeInitHost;
    init.reload = ReloadInitScreen;
}

} // namespace

bool RegisterInitWindowClass(HINSTANCE instance) {
    return RegisterShellWindowClass(instance, kInitWindowClass, InitWindowProc);
}

void StartInitBrowserEarly(HINSTANCE instance) {
    if (init.window != nullptr) return;
    init.window = MakeInitWindow(instance, false);
    if (init.window == nullptr) return;
    MakeInitHost();
    WebView::StartEarly(*init.host, init.window, WebView::UserDataFolder());
}

bool CreateInitScreen(HINSTANCE instance) {
    if (init.window == nullptr) {
        init.window = MakeInitWindow(instance, true);
    } else {
        // The window the browser started in early shows now, at the init screen's place in the order.
        ShowWindow(init.window, SW_SHOW);
        UpdateWindow(init.window);
    }
    if (init.window == nullptr) return false;
    const WString userData = WebView::UserDataFolder();
    // The host started early in this window is the one waited for.
    if (!init.host) MakeInitHost();
    const WindowBrowser::Start start = init.Initialize(userData);
    if (start == WindowBrowser::Start::Closed) return true;
    if (start == WindowBrowser::Start::Failed) return false;
    RECT client{};
    GetClientRect(init.window, &client);
    init.host->SetBounds(0, 0, client.right - client.left, client.bottom - client.top);
    return true;
}

WebView::WebViewHost* InitScreenHost() { return init.host.get(); }

HWND InitScreenWindow() { return init.window; }

void DestroyInitScreenHost() { init.host.reset(); }
