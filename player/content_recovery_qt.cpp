#include "player/content_recovery_qt.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QWebEngineLoadingInfo>
#include <QWidget>

#include <memory>

#include "common/debug_log.h"
#include "diagnostics/diagnostic_dialog.h"
#include "player/browser_page_qt.h"
#include "player/player_messages.h"
#include "player/print_notice_qt.h"
#include "player/process_recovery.h"
#include "player/webview_host_qt.h"

namespace {

// The notice goes once the reload has started and then ended (loaded, or
// failed with the browser's own error page), but not before it could be read.
void ShowUntilLoaded(QWidget* window, WebView::BrowserPage* page) {
    QLabel* notice = ShowWindowNotice(window, QString::fromLatin1(kRecoveryNoticeName), Messages::ContentRecovering(),
                                      QStringLiteral("rgba(40,70,120,0.92)"), 0);
    if (notice == nullptr) return;
    if (page == nullptr) {
        QTimer::singleShot(kRecoveryNoticeLeastMs, notice, &QObject::deleteLater);
        return;
    }
    auto shown = std::make_shared<QElapsedTimer>();
    shown->start();
    auto started = std::make_shared<bool>(false);
    // A load of the page that died may still report its end; only the reload's counts.
    QObject::connect(page, &QWebEnginePage::loadingChanged, notice,
                     [notice, shown, started](const QWebEngineLoadingInfo& info) {
                         if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
                             *started = true;
                             return;
                         }
                         if (!*started) return;
                         const qint64 left = kRecoveryNoticeLeastMs - shown->elapsed();
                         QTimer::singleShot(left > 0 ? static_cast<int>(left) : 0, notice, &QObject::deleteLater);
                     });
}

} // namespace

void RecoverContentOnProcessFailure(QWidget* window, WebView::WebViewHost& host, std::function<void()> reload) {
    auto recovery = std::make_shared<ProcessRecovery>();
    QPointer<QWidget> owner(window);
    // The host owns this slot, so it never outlives the host it names.
    host.onProcessFailed = [owner, &host, reload = std::move(reload), recovery](WebView::BrowserProcessFailure failure) {
        // The diagnostic sweep ends the renderer on its way out.
        if (DiagnosticUnderway()) return;
        const bool browser = failure == WebView::BrowserProcessFailure::Browser;
        if (recovery->OnFailure() == ProcessRecovery::Decision::GiveUp) {
            DebugLog("player: the content's process ended again within a minute; giving up");
            ReportContentFailed(browser ? kBrowserProcessFailedReason : kRenderProcessFailedReason);
        }
        DebugLog("player: the content's process ended; loading the content again");
        if (owner) ShowUntilLoaded(owner.data(), WebView::PageOf(host));
        if (reload) reload();
    };
}
