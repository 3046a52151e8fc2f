#include "player/fullscreen_keys_qt.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QWebEngineFullScreenRequest>

#include "player/browser_page_qt.h"

namespace WebView {

FullscreenKeys::FullscreenKeys(QWidget* window, Actions actions)
    : QObject(window), window_(window), actions_(std::move(actions)) {
    // On the application: the keys reach the browser's own input widget,
    // which Qt WebEngine creates (and recreates) inside the view, and a page
    // must not keep them by handling them itself.
    qApp->installEventFilter(this);
}

FullscreenKeys::~FullscreenKeys() {
    if (qApp != nullptr) qApp->removeEventFilter(this);
}

void FullscreenKeys::FollowPage(BrowserPage* page) {
    if (page == nullptr || page_ == page) return;
    page_ = page;
    // The browser host accepts every request (the element then fills the
    // view); the window makes the view fill the screen.
    connect(page, &QWebEnginePage::fullScreenRequested, this,
            [this](QWebEngineFullScreenRequest request) { OnPageRequest(request.toggleOn()); });
}

void FullscreenKeys::OnPageRequest(bool on) {
    if (!window_ || on == pageFullscreen_) return;
    pageFullscreen_ = on;
    if (on) {
        wasFullscreen_ = window_->isFullScreen();
        window_->showFullScreen();
        // Without a window manager the fullscreen state alone does not resize.
        if (QScreen* screen = window_->screen()) window_->setGeometry(screen->geometry());
    } else if (!wasFullscreen_) {
        window_->showNormal();
    }
}

bool FullscreenKeys::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !window_) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget->window() != window_) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
    const bool f11 = key->key() == Qt::Key_F11;
    const bool escape = key->key() == Qt::Key_Escape;
    if (!f11 && !escape) return false;
    if (pageFullscreen_) {
        if (!key->isAutoRepeat() && page_) page_->TriggerHostAction(QWebEnginePage::ExitFullScreen);
        return true;
    }
    const bool active = actions_.active && actions_.active();
    // Esc outside fullscreen is the page's (a menu or a dialog of its own).
    if (escape && !active) return false;
    if (!key->isAutoRepeat() && actions_.toggle) actions_.toggle();
    return true;
}

} // namespace WebView
