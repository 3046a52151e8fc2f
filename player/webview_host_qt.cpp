// WebViewHost on Qt WebEngine: one QWebEngineView with its own page inside
// the owner's widget, on a persistent per-user profile.
#include "player/webview_host.h"

#include <QAction>
#include <QEvent>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QPointer>
#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <QWebChannel>
#include <QWebEngineCertificateError>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineHistory>
#include <QWebEngineHttpRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWidget>

#include <map>
#include <memory>

#include "common/debug_log.h"
#include "player/browser_environment_qt.h"
#include "player/browser_page_qt.h"
#include "player/browser_relay_linux.h"
#include "player/browser_start.h"
#include "player/certificate_trust_qt.h"
#include "player/input_guard_qt.h"
#include "player/print_gate.h"
#include "player/request_interceptor_qt.h"
#include "player/web_bridge_qt.h"
#include "player/web_error_status_qt.h"
#include "player/webview_host_qt.h"
#include "runtime/repair.h"
#include "service/device_identity.h"

namespace WebView {

namespace {

// One profile per data folder and process: two profiles on one folder would
// fight over its databases.
std::shared_ptr<QWebEngineProfile> ProfileFor(const QString& folder) {
    static std::map<QString, std::weak_ptr<QWebEngineProfile>> profiles;
    if (std::shared_ptr<QWebEngineProfile> existing = profiles[folder].lock()) return existing;
    QWebEngineProfile* profile = nullptr;
    {
        const BrowserEngineStart engineStart;
        profile = new QWebEngineProfile(QStringLiteral("Tovani"));
    }
    profile->setPersistentStoragePath(folder);
    profile->setCachePath(folder + QStringLiteral("/Cache"));
    profile->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
    profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
    // Nothing is ever saved to disk from a page.
    QObject::connect(profile, &QWebEngineProfile::downloadRequested, profile,
                     [](QWebEngineDownloadRequest* download) {
                         if (download != nullptr) download->cancel();
                     });
    std::shared_ptr<QWebEngineProfile> shared(profile, [](QWebEngineProfile* p) { delete p; });
    profiles[folder] = shared;
    return shared;
}

bool SwitchesAllowAutoplay(const WString& switches) {
    return Contains(switches, u"--autoplay-policy=no-user-gesture-required");
}

// An address from the owner: absolute and parseable, or nothing. Parsing is
// as tolerant as Chromium's (spaces, "<" in data: addresses); control
// characters are refused since they would cut or split the address.
std::optional<QUrl> ParseAddress(const WString& text) {
    for (const char16_t c : text) {
        if (c < 0x20 || c == 0x7f) return std::nullopt;
    }
    const QUrl url(QString::fromStdU16String(text), QUrl::TolerantMode);
    if (!url.isValid() || url.isRelative()) return std::nullopt;
    return url;
}

// True for one JSON value, as WebView2 takes for a message. A bare value
// is not a document to QJsonDocument; wrapped in an array it is.
bool IsJsonText(const QString& json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray("[") + json.toUtf8() + QByteArray("]"), &error);
    return error.error == QJsonParseError::NoError && doc.isArray() && doc.array().size() == 1;
}

// A kind left to the default is refused here: Qt would otherwise keep the
// page waiting for an answer nobody gives.
QWebEnginePage::PermissionPolicy PolicyFor(QWebEnginePage::Feature feature) {
    bool granted = false;
    switch (feature) {
    case QWebEnginePage::MediaAudioCapture: granted = GrantsPermission(BrowserPermission::Microphone); break;
    case QWebEnginePage::MediaVideoCapture: granted = GrantsPermission(BrowserPermission::Camera); break;
    case QWebEnginePage::MediaAudioVideoCapture:
        granted = GrantsPermission(BrowserPermission::Microphone) && GrantsPermission(BrowserPermission::Camera);
        break;
    case QWebEnginePage::Notifications: granted = GrantsPermission(BrowserPermission::Notifications); break;
    default: granted = GrantsPermission(BrowserPermission::Other); break;
    }
    return granted ? QWebEnginePage::PermissionGrantedByUser : QWebEnginePage::PermissionDeniedByUser;
}

// Chromium's net::ERR_ABORTED.
constexpr int kAborted = -3;

template <typename Fn>
void Guarded(const char* what, Fn&& fn) {
    try {
        fn();
    } catch (...) {
        // A callback must not unwind through Qt's event dispatch.
        DebugLog(std::string("browser host: callback failed: ") + what);
    }
}

// Keeps the view the size of its parent until the owner sets bounds itself.
class ParentSizeTracker : public QObject {
public:
    ParentSizeTracker(QWidget* parent, QWidget* view) : QObject(view), parent_(parent), view_(view) {
        parent->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parent_ && event->type() == QEvent::Resize && parent_ && view_)
            view_->setGeometry(parent_->rect());
        return false;
    }

private:
    QPointer<QWidget> parent_;
    QPointer<QWidget> view_;
};

} // namespace

