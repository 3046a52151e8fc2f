#pragma once
// The Qt objects behind a WebViewHost, for the Linux code that needs them
// (printing, the owners' windows, tests). All null until Initialize succeeded.
#include <functional>
#include <memory>

#include "player/browser_rules.h"
#include "player/page_builder.h"
#include "player/webview_host.h"

class QWebEngineView;
class QWebEngineProfile;
class PrintGate;

namespace WebView {

class BrowserPage;

QWebEngineView* ViewOf(const WebViewHost& host);
BrowserPage* PageOf(const WebViewHost& host);
QWebEngineProfile* ProfileOf(const WebViewHost& host);
// The host's print requests, for the printer choice (never null).
std::shared_ptr<PrintGate> PrintGateOf(const WebViewHost& host);

// The notice for a host whose connection missed its pins (by default
// ReportBlockedHostLater, which ends the process), replaceable before
// Initialize for tests of the blocking path. The relay calls it from a
// thread of its own; it serves every host of the process, the last one set
// wins.
struct TrafficChecks {
    std::function<void(const WString& host)> reportBlocked;
};
void SetTrafficChecks(WebViewHost& host, TrafficChecks checks);

// Starts bringing the browser up in parent without waiting for it, so that
// its processes start while the caller still fetches what to show;
// Initialize later waits for it (and repairs a start that failed).
void StartEarly(WebViewHost& host, QWidget* parent, const WString& userDataFolder);

// A close request of the host's window: the page's open dialog and every
// later one are dismissed, and the host is destroyed, unless the page is
// still inside its dialog's call; then the host stays until its owner goes
// (after the event loops have ended). Closing the window always closes it.
void CloseHost(std::unique_ptr<WebViewHost>& host);

} // namespace WebView
