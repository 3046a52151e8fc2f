// The program's own WebView2 loader against the stand-in runtime installed in
// the Wine prefix: the registry records it finds, the version it reports, and
// the environment it creates through the library's internal entry point.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>

#include "runtime/webview2_loader_win.h"
#include "tests/support/standin_runtime_win.h"
#include "tests/support/test_support.h"
#include "webview2/co_task_text_win.h"

using namespace WebView2;
using namespace WebView2Loader;

namespace {

namespace fs = std::filesystem;

std::wstring W(const std::string& utf8) {
    const WString w = Utf8ToWide(utf8);
    return std::wstring(w.begin(), w.end());
}

// Runtime records of a test's own, under a private registry path, beside
// folders that hold (or lack) a browser library.
class PrivateRecords {
public:
    PrivateRecords() {
        base_ = u"SOFTWARE\\TovaniTest\\Loader" + Utf8ToWide(std::to_string(GetCurrentProcessId())) + u"\\";
        root_ = fs::temp_directory_path() / ("tovani-loader-" + std::to_string(GetCurrentProcessId()));
        places.clientStateKey = base_;
        places.useEnvironment = false;
    }
    ~PrivateRecords() {
        for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            RegDeleteTreeW(hive, reinterpret_cast<const wchar_t*>(base_.c_str()));
            // The 32-bit view is where the records go.
            HKEY view = nullptr;
            if (RegOpenKeyExW(hive, L"SOFTWARE", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &view) == ERROR_SUCCESS) {
                RegDeleteTreeW(view, reinterpret_cast<const wchar_t*>(base_.substr(9).c_str()));
                RegCloseKey(view);
            }
        }
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    // A runtime folder named for version; with a library unless told otherwise.
    std::string Folder(const std::string& name, const std::string& version, bool withLibrary = true) {
        const fs::path folder = root_ / name / version;
        fs::create_directories(folder / "EBWebView" / "x64");
        if (withLibrary) std::ofstream(folder / "EBWebView" / "x64" / "EmbeddedBrowserWebView.dll") << "MZ";
        const std::u8string text = folder.u8string();
        return std::string(text.begin(), text.end());
    }
    void Record(HKEY hive, const char16_t* client, const std::string& folder) {
        const WString path = base_ + client;
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(hive, reinterpret_cast<const wchar_t*>(path.c_str()), 0, nullptr, 0,
                                  KEY_WRITE | KEY_WOW64_32KEY, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const std::wstring value = W(folder);
        RegSetValueExW(key, L"EBWebView", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    SearchPlaces places;

private:
    WString base_;
    fs::path root_;
};

const char16_t* ClientOf(const char16_t* channel) {
    for (const Channel& c : Channels()) {
        if (WString(c.name) == channel) return c.client;
    }
    return nullptr;
}

std::string VersionString(const SearchPlaces& places, LPCWSTR folder = nullptr) {
    LPWSTR text = nullptr;
    const HRESULT hr = GetAvailableBrowserVersionString(folder, &text, places);
    if (FAILED(hr)) return text == nullptr ? "failed" : "failed, yet a string";
    return WideToUtf8(TakeCoTaskText(text));
}

// Records what the environment-completed handler was told.
class EnvironmentHandler final : public ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IidOf<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>) {
            *out = this;
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE Invoke(HRESULT code, ICoreWebView2Environment* environment) override {
        ++calls;
        result = code;
        if (environment != nullptr) {
            LPWSTR version = nullptr;
            environment->get_BrowserVersionString(&version);
            browserVersion = WideToUtf8(TakeCoTaskText(version));
            // A view of the environment through an optional interface.
            hasPrintSettings = QueryAs<ICoreWebView2Environment6>(environment, IidOf<ICoreWebView2Environment6>)
                                   .get() != nullptr;
        }
        gotEnvironment = environment != nullptr;
        return S_OK;
    }
    ULONG references = 1;
    int calls = 0;
    HRESULT result = E_PENDING;
    bool gotEnvironment = false;
    bool hasPrintSettings = false;
    std::string browserVersion;
};

void PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(timeoutMs);
    while (!done() && GetTickCount() < end) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    }
}

} // namespace

TEST(WebView2Loader, FindsTheInstalledRuntimeWhereTheInstallerRecordsIt) {
    ASSERT_EQ(TestSupport::InstallStandInRuntime(), "");
    const std::optional<InstalledRuntime> runtime = FindInstalledRuntime();
    ASSERT_TRUE(runtime.has_value());
    EXPECT_EQ(WideToUtf8(runtime->version), TestSupport::kStandInVersion);
    EXPECT_EQ(WideToUtf8(runtime->channel), "");
    EXPECT_FALSE(runtime->fixedVersion);
    EXPECT_EQ(WideToUtf8(runtime->library),
              TestSupport::StandInRuntimeFolder() + "\\EBWebView\\x64\\EmbeddedBrowserWebView.dll");
    EXPECT_EQ(VersionString({}), TestSupport::kStandInVersion);

    // The same folder named directly is a fixed-version runtime: its version
    // comes from the library's own version resource.
    const std::wstring folder = W(TestSupport::StandInRuntimeFolder());
    const std::optional<InstalledRuntime> fixed = FindInstalledRuntime(WString(folder.begin(), folder.end()));
    ASSERT_TRUE(fixed.has_value());
    EXPECT_TRUE(fixed->fixedVersion);
    EXPECT_EQ(WideToUtf8(fixed->version), TestSupport::kStandInVersion);
    // A named folder without a runtime is no runtime, and no search follows.
    EXPECT_EQ(VersionString({}, L"C:\\no-such-runtime-folder"), "failed");
}