struct WebViewHost::Impl {
    explicit Impl(WebViewHost& owner) : owner(owner) {}
    ~Impl() { TearDown(); }

    WebViewHost& owner;
    QPointer<QWidget> parent;
    WString userDataFolder;
    std::shared_ptr<QWebEngineProfile> profile;
    std::unique_ptr<QObject> context; // receiver of every connection; deleted first
    std::unique_ptr<BrowserPage> page;
    QPointer<QWebEngineView> view;
    std::unique_ptr<WebBridge> bridge;
    std::unique_ptr<QWebChannel> channel;
    std::unique_ptr<RequestInterceptor> interceptor;
    QPointer<ParentSizeTracker> sizeTracker;
    QPointer<InputGuard> inputGuard;
    TrafficChecks checks;
    std::shared_ptr<PrintGate> printGate = std::make_shared<PrintGate>();
    bool ready = false;
    bool starting = false;       // the first, internal page is loading
    bool stringPagePending = false;
    int scriptCount = 0;

    void TearDown();
    // The internal first page that shows the browser can run: started early
    // (while the caller still has other work) or when Initialize waits.
    enum class FirstPage { NotStarted, Loading, Ready, Failed };
    FirstPage firstPage = FirstPage::NotStarted;
    std::unique_ptr<QObject> firstPageContext;
    QEventLoop* firstPageLoop = nullptr;
    bool early = false; // StartEarly ran

    bool CreateBrowser();
    void StartFirstPage();
    bool WaitForFirstPage();
    void Connect();
    bool OnNavigationRequest(const QUrl& url, QWebEnginePage::NavigationType type, bool isMainFrame);
    void OnLoadingChanged(const QWebEngineLoadingInfo& info);
    void OnRequest(QWebEngineUrlRequestInfo& info);
    void OnCertificateError(const QWebEngineCertificateError& error);
    void OnNewWindow(QWebEngineNewWindowRequest& request);
    void OnPageProcessEnded();
    ProbeResult Probe() const;
};

void WebViewHost::Impl::TearDown() {
    ready = false;
    context.reset();
    // The view does not own the page (it has no parent), so the page goes
    // after it, and the profile after every page.
    if (view) delete view.data();
    page.reset();
    channel.reset();
    bridge.reset();
    interceptor.reset();
    profile.reset();
}

ProbeResult WebViewHost::Impl::Probe() const {
    // The browser reaches a pinned host only through the relay, which checks
    // each of its connections; without the relay it does not reach it at all.
    ProbeResult result;
    if (StartBrowserRelay() != 0) result.outcome = ProbeResult::Outcome::CheckedOnItsConnection;
    return result;
}

