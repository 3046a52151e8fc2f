#include "app/splash_win.h"

#include <objidl.h>
#include <gdiplus.h>

#include <utility>
#include <vector>

#include "app/messages.h"
#include "app/splash_pixels.h"
#include "common/debug_log.h"
#include "common/dpi_win.h"
#include "common/message_box_win.h"
#include "common/splash_handle_win.h"

namespace {

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

// The image's straight-alpha BGRA rows at its own size, kept while the
// splash is shown so that it can be drawn again at another monitor's scale.
struct SplashImage {
    std::vector<std::uint8_t> pixels;
    int width = 0;
    int height = 0;
};
SplashImage gImage;

bool DrawLayered(HWND window, int x, int y, UINT dpi);

LRESULT CALLBACK SplashProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NCHITTEST: return HTCAPTION; // dragged by any point
    case WM_DPICHANGED:
        // Dragged onto a monitor of another scale: the image drawn again at
        // that scale where Windows puts the window.
        if (const auto* suggested = reinterpret_cast<const RECT*>(lParam)) {
            DrawLayered(window, suggested->left, suggested->top, DpiOfChange(wParam));
        }
        return 0;
    case WM_DESTROY:
        if (SplashHandle() == window) SetSplashHandle(nullptr);
        gImage = SplashImage(); // the one splash of the process is gone
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

// The image's pixels, copied out of the decoded bitmap; false when they
// cannot be read.
bool KeepImage(GpBitmap* bitmap, int width, int height) {
    GpRect rect(0, 0, width, height);
    BitmapData data{};
    if (GdipBitmapLockBits(bitmap, &rect, ImageLockModeRead, PixelFormat32bppARGB, &data) != Ok) return false;
    SplashImage image;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<std::size_t>(width) * height * 4);
    const auto* source = static_cast<const std::uint8_t*>(data.Scan0);
    for (int row = 0; row < height; ++row) {
        CopyMemory(image.pixels.data() + static_cast<std::size_t>(row) * width * 4, source + std::ptrdiff_t{row} * data.Stride,
                   static_cast<std::size_t>(width) * 4);
    }
    GdipBitmapUnlockBits(bitmap, &data);
    gImage = std::move(image);
    return true;
}

// The kept image resampled to width x height (straight alpha, rows width * 4
// apart); empty when GDI+ cannot do it.
std::vector<std::uint8_t> Resampled(int width, int height) {
    std::vector<std::uint8_t> out;
    GpBitmap* source = nullptr;
    GpBitmap* target = nullptr;
    GpGraphics* graphics = nullptr;
    GpImageAttributes* attributes = nullptr;
    bool drawn = false;
    if (GdipCreateBitmapFromScan0(gImage.width, gImage.height, gImage.width * 4, PixelFormat32bppARGB,
                                  gImage.pixels.data(), &source) == Ok &&
        GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, &target) == Ok &&
        GdipGetImageGraphicsContext(target, &graphics) == Ok && GdipCreateImageAttributes(&attributes) == Ok) {
        GdipSetInterpolationMode(graphics, InterpolationModeHighQualityBicubic);
        GdipSetPixelOffsetMode(graphics, PixelOffsetModeHighQuality);
        GdipSetCompositingMode(graphics, CompositingModeSourceCopy);
        // Edge pixels mirrored outward, so that the border does not fade.
        GdipSetImageAttributesWrapMode(attributes, WrapModeTileFlipXY, 0, FALSE);
        drawn = GdipDrawImageRectRectI(graphics, source, 0, 0, width, height, 0, 0, gImage.width, gImage.height,
                                       UnitPixel, attributes, nullptr, nullptr) == Ok;
    }
    if (attributes != nullptr) GdipDisposeImageAttributes(attributes);
    if (graphics != nullptr) GdipDeleteGraphics(graphics);
    GpRect rect(0, 0, width, height);
    BitmapData data{};
    if (drawn && GdipBitmapLockBits(target, &rect, ImageLockModeRead, PixelFormat32bppARGB, &data) == Ok) {
        out.resize(static_cast<std::size_t>(width) * height * 4);
        const auto* rows = static_cast<const std::uint8_t*>(data.Scan0);
        for (int row = 0; row < height; ++row) {
            CopyMemory(out.data() + static_cast<std::size_t>(row) * width * 4, rows + std::ptrdiff_t{row} * data.Stride,
                       static_cast<std::size_t>(width) * 4);
        }
        GdipBitmapUnlockBits(target, &data);
    }
    if (target != nullptr) GdipDisposeImage(target);
    if (source != nullptr) GdipDisposeImage(source);
    return out;
}

