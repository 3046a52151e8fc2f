// The download's progress window: a small topmost window with the two
// language lines, a bar, the bytes so far and a Cancel button, repainted from
// a timer while the download runs on its own thread.
#include "app/download_window_win.h"

#include <cstdio>
#include <thread>

#include "common/dpi_win.h"

namespace {

constexpr wchar_t kClassName[] = L"TovaniDownloadWindow";
constexpr UINT_PTR kTimer = 1;
constexpr UINT kTimerMs = 100;
// Lengths at 96 DPI; the window is laid out for its monitor's scale.
constexpr int kWidth = 480;
constexpr int kHeight = 230;
constexpr int kFontHeight = 18;

struct WindowState {
    InstallerDownload* download = nullptr;
    bool cancelling = false;
    HFONT font = nullptr;
    UINT dpi = kBaseDpi;
    int Px(int length) const { return ScaleForDpi(length, dpi); }
};

HFONT MakeFont(UINT dpi) {
    return CreateFontW(ScaleForDpi(kFontHeight, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                       L"Segoe UI");
}

const wchar_t* W(const WString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

std::string Amount(std::uint64_t bytes) {
    char text[32];
    if (bytes < 1024 * 1024) {
        std::snprintf(text, sizeof text, "%llu KB", static_cast<unsigned long long>(bytes / 1024));
    } else {
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    }
    return text;
}

// The English line, then the Arabic one read right to left, each centred.
void DrawLines(HDC dc, const WString& text, RECT area) {
    const std::size_t split = text.find(u'\n');
    const WString english = text.substr(0, split);
    const WString arabic = split == WString::npos ? WString() : text.substr(split + 1);
    const int height = (area.bottom - area.top) / 2;
    RECT first{area.left, area.top, area.right, area.top + height};
    RECT second{area.left, area.top + height, area.right, area.bottom};
    DrawTextW(dc, W(english), -1, &first, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
    DrawTextW(dc, W(arabic), -1, &second, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX | DT_RTLREADING);
}

void Paint(HWND window, const WindowState& state) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    HGDIOBJ oldFont = SelectObject(dc, state.font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));

    DrawLines(dc, Utf8ToWide("Downloading WebView2 Runtime...\nجاري تحميل WebView2 Runtime..."),
              RECT{state.Px(16), state.Px(12), client.right - state.Px(16), state.Px(64)});

    const std::uint64_t received = state.download->Received();
    const std::uint64_t total = state.download->Total();
    RECT bar{state.Px(16), state.Px(72), client.right - state.Px(16), state.Px(92)};
    FrameRect(dc, &bar, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    if (total > 0) {
        RECT filled = bar;
        InflateRect(&filled, -state.Px(2), -state.Px(2));
        const std::uint64_t shown = received < total ? received : total;
        filled.right = filled.left + static_cast<LONG>((filled.right - filled.left) * shown / total);
        HBRUSH fill = CreateSolidBrush(RGB(0, 120, 215));
        FillRect(dc, &filled, fill);
        DeleteObject(fill);
    }

    DrawLines(dc, state.cancelling ? Utf8ToWide("Cancelling...\nجاري الإلغاء...") : DownloadProgressText(received, total),
              RECT{state.Px(16), state.Px(100), client.right - state.Px(16), state.Px(150)});
    SelectObject(dc, oldFont);
    EndPaint(window, &paint);
}

// The Cancel button, centred under the text.
void PlaceButton(HWND window, const WindowState& state) {
    RECT client;
    GetClientRect(window, &client);
    const int width = state.Px(160);
    SetWindowPos(GetDlgItem(window, IDCANCEL), nullptr, (client.right - width) / 2, client.bottom - state.Px(48), width,
                 state.Px(32), SWP_NOZORDER | SWP_NOACTIVATE);
}

void RequestCancel(HWND window, WindowState& state) {
    if (state.cancelling) return;
    state.cancelling = true;
    state.download->Cancel();
    EnableWindow(GetDlgItem(window, IDCANCEL), FALSE);
    InvalidateRect(window, nullptr, FALSE);
}

LRESULT CALLBACK DownloadWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<WindowState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_NCCREATE: {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        break;
    }
    case WM_PAINT:
        if (state != nullptr) {
            Paint(window, *state);
            return 0;
        }
        break;
    case WM_ERASEBKGND:
        return 1;
    case WM_TIMER:
        if (state != nullptr && wParam == kTimer) {
            // The watchdog: a line silent for too long ends the download.
            if (!state->download->Finished() &&
                GetTickCount64() - state->download->LastActivity() > kInactivityMs) {
                state->download->Cancel(true);
            }
            InvalidateRect(window, nullptr, FALSE);
            return 0;
        }
        break;
    case WM_COMMAND:
        if (state != nullptr && LOWORD(wParam) == IDCANCEL) {
            RequestCancel(window, *state);
            return 0;
        }
        break;
    case WM_CLOSE:
        if (state != nullptr) RequestCancel(window, *state);
        return 0;
    case WM_DPICHANGED:
        if (state != nullptr) {
            // Moved to a monitor of another scale: font, size and button for it.
            state->dpi = DpiOfChange(wParam);
            if (HFONT font = MakeFont(state->dpi)) {
                if (state->font != nullptr) DeleteObject(state->font);
                state->font = font;
            }
            ApplySuggestedDpiRect(window, lParam);
            SendMessageW(GetDlgItem(window, IDCANCEL), WM_SETFONT, reinterpret_cast<WPARAM>(state->font), TRUE);
            PlaceButton(window, *state);
            InvalidateRect(window, nullptr, FALSE);
        }
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterDownloadClass(HINSTANCE instance) {
    static bool registered = false;
    if (registered) return true;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = DownloadWindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(101));
    wc.lpszClassName = kClassName;
    registered = RegisterClassExW(&wc) != 0;
    return registered;
}

} // namespace

WString DownloadProgressText(std::uint64_t received, std::uint64_t total) {
    std::string english;
    std::string arabic;
    if (total > 0) {
        const unsigned percent = static_cast<unsigned>((received < total ? received : total) * 100 / total);
        const std::string share = " (" + std::to_string(percent) + "%)";
        english = Amount(received) + " of " + Amount(total) + share;
        arabic = Amount(received) + " من " + Amount(total) + share;
    } else {
        english = Amount(received) + " downloaded";
        arabic = "تم تحميل " + Amount(received);
    }
    return Utf8ToWide(english + "\n" + arabic);
}

InstallerDownload::Result DownloadWithProgress(const WString& url, HANDLE file) {
    InstallerDownload download;
    InstallerDownload::Result result;
    std::thread worker([&download, &result, &url, file] { result = download.Run(url, file); });

    HINSTANCE instance = GetModuleHandleW(nullptr);
    WindowState state;
    state.download = &download;
    // Centred on the primary screen, at that monitor's scale.
    state.dpi = PrimaryMonitorDpi();
    state.font = MakeFont(state.dpi);
    HWND window = nullptr;
    if (RegisterDownloadClass(instance)) {
        const int width = state.Px(kWidth);
        const int height = state.Px(kHeight);
        const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
        const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
        window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_DLGMODALFRAME, kClassName, L"Tovani - Downloading",
                                 WS_CAPTION | WS_SYSMENU | WS_VISIBLE, x, y, width, height, nullptr, nullptr, instance,
                                 &state);
    }
    if (window != nullptr) {
        const WString cancel = Utf8ToWide("Cancel - إلغاء");
        HWND button = CreateWindowExW(0, L"BUTTON", W(cancel), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0,
                                      0, 0, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDCANCEL)), instance,
                                      nullptr);
        SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(state.font), TRUE);
        PlaceButton(window, state);
        SetForegroundWindow(window);
        // Keyboard alone: the button has the focus, Escape cancels, Tab and Enter as in a dialog.
        SetFocus(button);
        SetTimer(window, kTimer, kTimerMs, nullptr);
        MSG message;
        while (!download.Finished()) {
            // The timer wakes the loop at least every kTimerMs.
            const BOOL got = GetMessageW(&message, nullptr, 0, 0);
            if (got == 0) {
                // Someone asked the program to end: stop, and pass it on.
                download.Cancel();
                PostQuitMessage(static_cast<int>(message.wParam));
                break;
            }
            if (got < 0) {
                download.Cancel();
                break;
            }
            if (IsDialogMessageW(window, &message)) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        KillTimer(window, kTimer);
        DestroyWindow(window);
    } else {
        // No window to show: the download still runs, with no way to cancel
        // but the watchdog's.
        while (!download.Finished()) {
            if (GetTickCount64() - download.LastActivity() > kInactivityMs) download.Cancel(true);
            Sleep(kTimerMs);
        }
    }
    worker.join();
    if (state.font != nullptr) DeleteObject(state.font);
    return result;
}
