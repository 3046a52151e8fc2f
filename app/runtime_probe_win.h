#pragma once
// Windows backend only: the WebView2 runtime the player needs, found by the
// program's own loader.
bool BrowserRuntimePresent();
// Probes; when absent, asks whether to install it and returns false (the
// runtime installer's download and run are not part of this build yet).
bool EnsureBrowserRuntime();
