#pragma once
// Windows backend only: the program's own WebView2 loader. It finds an
// installed runtime the way the runtime's installer records it, reports its
// version, loads the runtime's browser library and creates the environment
// through that library's internal entry point.
#include <windows.h>

#include <optional>
#include <vector>

#include "common/com_ptr_win.h"
#include "common/text.h"
#include "webview2/webview2_win.h"

namespace WebView2Loader {

// Where the installer records a runtime: under HKLM (per machine) and HKCU
// (per user), one key per release channel below this path, read from the
// 32-bit view; the value names the versioned install folder.
inline constexpr char16_t kClientStateKey[] = u"SOFTWARE\\Microsoft\\EdgeUpdate\\ClientState\\";
inline constexpr char16_t kLocationValue[] = u"EBWebView";
inline constexpr char16_t kStableClient[] = u"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
// A fixed-version runtime folder given from outside overrides the search.
inline constexpr char16_t kFolderOverrideVariable[] = u"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER";
// "1" searches the channels from the least stable one.
inline constexpr char16_t kChannelPreferenceVariable[] = u"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE";
// The browser library inside a runtime folder, and its entry point.
inline constexpr char16_t kLibraryPath[] = u"EBWebView\\x64\\EmbeddedBrowserWebView.dll";
inline constexpr char kCreateEntryPoint[] = "CreateWebViewEnvironmentWithOptionsInternal";
// Runtimes older than this lack interfaces the player takes for granted.
inline constexpr char16_t kMinimumVersion[] = u"86.0.616.0";

struct Channel {
    const char16_t* name; // empty for the stable channel
    const char16_t* client;
};
// Stable, beta, dev, canary.
const std::vector<Channel>& Channels();

struct InstalledRuntime {
    WString folder;   // the runtime folder (versioned install folder or fixed-version folder)
    WString version;  // dotted four-part version
    WString channel;  // "" for stable, else "beta", "dev" or "canary"
    WString library;  // full path of the browser library
    bool fixedVersion = false;
};

// Where FindInstalledRuntime looks; the defaults are the installer's places.
struct SearchPlaces {
    WString clientStateKey = kClientStateKey;
    bool useEnvironment = true; // honour the two environment variables
};

// The runtime the program would use: browserFolder (or the override variable)
// as a fixed-version runtime when given, else the first installed runtime of
// a recent enough version, channel by channel, per machine before per user.
std::optional<InstalledRuntime> FindInstalledRuntime(const WString& browserFolder = {},
                                                     const SearchPlaces& places = {});

// Dotted version comparison (missing or non-numeric parts count as 0):
// negative, zero or positive as a < b, a == b, a > b.
int CompareVersions(const WString& a, const WString& b);

// The version string of the runtime found, with " " and the channel name for
// a non-stable channel; allocated with CoTaskMemAlloc. Without a runtime:
// a failure code and *versionInfo null.
HRESULT GetAvailableBrowserVersionString(LPCWSTR browserFolder, LPWSTR* versionInfo, const SearchPlaces& places = {});

// Loads the runtime's library and asks it for an environment; the handler is
// called later, through the calling thread's message loop.
HRESULT CreateEnvironmentWithOptions(LPCWSTR browserFolder, LPCWSTR userDataFolder,
                                     WebView2::ICoreWebView2EnvironmentOptions* options,
                                     WebView2::ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);

// The program's environment-options object: every option at its default,
// target compatible version kTargetCompatibleVersion.
inline constexpr char16_t kTargetCompatibleVersion[] = u"149.0.4022.49";
ComPtr<WebView2::ICoreWebView2EnvironmentOptions> CreateEnvironmentOptions();

} // namespace WebView2Loader
