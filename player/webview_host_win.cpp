// WebViewHost on WebView2: one browser controller inside the owner's window,
// created synchronously through a nested message loop.
#include "player/webview_host.h"

#include <algorithm>
#include <chrono>
#include <map>

#include "common/debug_log.h"
#include "common/url_host.h"
#include "player/browser_start.h"
#include "player/page_builder.h"
#include "player/pdf_print.h"
#include "player/pinned_traffic_win.h"
#include "player/print_gate.h"
#include "player/response_cookies.h"
#include "player/webview_host_win.h"
#include "runtime/repair_win.h"
#include "runtime/webview2_loader_win.h"
#include "service/device_identity.h"
#include "service/http_client.h"
#include "webview2/co_task_text_win.h"
#include "webview2/webview2_handler_win.h"

namespace WebView {

using namespace WebView2;

namespace {

// What a request to a pinned host may carry to the player's connection.
constexpr std::size_t kMaxForwardedHeaders = 200;
constexpr std::size_t kMaxForwardedBodyBytes = 64 * 1024 * 1024;

// A response body in memory, at its start.
ComPtr<IStream> BodyStream(const std::string& bytes) {
    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put())) || !stream) return nullptr;
    ULONG written = 0;
    if (bytes.size() > 0xFFFFFFFFu ||
        FAILED(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written)) || written != bytes.size())
        return nullptr;
    const LARGE_INTEGER start{};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    return stream;
}

// The headers asked for by name when a request's collection cannot be walked.
std::vector<WString> ForwardedHeaderNames() {
    std::vector<WString> names = {u"Accept", u"Accept-Language", u"Authorization", u"Cache-Control", u"Content-Type",
                                  u"Cookie", u"If-Match", u"If-Modified-Since", u"If-None-Match", u"If-Range",
                                  u"Origin", u"Pragma", u"Range", u"Referer", u"User-Agent", u"X-Requested-With"};
    names.push_back(ClientHeader().name);
    for (const WString& name : IdentityHeaderNames()) names.push_back(name);
    return names;
}

const wchar_t* W(const WString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

WString Taken(LPWSTR text) { return TakeCoTaskText(text); }

template <typename Fn>
void Guarded(const char* what, Fn&& fn) {
    try {
        fn();
    } catch (...) {
        // A callback must not unwind through the runtime's event dispatch.
        DebugLog(std::string("browser host: callback failed: ") + what);
    }
}

COREWEBVIEW2_PERMISSION_STATE PermissionStateFor(COREWEBVIEW2_PERMISSION_KIND kind) {
    BrowserPermission permission = BrowserPermission::Other;
    switch (kind) {
    case COREWEBVIEW2_PERMISSION_KIND_MICROPHONE: permission = BrowserPermission::Microphone; break;
    case COREWEBVIEW2_PERMISSION_KIND_CAMERA: permission = BrowserPermission::Camera; break;
    case COREWEBVIEW2_PERMISSION_KIND_NOTIFICATIONS: permission = BrowserPermission::Notifications; break;
    default: break;
    }
    return GrantsPermission(permission) ? COREWEBVIEW2_PERMISSION_STATE_ALLOW : COREWEBVIEW2_PERMISSION_STATE_DEFAULT;
}

// What a resource-request callback may change, over the request's headers.
class HeaderRequest : public ResourceRequest {
public:
    explicit HeaderRequest(ICoreWebView2HttpRequestHeaders* headers) : headers_(headers) {}
    void SetHeader(const WString& name, const WString& value) override {
        if (headers_ != nullptr) headers_->SetHeader(W(name), W(value));
    }

private:
    ICoreWebView2HttpRequestHeaders* headers_;
};

} // namespace

struct WebViewHost::Impl {
    explicit Impl(WebViewHost& owner) : owner(owner) {}

    WebViewHost& owner;
    HWND parentWindow = nullptr;
    ComPtr<ICoreWebView2Environment> environment;
    ComPtr<ICoreWebView2Controller> controller;
    ComPtr<ICoreWebView2> webview;
    TrafficChecks checks;
    std::shared_ptr<PrintGate> printGate = std::make_shared<PrintGate>();
    std::shared_ptr<PrintCancel> printUnderWay;
    // Handlers hold a weak reference: events after the host is gone do nothing.
    std::shared_ptr<int> alive = std::make_shared<int>(0);
    bool started = false; // Initialize ran
    bool early = false;   // StartEarly ran

    // Document scripts are ready only once the runtime has said so; a
    // navigation asked for before then waits for them (the latest one wins).
    int scriptsPending = 0;
    std::function<void()> deferredNavigation;
    // The page given as text, answered at kStringPageBase; pending from the
    // call until its navigation starts.
    WString stringPage;
    bool stringPagePending = false;