// The kept image at the scale of dpi (its own pixels at 96 DPI), premultiplied
// into a top-down DIB, then onto the layered window at (x, y).
bool DrawLayered(HWND window, int x, int y, UINT dpi) {
    if (gImage.pixels.empty()) return false;
    const int width = ScaleForDpi(gImage.width, dpi);
    const int height = ScaleForDpi(gImage.height, dpi);
    if (width <= 0 || height <= 0) return false;
    std::vector<std::uint8_t> scaled;
    const std::uint8_t* pixels = gImage.pixels.data();
    if (width != gImage.width || height != gImage.height) {
        scaled = Resampled(width, height);
        if (scaled.empty()) return false;
        pixels = scaled.data();
    }
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
    PremultiplyBgra(pixels, std::ptrdiff_t{width} * 4, static_cast<std::uint8_t*>(bits), width, height);

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
constexpr int kNoticeTextId = 2;
// At 96 DPI; scaled for the monitor's.
constexpr int kNoticeWidth = 440;
constexpr int kNoticeHeight = 130;
HWND gNotice = nullptr;
void (*gGiveUp)() = nullptr;

// The notice's text and button, placed for the notice's scale.
void LayOutNotice(HWND notice, UINT dpi) {
    const auto px = [dpi](int length) { return ScaleForDpi(length, dpi); };
    SetWindowPos(GetDlgItem(notice, kNoticeTextId), nullptr, px(10), px(12), px(kNoticeWidth - 20), px(56),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(GetDlgItem(notice, kGiveUpId), nullptr, px((kNoticeWidth - 140) / 2), px(80), px(140), px(32),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK NoticeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DPICHANGED:
        ApplySuggestedDpiRect(window, lParam);
        LayOutNotice(window, DpiOfChange(wParam));
        return 0;
    case WM_COMMAND:
        // The button, Enter (its default) or Escape (IDCANCEL, from the dialog keys).
        if ((LOWORD(wParam) == kGiveUpId || LOWORD(wParam) == IDCANCEL) && HIWORD(wParam) == BN_CLICKED &&
            gGiveUp != nullptr)
            gGiveUp();
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
    // Over the middle of the splash, which is centred on the primary screen
    // at that monitor's scale.
    const UINT dpi = PrimaryMonitorDpi();
    const int width = ScaleForDpi(kNoticeWidth, dpi);
    const int height = ScaleForDpi(kNoticeHeight, dpi);
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - height) * 2 / 3;
    HWND notice = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kNoticeClass, L"Tovani - Connecting",
                                  WS_POPUP | WS_BORDER | WS_VISIBLE, x, y, width, height, SplashHandle(), nullptr,
                                  instance, nullptr);
    if (notice == nullptr) return;
    CreateWindowExW(0, L"STATIC", W(Messages::ConnectingNotice()), WS_CHILD | WS_VISIBLE | SS_CENTER, 0, 0, 0, 0,
                    notice, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kNoticeTextId)), instance, nullptr);
    HWND button = CreateWindowExW(0, L"BUTTON", W(Messages::ConnectingGiveUp()),
                                  WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0, 0, 0, notice,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kGiveUpId)), instance, nullptr);
    LayOutNotice(notice, dpi);
    gNotice = notice;
    UpdateWindow(notice);
    // The notice takes the keyboard when it appears.
    SetForegroundWindow(notice);
    SetFocus(button);
}

bool ConnectingNoticeKey(MSG* message) {
    return gNotice != nullptr && message != nullptr && IsDialogMessageW(gNotice, message) != FALSE;
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
    // Sized for the primary monitor's scale, where it is centred.
    const UINT dpi = PrimaryMonitorDpi();
    const int w = ScaleForDpi(static_cast<int>(width), dpi);
    const int h = ScaleForDpi(static_cast<int>(height), dpi);
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
        if (!KeepImage(bitmap, static_cast<int>(width), static_cast<int>(height)) ||
            !DrawLayered(window, x, y, dpi)) {
            DebugLog("Splash: image cannot be drawn");
        }
    }
    GdipDisposeImage(bitmap);
    stream->Release();
}
