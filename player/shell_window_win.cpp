#include "player/shell_window_win.h"

#include "common/debug_log.h"
#include "common/dpi_win.h"
#include "diagnostics/diagnostic_dialog.h"
#include "player/player_messages.h"
#include "player/user_data_win.h"
#include "player/webview_host_win.h"

namespace {
constexpr int kPlayerWidth = 1280;
constexpr int kPlayerHeight = 720;
// WS_CAPTION, WS_THICKFRAME, WS_MINIMIZEBOX, WS_MAXIMIZEBOX.
constexpr LONG_PTR kFrameBits = 0x00CF0000;
// A recovery held back by a modal call of the host's is tried again.
constexpr UINT_PTR kRecoverLaterTimer = 0x7652;

void SetBrowserShown(WebView::WebViewHost* host, bool shown) {
    if (host == nullptr) return;
    if (WebView2::ICoreWebView2Controller* controller = WebView::ControllerOf(*host))
        controller->put_IsVisible(shown ? TRUE : FALSE);
}
} // namespace

bool RegisterShellWindowClass(HINSTANCE instance, const wchar_t* className, WNDPROC procedure) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = procedure;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kProgramIconId));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = className;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void PaintLoadingText(HWND window, const char16_t* text) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (dc == nullptr) return;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(200, 200, 200));
    HFONT font = CreateFontW(24, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0,
                             L"Segoe UI");
    HGDIOBJ old = font != nullptr ? SelectObject(dc, font) : nullptr;
    RECT client{};
    GetClientRect(window, &client);
    if (text == nullptr) {
        DrawTextW(dc, reinterpret_cast<const wchar_t*>(kLoadingText), -1, &client,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    } else {
        // Several lines: measured first, then centred as a block.
        RECT block = client;
        DrawTextW(dc, reinterpret_cast<const wchar_t*>(text), -1, &block, DT_CENTER | DT_WORDBREAK | DT_CALCRECT);
        const LONG height = block.bottom - block.top;
        RECT place = client;
        place.top = client.top + (client.bottom - client.top - height) / 2;
        place.bottom = place.top + height;
        DrawTextW(dc, reinterpret_cast<const wchar_t*>(text), -1, &place, DT_CENTER | DT_WORDBREAK);
    }
    if (font != nullptr) {
        SelectObject(dc, old);
        DeleteObject(font);
    }
    EndPaint(window, &paint);
}

void BringToFront(HWND window) {
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    UpdateWindow(window);
}

void TogglePlayerFullscreen(HWND window, bool& active) {
    active = !active;
    if (active) {
        SetWindowLongPtrW(window, GWL_STYLE, WS_POPUP | WS_VISIBLE);
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
        const RECT& r = monitor.rcMonitor;
        SetWindowPos(window, HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_FRAMECHANGED);
    } else {
        SetWindowLongPtrW(window, GWL_STYLE, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
        const UINT dpi = WindowDpi(window);
        SetWindowPos(window, nullptr, 0, 0, ScaleForDpi(kPlayerWidth, dpi), ScaleForDpi(kPlayerHeight, dpi),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED);
    }
}

void ToggleInitScreenFullscreen(HWND window, bool& active, WINDOWPLACEMENT& saved) {
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    if (active) {
        SetWindowLongPtrW(window, GWL_STYLE, style | kFrameBits);
        SetWindowPlacement(window, &saved);
        SetWindowPos(window, nullptr, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOOWNERZORDER | SWP_FRAMECHANGED);
        active = false;
        return;
    }
    saved.length = sizeof saved;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!GetWindowPlacement(window, &saved) ||
        !GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
        return;
    }
    SetWindowLongPtrW(window, GWL_STYLE, style & ~kFrameBits);
    const RECT& r = monitor.rcMonitor;
    SetWindowPos(window, HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOOWNERZORDER | SWP_FRAMECHANGED);
    active = true;
}

void SetElementFullscreen(HWND window, ElementFullscreen& state, bool on, bool windowFullscreen) {
    if (window == nullptr || on == state.active) return;
    state.active = on;
    // The state bits stay the window's own; SetWindowPlacement sets them.
    constexpr LONG_PTR kKept = WS_VISIBLE | WS_MINIMIZE | WS_MAXIMIZE;
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    if (!on) {
        if (!state.coversWindow) return;
        state.coversWindow = false;
        SetWindowLongPtrW(window, GWL_STYLE, (state.savedStyle & ~kKept) | (style & kKept));
        WINDOWPLACEMENT placement = state.savedPlacement;
        if (!IsWindowVisible(window)) placement.showCmd = SW_HIDE;
        SetWindowPlacement(window, &placement);
        SetWindowPos(window, nullptr, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOOWNERZORDER | SWP_FRAMECHANGED);
        return;
    }
    // Already covering the screen; a minimised window has nothing to cover it with.
    if (windowFullscreen || IsIconic(window)) return;
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!GetWindowPlacement(window, &placement) ||
        !GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) {
        return;
    }
    state.savedStyle = style;
    state.savedPlacement = placement;
    state.coversWindow = true;
    SetWindowLongPtrW(window, GWL_STYLE, style & ~kFrameBits);
    const RECT& r = monitor.rcMonitor;
    SetWindowPos(window, HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOOWNERZORDER | SWP_FRAMECHANGED);
}

