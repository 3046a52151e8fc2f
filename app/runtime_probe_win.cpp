#include "app/runtime_probe_win.h"

#include <windows.h>
#include <shellapi.h>

#include "common/debug_log.h"
#include "common/masking.h"
#include "common/message_box_win.h"
#include "app/download_window_win.h"
#include "runtime/installer_signature_win.h"
#include "runtime/webview2_loader_win.h"

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

std::string DownloadRuntimeInstaller(const WString& url, const WString& path, bool& cancelled) {
    cancelled = false;
    // Replaces a file of that name; nobody else may open it while it is
    // being written.
    HANDLE file = CreateFileW(W(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "cannot write " + WideToUtf8(path);
    const InstallerDownload::Result result = DownloadWithProgress(url, file);
    const bool flushed = FlushFileBuffers(file) != FALSE;
    CloseHandle(file);
    if (result.outcome == InstallerDownload::Outcome::Cancelled) {
        cancelled = true;
        return result.reason;
    }
    if (result.outcome != InstallerDownload::Outcome::Done) return result.reason;
    if (!flushed) return "cannot write " + WideToUtf8(path);
    DebugLog("Browser runtime: downloaded " + std::to_string(result.bytes) + " bytes from " +
             WideToUtf8(result.finalUrl));
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
    const auto downloadError = [&installer](const std::string& why) {
        DeleteFileW(W(installer));
        DebugLog("Browser runtime: " + why);
        ShowMessageBox(u"Failed to download WebView2 Runtime.\nPlease check your internet connection.",
                       u"Download Error", MessageIcon::Error, MessageButtons::Ok);
        return false;
    };
    bool cancelled = false;
    const std::string failure = DownloadRuntimeInstaller(url, installer, cancelled);
    if (cancelled) {
        // The user chose not to install, as when declining at first.
        DeleteFileW(W(installer));
        DebugLog("Browser runtime: download cancelled");
        return false;
    }
    if (!failure.empty()) return downloadError("download failed: " + failure);

    // What is checked is what runs: the file stays open, shared for reading
    // only, until the installer has ended.
    HANDLE held = CreateFileW(W(installer), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    const std::string refusal = CheckInstallerSignature(installer, held);
    if (!refusal.empty()) {
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        return downloadError("installer refused: " + refusal);
    }
    DebugLog("Browser runtime: installer signature accepted");

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
    CloseHandle(held);
    // Run or not, the download has served: none is left for anyone to start.
    DeleteFileW(W(installer));

    if (BrowserRuntimePresent()) {
        DebugLog("Browser runtime: installed");
        return true;
    }
    ShowMessageBox(u"WebView2 installation may have failed.\nPlease restart the application.", u"Installation",
                   MessageIcon::Warning, MessageButtons::Ok);
    return false;
}
