#include "player/browser_page_qt.h"

namespace WebView {

BrowserPage::BrowserPage(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent) {}

bool BrowserPage::IsBrowserCommand(WebAction action) {
    switch (action) {
    case Back:
    case Forward:
    case Reload:
    case ReloadAndBypassCache:
    case SavePage:
    case ViewSource:
    case InspectElement:
    case DownloadLinkToDisk:
    case DownloadImageToDisk:
    case DownloadMediaToDisk:
    case OpenLinkInNewWindow:
    case OpenLinkInNewTab:
    case OpenLinkInNewBackgroundTab:
        return true;
    default:
        return false;
    }
}

void BrowserPage::TriggerHostAction(WebAction action) {
    hostAction_ = true;
    QWebEnginePage::triggerAction(action);
    hostAction_ = false;
}

void BrowserPage::triggerAction(WebAction action, bool checked) {
    // Keyboard shortcuts (F5, Ctrl+R, Alt+Left, ...) arrive here too.
    if (production_ && !hostAction_ && IsBrowserCommand(action)) return;
    QWebEnginePage::triggerAction(action, checked);
}

bool BrowserPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    if (!onNavigationRequest) return true;
    return onNavigationRequest(url, type, isMainFrame);
}

QWebEnginePage* BrowserPage::createWindow(WebWindowType) {
    // newWindowRequested follows and carries the address; the host loads it here.
    return nullptr;
}

void BrowserPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int line,
                                           const QString& source) {
    if (onConsoleMessage) onConsoleMessage(message, line, source);
}

} // namespace WebView