    void WhenScriptsReady(std::function<void()> navigate) {
        if (scriptsPending == 0) {
            navigate();
            return;
        }
        deferredNavigation = std::move(navigate);
    }
    void ScriptSettled() {
        if (scriptsPending > 0) --scriptsPending;
        if (scriptsPending > 0 || !deferredNavigation) return;
        std::function<void()> navigate = std::move(deferredNavigation);
        deferredNavigation = nullptr;
        navigate();
    }
    // The runtime reports the page given as text by an address of its own
    // choosing (the served address, a data: address, about:blank); the
    // owner's policy sees it as about:blank, as on Linux.
    bool TakeStringPageStart(const WString& uri) {
        if (!stringPagePending) return false;
        if (uri != kStringPageBase && uri != u"about:blank" && uri.rfind(u"data:", 0) != 0) return false;
        stringPagePending = false;
        return true;
    }
    void AnswerStringPage(const WString& uri, ICoreWebView2WebResourceRequestedEventArgs* args);
    void OnProcessFailed(ICoreWebView2ProcessFailedEventArgs* args);
    // The owning window's part in a page element's own fullscreen.
    std::function<void(bool)> onFullScreenElement;
    void OnFullScreenElementChanged();

    // The state of the one creation: begun early or by Initialize, and
    // waited for by Initialize.
    struct Wait {
        bool begun = false;
        bool done = false;
        bool waiting = false;      // Initialize is in its nested loop
        bool readyPending = false; // created before anyone waited: onReady is Initialize's
        bool quit = false;         // the message loop received WM_QUIT meanwhile
        HRESULT result = E_PENDING;
    };
    Wait wait;

    void Finish(HRESULT result) {
        wait.result = result;
        wait.done = true;
        // Wakes the nested loop, which waits in GetMessage.
        PostMessageW(parentWindow, WM_NULL, 0, 0);
    }
    void CallReady() {
        if (owner.onReady) Guarded("onReady", [&] { owner.onReady(true); });
    }
    bool Begin(const WString& userDataFolder);
    bool CreateAndWait(const WString& userDataFolder);
    HRESULT OnEnvironment(HRESULT code, ICoreWebView2Environment* created);
    HRESULT OnController(HRESULT code, ICoreWebView2Controller* created);
    void SetupEventHandlers();
    void OnResourceRequested(ICoreWebView2WebResourceRequestedEventArgs* args);
    // The requests to pinned hosts the player is fetching, by number: each
    // holds the runtime's event until its answer is in.
    struct PendingFetch {
        ComPtr<ICoreWebView2WebResourceRequestedEventArgs> args;
        ComPtr<ICoreWebView2Deferral> deferral;
        WString host;
        WString path; // and query: where the answer's cookies default to
    };
    std::map<std::uint64_t, PendingFetch> pendingFetches;
    std::uint64_t lastFetch = 0;
    void FetchPinned(const WString& uri, const WString& host, ICoreWebView2WebResourceRequest* request,
                     ICoreWebView2HttpRequestHeaders* headers, ICoreWebView2WebResourceRequestedEventArgs* args);
    void StartFetch(std::uint64_t id, BrowserFetchRequest fetch);
    void OnPinnedAnswer(std::uint64_t id, BrowserFetchResult answer);
    // The browser's cookie store (absent on a runtime without one) and its
    // own user agent: the runtime adds both to a request only on the
    // connections it opens itself.
    ComPtr<ICoreWebView2CookieManager> CookieManager();
    void StoreCookies(const PendingFetch& pending, const WString& headers);
    WString BrowserUserAgent();
    WString userAgent;
    void AnswerBlocked(ICoreWebView2WebResourceRequestedEventArgs* args);
    void ReportBlocked(const WString& host) {
        if (checks.reportBlocked) {
            Guarded("reportBlocked", [&] { checks.reportBlocked(host); });
        } else {
            ReportBlockedHostLater(host);
        }
    }
    void TearDown() {
        pendingFetches.clear();
        if (controller) controller->Close();
        webview.Reset();
        controller.Reset();
        environment.Reset();
    }
};

HRESULT WebViewHost::Impl::OnEnvironment(HRESULT code, ICoreWebView2Environment* created) {
    if (FAILED(code) || created == nullptr) {
        Finish(FAILED(code) ? code : E_FAIL);
        return S_OK;
    }
    environment = ComPtr<ICoreWebView2Environment>(created);
    auto handler = MakeHandler<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>(
        [this](HRESULT result, ICoreWebView2Controller* made) { return OnController(result, made); }, alive);
    const HRESULT hr = environment->CreateCoreWebView2Controller(parentWindow, handler.get());
    if (FAILED(hr)) Finish(hr);
    return S_OK;
}

HRESULT WebViewHost::Impl::OnController(HRESULT code, ICoreWebView2Controller* created) {
    if (FAILED(code) || created == nullptr) {
        Finish(FAILED(code) ? code : E_FAIL);
        return S_OK;
    }
    controller = ComPtr<ICoreWebView2Controller>(created);
    controller->get_CoreWebView2(webview.Put());
    if (auto controller2 = Query<ICoreWebView2Controller2>(controller.get()))
        controller2->put_DefaultBackgroundColor(COREWEBVIEW2_COLOR{255, 0x12, 0x12, 0x12});
    if (auto controller4 = Query<ICoreWebView2Controller4>(controller.get())) controller4->put_AllowExternalDrop(FALSE);
    RECT bounds{};
    GetClientRect(parentWindow, &bounds);
    controller->put_Bounds(bounds);
    if (webview) SetupEventHandlers();
    // Ready before anyone waits (an early start): the owner hears it when it asks.
    if (wait.waiting) CallReady();
    else wait.readyPending = true;
    Finish(S_OK);
    return S_OK;
}

