#pragma once
// The QWebEnginePage of a browser host: navigation decisions go to the host,
// new windows never open, and in production the browser's own commands
// (reload, history keys, save, inspector, downloads) are refused.
#include <QDialog>
#include <QPointer>
#include <QWebEnginePage>

#include <functional>
#include <optional>

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

    // The window is closing: the open page dialog is dismissed, and every
    // later one is answered at once (as cancelled) without being shown.
    void DismissDialogs();
    // True while a page dialog waits for its answer inside this page's call.
    bool InDialog() const { return dialogDepth_ > 0; }
    // Runs a dialog of the host's (the printer choice) as the page's own:
    // not modal, dismissed with them, and the host kept while it is open.
    std::optional<int> RunHostDialog(QDialog* dialog) { return RunDialog(dialog); }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                  const QString& source) override;
    // The page's alert, confirm and prompt dialogs: never modal to the
    // window, so that closing it stays possible whatever the page keeps asking.
    void javaScriptAlert(const QUrl& securityOrigin, const QString& message) override;
    bool javaScriptConfirm(const QUrl& securityOrigin, const QString& message) override;
    bool javaScriptPrompt(const QUrl& securityOrigin, const QString& message, const QString& defaultValue,
                          QString* result) override;

private:
    // Shows the dialog and waits for its answer in a loop of its own: the
    // dialog's result code, or nothing when it was dismissed.
    std::optional<int> RunDialog(QDialog* dialog);

    bool dismissed_ = false;
    int dialogDepth_ = 0;
    QPointer<QDialog> openDialog_;
    bool production_ = false;
    bool hostAction_ = false;
};

} // namespace WebView
