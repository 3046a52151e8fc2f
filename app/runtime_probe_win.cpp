#include "app/runtime_probe_win.h"

#include <windows.h>

#include "common/debug_log.h"
#include "common/message_box_win.h"
#include "runtime/webview2_loader_win.h"

bool BrowserRuntimePresent() {
    LPWSTR version = nullptr;
    const HRESULT hr = WebView2Loader::GetAvailableBrowserVersionString(nullptr, &version);
    const bool present = SUCCEEDED(hr) && version != nullptr;
    if (version != nullptr) CoTaskMemFree(version);
    return present;
}

bool EnsureBrowserRuntime() {
    if (BrowserRuntimePresent()) return true;
    DebugLog("Browser runtime: no WebView2 runtime installed");
    ShowMessageBox(Utf8ToWide("WebView2 Runtime is required to run this application.\n"
                              "يحتاج هذا التطبيق إلى WebView2 Runtime للتشغيل.\n\n"
                              "Would you like to install it now?"),
                   u"Kelbro \u2014 Component Required", MessageIcon::Question, MessageButtons::YesNo);
    return false;
}