void WebViewHost::Impl::SetupEventHandlers() {
    EventRegistrationToken token{};
    webview->add_NavigationStarting(
        MakeHandler<ICoreWebView2NavigationStartingEventHandler>(
            [this](ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs* args) {
                if (args == nullptr) return S_OK;
                LPWSTR raw = nullptr;
                if (FAILED(args->get_Uri(&raw)) || raw == nullptr) return S_OK;
                if (!owner.onNavigationStarting) {
                    TakeStringPageStart(Taken(raw));
                    return S_OK;
                }
                WString uri = Taken(raw);
                if (TakeStringPageStart(uri)) uri = u"about:blank";
                bool cancel = false;
                Guarded("onNavigationStarting", [&] { owner.onNavigationStarting(uri, cancel); });
                if (cancel) args->put_Cancel(TRUE);
                return S_OK;
            },
            alive)
            .get(),
        &token);
    webview->add_WebMessageReceived(
        MakeHandler<ICoreWebView2WebMessageReceivedEventHandler>(
            [this](ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs* args) {
                if (!owner.onWebMessage || args == nullptr) return S_OK;
                LPWSTR raw = nullptr;
                // A message that is not a string is not for the program.
                if (FAILED(args->TryGetWebMessageAsString(&raw)) || raw == nullptr) {
                    if (raw != nullptr) CoTaskMemFree(raw);
                    return S_OK;
                }
                const WString message = Taken(raw);
                Guarded("onWebMessage", [&] { owner.onWebMessage(message); });
                return S_OK;
            },
            alive)
            .get(),
        &token);
    webview->add_NavigationCompleted(
        MakeHandler<ICoreWebView2NavigationCompletedEventHandler>(
            [this](ICoreWebView2*, ICoreWebView2NavigationCompletedEventArgs* args) {
                if (!owner.onNavigationCompleted || args == nullptr) return S_OK;
                BOOL success = FALSE;
                args->get_IsSuccess(&success);
                COREWEBVIEW2_WEB_ERROR_STATUS status = 0;
                if (!success) args->get_WebErrorStatus(&status);
                Guarded("onNavigationCompleted", [&] { owner.onNavigationCompleted(success != FALSE, status); });
                return S_OK;
            },
            alive)
            .get(),
        &token);
    webview->add_PermissionRequested(
        MakeHandler<ICoreWebView2PermissionRequestedEventHandler>(
            [](ICoreWebView2*, ICoreWebView2PermissionRequestedEventArgs* args) {
                if (args == nullptr) return S_OK;
                COREWEBVIEW2_PERMISSION_KIND kind = 0;
                args->get_PermissionKind(&kind);
                args->put_State(PermissionStateFor(kind));
                return S_OK;
            },
            alive)
            .get(),
        &token);
    webview->add_NewWindowRequested(
        MakeHandler<ICoreWebView2NewWindowRequestedEventHandler>(
            [this](ICoreWebView2*, ICoreWebView2NewWindowRequestedEventArgs* args) {
                if (args == nullptr) return S_OK;
                // No second window: the address opens in this view, without
                // identity headers, and only when the user asked for it (a
                // frame's own window.open leaves the view alone).
                args->put_Handled(TRUE);
                BOOL user = FALSE;
                if (FAILED(args->get_IsUserInitiated(&user))) user = FALSE;
                LPWSTR raw = nullptr;
                if (FAILED(args->get_Uri(&raw)) || raw == nullptr) return S_OK;
                const WString uri = Taken(raw);
                if (!FollowsNewWindowRequest(uri, user != FALSE)) {
                    DebugLog("browser host: a new window the user did not ask for, or not for a web address, stays closed");
                    return S_OK;
                }
                if (webview) webview->Navigate(W(uri));
                return S_OK;
            },
            alive)
            .get(),
        &token);
    webview->add_ProcessFailed(MakeHandler<ICoreWebView2ProcessFailedEventHandler>(
                                   [this](ICoreWebView2*, ICoreWebView2ProcessFailedEventArgs* args) {
                                       OnProcessFailed(args);
                                       return S_OK;
                                   },
                                   alive)
                                   .get(),
                               &token);
    webview->add_ContainsFullScreenElementChanged(
        MakeHandler<ICoreWebView2ContainsFullScreenElementChangedEventHandler>(
            [this](ICoreWebView2*, IUnknown*) {
                OnFullScreenElementChanged();
                return S_OK;
            },
            alive)
            .get(),
        &token);
    if (auto view22 = Query<ICoreWebView2_22>(webview.get())) {
        view22->AddWebResourceRequestedFilterWithRequestSourceKinds(L"*", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL,
                                                                    COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS_ALL);
    } else {
        webview->AddWebResourceRequestedFilter(L"*", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL);
    }
    webview->add_WebResourceRequested(
        MakeHandler<ICoreWebView2WebResourceRequestedEventHandler>(
            [this](ICoreWebView2*, ICoreWebView2WebResourceRequestedEventArgs* args) {
                if (args != nullptr) OnResourceRequested(args);
                return S_OK;
            },
            alive)
            .get(),
        &token);
}

