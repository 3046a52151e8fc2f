#pragma once
// The QWebEnginePage of a browser host: navigation decisions go to the host,
// new windows never open, and in production the browser's own commands
// (reload, history keys, save, inspector, downloads) are refused.
#include <QWebEnginePage>

#include <functional>

namespace WebView {

class BrowserPage : public QWebEnginePage {
public:
    explicit BrowserPage(QWebEngineProfile* profile, QObject* parent = nullptr);

    // Asked for every navigation; false stops it.
    std::function<bool(const QUrl& url, NavigationType type, bool isMainFrame)> onNavigationRequest;

    // Page console lines; dropped when empty (they are not the program's log).
    std::function<void(const QString& message, int line, const QString& source)> onConsoleMessage;

    // Refuse the browser's own commands from now on.
    void SetProduction(bool production) { production_ = production; }
    // Runs an action the host itself asked for, even in production.
    void TriggerHostAction(WebAction action);

    // True for the commands a production page refuses.
    static bool IsBrowserCommand(WebAction action);

    void triggerAction(WebAction action, bool checked = false) override;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                  const QString& source) override;

private:
    bool production_ = false;
    bool hostAction_ = false;
};

} // namespace WebView
