#include "app/init_screen_win.h"

#include <memory>

#include "app/messages.h"
#include "common/app_constants.h"
#include "common/message_box_win.h"
#include "common/splash_handle_win.h"
#include "player/browser_rules.h"
#include "player/browser_start.h"
#include "player/shell_window_win.h"
#include "player/user_data_win.h"
#include "player/web_messages.h"

namespace {

// User-interface thread only.
std::unique_ptr<WebView::WebViewHost> initHost;
HWND initWindow = nullptr;
// The window may be closed while the host's start-up pumps messages: the host
// is then still on the stack of its own Initialize and goes once that returns.
bool starting = false;
bool closedWhileStarting = false;
bool fullscreenActive = false;
WINDOWPLACEMENT savedPlacement{};

void OnReady(bool success) {
    // Closed by the user while the browser came up: nothing to show, no error.
    if (closedWhileStarting) return;
    if (!success) {
        ShowMessageBox(Messages::InitScreenInitFailed(), u"Error", MessageIcon::Error, MessageButtons::Ok, false,
                       initWindow);
        ExitProcess(1);
    }
    LoadInitScreen(*initHost);
}

// Every completed navigation, whatever its outcome, brings the window forward.
void OnNavigationCompleted(bool, int) {
    CloseSplash();
    BringToFront(initWindow);
}

void OnMessage(const WString& message) {
    if (initHost) InitScreenMessageHandler(*initHost, message, [] { ToggleInitScreenFullscreen(initWindow, fullscreenActive, savedPlacement); });
}

LRESULT CALLBACK InitWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        if (initHost) initHost->SetBounds(0, 0, LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_PAINT: PaintLoadingText(window); return 0;
    case WM_DESTROY:
        if (starting) {
            closedWhileStarting = true;
        } else {
            DestroyInitScreenHost();
        }
        if (window == initWindow) initWindow = nullptr;
        PostQuitMessage(0);
        return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

bool RegisterInitWindowClass(HINSTANCE instance) {
    return RegisterShellWindowClass(instance, kInitWindowClass, InitWindowProc);
}

bool CreateInitScreen(HINSTANCE instance) {
    const WString title = ApplicationConstants.WindowTitle();
    initWindow = CreateWindowExW(WS_EX_APPWINDOW, kInitWindowClass, reinterpret_cast<const wchar_t*>(title.c_str()),
                                 WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, 1024, 768, nullptr,
                                 nullptr, instance, nullptr);
    if (initWindow == nullptr) return false;
    const WString userData = WebView::UserDataFolder();
    initHost = std::make_unique<WebView::WebViewHost>();
    initHost->onWebMessage = OnMessage;
    initHost->onNavigationStarting = [](const WString&, bool&) {};
    initHost->onNavigationCompleted = OnNavigationCompleted;
    initHost->onWebResourceRequested = [](const WString&, WebView::ResourceRequest& request) {
        for (const auto& [name, value] : InitScreenRequestHeaders()) request.SetHeader(name, value);
    };
    initHost->onReady = OnReady;
    starting = true;
    const bool ready = initHost->Initialize(initWindow, userData, 3);
    starting = false;
    if (closedWhileStarting) {
        // An ordinary end: the quit message is already on its way to the main loop.
        DestroyInitScreenHost();
        return true;
    }
    if (!ready) return false;
    RECT client{};
    GetClientRect(initWindow, &client);
    initHost->SetBounds(0, 0, client.right - client.left, client.bottom - client.top);
    return true;
}

WebView::WebViewHost* InitScreenHost() { return initHost.get(); }

HWND InitScreenWindow() { return initWindow; }

void DestroyInitScreenHost() { initHost.reset(); }