void WebViewHost::Impl::OnResourceRequested(ICoreWebView2WebResourceRequestedEventArgs* args) {
    ComPtr<ICoreWebView2WebResourceRequest> request;
    if (FAILED(args->get_Request(request.Put())) || !request) return;
    ComPtr<ICoreWebView2HttpRequestHeaders> headers;
    if (FAILED(request->get_Headers(headers.Put())) || !headers) return;
    LPWSTR raw = nullptr;
    request->get_Uri(&raw);
    const WString uri = Taken(raw);
    // The page given as text is answered here and never leaves the program.
    if (ToLowerCopy(uri).rfind(kStringPageBase, 0) == 0) {
        AnswerStringPage(uri, args);
        return;
    }
    // A pinned host is reached over the player's own checked connections
    // only; the browser never opens one there.
    if (const std::optional<WString> host = HttpsHostOf(uri)) {
        if (const std::optional<PinEntry> entry = FindPinEntry(*host); entry && !entry->pins.empty()) {
            FetchPinned(uri, *host, request.get(), headers.get(), args);
            return;
        }
    }
    HeaderRequest adapter(headers.get());
    // Every other host passes the check without a look; a pinned host never comes here.
    const ResourceRuleResult result = ApplyBrowserResourceRules(uri, adapter, nullptr, GetDeviceIdentity(),
                                                                GetDeviceDescription());
    if (result.blocked) {
        AnswerBlocked(args);
        if (!result.blockedHost.empty()) ReportBlocked(result.blockedHost);
        return;
    }
    if (uri.empty() || !owner.onWebResourceRequested) return;
    Guarded("onWebResourceRequested", [&] { owner.onWebResourceRequested(uri, adapter); });
}

// Answered here and now, never sent.
void WebViewHost::Impl::AnswerBlocked(ICoreWebView2WebResourceRequestedEventArgs* args) {
    ComPtr<ICoreWebView2WebResourceResponse> response;
    if (environment &&
        SUCCEEDED(environment->CreateWebResourceResponse(nullptr, kBlockedStatus, W(kBlockedReason),
                                                         W(kBlockedHeaders), response.Put())) &&
        response) {
        args->put_Response(response.get());
    }
}

void WebViewHost::Impl::FetchPinned(const WString& uri, const WString& host, ICoreWebView2WebResourceRequest* request,
                                    ICoreWebView2HttpRequestHeaders* headers,
                                    ICoreWebView2WebResourceRequestedEventArgs* args) {
    // The request carries what the rules give it: its connection is checked.
    HeaderRequest adapter(headers);
    const HostProbe checkedOnItsConnection = [](const WString&) {
        ProbeResult checked;
        checked.outcome = ProbeResult::Outcome::CheckedOnItsConnection;
        return checked;
    };
    ApplyBrowserResourceRules(uri, adapter, checkedOnItsConnection, GetDeviceIdentity(), GetDeviceDescription());
    if (owner.onWebResourceRequested) Guarded("onWebResourceRequested", [&] { owner.onWebResourceRequested(uri, adapter); });

    BrowserFetchRequest fetch;
    fetch.url = uri;
    LPWSTR method = nullptr;
    if (SUCCEEDED(request->get_Method(&method))) fetch.method = Taken(method);
    if (fetch.method.empty()) fetch.method = u"GET";
    ComPtr<ICoreWebView2HttpHeadersCollectionIterator> iterator;
    BOOL more = FALSE;
    if (SUCCEEDED(headers->GetIterator(iterator.Put())) && iterator) {
        while (fetch.headers.size() < kMaxForwardedHeaders && SUCCEEDED(iterator->get_HasCurrentHeader(&more)) && more) {
            LPWSTR name = nullptr;
            LPWSTR value = nullptr;
            if (SUCCEEDED(iterator->GetCurrentHeader(&name, &value))) fetch.headers.emplace_back(Taken(name), Taken(value));
            if (FAILED(iterator->MoveNext(&more)) || !more) break;
        }
    } else {
        // A collection that cannot be walked is asked by name for what a
        // page's request carries and what the rules gave it.
        for (const WString& name : ForwardedHeaderNames()) {
            LPWSTR value = nullptr;
            if (SUCCEEDED(headers->GetHeader(W(name), &value)) && value != nullptr) fetch.headers.emplace_back(name, Taken(value));
        }
    }
    ComPtr<IStream> content;
    if (SUCCEEDED(request->get_Content(content.Put())) && content) {
        char chunk[16384];
        ULONG got = 0;
        while (SUCCEEDED(content->Read(chunk, sizeof chunk, &got)) && got > 0) {
            if (fetch.body.size() + got > kMaxForwardedBodyBytes) {
                DebugLog("browser host: a request body over the bound was not sent");
                AnswerBlocked(args);
                return;
            }
            fetch.body.append(chunk, got);
        }
    }
    // The event waits for the answer; without the wait the runtime would
    // send the request itself, so none means no request at all.
    ComPtr<ICoreWebView2Deferral> deferral;
    if (FAILED(args->GetDeferral(deferral.Put())) || !deferral) {
        AnswerBlocked(args);
        return;
    }
    const auto named = [&fetch](const char16_t* wanted) {
        return std::any_of(fetch.headers.begin(), fetch.headers.end(),
                           [wanted](const auto& header) { return ToLowerCopy(header.first) == wanted; });
    };
    if (!named(u"user-agent")) {
        if (const WString agent = BrowserUserAgent(); !agent.empty()) fetch.headers.emplace_back(u"User-Agent", agent);
    }
    ParsedUrl parts;
    ParseHttpUrl(uri, parts);
    const std::uint64_t id = ++lastFetch;
    pendingFetches[id] =
        PendingFetch{ComPtr<ICoreWebView2WebResourceRequestedEventArgs>(args), deferral, host, parts.path};
    const ComPtr<ICoreWebView2CookieManager> cookies = named(u"cookie") ? nullptr : CookieManager();
    if (!cookies) return StartFetch(id, std::move(fetch));
    // The store's cookies for the address first; the fetch goes without them
    // when the store cannot say.
    auto waiting = std::make_shared<BrowserFetchRequest>(std::move(fetch));
    auto handler = MakeHandler<ICoreWebView2GetCookiesCompletedHandler>(
        [this, waiting, id](HRESULT code, ICoreWebView2CookieList* list) {
            std::vector<std::pair<WString, WString>> found;
            UINT count = 0;
            if (SUCCEEDED(code) && list != nullptr && SUCCEEDED(list->get_Count(&count))) {
                for (UINT i = 0; i < count && i < kMaxForwardedHeaders; ++i) {
                    ComPtr<ICoreWebView2Cookie> cookie;
                    LPWSTR name = nullptr;
                    LPWSTR value = nullptr;
                    if (FAILED(list->GetValueAtIndex(i, cookie.Put())) || !cookie) continue;
                    const bool read = SUCCEEDED(cookie->get_Name(&name)) && SUCCEEDED(cookie->get_Value(&value));
                    WString readName = Taken(name);
                    WString readValue = Taken(value);
                    if (read && !readName.empty()) found.emplace_back(std::move(readName), std::move(readValue));
                }
            }
            if (!found.empty()) waiting->headers.emplace_back(u"Cookie", CookieHeader(found));
            StartFetch(id, std::move(*waiting));
            return S_OK;
        },
        alive);
    if (FAILED(cookies->GetCookies(W(uri), handler.get()))) StartFetch(id, std::move(*waiting));
}

