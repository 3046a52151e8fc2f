#pragma once
// The init screen: a launch without a link shows the platform's start page
// with the navigation bar (Home, Back, Fullscreen).
#include <QWidget>

#include <memory>

#include "player/webview_host.h"

namespace WebView {
class FullscreenKeys;
}

class InitScreen : public QWidget {
    Q_OBJECT
public:
    InitScreen();
    ~InitScreen() override;

    // Starts the browser in the window, neither shown; CreateBrowser then
    // shows the window and waits for that browser.
    void PrepareBrowser();
    // False when the browser cannot be brought up.
    bool CreateBrowser();
    WebView::WebViewHost* Host() const { return host_.get(); }
    bool FullscreenActive() const { return fullscreenActive_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void MakeHost();
    void OnReady(bool success);
    void OnMessage(const WString& message);
    void OnNavigationCompleted();
    void ToggleFullscreen();

    std::unique_ptr<WebView::WebViewHost> host_;
    bool fullscreenActive_ = false;
    QRect savedGeometry_;
    bool savedMaximized_ = false;
    WebView::FullscreenKeys* keys_ = nullptr; // child of the window
};
