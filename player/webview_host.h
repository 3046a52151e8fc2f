#pragma once
// One embedded browser inside one top-level window (Qt WebEngine on Linux,
// WebView2 on Windows). The owner fills the callback slots before Initialize;
// an empty slot means the event is not forwarded.
#include <functional>
#include <memory>

#include "common/text.h"

namespace WebView {

// The window that hosts the browser: a QWidget* on Linux, an HWND on Windows.
using NativeWindow = void*;

// What a resource-request callback may change on the request.
class ResourceRequest {
public:
    virtual ~ResourceRequest() = default;
    virtual void SetHeader(const WString& name, const WString& value) = 0;
};

// A browser process that ended under a ready host: the page's renderer (the
// view lives on and can load again) or the whole browser (this host is dead
// and its owner makes a new one).
enum class BrowserProcessFailure { Page, Browser };

class WebViewHost {
public:
    WebViewHost();
    ~WebViewHost();
    WebViewHost(const WebViewHost&) = delete;
    WebViewHost& operator=(const WebViewHost&) = delete;

    std::function<void(const WString& uri, bool& cancel)> onNavigationStarting;
    std::function<void(const WString& uri, ResourceRequest& request)> onWebResourceRequested;
    std::function<void(const WString& message)> onWebMessage;
    std::function<void(bool success)> onReady;
    std::function<void(bool isSuccess, int webErrorStatus)> onNavigationCompleted;
    // Told from the event loop, never inside a call of the owner's.
    std::function<void(BrowserProcessFailure failure)> onProcessFailed;

    // Creates the browser inside parent with the given per-user data folder and
    // returns once it is ready (onReady(true) has run) or has failed for good.
    bool Initialize(NativeWindow parent, const WString& userDataFolder, int attempts);
    bool IsReady() const;

    // No dev tools, context menu, zoom, browser accelerator keys or PDF
    // save/print buttons; downloads cancelled, save dialogs suppressed.
    void ConfigureForProduction();
    void AddScriptToExecuteOnDocumentCreated(const WString& script);
    // Navigates, adding the identity headers where the address asks for them.
    void NavigateTo(const WString& url);
    void Navigate(const WString& url);
    void NavigateToString(const WString& html);
    bool CanGoBack() const;
    void GoBack();
    void PostWebMessageAsJson(const WString& json);
    void SetBounds(int x, int y, int width, int height);
    // Printer choice, printing of the current page, printResult to the page.
    void ShowSystemPrintDialog();

    // Platform state.
    struct Impl;
    Impl* impl() const { return impl_.get(); }

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace WebView
