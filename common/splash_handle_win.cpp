#include "common/splash_handle_win.h"

namespace {
// Touched on the user-interface thread only.
HWND splashWindow = nullptr;
} // namespace

HWND SplashHandle() { return splashWindow; }

void SetSplashHandle(HWND window) { splashWindow = window; }

void CloseSplash() {
    if (splashWindow == nullptr) return;
    const HWND window = splashWindow;
    splashWindow = nullptr;
    DestroyWindow(window);
}
