#include "app/init_screen_qt.h"
#include "common/qt_text.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QScreen>

#include <cstdio>
#include <unistd.h>

#include "common/message_box_qt.h"
#include "app/messages.h"
#include "app/splash_qt.h"
#include "common/app_constants.h"
#include "player/window_icon_qt.h"
#include "player/browser_rules.h"
#include "player/browser_start.h"
#include "player/content_recovery_qt.h"
#include "player/fullscreen_keys_qt.h"
#include "player/player_window_qt.h"
#include "player/user_data_qt.h"
#include "player/web_messages.h"
#include "player/webview_host_qt.h"
#include "player/window_fit_qt.h"

InitScreen::InitScreen() {
    setObjectName(QStringLiteral("initScreen"));
    setWindowTitle(ToQString(ApplicationConstants.WindowTitle()));
    setWindowIcon(ProductIcon());
    new ScreenFit(this, QSize(1024, 768));
    keys_ = new WebView::FullscreenKeys(this, {.active = [this] { return fullscreenActive_; },
                                               .toggle = [this] { ToggleFullscreen(); }});
}

InitScreen::~InitScreen() = default;

void InitScreen::MakeHost() {
    host_ = std::make_unique<WebView::WebViewHost>();
    host_->onWebMessage = [this](const WString& message) { OnMessage(message); };
    host_->onNavigationStarting = [](const WString&, bool&) {};
    host_->onNavigationCompleted = [this](bool, int) { OnNavigationCompleted(); };
    host_->onWebResourceRequested = [](const WString&, WebView::ResourceRequest& request) {
        for (const auto& [name, value] : InitScreenRequestHeaders()) request.SetHeader(name, value);
    };
    host_->onReady = [this](bool success) { OnReady(success); };
    RecoverContentOnProcessFailure(this, *host_, [this] {
        if (host_) ReloadInitScreen(*host_);
    });
}

void InitScreen::PrepareBrowser() {
    if (host_) return;
    MakeHost();
    WebView::StartEarly(*host_, this, WebView::UserDataFolder());
}

bool InitScreen::CreateBrowser() {
    // Visible from here on: its loading text is what the user sees while
    // the browser comes up, and a start page that never completes must not
    // leave the player without a window.
    show();
    if (!host_) MakeHost();
    if (!host_->Initialize(this, WebView::UserDataFolder(), 3)) return false;
    host_->SetBounds(0, 0, width(), height());
    return true;
}

void InitScreen::OnReady(bool success) {
    if (!success) {
        ShowMessageBox(Messages::InitScreenInitFailed(), u"Error", MessageIcon::Error, MessageButtons::Ok, false, this);
        std::fflush(nullptr);
        _exit(1);
    }
    keys_->FollowPage(WebView::PageOf(*host_));
    LoadInitScreen(*host_);
}

// Every completed navigation, whatever its outcome, brings the window forward.
void InitScreen::OnNavigationCompleted() {
    CloseSplash();
    show();
    raise();
    activateWindow();
    update();
}

void InitScreen::OnMessage(const WString& message) {
    if (host_) InitScreenMessageHandler(*host_, message, [this] { ToggleFullscreen(); });
}

void InitScreen::ToggleFullscreen() {
    if (fullscreenActive_) {
        showNormal();
        if (savedMaximized_) {
            showMaximized();
        } else if (savedGeometry_.isValid()) {
            setGeometry(savedGeometry_);
        }
        fullscreenActive_ = false;
        return;
    }
    // Entering needs both the placement and the screen; without either nothing changes.
    QScreen* target = screen();
    if (target == nullptr) return;
    savedGeometry_ = geometry();
    savedMaximized_ = isMaximized();
    showFullScreen();
    fullscreenActive_ = true;
}

void InitScreen::paintEvent(QPaintEvent*) { PaintLoadingText(*this); }

void InitScreen::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (host_) host_->SetBounds(0, 0, width(), height());
}

void InitScreen::closeEvent(QCloseEvent* event) {
    // As the player window: a page dialog never keeps the window open.
    WebView::CloseHost(host_);
    event->accept();
    QCoreApplication::exit(0);
}