TEST(WebView2Loader, SearchesChannelsAndHivesAndSkipsStaleRecords) {
    PrivateRecords records;
    EXPECT_FALSE(FindInstalledRuntime({}, records.places).has_value());
    EXPECT_EQ(VersionString(records.places), "failed");

    // Per user, canary only: found, and the channel is named in the version string.
    records.Record(HKEY_CURRENT_USER, ClientOf(u"canary"), records.Folder("canary", "125.0.1.2"));
    EXPECT_EQ(VersionString(records.places), "125.0.1.2 canary");

    // Beta comes before canary; a record whose folder lost its library, and
    // one too old for the player, do not count.
    records.Record(HKEY_LOCAL_MACHINE, ClientOf(u"beta"), records.Folder("beta-gone", "121.0.0.1", false));
    EXPECT_EQ(VersionString(records.places), "125.0.1.2 canary");
    records.Record(HKEY_CURRENT_USER, ClientOf(u"beta"), records.Folder("beta-old", "85.0.564.0"));
    EXPECT_EQ(VersionString(records.places), "125.0.1.2 canary");
    records.Record(HKEY_CURRENT_USER, ClientOf(u"beta"), records.Folder("beta", "86.0.616.0"));
    EXPECT_EQ(VersionString(records.places), "86.0.616.0 beta");

    // Stable before any preview channel; per machine before per user.
    records.Record(HKEY_CURRENT_USER, ClientOf(u""), records.Folder("user", "119.0.2151.97"));
    EXPECT_EQ(VersionString(records.places), "119.0.2151.97");
    records.Record(HKEY_LOCAL_MACHINE, ClientOf(u""), records.Folder("machine", "118.0.2088.76\\"));
    const std::optional<InstalledRuntime> found = FindInstalledRuntime({}, records.places);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(WideToUtf8(found->version), "118.0.2088.76");
    EXPECT_NE(WideToUtf8(found->library).find("machine\\118.0.2088.76\\EBWebView\\x64\\"), std::string::npos);
}

TEST(WebView2Loader, ComparesVersionsPartByPart) {
    EXPECT_LT(CompareVersions(u"86.0.615.99", u"86.0.616.0"), 0);
    EXPECT_EQ(CompareVersions(u"86.0.616", u"86.0.616.0"), 0);
    EXPECT_GT(CompareVersions(u"100.0.0.0", u"99.9.9.9"), 0);
    EXPECT_LT(CompareVersions(u"x.y", u"1"), 0);
}

TEST(WebView2Loader, CreatesTheEnvironmentThroughTheRuntimesEntryPoint) {
    ASSERT_EQ(TestSupport::InstallStandInRuntime(), "");
    TestSupport::StandInSession session("loader");
    ComPtr<ICoreWebView2EnvironmentOptions> options = CreateEnvironmentOptions();
    ASSERT_TRUE(options);
    ASSERT_EQ(options->put_AdditionalBrowserArguments(L"--one --two=3"), S_OK);
    // The options object also answers through IUnknown and refuses the rest.
    EXPECT_TRUE(QueryAs<IUnknown>(options.get(), IID_IUnknown));
    EXPECT_FALSE(QueryAs<ICoreWebView2Environment>(options.get(), IidOf<ICoreWebView2Environment>));

    EnvironmentHandler handler;
    ASSERT_EQ(CreateEnvironmentWithOptions(nullptr, L"C:\\users\\data\\WebView2Data", options.get(), &handler), S_OK);
    // Nothing is delivered until the thread pumps its messages.
    EXPECT_EQ(handler.calls, 0);
    PumpUntil([&] { return handler.calls > 0; });
    EXPECT_EQ(handler.calls, 1);
    EXPECT_EQ(handler.result, S_OK);
    EXPECT_TRUE(handler.gotEnvironment);
    EXPECT_TRUE(handler.hasPrintSettings);
    EXPECT_EQ(handler.browserVersion, TestSupport::kStandInVersion);

    const std::vector<std::string> journal = session.Journal();
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.front(), "CreateWebViewEnvironmentWithOptionsInternal first=1 runtimeKind=0 "
                               "userDataFolder=C:\\users\\data\\WebView2Data arguments=--one --two=3 "
                               "targetVersion=149.0.4022.49");
    for (const std::string& line : journal) EXPECT_EQ(line.find("UNEXPECTED"), std::string::npos) << line;
    // The runtime holds no reference to the handler once it has answered.
    EXPECT_EQ(handler.references, 1u);
}

TEST(WebView2Loader, HandsOnTheRuntimesFailureToCreateTheEnvironment) {
    ASSERT_EQ(TestSupport::InstallStandInRuntime(), "");
    TestSupport::StandInSession session("loader-fails", "environment-fails 0x80070005\n");
    EnvironmentHandler handler;
    ASSERT_EQ(CreateEnvironmentWithOptions(nullptr, L"C:\\data", CreateEnvironmentOptions().get(), &handler), S_OK);
    PumpUntil([&] { return handler.calls > 0; });
    EXPECT_EQ(handler.calls, 1);
    EXPECT_EQ(handler.result, static_cast<HRESULT>(0x80070005));
    EXPECT_FALSE(handler.gotEnvironment);
    // Without a handler there is nothing to tell: refused at once.
    EXPECT_EQ(CreateEnvironmentWithOptions(nullptr, L"C:\\data", nullptr, nullptr), E_POINTER);
}