bool WebViewHost::Impl::CreateBrowser() {
    if (!BrowserHelperAvailable()) {
        DebugLog("browser host: Qt WebEngine's helper program is missing");
        return false;
    }
    QString folder = QString::fromStdU16String(userDataFolder);
    profile = ProfileFor(folder);
    context = std::make_unique<QObject>();

    page = std::make_unique<BrowserPage>(profile.get());
    page->setBackgroundColor(QColor(0x12, 0x12, 0x12));
    QWebEngineSettings* settings = page->settings();
    // As in WebView2: an element that asks for fullscreen fills the view.
    settings->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, true);
    // Qt 6.4 shows PDFs only with plugins on; otherwise they become downloads.
    settings->setAttribute(QWebEngineSettings::PdfViewerEnabled, true);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, true);
    // Qt's own setting would override Chromium's --autoplay-policy switch.
    settings->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, !SwitchesAllowAutoplay(BrowserSwitches()));

    bridge = std::make_unique<WebBridge>();
    channel = std::make_unique<QWebChannel>();
    channel->registerObject(WebBridge::ChannelName(), bridge.get());
    page->setWebChannel(channel.get(), QWebEngineScript::MainWorld);

    // window.chrome.webview must exist before any script of the owner runs,
    // so the shim is the first script of the page.
    const QString shim = WebViewShimScript();
    if (shim.isEmpty()) {
        DebugLog("browser host: qwebchannel.js is missing from Qt's resources");
        return false;
    }
    QWebEngineScript shimScript;
    shimScript.setName(QStringLiteral("tovani-webview-shim"));
    shimScript.setSourceCode(shim);
    shimScript.setInjectionPoint(QWebEngineScript::DocumentCreation);
    shimScript.setWorldId(QWebEngineScript::MainWorld);
    // The channel reaches top-level documents only.
    shimScript.setRunsOnSubFrames(false);
    page->scripts().insert(shimScript);

    interceptor = std::make_unique<RequestInterceptor>([this](QWebEngineUrlRequestInfo& info) { OnRequest(info); });
    page->setUrlRequestInterceptor(interceptor.get());

    view = new QWebEngineView(parent.data());
    view->setPage(page.get());
    view->setGeometry(parent->rect());
    sizeTracker = new ParentSizeTracker(parent.data(), view.data());
    inputGuard = new InputGuard(view.data());
    Connect();
    view->show();
    return true;
}

void WebViewHost::Impl::Connect() {
    QObject* ctx = context.get();
    page->onNavigationRequest = [this](const QUrl& url, QWebEnginePage::NavigationType type, bool isMainFrame) {
        return OnNavigationRequest(url, type, isMainFrame);
    };
    bridge->onMessage = [this](const QString& message) {
        if (!ready || !owner.onWebMessage) return;
        Guarded("onWebMessage", [&] { owner.onWebMessage(message.toStdU16String()); });
    };
    QObject::connect(page.get(), &QWebEnginePage::loadingChanged, ctx,
                     [this](const QWebEngineLoadingInfo& info) { OnLoadingChanged(info); });
    QObject::connect(page.get(), &QWebEnginePage::featurePermissionRequested, ctx,
                     [this](const QUrl& origin, QWebEnginePage::Feature feature) {
                         page->setFeaturePermission(origin, feature, PolicyFor(feature));
                     });
    QObject::connect(page.get(), &QWebEnginePage::newWindowRequested, ctx,
                     [this](QWebEngineNewWindowRequest& request) { OnNewWindow(request); });
    QObject::connect(page.get(), &QWebEnginePage::certificateError, ctx,
                     [this](const QWebEngineCertificateError& error) { OnCertificateError(error); });
    // The PDF viewer's own print button cannot be hidden here: it takes the
    // same road as every other print request of a page.
    QObject::connect(page.get(), &QWebEnginePage::printRequested, ctx, [this] {
        if (!ready || !owner.onWebMessage) return;
        Guarded("onWebMessage", [&] { owner.onWebMessage(u"requestPrint"); });
    });
    QObject::connect(page.get(), &QWebEnginePage::fullScreenRequested, ctx,
                     [](QWebEngineFullScreenRequest request) { request.accept(); });
    QObject::connect(page.get(), &QWebEnginePage::renderProcessTerminated, ctx,
                     [this](QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
                         DebugLog("browser host: page process ended, status " + std::to_string(status) + ", code " +
                                  std::to_string(exitCode));
                         OnPageProcessEnded();
                     });
}

void WebViewHost::Impl::OnPageProcessEnded() {
    // Before the host is ready the first page's wait judges the end; while
    // the program closes, an ending page is expected. Whatever the status
    // (crashed, killed, even a clean exit), a page under a ready host is gone.
    if (!ready || starting || QCoreApplication::closingDown()) return;
    // The owner is told from the event loop, after Qt is done with the
    // signal, since it loads the page again.
    QTimer::singleShot(0, context.get(), [this] {
        if (ready && owner.onProcessFailed)
            Guarded("onProcessFailed", [&] { owner.onProcessFailed(BrowserProcessFailure::Page); });
    });
}

