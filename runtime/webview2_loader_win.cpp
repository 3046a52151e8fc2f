#include "runtime/webview2_loader_win.h"

#include "webview2/co_task_text_win.h"
#include "webview2/webview2_object_win.h"

#include <algorithm>
#include <cwchar>
#include <mutex>

namespace WebView2Loader {

namespace {

using namespace WebView2;

const wchar_t* W(const WString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
WString FromW(const wchar_t* text) {
    return text ? WString(reinterpret_cast<const char16_t*>(text), std::wcslen(text)) : WString();
}

WString EnvironmentValue(const char16_t* name) {
    wchar_t buffer[1024];
    const DWORD length = GetEnvironmentVariableW(reinterpret_cast<const wchar_t*>(name), buffer, 1024);
    if (length == 0 || length >= 1024) return {};
    return WString(reinterpret_cast<const char16_t*>(buffer), length);
}

bool IsFile(const WString& path) {
    const DWORD attributes = GetFileAttributesW(W(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

WString WithoutTrailingSeparators(WString path) {
    while (!path.empty() && (path.back() == u'\\' || path.back() == u'/')) path.pop_back();
    return path;
}

WString LibraryIn(const WString& folder) { return WithoutTrailingSeparators(folder) + u"\\" + kLibraryPath; }

// The location value of one channel's key, or nothing.
std::optional<WString> ReadLocation(HKEY root, const WString& keyPath) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, W(keyPath), 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) return std::nullopt;
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD type = 0;
    DWORD bytes = sizeof(buffer) - sizeof(wchar_t);
    const LSTATUS status = RegQueryValueExW(key, reinterpret_cast<const wchar_t*>(kLocationValue), nullptr, &type,
                                            reinterpret_cast<BYTE*>(buffer), &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    // The stored text need not end with its terminator.
    buffer[bytes / sizeof(wchar_t)] = L'\0';
    WString location = WithoutTrailingSeparators(FromW(buffer));
    if (location.empty()) return std::nullopt;
    return location;
}

// The file version of a library as "a.b.c.d", or empty.
WString FileVersionOf(const WString& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(W(path), &ignored);
    if (size == 0) return {};
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoW(W(path), 0, size, data.data())) return {};
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || info == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        return {};
    }
    const auto part = [](DWORD value) { return Utf8ToWide(std::to_string(value)); };
    return part(HIWORD(info->dwFileVersionMS)) + u"." + part(LOWORD(info->dwFileVersionMS)) + u"." +
           part(HIWORD(info->dwFileVersionLS)) + u"." + part(LOWORD(info->dwFileVersionLS));
}

std::vector<unsigned long> VersionParts(const WString& version) {
    std::vector<unsigned long> parts;
    unsigned long current = 0;
    bool digits = true;
    for (char16_t c : version) {
        if (c == u'.') {
            parts.push_back(digits ? current : 0);
            current = 0;
            digits = true;
        } else if (c >= u'0' && c <= u'9' && current < 100000000) {
            current = current * 10 + (c - u'0');
        } else {
            digits = false;
        }
    }
    parts.push_back(digits ? current : 0);
    return parts;
}

} // namespace

const std::vector<Channel>& Channels() {
    static const std::vector<Channel> channels = {
        {u"", kStableClient},
        {u"beta", u"{2CD8A007-E189-409D-A2C8-9AF4EF3C72AA}"},
        {u"dev", u"{0D50BFEC-CD6A-4F9A-964C-C7416E3ACB10}"},
        {u"canary", u"{65C35B14-6C1D-4122-AC46-7148CC9D6497}"},
    };
    return channels;
}

int CompareVersions(const WString& a, const WString& b) {
    std::vector<unsigned long> x = VersionParts(a);
    std::vector<unsigned long> y = VersionParts(b);
    const std::size_t n = std::max(x.size(), y.size());
    x.resize(n, 0);
    y.resize(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    }
    return 0;
}

std::optional<InstalledRuntime> FindInstalledRuntime(const WString& browserFolder, const SearchPlaces& places) {
    WString fixed = browserFolder;
    if (fixed.empty() && places.useEnvironment) fixed = EnvironmentValue(kFolderOverrideVariable);
    if (!fixed.empty()) {
        // A folder named by the caller is used as it is, or not at all.
        InstalledRuntime runtime;
        runtime.folder = WithoutTrailingSeparators(fixed);
        runtime.library = LibraryIn(runtime.folder);
        runtime.fixedVersion = true;
        if (!IsFile(runtime.library)) return std::nullopt;
        runtime.version = FileVersionOf(runtime.library);
        if (runtime.version.empty()) return std::nullopt;
        return runtime;
    }

    std::vector<Channel> order = Channels();
    if (places.useEnvironment && EnvironmentValue(kChannelPreferenceVariable) == u"1")
        std::reverse(order.begin(), order.end());
    for (const Channel& channel : order) {
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            const std::optional<WString> location = ReadLocation(root, places.clientStateKey + channel.client);
            if (!location) continue;
            InstalledRuntime runtime;
            runtime.folder = *location;
            const std::size_t slash = location->find_last_of(u"\\/");
            runtime.version = slash == WString::npos ? *location : location->substr(slash + 1);
            runtime.channel = channel.name;
            runtime.library = LibraryIn(runtime.folder);
            // A record left behind by an uninstalled or too old runtime does not count.
            if (CompareVersions(runtime.version, kMinimumVersion) < 0 || !IsFile(runtime.library)) continue;
            return runtime;
        }
    }
    return std::nullopt;
}

HRESULT GetAvailableBrowserVersionString(LPCWSTR browserFolder, LPWSTR* versionInfo, const SearchPlaces& places) {
    if (versionInfo == nullptr) return E_POINTER;
    *versionInfo = nullptr;
    const std::optional<InstalledRuntime> runtime = FindInstalledRuntime(FromW(browserFolder), places);
    if (!runtime) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    const WString text = runtime->channel.empty() ? runtime->version : runtime->version + u" " + runtime->channel;
    *versionInfo = CoTaskText(text);
    return *versionInfo ? S_OK : E_OUTOFMEMORY;
}

HRESULT CreateEnvironmentWithOptions(LPCWSTR browserFolder, LPCWSTR userDataFolder,
                                     ICoreWebView2EnvironmentOptions* options,
                                     ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
    if (handler == nullptr) return E_POINTER;
    const std::optional<InstalledRuntime> runtime = FindInstalledRuntime(FromW(browserFolder));
    if (!runtime) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    // The library stays loaded for the life of the process: the environment
    // and everything it creates run its code.
    HMODULE library = LoadLibraryExW(W(runtime->library), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) return HRESULT_FROM_WIN32(GetLastError());
    using CreateFunction = HRESULT(STDMETHODCALLTYPE*)(bool, int, LPCWSTR, IUnknown*,
                                                       ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler*);
    const auto create = reinterpret_cast<CreateFunction>(GetProcAddress(library, kCreateEntryPoint));
    if (create == nullptr) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    // Runtime kind: 0 an installed runtime, 1 a fixed-version folder.
    return create(true, runtime->fixedVersion ? 1 : 0, userDataFolder, options, handler);
}

namespace {

class EnvironmentOptions final : public RuntimeObject<EnvironmentOptions, ICoreWebView2EnvironmentOptions> {
public:
    HRESULT STDMETHODCALLTYPE get_AdditionalBrowserArguments(LPWSTR* value) override { return Get(arguments_, value); }
    HRESULT STDMETHODCALLTYPE put_AdditionalBrowserArguments(LPCWSTR value) override { return Put(arguments_, value); }
    HRESULT STDMETHODCALLTYPE get_Language(LPWSTR* value) override { return Get(language_, value); }
    HRESULT STDMETHODCALLTYPE put_Language(LPCWSTR value) override { return Put(language_, value); }
    HRESULT STDMETHODCALLTYPE get_TargetCompatibleBrowserVersion(LPWSTR* value) override {
        return Get(targetVersion_, value);
    }
    HRESULT STDMETHODCALLTYPE put_TargetCompatibleBrowserVersion(LPCWSTR value) override {
        return Put(targetVersion_, value);
    }
    HRESULT STDMETHODCALLTYPE get_AllowSingleSignOnUsingOSPrimaryAccount(BOOL* allow) override {
        if (allow == nullptr) return E_POINTER;
        *allow = singleSignOn_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_AllowSingleSignOnUsingOSPrimaryAccount(BOOL allow) override {
        singleSignOn_ = allow ? TRUE : FALSE;
        return S_OK;
    }

private:
    friend class RuntimeObject<EnvironmentOptions, ICoreWebView2EnvironmentOptions>;
    ~EnvironmentOptions() = default;
    static HRESULT Get(const WString& field, LPWSTR* value) {
        if (value == nullptr) return E_POINTER;
        *value = CoTaskText(field);
        return *value ? S_OK : E_OUTOFMEMORY;
    }
    static HRESULT Put(WString& field, LPCWSTR value) {
        field = FromW(value);
        return S_OK;
    }

    WString arguments_;
    WString language_;
    WString targetVersion_ = kTargetCompatibleVersion;
    BOOL singleSignOn_ = FALSE;
};

} // namespace

ComPtr<ICoreWebView2EnvironmentOptions> CreateEnvironmentOptions() {
    return ComPtr<ICoreWebView2EnvironmentOptions>::Adopt(new EnvironmentOptions());
}

} // namespace WebView2Loader
