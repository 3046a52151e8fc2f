#include "app/runtime_probe_win.h"

#include <windows.h>
#include <shellapi.h>

#include <filesystem>
#include <fstream>

#include "common/debug_log.h"
#include "common/masking.h"
#include "common/message_box_win.h"
#include "runtime/webview2_loader_win.h"
#include "service/http_client.h"

namespace {

const wchar_t* W(const WString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

} // namespace

bool BrowserRuntimePresent() {
    LPWSTR version = nullptr;
    const HRESULT hr = WebView2Loader::GetAvailableBrowserVersionString(nullptr, &version);
    const bool present = SUCCEEDED(hr) && version != nullptr;
    if (version != nullptr) CoTaskMemFree(version);
    return present;
}

WString RuntimeInstallerPath() {
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH, folder);
    WString path = length > 0 && length <= MAX_PATH ? WString(reinterpret_cast<const char16_t*>(folder), length) : u"";
    return path + u"WebView2Installer.exe";
}

std::string DownloadRuntimeInstaller(const WString& url, const WString& path) {
    HttpResponse response;
    try {
        // The installer's host is not one of the platform's: no pins, the
        // system's certificate validation alone (as a browser would fetch it).
        HttpClient client;
        client.pinningDisabled = true;
        response = client.Get(url);
    } catch (const std::exception& e) {
        return e.what();
    }
    if (!response.error.empty()) return response.error;
    if (!response.ok) return "status " + std::to_string(response.statusCode);
    // A page of text is not an installer: an error page with status 200 must
    // not be handed to ShellExecute.
    if (response.body.size() < 2 || response.body.compare(0, 2, "MZ") != 0) return "not a program";
    std::ofstream out(std::filesystem::path(std::wstring(W(path))), std::ios::binary | std::ios::trunc);
    if (!out) return "cannot write " + WideToUtf8(path);
    out.write(response.body.data(), static_cast<std::streamsize>(response.body.size()));
    out.close();
    if (!out) return "cannot write " + WideToUtf8(path);
    return {};
}

bool EnsureBrowserRuntime() {
    if (BrowserRuntimePresent()) return true;
    DebugLog("Browser runtime: no WebView2 runtime installed");
    const MessageAnswer answer =
        ShowMessageBox(Utf8ToWide("WebView2 Runtime is required to run this application.\n"
                                  "يحتاج هذا التطبيق إلى WebView2 Runtime للتشغيل.\n\n"
                                  "Would you like to install it now?"),
                       u"Kelbro \u2014 Component Required", MessageIcon::Question, MessageButtons::YesNo);
    if (answer != MessageAnswer::Yes) return false;

    const WString url = Utf8ToWide(UnmaskConstant(Config::kRuntimeInstallerUrl));
    ShowMessageBox(Utf8ToWide("WebView2 Runtime is being downloaded and installed.\n"
                              "جاري تحميل وتثبيت WebView2 Runtime.\n\n"
                              "Please wait..."),
                   u"Installing...", MessageIcon::Information, MessageButtons::Ok);

    const WString installer = RuntimeInstallerPath();
    const std::string failure = DownloadRuntimeInstaller(url, installer);
    if (!failure.empty()) {
        DebugLog("Browser runtime: download failed: " + failure);
        ShowMessageBox(u"Failed to download WebView2 Runtime.\nPlease check your internet connection.",
                       u"Download Error", MessageIcon::Error, MessageButtons::Ok);
        return false;
    }

    SHELLEXECUTEINFOW run{};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOCLOSEPROCESS;
    run.lpFile = W(installer);
    run.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&run) && run.hProcess != nullptr) {
        WaitForSingleObject(run.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(run.hProcess, &code);
        DebugLog("Browser runtime: installer ended with " + std::to_string(code));
        CloseHandle(run.hProcess);
    } else {
        DebugLog("Browser runtime: the installer could not be started, error " + std::to_string(GetLastError()));
    }

    if (BrowserRuntimePresent()) {
        DeleteFileW(W(installer));
        DebugLog("Browser runtime: installed");
        return true;
    }
    ShowMessageBox(u"WebView2 installation may have failed.\nPlease restart the application.", u"Installation",
                   MessageIcon::Warning, MessageButtons::Ok);
    return false;
}