bool TakeOverElementFullscreen(ElementFullscreen& state, WINDOWPLACEMENT* saved) {
    if (!state.coversWindow) return false;
    state.coversWindow = false;
    if (saved != nullptr) *saved = state.savedPlacement;
    return true;
}

WindowBrowser::Start WindowBrowser::Initialize(const WString& userDataFolder) {
    starting = true;
    const bool ready = host->Initialize(window, userDataFolder, 3);
    starting = false;
    if (closedWhileStarting) {
        // An ordinary end: the quit message is already on its way to the main loop.
        host.reset();
        return Start::Closed;
    }
    // Minimised while the browser came up: it starts hidden, as after WM_SIZE.
    if (ready && host && window != nullptr && IsIconic(window)) WebView::SetBrowserVisible(*host, false);
    return ready ? Start::Ready : Start::Failed;
}

void WindowBrowser::Print() {
    if (!host || window == nullptr) return;
    ++inModalCall;
    host->ShowSystemPrintDialog();
    --inModalCall;
}

void WindowBrowser::RequestPrint() {
    if (window == nullptr || printPosted) return;
    printPosted = PostMessageW(window, kPrintRequestedMessage, 0, 0) != FALSE;
}

void WindowBrowser::OnProcessFailed(WebView::BrowserProcessFailure failure) {
    if (window != nullptr)
        PostMessageW(window, kBrowserProcessFailedMessage, failure == WebView::BrowserProcessFailure::Browser ? 1 : 0, 0);
}

void WindowBrowser::Recover(bool browserDied) {
    if (!host || window == nullptr || closedWhileStarting || DiagnosticUnderway()) return;
    browserLost = browserLost || browserDied;
    if (inModalCall > 0 || starting) {
        SetTimer(window, kRecoverLaterTimer, 500, nullptr);
        return;
    }
    KillTimer(window, kRecoverLaterTimer);
    browserDied = browserLost;
    browserLost = false;
    if (recovery.OnFailure() == ProcessRecovery::Decision::GiveUp)
        ReportContentFailed(browserDied ? kBrowserProcessFailedReason : kRenderProcessFailedReason);
    DebugLog(browserDied ? "player: the browser ended under the content; starting it again"
                         : "player: the page's process ended; loading the content again");
    recovering = true;
    SetBrowserShown(host.get(), false);
    InvalidateRect(window, nullptr, TRUE);
    if (!browserDied) {
        if (reload) reload(*host);
        return;
    }
    // The dead browser's controller is closed with its host; the new host
    // loads the content from its ready callback, as at start-up.
    host.reset();
    if (makeHost) makeHost();
    if (host && Initialize(WebView::UserDataFolder()) == Start::Ready) {
        RECT client{};
        GetClientRect(window, &client);
        host->SetBounds(0, 0, client.right - client.left, client.bottom - client.top);
        SetBrowserShown(host.get(), !recovering && !IsIconic(window));
    }
}

void WindowBrowser::EndRecovery() {
    if (!recovering) return;
    recovering = false;
    // A minimised window's browser stays hidden until the window is restored.
    SetBrowserShown(host.get(), window == nullptr || !IsIconic(window));
    if (window != nullptr) InvalidateRect(window, nullptr, TRUE);
}

LRESULT BrowserWindowProcedure(WindowBrowser& browser, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case kBrowserProcessFailedMessage: browser.Recover(wParam != 0); return 0;
    case kPrintRequestedMessage:
        browser.printPosted = false;
        browser.Print();
        return 0;
    case WM_TIMER:
        if (wParam != kRecoverLaterTimer) return DefWindowProcW(window, message, wParam, lParam);
        browser.Recover(false);
        return 0;
    case WM_MOVE:
        // Where the page's pop-ups open (a drop-down, the input method's window).
        if (browser.host) WebView::NotifyWindowMoved(*browser.host);
        return 0;
    case WM_SIZE:
        if (!browser.host) return 0;
        // A minimised window's page is hidden, so the runtime throttles it.
        if (wParam == SIZE_MINIMIZED) {
            WebView::SetBrowserVisible(*browser.host, false);
            return 0;
        }
        // Shown again unless the window stands in for a browser coming back.
        if ((wParam == SIZE_RESTORED || wParam == SIZE_MAXIMIZED) && !browser.recovering)
            WebView::SetBrowserVisible(*browser.host, true);
        browser.host->SetBounds(0, 0, LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_PAINT:
        if (browser.recovering) {
            const WString notice = Messages::ContentRecovering();
            PaintLoadingText(window, notice.c_str());
        } else {
            PaintLoadingText(window);
        }
        return 0;
    case WM_DPICHANGED:
        // Moved to a monitor of another scale: Windows' rectangle for it (the
        // browser follows through WM_SIZE and rescales itself).
        if (const auto* suggested = reinterpret_cast<const RECT*>(lParam)) {
            SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                         suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        }
        return 0;
    case WM_DESTROY:
        if (browser.starting) {
            browser.closedWhileStarting = true;
        } else if (browser.inModalCall > 0) {
            // The dialog went with the window; the host is let go when the
            // main loop ends, once its call has returned.
        } else {
            browser.host.reset();
        }
        if (window == browser.window) browser.window = nullptr;
        PostQuitMessage(0);
        return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}