void WebViewHost::Impl::StartFirstPage() {
    firstPage = FirstPage::Loading;
    firstPageContext = std::make_unique<QObject>(); // ends these connections when the wait is over
    auto finish = [this](FirstPage result) {
        if (firstPage != FirstPage::Loading) return;
        firstPage = result;
        if (firstPageLoop) firstPageLoop->quit();
    };
    QObject::connect(page.get(), &QWebEnginePage::loadingChanged, firstPageContext.get(),
                     [finish](const QWebEngineLoadingInfo& info) {
                         if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus) finish(FirstPage::Ready);
                         if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus) finish(FirstPage::Failed);
                     });
    QObject::connect(page.get(), &QWebEnginePage::renderProcessTerminated, firstPageContext.get(),
                     [finish](QWebEnginePage::RenderProcessTerminationStatus, int) { finish(FirstPage::Failed); });
    // No time limit: a start that is merely slow (a cold disk, a loaded
    // machine) must never count as a failure, since failure leads to repair
    // and repair clears the user's browser data.
    starting = true;
    page->load(QUrl(QStringLiteral("about:blank")));
}

bool WebViewHost::Impl::WaitForFirstPage() {
    if (firstPage == FirstPage::NotStarted) StartFirstPage();
    if (firstPage == FirstPage::Loading) {
        QEventLoop loop;
        firstPageLoop = &loop;
        // A quit of the application also ends this loop; then nothing is ready.
        loop.exec();
        firstPageLoop = nullptr;
    }
    firstPageContext.reset();
    starting = false;
    return firstPage == FirstPage::Ready;
}

bool WebViewHost::Impl::OnNavigationRequest(const QUrl& url, QWebEnginePage::NavigationType, bool isMainFrame) {
    if (!isMainFrame || starting || !ready) return true;
    WString uri;
    if (stringPagePending && url.scheme() == QLatin1String("data")) {
        // A page given as text has no address of its own, as in WebView2.
        stringPagePending = false;
        uri = u"about:blank";
    } else {
        uri = url.toString(QUrl::FullyEncoded).toStdU16String();
    }
    if (!owner.onNavigationStarting || uri.empty()) return true;
    bool cancel = false;
    Guarded("onNavigationStarting", [&] { owner.onNavigationStarting(uri, cancel); });
    return !cancel;
}

void WebViewHost::Impl::OnLoadingChanged(const QWebEngineLoadingInfo& info) {
    // One line per finished page: support reads it, and the launch benchmark times it.
    if (!starting && ready && info.status() != QWebEngineLoadingInfo::LoadStartedStatus) {
        const std::string address = info.url().toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery).left(200).toStdString();
        if (info.status() != QWebEngineLoadingInfo::LoadSucceededStatus && info.errorCode() == kAborted) {
            // A media address plays in the browser's own media document, whose
            // main load Chromium hands over to the player and reports as
            // aborted: the document tells which it was.
            page->runJavaScript(QStringLiteral("document.contentType"), QWebEngineScript::ApplicationWorld,
                                [address](const QVariant& type) {
                                    const QString kind = type.toString();
                                    const bool media = kind.startsWith(QLatin1String("video/")) ||
                                                       kind.startsWith(QLatin1String("audio/"));
                                    DebugLog("browser host: navigation completed " +
                                             std::string(media ? "ok (media document) " : "failed ") + address);
                                });
        } else {
            DebugLog(std::string("browser host: navigation completed ") +
                     (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus ? "ok " : "failed ") + address);
        }
    }
    if (starting || !ready || !owner.onNavigationCompleted) return;
    bool success = false;
    int status = 0;
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
        return;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        success = true;
        break;
    case QWebEngineLoadingInfo::LoadStoppedStatus:
        status = WebErrorStatus::kOperationCanceled;
        break;
    case QWebEngineLoadingInfo::LoadFailedStatus:
        status = WebErrorStatusFor(info.errorDomain(), info.errorCode());
        break;
    }
    Guarded("onNavigationCompleted", [&] { owner.onNavigationCompleted(success, status); });
}

void WebViewHost::Impl::OnRequest(QWebEngineUrlRequestInfo& info) {
    const QUrl url = info.requestUrl();
    const WString uri = url.toString(QUrl::FullyEncoded).toStdU16String();
    InterceptedRequest request(info);
    const HostProbe probe = [this](const WString&) { return Probe(); };
    const ResourceRuleResult result =
        ApplyBrowserResourceRules(uri, request, probe, GetDeviceIdentity(), GetDeviceDescription());
    if (result.blocked) {
        info.block(true);
        if (result.blockedHost.empty()) return;
        if (checks.reportBlocked) checks.reportBlocked(result.blockedHost);
        else ReportBlockedHostLater(result.blockedHost);
        return;
    }
    if (owner.onWebResourceRequested)
        Guarded("onWebResourceRequested", [&] { owner.onWebResourceRequested(uri, request); });
}

