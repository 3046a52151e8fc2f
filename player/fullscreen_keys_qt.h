#pragma once
// Fullscreen as desktop users expect it of a player window: F11 toggles the
// window's fullscreen and Esc leaves it; an element of the page that asks for
// fullscreen (a video's own button) fills the screen, not just the window,
// and Esc or F11 ends that first.
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace WebView {

class BrowserPage;

class FullscreenKeys : public QObject {
public:
    struct Actions {
        std::function<bool()> active;  // the window's own fullscreen is on
        std::function<void()> toggle;  // the window's own toggle
    };
    FullscreenKeys(QWidget* window, Actions actions);
    ~FullscreenKeys() override;

    // Once the window's browser is ready: follows its page's fullscreen requests.
    void FollowPage(BrowserPage* page);
    bool PageFullscreen() const { return pageFullscreen_; }

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnPageRequest(bool on);

    QPointer<QWidget> window_;
    Actions actions_;
    QPointer<BrowserPage> page_;
    bool pageFullscreen_ = false;
    bool wasFullscreen_ = false; // the window's state before the page's request
};

} // namespace WebView
