#include "player/shell_window_win.h"

#include "player/player_messages.h"

namespace {
constexpr int kPlayerWidth = 1280;
constexpr int kPlayerHeight = 720;
// WS_CAPTION, WS_THICKFRAME, WS_MINIMIZEBOX, WS_MAXIMIZEBOX.
constexpr LONG_PTR kFrameBits = 0x00CF0000;
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

void PaintLoadingText(HWND window) {
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
    DrawTextW(dc, reinterpret_cast<const wchar_t*>(kLoadingText), -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
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
        SetWindowPos(window, nullptr, 0, 0, kPlayerWidth, kPlayerHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED);
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

WindowBrowser::Start WindowBrowser::Initialize(const WString& userDataFolder) {
    starting = true;
    const bool ready = host->Initialize(window, userDataFolder, 3);
    starting = false;
    if (closedWhileStarting) {
        // An ordinary end: the quit message is already on its way to the main loop.
        host.reset();
        return Start::Closed;
    }
    return ready ? Start::Ready : Start::Failed;
}

void WindowBrowser::Print() {
    if (!host || window == nullptr) return;
    ++inModalCall;
    host->ShowSystemPrintDialog();
    --inModalCall;
}

LRESULT BrowserWindowProcedure(WindowBrowser& browser, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        if (browser.host) browser.host->SetBounds(0, 0, LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_PAINT: PaintLoadingText(window); return 0;
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