void WebViewHost::Impl::StartFetch(std::uint64_t id, BrowserFetchRequest fetch) {
    FetchPinnedLater(std::move(fetch), [this, life = std::weak_ptr<int>(alive), id](BrowserFetchResult answer) {
        if (!life.expired()) OnPinnedAnswer(id, std::move(answer));
    });
}

ComPtr<ICoreWebView2CookieManager> WebViewHost::Impl::CookieManager() {
    ComPtr<ICoreWebView2CookieManager> manager;
    if (auto view2 = Query<ICoreWebView2_2>(webview.get())) {
        void* found = nullptr;
        if (SUCCEEDED(view2->get_CookieManager(&found)) && found != nullptr)
            manager = ComPtr<ICoreWebView2CookieManager>::Adopt(static_cast<ICoreWebView2CookieManager*>(found));
    }
    return manager;
}

void WebViewHost::Impl::StoreCookies(const PendingFetch& pending, const WString& headers) {
    const std::vector<WString> lines = SetCookieValues(headers);
    if (lines.empty()) return;
    const ComPtr<ICoreWebView2CookieManager> cookies = CookieManager();
    if (!cookies) return;
    const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    for (const WString& line : lines) {
        const std::optional<ResponseCookie> read = ReadSetCookie(line, pending.host, pending.path, now);
        ComPtr<ICoreWebView2Cookie> cookie;
        if (!read || FAILED(cookies->CreateCookie(W(read->name), W(read->value), W(read->domain), W(read->path),
                                                  cookie.Put())) ||
            !cookie) {
            continue;
        }
        if (read->expires) cookie->put_Expires(*read->expires);
        cookie->put_IsHttpOnly(read->httpOnly ? TRUE : FALSE);
        cookie->put_IsSecure(read->secure ? TRUE : FALSE);
        cookie->put_SameSite(read->sameSite == ResponseCookie::SameSite::None ? 0
                             : read->sameSite == ResponseCookie::SameSite::Lax ? 1
                                                                                : 2);
        cookies->AddOrUpdateCookie(cookie.get());
    }
}

WString WebViewHost::Impl::BrowserUserAgent() {
    if (!userAgent.empty() || !webview) return userAgent;
    ComPtr<ICoreWebView2Settings> settings;
    if (SUCCEEDED(webview->get_Settings(settings.Put())) && settings) {
        if (auto settings2 = Query<ICoreWebView2Settings2>(settings.get())) {
            LPWSTR agent = nullptr;
            if (SUCCEEDED(settings2->get_UserAgent(&agent))) userAgent = Taken(agent);
        }
    }
    return userAgent;
}

