#include "app/startup_shell_qt.h"
#include "common/qt_text.h"

#include <QApplication>
#include <QDesktopServices>

#include <cstdlib>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include "app/init_screen_qt.h"
#include "common/message_box_qt.h"
#include "app/messages.h"
#include "app/runtime_probe_qt.h"
#include "app/scheme_registration.h"
#include "app/splash_qt.h"
#include "diagnostics/diagnostic_code.h"
#include "diagnostics/diagnostic_dialog.h"
#include "common/url_host.h"
#include "player/browser_relay_linux.h"
#include "player/player_window_qt.h"
#include "service/curl_transfer_linux.h"
#include "player/window_icon_qt.h"

namespace {
bool gNoticeShown = false;
// The learner gave up waiting: nothing has been shown or kept yet.
void GiveUp() { std::_Exit(1); }

// Makes the window, unseen, and starts its browser from the event loop: the
// engine's own start holds this thread for a while, and the first request's
// wait turns that loop, so the request is on the network meanwhile. Showing
// the window later starts the browser itself if it comes first.
template <class Window>
void StartUnseen(std::unique_ptr<Window>& window) {
    if (window) return;
    window = std::make_unique<Window>();
    Window* made = window.get();
    QTimer::singleShot(0, made, [made] { made->PrepareBrowser(); });
}
} // namespace

QtStartupShell::QtStartupShell() {
    // The service is asked while the splash, and later the browser coming up
    // in the player's window, keep running (input waits, unless the
    // connecting notice offers a way out). Closing the player's window while
    // it waits gives up too.
    SetTransferPump(TransferPump{[] { return QThread::currentThread() == qApp->thread(); },
                                 [this] {
                                     QCoreApplication::processEvents(
                                         gNoticeShown ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents, 2);
                                     if (player_ && frameShown_ && !player_->isVisible()) GiveUp();
                                 },
                                 [](bool slow) {
                                     gNoticeShown = slow;
                                     ShowConnectingNotice(slow, GiveUp);
                                 }});
}
QtStartupShell::~QtStartupShell() {
    SetTransferPump({});
    // A start that ended before its content (an update, a refused link)
    // takes the browser it started unseen with it, before the application.
    player_.reset();
    initScreen_.reset();
}

void QtStartupShell::ShowSplash() { ::ShowSplash(); }

// Every Linux the player builds on is supported.
int QtStartupShell::OperatingSystemClass() { return 10; }

bool QtStartupShell::EnsureBrowserRuntime() { return ::EnsureBrowserRuntime(); }

void QtStartupShell::RegisterUrlScheme() {
    ::RegisterUrlScheme();
    // The icon the desktop entry names.
    InstallProductIcon();
}

MessageAnswer QtStartupShell::ShowMessage(const WString& text, const WString& caption, MessageIcon icon,
                                          MessageButtons buttons, bool rightToLeft) {
    return ShowMessageBox(text, caption, icon, buttons, rightToLeft);
}

void QtStartupShell::OpenExternal(const WString& url) {
    // Checked here too, since the opener acts on whatever it is given: an
    // https address only, which the opener can never read as an option.
    if (!IsOpenableUpdateLink(url)) return;
    const QUrl address(ToQString(url), QUrl::StrictMode);
    if (!address.isValid()) return;
    QDesktopServices::openUrl(address);
}

bool QtStartupShell::CreateInitScreen() {
    if (!initScreen_) initScreen_ = std::make_unique<InitScreen>();
    return initScreen_->CreateBrowser();
}

void QtStartupShell::StartInitBrowserEarly() { StartUnseen(initScreen_); }

void QtStartupShell::StartPlayerBrowserEarly() { StartUnseen(player_); }

void QtStartupShell::PrepareContentConnection(const WString& url) {
    const std::optional<UrlAuthority> authority = ReadAuthority(url);
    if (!authority || authority->scheme != u"https" || authority->effectivePort == 0) return;
    // The browser names an IPv6 host without its brackets when it asks the relay.
    std::string host = WideToUtf8(authority->host);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    WebView::PreconnectBrowserRelay(host, authority->effectivePort);
}

void QtStartupShell::CreatePlayerFrame() {
    if (!player_) player_ = std::make_unique<PlayerWindow>();
    player_->show();
    KeepSplashAbove(player_.get());
    frameShown_ = true;
    QCoreApplication::processEvents();
    // The browser comes up (unless it already is) while the link's content is fetched.
    player_->PrepareBrowser();
}

bool QtStartupShell::CreatePlayerWindow() {
    if (!player_) CreatePlayerFrame();
    // From here on the window's own closing ends the program.
    frameShown_ = false;
    return player_->CreateBrowser();
}

void QtStartupShell::ShowLinkDiagnostic(const std::string& reason) {
    DiagnosticDialog(Messages::LinkErrorTitle(), Messages::LinkErrorText(), Messages::LinkErrorArabic(),
                     ErrorDiagnosticCode(reason));
}

int QtStartupShell::RunMessageLoop() { return QApplication::exec(); }

void QtStartupShell::Shutdown() {
    player_.reset();
    initScreen_.reset();
}
