#pragma once
// The scripts the program runs in every document of its browsers. Each is one
// immediately invoked function guarded by a window-level flag, and talks to
// the program only through window.chrome.webview.postMessage.
#include "common/text.h"

// Full-page "Loading" overlay, gone after the load event or 5 s at the latest.
WString LoaderScript();
// window.print, Ctrl+P and the browser's print preview become "requestPrint";
// Ctrl+S and Ctrl+Shift+S do nothing.
WString PrintRedirectScript();
// The watermark overlay with the given text, put back whenever it is removed.
WString WatermarkScript(const WString& watermarkText);
// Floating round print button for PDF contents.
WString PrintButtonScript();
// Init screen: draggable home / back / fullscreen bar and the leave overlay.
WString NavigationBarScript();