void WebViewHost::Impl::OnPinnedAnswer(std::uint64_t id, BrowserFetchResult answer) {
    const auto found = pendingFetches.find(id);
    if (found == pendingFetches.end()) return;
    const PendingFetch pending = std::move(found->second);
    pendingFetches.erase(found);
    ComPtr<ICoreWebView2WebResourceResponse> response;
    if (answer.outcome == BrowserFetchResult::Outcome::Answered) {
        StoreCookies(pending, answer.headers);
        // The whole body is there by the time the event completes, in a
        // stream the runtime may read from any thread and rewind.
        ComPtr<IStream> body = BodyStream(answer.body);
        if (!body || !environment ||
            FAILED(environment->CreateWebResourceResponse(body.get(), answer.status, W(answer.reason), W(answer.headers),
                                                          response.Put()))) {
            DebugLog("browser host: an answer from a pinned host could not be handed over");
            response.Reset();
        }
    }
    if (response) {
        pending.args->put_Response(response.get());
    } else {
        AnswerBlocked(pending.args.get());
        if (answer.outcome == BrowserFetchResult::Outcome::PinMismatch) ReportBlocked(pending.host);
    }
    pending.deferral->Complete();
}

void WebViewHost::Impl::AnswerStringPage(const WString& uri, ICoreWebView2WebResourceRequestedEventArgs* args) {
    if (!environment) return;
    ComPtr<IStream> content;
    const bool page = uri == kStringPageBase && !stringPage.empty();
    if (page && !(content = BodyStream(WideToUtf8(stringPage)))) return;
    ComPtr<ICoreWebView2WebResourceResponse> response;
    const HRESULT made =
        page ? environment->CreateWebResourceResponse(content.get(), 200, L"OK", L"Content-Type: text/html; charset=utf-8",
                                                      response.Put())
             : environment->CreateWebResourceResponse(nullptr, 404, L"Not Found", L"Content-Type: text/plain",
                                                      response.Put());
    if (SUCCEEDED(made) && response) args->put_Response(response.get());
}

void WebViewHost::Impl::OnProcessFailed(ICoreWebView2ProcessFailedEventArgs* args) {
    COREWEBVIEW2_PROCESS_FAILED_KIND kind = -1;
    if (args == nullptr || FAILED(args->get_ProcessFailedKind(&kind))) return;
    DebugLog("browser host: a browser process ended, kind " + std::to_string(kind));
    BrowserProcessFailure failure = BrowserProcessFailure::Page;
    switch (kind) {
    case COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED: failure = BrowserProcessFailure::Browser; break;
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED:
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE:
    case COREWEBVIEW2_PROCESS_FAILED_KIND_FRAME_RENDER_PROCESS_EXITED: break;
    default: return; // helpers (GPU, utilities) the runtime brings back itself
    }
    // Whatever was waiting on this view's scripts waits for the owner's reload now.
    if (failure == BrowserProcessFailure::Browser) {
        scriptsPending = 0;
        deferredNavigation = nullptr;
    }
    if (owner.onProcessFailed) Guarded("onProcessFailed", [&] { owner.onProcessFailed(failure); });
}

void WebViewHost::Impl::OnFullScreenElementChanged() {
    BOOL contains = FALSE;
    if (!webview || FAILED(webview->get_ContainsFullScreenElement(&contains))) return;
    DebugLog(contains ? "browser host: a page element went fullscreen" : "browser host: a page element left fullscreen");
    if (onFullScreenElement) Guarded("onFullScreenElement", [&] { onFullScreenElement(contains != FALSE); });
}

WebViewHost::WebViewHost() : impl_(std::make_unique<Impl>(*this)) {}

// The controller is closed first, then the view, controller and environment
// are released in that order; the callback slots go last.
WebViewHost::~WebViewHost() {
    if (impl_->printUnderWay) impl_->printUnderWay->Cancel();
    impl_->alive.reset();
    impl_->TearDown();
}

bool WebViewHost::Impl::Begin(const WString& userDataFolder) {
    wait.begun = true;
    ComPtr<ICoreWebView2EnvironmentOptions> options = WebView2Loader::CreateEnvironmentOptions();
    options->put_AdditionalBrowserArguments(W(BrowserSwitches()));

    auto handler = MakeHandler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
        [this](HRESULT code, ICoreWebView2Environment* created) { return OnEnvironment(code, created); }, alive);
    const HRESULT hr = WebView2Loader::CreateEnvironmentWithOptions(
        nullptr, userDataFolder.empty() ? nullptr : W(userDataFolder), options.get(), handler.get());
    if (FAILED(hr)) {
        DebugLog("browser host: the browser runtime could not be started, code " + std::to_string(hr));
        wait.result = hr;
        wait.done = true;
        return false;
    }
    return true;
}

bool WebViewHost::Impl::CreateAndWait(const WString& userDataFolder) {
    // An early start that failed, at once or later, is found out here.
    if (!wait.begun && !Begin(userDataFolder)) return false;
    wait.waiting = true;
    MSG msg;
    while (!wait.done) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            // The quit belongs to the main loop as well.
            if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
            wait.quit = got == 0;
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    wait.waiting = false;
    if (webview) {
        if (wait.readyPending) {
            wait.readyPending = false;
            CallReady();
        }
        return true;
    }
    if (FAILED(wait.result)) DebugLog("browser host: the browser could not be created, code " + std::to_string(wait.result));
    return false;
}