void WebViewHost::Impl::OnCertificateError(const QWebEngineCertificateError& error) {
    QWebEngineCertificateError decision = error;
    if (ShouldAcceptCertificateError(error.url(), error.type(), error.certificateChain()))
        decision.acceptCertificate();
    else
        decision.rejectCertificate();
}

void WebViewHost::Impl::OnNewWindow(QWebEngineNewWindowRequest& request) {
    // No second window: the address opens in this view, without identity
    // headers, once Chromium is done with the request, and only when the
    // user asked for it (a frame's own window.open leaves the view alone).
    const QUrl url = request.requestedUrl();
    if (!ready || url.isEmpty() || !url.isValid()) return;
    if (!FollowsNewWindowRequest(url.toString(QUrl::FullyEncoded).toStdU16String(), request.isUserInitiated())) {
        DebugLog("browser host: a new window the user did not ask for, or not for a web address, stays closed");
        return;
    }
    QPointer<BrowserPage> target(page.get());
    QTimer::singleShot(0, context.get(), [target, url] {
        if (target) target->load(url);
    });
}

WebViewHost::WebViewHost() : impl_(std::make_unique<Impl>(*this)) {}

WebViewHost::~WebViewHost() { impl_->TearDown(); }

void StartEarly(WebViewHost& host, QWidget* parent, const WString& userDataFolder) {
    WebViewHost::Impl& d = *host.impl();
    if (d.page || d.early || parent == nullptr || userDataFolder.empty()) return;
    d.parent = parent;
    d.userDataFolder = userDataFolder;
    SweepBeforeBrowserStart(userDataFolder);
    d.early = true;
    // A browser that cannot be created is found out by Initialize, which
    // then tears down and repairs as for any failed start.
    if (d.CreateBrowser()) d.StartFirstPage();
    else d.firstPage = WebViewHost::Impl::FirstPage::Failed;
}

bool WebViewHost::Initialize(NativeWindow parent, const WString& userDataFolder, int /*attempts*/) {
    Impl& d = *impl_;
    if (d.ready || (d.page && !d.early)) return d.ready; // a host starts once
    if (!d.early) {
        d.parent = static_cast<QWidget*>(parent);
        d.userDataFolder = userDataFolder;
    }
    HostStartSteps steps;
    steps.windowUsable = [&d] { return !d.parent.isNull(); };
    steps.sweep = !d.early; // an early start swept already
    steps.createAndWait = [this, &d] {
        const bool started = d.early ? d.WaitForFirstPage()
                                     : !d.userDataFolder.empty() && d.CreateBrowser() && d.WaitForFirstPage();
        if (!started) return false;
        d.ready = true;
        if (onReady) Guarded("onReady", [&] { onReady(true); });
        return true;
    };
    steps.tearDown = [&d] { d.TearDown(); };
    // A failed start is repaired once: the repair clears the browser data and
    // relaunches the program, ending this process.
    steps.repairOrReport = [&d] { Repair::RepairOrReport(d.userDataFolder); };
    return RunHostStart(d.userDataFolder, steps, onReady);
}

bool WebViewHost::IsReady() const { return impl_->ready; }

void WebViewHost::ConfigureForProduction() {
    Impl& d = *impl_;
    if (!d.ready) return;
    // No inspector, no context menu (the page's own contextmenu event still
    // fires), no zoom, no browser commands from the keyboard, no saving.
    d.page->SetProduction(true);
    for (QWebEnginePage::WebAction action : {QWebEnginePage::SavePage, QWebEnginePage::InspectElement,
                                             QWebEnginePage::ViewSource, QWebEnginePage::DownloadLinkToDisk,
                                             QWebEnginePage::DownloadImageToDisk, QWebEnginePage::DownloadMediaToDisk}) {
        if (QAction* a = d.page->action(action)) a->setEnabled(false);
    }
    d.page->setZoomFactor(1.0);
    if (!d.view) return;
    d.view->setContextMenuPolicy(Qt::NoContextMenu);
    if (d.inputGuard) d.inputGuard->SetZoomBlocked(true);
}

