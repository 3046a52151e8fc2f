#include "app/splash_win.h"

#include <objidl.h>
#include <gdiplus.h>

#include <vector>

#include "app/messages.h"
#include "app/splash_pixels.h"
#include "common/debug_log.h"
#include "common/message_box_win.h"
#include "common/splash_handle_win.h"

namespace {

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

LRESULT CALLBACK SplashProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NCHITTEST: return HTCAPTION; // dragged by any point
    case WM_DESTROY:
        if (SplashHandle() == window) SetSplashHandle(nullptr);
        return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool RegisterSplashClass(HINSTANCE instance) {
    static bool registered = false;
    if (registered) return true;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = SplashProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_APPSTARTING);
    wc.lpszClassName = kSplashWindowClass;
    registered = RegisterClassExW(&wc) != 0;
    return registered;
}

// A failed step of showing the splash: its box, then the one log line;
// start-up goes on without a splash.
void SplashFailed(const char16_t* message) {
    if (message != nullptr) ShowMessageBox(message, u"Splash Error", MessageIcon::None, MessageButtons::Ok);
    DebugLog("Failed to create splash screen from embedded resources.");
}

// The resource's bytes in a stream that frees its memory on release; null
// after reporting the step that failed.
IStream* ResourceStream(HINSTANCE instance) {
    HRSRC resource = FindResourceW(instance, MAKEINTRESOURCEW(kSplashImageId), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (resource == nullptr) {
        SplashFailed(u"FindResourceW failed. Could not find resource ID 102.");
        return nullptr;
    }
    const DWORD size = SizeofResource(instance, resource);
    HGLOBAL loaded = LoadResource(instance, resource);
    if (loaded == nullptr) {
        SplashFailed(u"LoadResource failed.");
        return nullptr;
    }
    const void* bytes = LockResource(loaded);
    if (bytes == nullptr) {
        SplashFailed(u"LockResource failed.");
        return nullptr;
    }
    HGLOBAL copy = size != 0 ? GlobalAlloc(GMEM_MOVEABLE, size) : nullptr;
    void* target = copy != nullptr ? GlobalLock(copy) : nullptr;
    if (target == nullptr) {
        if (copy != nullptr) GlobalFree(copy);
        SplashFailed(u"CreateStreamOnHGlobal failed.");
        return nullptr;
    }
    CopyMemory(target, bytes, size);
    GlobalUnlock(copy);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(copy, TRUE, &stream)) || stream == nullptr) {
        GlobalFree(copy);
        SplashFailed(u"CreateStreamOnHGlobal failed.");
        return nullptr;
    }
    return stream;
}

// Premultiplied pixels into a top-down DIB, then onto the layered window.
bool DrawLayered(HWND window, GpBitmap* bitmap, int x, int y, int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (dib == nullptr || bits == nullptr) {
        if (dib != nullptr) DeleteObject(dib);
        return false;
    }
    GpRect rect(0, 0, width, height);
    BitmapData data{};
    if (GdipBitmapLockBits(bitmap, &rect, ImageLockModeRead, PixelFormat32bppARGB, &data) != Ok) {
        DeleteObject(dib);
        return false;
    }
    PremultiplyBgra(static_cast<const std::uint8_t*>(data.Scan0), data.Stride, static_cast<std::uint8_t*>(bits), width,
                    height);
    GdipBitmapUnlockBits(bitmap, &data);

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(memory, dib);
    POINT position{x, y};
    SIZE size{width, height};
    POINT source{0, 0};
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    const BOOL drawn = UpdateLayeredWindow(window, screen, &position, &size, memory, &source, 0, &blend, ULW_ALPHA);
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    DeleteObject(dib);
    return drawn != FALSE;
}

constexpr wchar_t kNoticeClass[] = L"TovaniConnectingNotice";
constexpr int kGiveUpId = 1;
constexpr int kNoticeWidth = 440;
constexpr int kNoticeHeight = 130;
HWND gNotice = nullptr;
void (*gGiveUp)() = nullptr;

LRESULT CALLBACK NoticeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == kGiveUpId && gGiveUp != nullptr) gGiveUp();
        return 0;
    case WM_CLOSE:
        if (gGiveUp != nullptr) gGiveUp();
        return 0;
    case WM_DESTROY:
        if (gNotice == window) gNotice = nullptr;
        return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

const wchar_t* W(const WString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

} // namespace

void ShowConnectingNotice(HINSTANCE instance, bool shown, void (*giveUp)()) {
    if (!shown) {
        if (gNotice != nullptr) DestroyWindow(gNotice);
        gNotice = nullptr;
        return;
    }
    if (gNotice != nullptr) return;
    gGiveUp = giveUp;
    static bool registered = false;
    if (!registered) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = NoticeProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = kNoticeClass;
        registered = RegisterClassExW(&wc) != 0;
        if (!registered) return;
    }
    // Over the middle of the splash, which is centred on the screen.
    const int x = (GetSystemMetrics(SM_CXSCREEN) - kNoticeWidth) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - kNoticeHeight) * 2 / 3;
    HWND notice = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kNoticeClass, L"Tovani - Connecting",
                                  WS_POPUP | WS_BORDER | WS_VISIBLE, x, y, kNoticeWidth, kNoticeHeight, SplashHandle(),
                                  nullptr, instance, nullptr);
    if (notice == nullptr) return;
    CreateWindowExW(0, L"STATIC", W(Messages::ConnectingNotice()), WS_CHILD | WS_VISIBLE | SS_CENTER, 10, 12,
                    kNoticeWidth - 20, 56, notice, nullptr, instance, nullptr);
    CreateWindowExW(0, L"BUTTON", W(Messages::ConnectingGiveUp()), WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON,
                    (kNoticeWidth - 140) / 2, 80, 140, 32, notice,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(kGiveUpId)), instance, nullptr);
    gNotice = notice;
    UpdateWindow(notice);
}

void ShowSplash(HINSTANCE instance) {
    if (SplashHandle() != nullptr) return;
    IStream* stream = ResourceStream(instance);
    if (stream == nullptr) return;
    GpBitmap* bitmap = nullptr;
    UINT width = 0;
    UINT height = 0;
    if (GdipCreateBitmapFromStream(stream, &bitmap) == Ok && bitmap != nullptr) {
        GdipGetImageWidth(bitmap, &width);
        GdipGetImageHeight(bitmap, &height);
    }
    if (width == 0 || height == 0) {
        // Damaged or empty image data.
        if (bitmap != nullptr) GdipDisposeImage(bitmap);
        stream->Release();
        SplashFailed(u"Gdiplus::Bitmap::FromStream failed.");
        return;
    }
    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    HWND window = RegisterSplashClass(instance)
                      ? CreateWindowExW(WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kSplashWindowClass,
                                        L"Kelbro Splash", WS_POPUP | WS_VISIBLE, x, y, w, h, nullptr, nullptr, instance,
                                        nullptr)
                      : nullptr;
    if (window == nullptr) {
        SplashFailed(nullptr);
    } else {
        SetSplashHandle(window);
        if (!DrawLayered(window, bitmap, x, y, w, h)) DebugLog("Splash: image cannot be drawn");
    }
    GdipDisposeImage(bitmap);
    stream->Release();
}
