#pragma once
// Windows backend only: the WebView2 runtime the player needs, found by the
// program's own loader, and its installation when it is missing.
#include <string>

#include "common/text.h"

bool BrowserRuntimePresent();
// Probes; when absent, offers to download and run the runtime installer,
// waits for it and probes again. Shows its own messages; false ends start-up.
bool EnsureBrowserRuntime();

// The download path of the installer: the temporary folder and
// "WebView2Installer.exe".
WString RuntimeInstallerPath();
// Fetches url over HTTPS into path (replacing what is there), showing the
// progress window; empty on success, else why it failed or was cancelled
// (cancelled set).
std::string DownloadRuntimeInstaller(const WString& url, const WString& path, bool& cancelled);