void WebViewHost::AddScriptToExecuteOnDocumentCreated(const WString& script) {
    Impl& d = *impl_;
    if (!d.ready) return;
    QWebEngineScript item;
    // Distinct names keep every script; insertion order is running order.
    item.setName(QStringLiteral("tovani-script-%1").arg(++d.scriptCount));
    item.setSourceCode(QString::fromStdU16String(script));
    item.setInjectionPoint(QWebEngineScript::DocumentCreation);
    item.setWorldId(QWebEngineScript::MainWorld);
    item.setRunsOnSubFrames(true);
    d.page->scripts().insert(item);
}

void WebViewHost::NavigateTo(const WString& url) {
    Impl& d = *impl_;
    if (!d.ready) return;
    const std::optional<QUrl> address = ParseAddress(url);
    if (!address) return;
    // Judged on the text the browser is given, not on what the caller wrote:
    // the two can name different hosts.
    const std::optional<std::vector<HeaderPair>> headers = NavigationHeaders(
        address->toString(QUrl::FullyEncoded).toStdU16String(), GetDeviceIdentity(), GetDeviceDescription());
    if (!headers) {
        d.page->load(*address);
        return;
    }
    QWebEngineHttpRequest request(*address);
    for (const HeaderPair& header : *headers) {
        if (!IsValidHeaderName(header.name) || !IsValidHeaderValue(header.value)) continue;
        request.setHeader(QByteArray::fromStdString(WideToUtf8(header.name)),
                          QByteArray::fromStdString(WideToUtf8(header.value)));
    }
    d.page->load(request);
}

void WebViewHost::Navigate(const WString& url) {
    Impl& d = *impl_;
    if (!d.ready) return;
    if (const std::optional<QUrl> address = ParseAddress(url)) d.page->load(*address);
}

void WebViewHost::NavigateToString(const WString& html) {
    Impl& d = *impl_;
    if (!d.ready) return;
    // Qt turns the text into a data: address; past Chromium's 2 MB limit the
    // load fails and is reported as a failed navigation.
    d.stringPagePending = true;
    d.page->setHtml(QString::fromStdU16String(html), QUrl(QString::fromStdU16String(kStringPageBase)));
}

bool WebViewHost::CanGoBack() const {
    const Impl& d = *impl_;
    return d.ready && d.page->history()->canGoBack();
}

void WebViewHost::GoBack() {
    Impl& d = *impl_;
    if (!d.ready || !d.page->history()->canGoBack()) return;
    d.page->TriggerHostAction(QWebEnginePage::Back);
}

void WebViewHost::PostWebMessageAsJson(const WString& json) {
    Impl& d = *impl_;
    if (!d.ready) return;
    const QString text = QString::fromStdU16String(json);
    if (!IsJsonText(text)) return;
    d.bridge->Deliver(text);
}

void WebViewHost::SetBounds(int x, int y, int width, int height) {
    Impl& d = *impl_;
    if (!d.view) return;
    // From now on the owner places the view.
    if (d.sizeTracker) delete d.sizeTracker.data();
    d.view->setGeometry(x, y, width > 0 ? width : 0, height > 0 ? height : 0);
}

QWebEngineView* ViewOf(const WebViewHost& host) {
    WebViewHost::Impl* d = host.impl();
    return d->ready ? d->view.data() : nullptr;
}

BrowserPage* PageOf(const WebViewHost& host) {
    WebViewHost::Impl* d = host.impl();
    return d->ready ? d->page.get() : nullptr;
}

QWebEngineProfile* ProfileOf(const WebViewHost& host) {
    WebViewHost::Impl* d = host.impl();
    return d->ready ? d->profile.get() : nullptr;
}

std::shared_ptr<PrintGate> PrintGateOf(const WebViewHost& host) { return host.impl()->printGate; }

void SetTrafficChecks(WebViewHost& host, TrafficChecks checks) {
    SetBrowserRelayMismatchListener(checks.reportBlocked);
    host.impl()->checks = std::move(checks);
}

void CloseHost(std::unique_ptr<WebViewHost>& host) {
    if (!host) return;
    BrowserPage* page = host->impl()->page.get();
    if (page != nullptr) {
        page->DismissDialogs();
        // Destroying the page now would pull it from under its own dialog call.
        if (page->InDialog()) return;
    }
    host.reset();
}

} // namespace WebView
