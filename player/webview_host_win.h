#pragma once
// Windows backend only: the WebView2 objects behind a WebViewHost, for the
// Windows code that needs them (printing, the owners' windows, tests). All
// null until Initialize succeeded.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>

#include "player/browser_rules.h"
#include "player/webview_host.h"
#include "webview2/webview2_win.h"

class PrintCancel;
class PrintGate;

namespace WebView {

HWND ParentOf(const WebViewHost& host);
WebView2::ICoreWebView2Environment* EnvironmentOf(const WebViewHost& host);
WebView2::ICoreWebView2Controller* ControllerOf(const WebViewHost& host);
WebView2::ICoreWebView2* ViewOf(const WebViewHost& host);
// The host's print requests, for the printer choice (never null).
std::shared_ptr<PrintGate> PrintGateOf(const WebViewHost& host);
// The host's life, for work that answers it later: expired once it is gone.
std::weak_ptr<int> LifeOf(const WebViewHost& host);
// A document print under way for the host, called off when the host goes.
void HoldPrint(WebViewHost& host, std::shared_ptr<PrintCancel> print);

// The host's check of browser traffic: the notice for a host whose chain
// missed its pins (by default ReportBlockedHostLater, which ends the
// process). Replaceable before Initialize, for tests of the blocking path.
// The browser's requests to pinned hosts are fetched by the player itself
// over connections checked as they are made (player/pinned_traffic_win.h).
struct TrafficChecks {
    std::function<void(const WString& host)> reportBlocked;
};
void SetTrafficChecks(WebViewHost& host, TrafficChecks checks);

// Starts creating the browser in parent (a window not yet shown, say)
// without waiting for it, so that the runtime comes up while the caller
// still fetches what to show. Initialize later waits for it, calls the
// ready callback and repairs a start that failed; until then no callback
// of the owner runs.
void StartEarly(WebViewHost& host, HWND parent, const WString& userDataFolder);

// The owning window moved: the runtime places its pop-ups (a drop-down, the
// input method's window) from the position it was last told.
void NotifyWindowMoved(WebViewHost& host);
// Shows or hides the browser (a minimised window hides it, so the runtime
// throttles the page); the runtime is told only of a change.
void SetBrowserVisible(WebViewHost& host, bool visible);
// Told, from the event loop, when an element of the page enters (true) or
// leaves (false) its own fullscreen: a video's button, or Esc inside it.
void SetFullScreenElementHandler(WebViewHost& host, std::function<void(bool fullscreen)> handler);

} // namespace WebView
