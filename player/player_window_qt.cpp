#include "player/player_window_qt.h"
#include "common/qt_text.h"
#include "player/window_icon_qt.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPainter>

#include <cstdio>
#include <unistd.h>

#include "common/message_box_qt.h"
#include "common/splash_handle_qt.h"
#include "player/webview_host_qt.h"
#include "player/window_fit_qt.h"
#include "common/app_constants.h"
#include "links/player_content.h"
#include "player/browser_rules.h"
#include "player/browser_start.h"
#include "player/content_recovery_qt.h"
#include "player/fullscreen_keys_qt.h"
#include "player/navigation_policy.h"
#include "player/player_messages.h"
#include "player/user_data_qt.h"
#include "player/web_messages.h"
#include "player/webview_host_qt.h"

namespace {
constexpr int kWidth = 1280;
constexpr int kHeight = 720;
} // namespace

void PaintLoadingText(QWidget& widget) {
    QPainter painter(&widget);
    painter.fillRect(widget.rect(), Qt::black);
    QFont font(QStringLiteral("Segoe UI"));
    font.setPixelSize(24);
    font.setWeight(QFont::Normal);
    painter.setFont(font);
    painter.setPen(QColor(200, 200, 200));
    painter.drawText(widget.rect(), Qt::AlignCenter | Qt::TextSingleLine,
                     QString::fromStdU16String(kLoadingText));
}

PlayerWindow::PlayerWindow() {
    setObjectName(QStringLiteral("playerWindow"));
    setWindowTitle(ToQString(ApplicationConstants.WindowTitle()));
    setWindowIcon(ProductIcon());
    setAttribute(Qt::WA_DeleteOnClose, false);
    new ScreenFit(this, QSize(kWidth, kHeight));
    keys_ = new WebView::FullscreenKeys(this, {.active = [this] { return fullscreen_; },
                                               .toggle = [this] { ToggleFullscreen(); }});
}

PlayerWindow::~PlayerWindow() = default;

void PlayerWindow::MakeHost() {
    host_ = std::make_unique<WebView::WebViewHost>();
    host_->onWebMessage = [this](const WString& message) { OnMessage(message); };
    host_->onWebResourceRequested = YouTubeRefererRule;
    host_->onNavigationStarting = NavigationPolicy;
    host_->onReady = [this](bool success) { OnReady(success); };
    // The page keeps its document scripts; the content's load runs again.
    RecoverContentOnProcessFailure(this, *host_, [this] {
        if (host_) ReloadPlayerContent(*host_);
    });
}

void PlayerWindow::PrepareBrowser() {
    if (host_) return;
    MakeHost();
    WebView::StartEarly(*host_, this, WebView::UserDataFolder());
}

bool PlayerWindow::CreateBrowser() {
    shown_ = false;
    if (!host_) MakeHost();
    if (host_->Initialize(this, WebView::UserDataFolder(), 3)) return true;
    ShowMessageBox(Messages::PlayerInitFailedAfterRetries(), u"Error", MessageIcon::Error, MessageButtons::Ok);
    return false;
}

void PlayerWindow::OnReady(bool success) {
    if (!success) {
        ShowMessageBox(Messages::PlayerInitFailed(), u"Error", MessageIcon::Error, MessageButtons::Ok);
        std::fflush(nullptr);
        _exit(1);
    }
    keys_->FollowPage(WebView::PageOf(*host_));
    LoadPlayerContent(*host_);
    ShowPlayer();
}

void PlayerWindow::ShowPlayer() {
    shown_ = true;
    CloseSplash();
    show();
    raise();
    activateWindow();
    update();
}

void PlayerWindow::OnMessage(const WString& message) {
    DispatchPlayerMessage(message, shown_,
                          PlayerMessageActions{
                              .print = [this] { if (host_) host_->ShowSystemPrintDialog(); },
                              .toggleFullscreen = [this] { ToggleFullscreen(); },
                              .show = [this] { show(); update(); },
                          });
}

void PlayerWindow::ToggleFullscreen() {
    fullscreen_ = !fullscreen_;
    if (fullscreen_) {
        showFullScreen();
    } else {
        showNormal();
        if (ScreenFit* fit = ScreenFit::Of(this)) fit->Apply();
    }
}

bool PlayerWindow::PageFullscreen() const { return keys_->PageFullscreen(); }

void PlayerWindow::paintEvent(QPaintEvent*) { PaintLoadingText(*this); }

void PlayerWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (host_) host_->SetBounds(0, 0, width(), height());
}

void PlayerWindow::closeEvent(QCloseEvent* event) {
    // The browser goes first (or, when the page is inside a dialog, as soon
    // as it can), then the loop ends with code 0.
    WebView::CloseHost(host_);
    event->accept();
    QCoreApplication::exit(0);
}