bool WebViewHost::Initialize(NativeWindow parent, const WString& userDataFolder, int attempts) {
    Impl& d = *impl_;
    if (d.started) return d.webview.get() != nullptr; // a host starts once
    d.started = true;
    if (!d.early) d.parentWindow = static_cast<HWND>(parent);
    HostStartSteps steps;
    steps.windowUsable = [&d] { return d.parentWindow != nullptr && IsWindow(d.parentWindow) != FALSE; };
    steps.sweep = !d.early; // an early start swept already
    int tries = 0;
    steps.createAndWait = [&d, &userDataFolder, &tries] {
        // A try after a failed one begins anew (an early start is the first
        // try); a quit seen stays seen.
        if (tries++ > 0) {
            const bool quit = d.wait.quit;
            d.wait = Impl::Wait{};
            d.wait.quit = quit;
        }
        return d.CreateAndWait(userDataFolder);
    };
    steps.tearDown = [&d] { d.TearDown(); };
    steps.attempts = attempts;
    // The runtime's completions and the owner's windows go on meanwhile.
    steps.pause = [&d](int milliseconds) {
        const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
        for (ULONGLONG now = GetTickCount64(); now < end && !d.wait.quit; now = GetTickCount64()) {
            MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(end - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    PostQuitMessage(static_cast<int>(msg.wParam));
                    d.wait.quit = true;
                    break;
                }
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
    };
    // A runtime that is not installed comes neither with another try nor with the repair.
    const auto runtimeMissing = [&d] { return d.wait.result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND); };
    steps.worthAnotherTry = [&d, runtimeMissing] { return !d.wait.quit && !runtimeMissing(); };
    steps.repairMends = [runtimeMissing] { return !runtimeMissing(); };
    // A browser that could not come up is repaired once (this process ends there).
    steps.repairOrReport = [&d, &userDataFolder] { Repair::RepairOrReport(userDataFolder, d.parentWindow); };
    return RunHostStart(userDataFolder, steps, onReady);
}

bool WebViewHost::IsReady() const { return impl_->webview.get() != nullptr; }

void WebViewHost::ConfigureForProduction() {
    Impl& d = *impl_;
    if (!d.webview) return;
    ComPtr<ICoreWebView2Settings> settings;
    if (SUCCEEDED(d.webview->get_Settings(settings.Put())) && settings) {
        settings->put_AreDevToolsEnabled(FALSE);
        settings->put_AreDefaultContextMenusEnabled(FALSE);
        settings->put_IsStatusBarEnabled(FALSE);
        settings->put_IsZoomControlEnabled(FALSE);
        if (auto settings3 = Query<ICoreWebView2Settings3>(settings.get()))
            settings3->put_AreBrowserAcceleratorKeysEnabled(FALSE);
        if (auto settings7 = Query<ICoreWebView2Settings7>(settings.get())) {
            settings7->put_HiddenPdfToolbarItems(COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE | COREWEBVIEW2_PDF_TOOLBAR_ITEMS_PRINT |
                                                 COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE_AS);
        }
    }
    EventRegistrationToken token{};
    if (auto view4 = Query<ICoreWebView2_4>(d.webview.get())) {
        view4->add_DownloadStarting(MakeHandler<ICoreWebView2DownloadStartingEventHandler>(
                                        [](ICoreWebView2*, ICoreWebView2DownloadStartingEventArgs* args) {
                                            if (args == nullptr) return S_OK;
                                            args->put_Cancel(TRUE);
                                            args->put_Handled(TRUE);
                                            return S_OK;
                                        },
                                        d.alive)
                                        .get(),
                                    &token);
    }
    if (auto view25 = Query<ICoreWebView2_25>(d.webview.get())) {
        view25->add_SaveAsUIShowing(MakeHandler<ICoreWebView2SaveAsUIShowingEventHandler>(
                                        [](ICoreWebView2*, ICoreWebView2SaveAsUIShowingEventArgs* args) {
                                            if (args != nullptr) args->put_SuppressDefaultDialog(TRUE);
                                            return S_OK;
                                        },
                                        d.alive)
                                        .get(),
                                    &token);
    }
}

void WebViewHost::AddScriptToExecuteOnDocumentCreated(const WString& script) {
    Impl& d = *impl_;
    if (!d.webview) return;
    ++d.scriptsPending;
    auto handler = MakeHandler<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler>(
        [&d](HRESULT code, LPCWSTR) {
            if (FAILED(code)) DebugLog("browser host: a document script was refused, code " + std::to_string(code));
            d.ScriptSettled();
            return S_OK;
        },
        d.alive);
    const HRESULT hr = d.webview->AddScriptToExecuteOnDocumentCreated(W(script), handler.get());
    if (FAILED(hr)) {
        DebugLog("browser host: a document script could not be added, code " + std::to_string(hr));
        d.ScriptSettled();
    }
}

