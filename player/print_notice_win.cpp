#include "player/print_notice_win.h"

#include <string>

#include "common/dpi_win.h"
#include "player/player_messages.h"

namespace {

constexpr UINT_PTR kGoTimer = 1;
constexpr int kWidth = 420;      // at 96 DPI
constexpr int kLineHeight = 22;  // at 96 DPI
constexpr int kPadding = 12;     // at 96 DPI
constexpr int kFromBottom = 40;  // at 96 DPI
HWND gNotice = nullptr;

struct NoticeLook {
    COLORREF background;
    HFONT font;
};

// The lines of the notice, each laid out in its own direction: the English
// one left to right, the Arabic one right to left with its punctuation at
// its left end.
void PaintLines(HWND window, HDC dc) {
    RECT client{};
    GetClientRect(window, &client);
    const auto* look = reinterpret_cast<const NoticeLook*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    HBRUSH brush = CreateSolidBrush(look != nullptr ? look->background : RGB(170, 40, 40));
    FillRect(dc, &client, brush);
    DeleteObject(brush);
    if (look == nullptr) return;
    const UINT dpi = WindowDpi(window);
    HGDIOBJ old = SelectObject(dc, look->font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), length + 1)));
    int top = ScaleForDpi(kPadding, dpi);
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        bool rightToLeft = false;
        for (const wchar_t c : line) rightToLeft = rightToLeft || (c >= 0x0590 && c <= 0x08FF);
        RECT row{client.left, top, client.right, top + ScaleForDpi(kLineHeight, dpi)};
        DrawTextW(dc, line.c_str(), static_cast<int>(line.size()), &row,
                  DT_CENTER | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | (rightToLeft ? DT_RTLREADING : 0));
        top += ScaleForDpi(kLineHeight, dpi);
        start = end + 1;
    }
    SelectObject(dc, old);
}

HFONT NoticeFont(UINT dpi) {
    return CreateFontW(-ScaleForDpi(15, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, VARIABLE_PITCH | FF_SWISS, L"Segoe UI");
}

// Bottom centre of the owner's client area, at the owner's scale.
void Place(HWND notice, HWND owner, int lines) {
    const UINT dpi = WindowDpi(owner);
    RECT client{};
    GetClientRect(owner, &client);
    POINT origin{0, 0};
    ClientToScreen(owner, &origin);
    const int width = ScaleForDpi(kWidth, dpi);
    const int height = ScaleForDpi(kLineHeight, dpi) * lines + 2 * ScaleForDpi(kPadding, dpi);
    const int x = origin.x + (client.right - client.left - width) / 2;
    const int y = origin.y + client.bottom - height - ScaleForDpi(kFromBottom, dpi);
    SetWindowPos(notice, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK NoticeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        PaintLines(window, dc);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_TIMER:
        if (wParam == kGoTimer) DestroyWindow(window);
        return 0;
    case WM_MOUSEACTIVATE: return MA_NOACTIVATE;
    case WM_DPICHANGED:
        if (auto* look = reinterpret_cast<NoticeLook*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
            DeleteObject(look->font);
            look->font = NoticeFont(DpiOfChange(wParam));
        }
        ApplySuggestedDpiRect(window, lParam);
        InvalidateRect(window, nullptr, TRUE);
        return 0;
    case WM_NCDESTROY:
        if (auto* look = reinterpret_cast<NoticeLook*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
            DeleteObject(look->font);
            delete look;
        }
        if (gNotice == window) gNotice = nullptr;
        break;
    default: break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

void ShowPrintNotice(HWND owner, PrintOutcome outcome) {
    if (gNotice != nullptr) DestroyWindow(gNotice);
    const WString text = Messages::PrintNotice(outcome);
    if (text.empty() || IsWindow(owner) == FALSE) return;
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    if (!GetClassInfoExW(instance, kPrintNoticeClass, &wc)) {
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = NoticeProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = kPrintNoticeClass;
        RegisterClassExW(&wc);
    }
    // Owned by the player window: above it, gone with it, never taking the keyboard.
    HWND notice = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kPrintNoticeClass,
                                  reinterpret_cast<const wchar_t*>(text.c_str()), WS_POPUP, 0, 0, 0, 0, owner, nullptr,
                                  instance, nullptr);
    if (notice == nullptr) return;
    const bool printed = outcome == PrintOutcome::Succeeded;
    auto* look = new NoticeLook{printed ? RGB(30, 120, 60) : RGB(170, 40, 40), NoticeFont(WindowDpi(owner))};
    SetWindowLongPtrW(notice, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(look));
    int lines = 1;
    for (const char16_t c : text) lines += c == u'\n' ? 1 : 0;
    Place(notice, owner, lines);
    ShowWindow(notice, SW_SHOWNOACTIVATE);
    SetTimer(notice, kGoTimer, kPrintNoticeMs, nullptr);
    gNotice = notice;
}
