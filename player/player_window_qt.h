#pragma once
// The player window: one content in the embedded browser, with the loading
// text painted until the browser covers it.
#include <QWidget>

#include <memory>

#include "player/webview_host.h"

namespace WebView {
class FullscreenKeys;
}

class PlayerWindow : public QWidget {
    Q_OBJECT
public:
    PlayerWindow();
    ~PlayerWindow() override;

    // Starts the browser's processes without waiting (while the service is
    // still being asked what to show).
    void PrepareBrowser();
    // Brings the browser up and loads PlayerContent; false when the browser failed.
    bool CreateBrowser();
    WebView::WebViewHost* Host() const { return host_.get(); }
    bool Shown() const { return shown_; }
    bool Fullscreen() const { return fullscreen_; }
    // The page's own fullscreen (a video's button) fills the screen.
    bool PageFullscreen() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void MakeHost();
    void OnReady(bool success);
    void OnMessage(const WString& message);
    void ShowPlayer();
    void ToggleFullscreen();

    std::unique_ptr<WebView::WebViewHost> host_;
    bool shown_ = false;
    bool fullscreen_ = false;
    WebView::FullscreenKeys* keys_ = nullptr; // child of the window
};

// Paints "جاري التحميل... Loading..." centred, as both windows do while their browser starts.
void PaintLoadingText(QWidget& widget);