namespace {
// With the identity headers where the address asks for them.
void NavigateNow(WebViewHost::Impl& d, const WString& url);
} // namespace

void WebViewHost::NavigateTo(const WString& url) {
    Impl& d = *impl_;
    if (!d.webview) return;
    d.WhenScriptsReady([&d, url] { NavigateNow(d, url); });
}

namespace {
void NavigateNow(WebViewHost::Impl& d, const WString& url) {
    if (!d.webview) return;
    const std::optional<std::vector<HeaderPair>> headers =
        NavigationHeaders(url, GetDeviceIdentity(), GetDeviceDescription());
    if (headers) {
        auto environment2 = Query<ICoreWebView2Environment2>(d.environment.get());
        auto view2 = Query<ICoreWebView2_2>(d.webview.get());
        ComPtr<ICoreWebView2WebResourceRequest> request;
        if (environment2 && view2 &&
            SUCCEEDED(environment2->CreateWebResourceRequest(W(url), L"GET", nullptr, L"", request.Put())) && request) {
            ComPtr<ICoreWebView2HttpRequestHeaders> requestHeaders;
            if (SUCCEEDED(request->get_Headers(requestHeaders.Put())) && requestHeaders) {
                for (const HeaderPair& header : *headers) requestHeaders->SetHeader(W(header.name), W(header.value));
            }
            view2->NavigateWithWebResourceRequest(request.get());
            return;
        }
    }
    d.webview->Navigate(W(url));
}
} // namespace

void WebViewHost::Navigate(const WString& url) {
    Impl& d = *impl_;
    if (!d.webview) return;
    d.WhenScriptsReady([&d, url] {
        if (d.webview) d.webview->Navigate(W(url));
    });
}

// The page loads from its own https address, answered by the resource
// handler: a page given as text would have an opaque origin, and its frames
// no referrer (some embedded players refuse to play without one).
void WebViewHost::NavigateToString(const WString& html) {
    Impl& d = *impl_;
    if (!d.webview) return;
    d.WhenScriptsReady([&d, html] {
        if (!d.webview) return;
        d.stringPage = html;
        d.stringPagePending = true;
        if (FAILED(d.webview->Navigate(W(WString(kStringPageBase))))) d.stringPagePending = false;
    });
}

bool WebViewHost::CanGoBack() const {
    BOOL can = FALSE;
    if (impl_->webview) impl_->webview->get_CanGoBack(&can);
    return can != FALSE;
}

void WebViewHost::GoBack() {
    if (CanGoBack()) impl_->webview->GoBack();
}

void WebViewHost::PostWebMessageAsJson(const WString& json) {
    if (impl_->webview) impl_->webview->PostWebMessageAsJson(W(json));
}

void WebViewHost::SetBounds(int x, int y, int width, int height) {
    if (!impl_->controller) return;
    impl_->controller->put_Bounds(RECT{x, y, x + (width > 0 ? width : 0), y + (height > 0 ? height : 0)});
}

HWND ParentOf(const WebViewHost& host) { return host.impl()->parentWindow; }
ICoreWebView2Environment* EnvironmentOf(const WebViewHost& host) { return host.impl()->environment.get(); }
ICoreWebView2Controller* ControllerOf(const WebViewHost& host) { return host.impl()->controller.get(); }
ICoreWebView2* ViewOf(const WebViewHost& host) { return host.impl()->webview.get(); }

std::shared_ptr<PrintGate> PrintGateOf(const WebViewHost& host) { return host.impl()->printGate; }

std::weak_ptr<int> LifeOf(const WebViewHost& host) { return host.impl()->alive; }

void HoldPrint(WebViewHost& host, std::shared_ptr<PrintCancel> print) { host.impl()->printUnderWay = std::move(print); }

void SetTrafficChecks(WebViewHost& host, TrafficChecks checks) { host.impl()->checks = std::move(checks); }

void NotifyWindowMoved(WebViewHost& host) {
    if (ICoreWebView2Controller* controller = host.impl()->controller.get()) controller->NotifyParentWindowPositionChanged();
}

void SetBrowserVisible(WebViewHost& host, bool visible) {
    ICoreWebView2Controller* controller = host.impl()->controller.get();
    if (controller == nullptr) return;
    BOOL now = visible ? FALSE : TRUE;
    if (SUCCEEDED(controller->get_IsVisible(&now)) && (now != FALSE) == visible) return;
    controller->put_IsVisible(visible ? TRUE : FALSE);
}

void SetFullScreenElementHandler(WebViewHost& host, std::function<void(bool fullscreen)> handler) {
    host.impl()->onFullScreenElement = std::move(handler);
}

void StartEarly(WebViewHost& host, HWND parent, const WString& userDataFolder) {
    WebViewHost::Impl& d = *host.impl();
    if (d.started || d.early || parent == nullptr || userDataFolder.empty()) return;
    d.early = true;
    d.parentWindow = parent;
    SweepBeforeBrowserStart(userDataFolder);
    // A runtime that cannot be started is found out by Initialize, which
    // then tears down and repairs as for any failed start.
    d.Begin(userDataFolder);
}

} // namespace WebView
