#pragma once
// The browser runtime of the Linux build: Qt WebEngine's helper process must
// be installed and able to start.
#include <QString>

// The helper's path: QTWEBENGINEPROCESS_PATH when set, else Qt's own.
QString BrowserHelperPath();
// True when the helper runs and identifies itself (remembered in the user's
// cache folder for as long as the helper file stays the same).
bool BrowserRuntimePresent();
// Probes; when absent, says what to install (bilingual) and returns false.
bool EnsureBrowserRuntime();
