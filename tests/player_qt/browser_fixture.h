#pragma once
// A player-like window with one browser host on a temporary data folder,
// and the waits the browser tests need.
#include <QString>
#include <QTemporaryDir>
#include <QVariant>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "player/webview_host.h"

namespace BrowserTesting {

// https://127.0.0.1:47443 followed by path: the development service.
WString DevUrl(const std::string& path);
QString ReadSourceFile(const std::string& relativePath);

class BrowserTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A new, not yet started host with the recording callbacks.
    void NewHost();
    // Initializes the host inside the window; true when it is ready.
    bool Start();
    // Processes events until condition holds; false after timeoutMs.
    static bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 15000);
    static void Pump(int ms);
    // Runs a script in the top document's main world and waits for its value.
    QVariant RunJs(const QString& script, int timeoutMs = 10000);
    // Starts a navigation and waits for it to complete; the success flag.
    bool NavigateAndWait(const std::function<void()>& navigate, int timeoutMs = 20000);
    // The service must be up for tests that load its pages.
    static bool DevServiceUp();

    std::unique_ptr<QWidget> window;
    std::unique_ptr<WebView::WebViewHost> host;
    QTemporaryDir dataDir;

    // What the host reported.
    std::vector<WString> messages;
    std::vector<WString> navigationsStarting;
    std::vector<std::pair<bool, int>> completions;
    std::vector<WString> requests;
    std::vector<bool> readyCalls;
    // Optional decisions of a test.
    std::function<bool(const WString& uri)> cancelNavigation;
    std::function<void(const WString& uri, WebView::ResourceRequest& request)> onRequest;
};

} // namespace BrowserTesting
