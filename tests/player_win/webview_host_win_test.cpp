// WebViewHost on WebView2, under Wine, against the stand-in runtime found by
// the program's own loader: what the host asks of the browser (the journal)
// and what reaches the owner's callbacks while the stand-in plays a page.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "common/masking.h"
#include "player/browser_rules.h"
#include "player/page_scripts.h"
#include "player/system_print_win.h"
#include "player/webview_host_win.h"
#include "runtime/repair.h"
#include "runtime/webview2_loader_win.h"
#include "service/device_identity.h"
#include "service/http_client.h"
#include "service/pins.h"
#include "tests/service/service_test_env.h"
#include "tests/support/standin_runtime_win.h"
#include "tests/support/test_support.h"

using TestSupport::StandInSession;

namespace {

constexpr char kPage[] = "https://127.0.0.1:47443/media/page.html";

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeOwnerWindow() {
    static const bool registered = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = OwnerProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"TovaniHostTestOwner";
        return RegisterClassW(&wc) != 0;
    }();
    (void)registered;
    return CreateWindowExW(0, L"TovaniHostTestOwner", L"host test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 600,
                           nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

void Pump(int ms) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    } while (GetTickCount() < end);
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(timeoutMs);
    while (!done()) {
        if (GetTickCount() > end) return false;
        Pump(10);
    }
    return true;
}

std::string Utf8(const WString& text) { return WideToUtf8(text); }

// The dev pins of the service's good chain, for a second pinned host.
std::vector<PinEntry> PinsWithSecondHost() {
    std::vector<PinEntry> pins = DefaultPins();
    pins.push_back(PinEntry{u"127.0.0.2", pins.front().pins});
    return pins;
}

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(TestSupport::InstallStandInRuntime(), "");
        window = MakeOwnerWindow();
        ASSERT_NE(window, nullptr);
        SetPins(PinsWithSecondHost());
    }
    void TearDown() override {
        host.reset();
        if (window) DestroyWindow(window);
    }

    // A host with every slot recording, started on the owner window; the
    // ready callback does what the player's does before its first page.
    bool Start(StandInSession& session, const std::function<void()>& onReady = {}) {
        (void)session;
        host = std::make_unique<WebView::WebViewHost>();
        host->onNavigationStarting = [this](const WString& uri, bool& cancel) {
            starting.push_back(Utf8(uri));
            if (uri.find(u"evil") != WString::npos) cancel = true;
        };
        host->onWebResourceRequested = [this](const WString& uri, WebView::ResourceRequest& request) {
            forwarded.push_back(Utf8(uri));
            request.SetHeader(u"X-Owner", u"seen");
        };
        host->onWebMessage = [this](const WString& message) { messages.push_back(Utf8(message)); };
        host->onReady = [this, onReady](bool success) {
            readyCalls.push_back(success);
            if (success && onReady) onReady();
        };
        host->onNavigationCompleted = [this](bool success, int status) { completed.push_back({success, status}); };
        WebView::TrafficChecks checks;
        checks.reportBlocked = [this](const WString& h) { blocked.push_back(Utf8(h)); };
        WebView::SetTrafficChecks(*host, checks);
        const bool ok = host->Initialize(window, u"C:\\users\\tovani\\WebView2Data", 3);
        readyBeforeReturn = readyCalls.size();
        return ok;
    }

    static bool Has(const std::vector<std::string>& lines, const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    static bool HasPrefixIn(const std::vector<std::string>& lines, const std::string& prefix) {
        return IndexOf(lines, prefix) < lines.size();
    }
    static std::size_t IndexOf(const std::vector<std::string>& lines, const std::string& prefix) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].rfind(prefix, 0) == 0) return i;
        }
        return lines.size();
    }
    // No call in a wrong slot, no object of the player's refused for its IID.
    static void ExpectNoSlotSlips(const std::vector<std::string>& journal) {
        for (const std::string& line : journal) {
            EXPECT_EQ(line.find("UNEXPECTED"), std::string::npos) << line;
            EXPECT_EQ(line.rfind("REFUSED", 0), std::string::npos) << line;
            EXPECT_EQ(line.rfind("ERROR", 0), std::string::npos) << line;
        }
    }

    HWND window = nullptr;
    std::unique_ptr<WebView::WebViewHost> host;
    std::vector<std::string> starting, forwarded, messages, blocked;
    std::vector<bool> readyCalls;
    std::vector<std::pair<bool, int>> completed;
    std::size_t readyBeforeReturn = 0;
};

} // namespace

TEST_F(HostTest, StartsConfiguresAndNavigatesWithIdentityHeaders) {
    StandInSession session("start");
    const std::string script = WideToUtf8(LoaderScript());
    ASSERT_TRUE(Start(session, [&] {
        host->ConfigureForProduction();
        host->AddScriptToExecuteOnDocumentCreated(LoaderScript());
        host->AddScriptToExecuteOnDocumentCreated(PrintRedirectScript());
        host->NavigateTo(Utf8ToWide(kPage));
    }));
    // onReady(true) ran once, from inside Initialize's own wait.
    EXPECT_EQ(readyBeforeReturn, 1u);
    EXPECT_EQ(readyCalls, std::vector<bool>{true});
    EXPECT_TRUE(host->IsReady());
    const std::vector<std::string>* lines = nullptr;
    std::vector<std::string> journal;
    ASSERT_TRUE(PumpUntil([&] {
        journal = session.Journal();
        return Has(journal, std::string("Loaded ") + kPage);
    })) << "the page never loaded";
    (void)lines;

    RECT client{};
    GetClientRect(window, &client);
    const std::string identity = Utf8(GetDeviceIdentity());
    const std::string description = Utf8(GetDeviceDescription());
    ASSERT_FALSE(identity.empty());
    // Everything the host asked for, in the order it asked.
    const std::vector<std::string> expected = {
        "CreateWebViewEnvironmentWithOptionsInternal first=1 runtimeKind=0 userDataFolder=C:\\users\\tovani\\WebView2Data "
        "arguments=" + Utf8(BrowserSwitches()) + " targetVersion=149.0.4022.49",
        "Environment created",
        "Environment.CreateCoreWebView2Controller",
        "Controller created",
        "Controller.put_DefaultBackgroundColor A=255 R=18 G=18 B=18",
        "Controller.put_AllowExternalDrop 0",
        "Controller.put_Bounds 0 0 " + std::to_string(client.right) + " " + std::to_string(client.bottom),
        "WebView.add_NavigationStarting",
        "WebView.add_WebMessageReceived",
        "WebView.add_NavigationCompleted",
        "WebView.add_PermissionRequested",
        "WebView.add_NewWindowRequested",
        "WebView.add_ProcessFailed",
        "WebView.add_ContainsFullScreenElementChanged",
        "WebView.AddWebResourceRequestedFilterWithRequestSourceKinds * 0 ffffffff",
        "WebView.add_WebResourceRequested",
        "Settings.put_AreDevToolsEnabled 0",
        "Settings.put_AreDefaultContextMenusEnabled 0",
        "Settings.put_IsStatusBarEnabled 0",
        "Settings.put_IsZoomControlEnabled 0",
        "Settings.put_AreBrowserAcceleratorKeysEnabled 0",
        "Settings.put_HiddenPdfToolbarItems 7",
        "WebView.add_DownloadStarting",
        "WebView.add_SaveAsUIShowing",
        "WebView.AddScriptToExecuteOnDocumentCreated fnv=" + TestSupport::StandInDigest(script) +
            " length=" + std::to_string(script.size()),
        "WebView.AddScriptToExecuteOnDocumentCreated fnv=" +
            TestSupport::StandInDigest(WideToUtf8(PrintRedirectScript())) +
            " length=" + std::to_string(WideToUtf8(PrintRedirectScript()).size()),
        std::string("Environment.CreateWebResourceRequest ") + kPage + " GET []",
        std::string("WebView.NavigateWithWebResourceRequest ") + kPage + " GET headers: X-Client=tovani-desktop; "
            "X-Device-Id=" + identity + "; X-Tovani-Device=" + identity +
            (description.empty() ? "" : "; X-Device-Info=" + description + "; X-Tovani-Device-Info=" + description),
    };
    ASSERT_GE(journal.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(journal[i], expected[i]) << "journal line " << i;
    // The document request itself: the client header, then both identity
    // pairs (a header-selection marker and the contained "/media/" marker),
    // then the owner's own header.
    // It went over the player's own connection to the pinned host, and its answer back to the browser.
    const std::size_t document = IndexOf(journal, std::string("WebResourceRequested ") + kPage + " context=1 headers: ");
    ASSERT_LT(document, journal.size());
    EXPECT_EQ(journal[document].rfind(std::string("WebResourceRequested ") + kPage + " context=1 headers: X-Client=tovani-desktop; "
                                      "X-Device-Id=" + identity + "; X-Tovani-Device=" + identity +
                                      (description.empty() ? "" : "; X-Device-Info=" + description +
                                                                      "; X-Tovani-Device-Info=" + description) +
                                      "; X-Owner=seen -> response 200 OK [",
                                  0),
              0u)
        << journal[document];
    EXPECT_EQ(starting, std::vector<std::string>{kPage});
    // The page's frame too, resolved against the page's own address.
    EXPECT_EQ(forwarded, (std::vector<std::string>{kPage, "https://127.0.0.1:47443/media/embed.html"}));
    EXPECT_EQ(completed, (std::vector<std::pair<bool, int>>{{true, 0}}));
    ExpectNoSlotSlips(journal);

    // Released in order when the host goes: the controller closed before anything is let go.
    host.reset();
    journal = session.Journal();
    const std::size_t close = IndexOf(journal, "Controller.Close");
    ASSERT_LT(close, journal.size());
    EXPECT_LT(close, IndexOf(journal, "Controller released"));
    EXPECT_LT(IndexOf(journal, "Controller released"), journal.size());
    EXPECT_LT(IndexOf(journal, "WebView released"), journal.size());
    EXPECT_LT(IndexOf(journal, "Environment released"), journal.size());
}

TEST_F(HostTest, PageEventsFollowThePlayersRules) {
    StandInSession session("events",
                           "on page.html message requestPrint\n"
                           "on page.html json-message {\"type\":\"requestPrint\"}\n"
                           "on page.html permission 2\n"
                           "on page.html permission 3\n"
                           "on page.html permission 4\n"
                           "on page.html permission 1\n"
                           "on page.html download https://127.0.0.1:47443/media/sample.pdf\n"
                           "on page.html save-as\n"
                           "on page.html navigate https://evil.test/phish\n"
                           "on page.html new-window https://127.0.0.3:47443/taken-over.html\n"
                           "on page.html new-window file:///C:/windows/win.ini user\n"
                           "on page.html new-window javascript:alert(1) user\n"
                           "on page.html new-window https://127.0.0.3:47443/other.html user\n"
                           "fail other.html 12\n");
    ASSERT_TRUE(Start(session, [&] {
        host->ConfigureForProduction();
        host->Navigate(Utf8ToWide(kPage));
    }));
    std::vector<std::string> journal;
    ASSERT_TRUE(PumpUntil([&] {
        journal = session.Journal();
        return IndexOf(journal, "Navigation failed https://127.0.0.3:47443/other.html") < journal.size();
    })) << "the new window's address was never opened";
    Pump(200);
    journal = session.Journal();
    // Only string messages reach the owner.
    EXPECT_EQ(messages, std::vector<std::string>{"requestPrint"});
    // Camera, microphone and notifications granted; geolocation left to the default.
    EXPECT_TRUE(Has(journal, "PermissionRequested kind=2 state=1"));
    EXPECT_TRUE(Has(journal, "PermissionRequested kind=3 state=0"));
    EXPECT_TRUE(Has(journal, "PermissionRequested kind=4 state=1"));
    EXPECT_TRUE(Has(journal, "PermissionRequested kind=1 state=1"));
    EXPECT_TRUE(Has(journal, "DownloadStarting https://127.0.0.1:47443/media/sample.pdf cancel=1 handled=1"));
    EXPECT_TRUE(Has(journal, "SaveAsUIShowing suppress=1"));
    // The owner cancels the page's navigation; the page stays.
    EXPECT_TRUE(Has(journal, "Navigation cancelled https://evil.test/phish"));
    // A new window the user asked for opens in the same view, with a plain
    // navigation; one a script asked for on its own, or one that names no
    // web address, opens nowhere.
    EXPECT_TRUE(Has(journal, "NewWindowRequested https://127.0.0.3:47443/other.html handled"));
    EXPECT_TRUE(Has(journal, "WebView.Navigate https://127.0.0.3:47443/other.html"));
    for (const std::string address :
         {"https://127.0.0.3:47443/taken-over.html", "file:///C:/windows/win.ini", "javascript:alert(1)"}) {
        EXPECT_TRUE(Has(journal, "NewWindowRequested " + address + " handled")) << address;
        EXPECT_FALSE(Has(journal, "WebView.Navigate " + address)) << address;
    }
    EXPECT_EQ(starting, (std::vector<std::string>{kPage, "https://evil.test/phish", "https://127.0.0.3:47443/other.html"}));
    EXPECT_EQ(completed, (std::vector<std::pair<bool, int>>{{true, 0}, {false, 14}, {false, 12}}));
    ExpectNoSlotSlips(journal);
}

namespace {

// A handler that answers QueryInterface for IUnknown alone, as one declared
// with a wrong IID does for its real one.
template <typename Interface, typename... A>
struct UnansweringHandler : Interface {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid != IID_IUnknown) return E_NOINTERFACE;
        *out = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Invoke(A...) override {
        ++invoked;
        return S_OK;
    }
    int invoked = 0;
};

} // namespace

// The stand-in asks each handler it is given for that handler's own IID, as
// a runtime may, and refuses one that does not answer: the call fails and
// the handler is never called. The player's own handlers all answer.
TEST_F(HostTest, AHandlerThatDoesNotAnswerItsOwnIidIsRefused) {
    using namespace WebView2;
    StandInSession session("refused", "on page.html permission 2\n");
    UnansweringHandler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, HRESULT, ICoreWebView2Environment*>
        environmentDone;
    const ComPtr<ICoreWebView2EnvironmentOptions> options = WebView2Loader::CreateEnvironmentOptions();
    EXPECT_EQ(WebView2Loader::CreateEnvironmentWithOptions(nullptr, L"C:\\users\\tovani\\WebView2Data", options.get(),
                                                           &environmentDone),
              E_NOINTERFACE);
    Pump(300);
    EXPECT_EQ(environmentDone.invoked, 0);

    ASSERT_TRUE(Start(session, [&] { host->Navigate(Utf8ToWide(kPage)); }));
    UnansweringHandler<ICoreWebView2PermissionRequestedEventHandler, ICoreWebView2*,
                       ICoreWebView2PermissionRequestedEventArgs*>
        permission;
    EventRegistrationToken token{};
    EXPECT_EQ(WebView::ViewOf(*host)->add_PermissionRequested(&permission, &token), E_NOINTERFACE);
    std::vector<std::string> journal;
    ASSERT_TRUE(PumpUntil([&] {
        journal = session.Journal();
        return IndexOf(journal, "PermissionRequested kind=2") < journal.size();
    }));
    EXPECT_EQ(permission.invoked, 0);
    // Only the player's own handler answered the page's request.
    EXPECT_TRUE(Has(journal, "PermissionRequested kind=2 state=1"));
    std::vector<std::string> refused;
    for (const std::string& line : journal)
        if (line.rfind("REFUSED", 0) == 0) refused.push_back(line);
    EXPECT_EQ(refused, (std::vector<std::string>{
                           "REFUSED ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler: the object does not "
                           "answer QueryInterface for it",
                           "REFUSED ICoreWebView2PermissionRequestedEventHandler: the object does not answer "
                           "QueryInterface for it"}));
}

// The browser never connects to a pinned host itself: the player fetches
// each request there over a connection of its own, checked as it is made,
// and answers the browser with what came back. A server whose chain misses
// the pins (the trap on 47446, for the pinned 127.0.0.2) is checked anew on
// each request, answered 403 "Blocked" and reported, and never hears a byte
// (one that cannot be reached is answered the same, unreported);
// the genuine server gets the browser's headers and the identity; unpinned
// hosts and plain HTTP are left to the browser.
TEST_F(HostTest, APinnedHostIsReachedOnlyOverThePlayersCheckedConnection) {
    ServiceTest::ResetTraps();
    const std::string forged = "https://127.0.0.2:47446/api/player/progress";
    const std::string genuine = "https://127.0.0.1:47443/echo/asset?x=1";
    const std::string video = "https://127.0.0.1:47443/media/sample.mp4";
    const std::string unreachable = "https://127.0.0.2:1/nobody";
    const std::string large = "https://127.0.0.1:47443/large/5000000";
    StandInSession session("pins", "on page.html request " + forged + " 8\n"
                                   "on page.html request " + forged + " 8\n"
                                   "on page.html request " + unreachable + " 3\n"
                                   "on page.html request " + genuine + " 3\n"
                                   "on page.html request " + video + " 16 Range=bytes=100-1123\n"
                                   "on page.html request " + large + " 16 Range=bytes=0-\n"
                                   "on page.html request https://127.0.0.3:47443/image.png 3\n"
                                   "on page.html request http://127.0.0.2:47480/plain 3\n");
    ASSERT_TRUE(Start(session, [&] { host->Navigate(Utf8ToWide("https://127.0.0.3:47443/page.html")); }));
    std::vector<std::string> journal;
    ASSERT_TRUE(PumpUntil([&] {
        journal = session.Journal();
        return HasPrefixIn(journal, "Content of " + genuine) && HasPrefixIn(journal, "Content of " + video) &&
               HasPrefixIn(journal, "WebResourceRequested " + unreachable + " context=") &&
               HasPrefixIn(journal, "Content of " + large) && blocked.size() == 2;
    }, 20000)) << ::testing::PrintToString(session.Journal());
    const std::string blockedLine = "WebResourceRequested " + forged + " context=8 headers: X-Client=tovani-desktop; "
                                    "X-Owner=seen -> response 403 Blocked [Content-Type: text/plain] no content";
    EXPECT_EQ(std::count(journal.begin(), journal.end(), blockedLine), 2) << "blocked once per request";
    // A pinned host that could not be reached is refused too, unreported: no chain was seen.
    EXPECT_TRUE(HasPrefixIn(journal, "WebResourceRequested " + unreachable + " context=3 headers: X-Client=tovani-desktop; "
                                     "X-Owner=seen -> response 403 Blocked"));
    EXPECT_EQ(blocked, (std::vector<std::string>{"127.0.0.2", "127.0.0.2"}));
    const std::vector<ServiceTest::TrapConnection> seen = ServiceTest::TrapConnections("127.0.0.2:47446", 2);
    EXPECT_EQ(seen.size(), 2u);
    for (const ServiceTest::TrapConnection& connection : seen) {
        EXPECT_TRUE(connection.handshake);
        EXPECT_EQ(connection.received, "");
    }
    // The genuine server's answer, as the browser got it: the request as sent.
    const std::string identity = Utf8(GetDeviceIdentity());
    const std::string content = journal[IndexOf(journal, "Content of " + genuine)];
    EXPECT_NE(content.find("\"method\":\"GET\""), std::string::npos) << content;
    EXPECT_NE(content.find("\"target\":\"/echo/asset?x=1\""), std::string::npos) << content;
    EXPECT_NE(content.find("\"x-owner\":\"seen\""), std::string::npos) << content;
    EXPECT_NE(content.find("\"x-device-id\":\"" + identity + "\""), std::string::npos) << content;
    EXPECT_TRUE(HasPrefixIn(journal, "WebResourceRequested " + genuine + " context=3 headers: X-Client=tovani-desktop; "
                                     "X-Device-Id=" + identity));
    // A video's range comes back as the server sent it.
    const std::string part = journal[IndexOf(journal, "WebResourceRequested " + video + " context=")];
    EXPECT_NE(part.find(" -> response 206 Partial Content ["), std::string::npos) << part;
    EXPECT_NE(part.find("Content-Range: bytes 100-1123/"), std::string::npos) << part;
    EXPECT_NE(part.find(" length=1024"), std::string::npos) << part;
    // An open range of a large body comes in one window of it, said as such.
    const std::string window = journal[IndexOf(journal, "WebResourceRequested " + large + " context=")];
    EXPECT_NE(window.find(" -> response 206 Partial Content ["), std::string::npos) << window.substr(0, 400);
    EXPECT_NE(window.find("Content-Range: bytes 0-2097151/5000000"), std::string::npos) << window.substr(0, 400);
    EXPECT_NE(window.find(" length=2097152"), std::string::npos) << window.substr(0, 400);
    EXPECT_TRUE(Has(journal, "WebResourceRequested https://127.0.0.3:47443/image.png context=3 headers: "
                             "X-Client=tovani-desktop; X-Owner=seen -> sent"));
    EXPECT_TRUE(Has(journal, "WebResourceRequested http://127.0.0.2:47480/plain context=3 headers: "
                             "X-Client=tovani-desktop; X-Owner=seen -> sent"));
    ExpectNoSlotSlips(journal);
}

// The answers the player fetched keep the browser's cookies working: their
// Set-Cookie lines go to the browser's store as a browser keeps them (a
// stranger's domain refused), the store's cookies and the browser's own
// user agent go out on the next request, and the service client's session,
// whose connections these are, keeps none of them.
TEST_F(HostTest, CookiesOfPinnedAnswersGoToTheBrowsersStoreAndBack) {
    const std::string page = "https://127.0.0.1:47443/set-cookie";
    const std::string next = "https://127.0.0.1:47443/echo/next";
    StandInSession session("cookies", "on set-cookie request " + next + " 3\n");
    ASSERT_TRUE(Start(session, [&] { host->Navigate(Utf8ToWide(page)); }));
    std::vector<std::string> journal;
    ASSERT_TRUE(PumpUntil([&] {
        journal = session.Journal();
        return HasPrefixIn(journal, "Content of " + next);
    })) << ::testing::PrintToString(session.Journal());
    EXPECT_TRUE(Has(journal, "CookieManager.AddOrUpdateCookie sid=s1 domain=127.0.0.1 path=/ session httpOnly=1 "
                             "secure=1 sameSite=1"));
    EXPECT_TRUE(Has(journal, "CookieManager.AddOrUpdateCookie theme=dark domain=127.0.0.1 path=/echo expires "
                             "httpOnly=0 secure=0 sameSite=1"));
    EXPECT_FALSE(HasPrefixIn(journal, "CookieManager.AddOrUpdateCookie far="));
    const std::string content = journal[IndexOf(journal, "Content of " + next)];
    EXPECT_NE(content.find("\"cookie\":\"sid=s1; theme=dark\""), std::string::npos) << content;
    EXPECT_NE(content.find("\"user-agent\":\"Mozilla/5.0 (Windows NT 10.0; Win64; x64)"), std::string::npos) << content;
    const HttpResponse service = SharedClient().Get(u"https://127.0.0.1:47443/echo/service");
    ASSERT_TRUE(service.ok) << service.error;
    EXPECT_EQ(service.body.find("sid=s1"), std::string::npos) << service.body;
    ExpectNoSlotSlips(journal);
}

TEST_F(HostTest, FailuresToCreateTheBrowserGoBackToTheOwner) {
    for (const char* line : {"environment-fails 0x80004005\n", "controller-fails 0x8007000E\n"}) {
        StandInSession session("fails", line);
        readyCalls.clear();
        // A repair already tried: this failure is reported, not repaired
        // (the repair would end the test's process), and the flag is used up.
        { std::ofstream(Repair::FlagFile()) << Repair::kFlagContent; }
        EXPECT_FALSE(Start(session)) << line;
        EXPECT_FALSE(std::filesystem::exists(Repair::FlagFile())) << line;
        EXPECT_FALSE(std::filesystem::exists(Repair::ScriptFile())) << line;
        EXPECT_EQ(readyCalls, std::vector<bool>{false}) << line;
        EXPECT_FALSE(host->IsReady());
        // Nothing of a browser that never came up is called.
        host->NavigateTo(Utf8ToWide(kPage));
        host->ConfigureForProduction();
        host->ShowSystemPrintDialog();
        EXPECT_EQ(IndexOf(session.Journal(), "WebView."), session.Journal().size()) << line;
    }
}

TEST_F(HostTest, MissingOptionalInterfacesSkipOnlyTheirSteps) {
    StandInSession session("optional",
                           "missing ICoreWebView2_22\nmissing ICoreWebView2Environment2\nmissing ICoreWebView2Settings7\n"
                           "missing ICoreWebView2_25\nmissing ICoreWebView2Controller4\n");
    ASSERT_TRUE(Start(session, [&] {
        host->ConfigureForProduction();
        host->NavigateTo(Utf8ToWide(kPage));
    }));
    std::vector<std::string> journal;
    ASSERT_TRUE(PumpUntil([&] {
        journal = session.Journal();
        return Has(journal, std::string("Loaded ") + kPage);
    })) << ::testing::PrintToString(journal);
    // The "*" filter still covers every context; the headers fall back to a plain navigation.
    EXPECT_TRUE(Has(journal, "WebView.AddWebResourceRequestedFilter * 0"));
    EXPECT_TRUE(Has(journal, std::string("WebView.Navigate ") + kPage));
    EXPECT_FALSE(Has(journal, "Controller.put_AllowExternalDrop 0"));
    EXPECT_TRUE(Has(journal, "Settings.put_AreBrowserAcceleratorKeysEnabled 0"));
    EXPECT_EQ(IndexOf(journal, "Settings.put_HiddenPdfToolbarItems"), journal.size());
    EXPECT_TRUE(Has(journal, "WebView.add_DownloadStarting"));
    EXPECT_FALSE(Has(journal, "WebView.add_SaveAsUIShowing"));
    ExpectNoSlotSlips(journal);
}

namespace {

// Answers the next printer dialog from another thread: the line to choose
// (by its text), or Escape when empty. The lines it listed go to seen.
std::thread AnswerPrinterDialog(const std::wstring& choose, std::vector<std::string>* seen) {
    return std::thread([choose, seen] {
        const std::wstring title = L"\U0001F5A8 Select Printer";
        HWND dialog = nullptr;
        for (int i = 0; i < 500 && dialog == nullptr; ++i) {
            dialog = FindWindowW(L"#32770", title.c_str());
            if (dialog == nullptr) Sleep(20);
        }
        if (dialog == nullptr) return;
        // Found as soon as it exists; its lines are there once it shows.
        for (int i = 0; i < 250 && !IsWindowVisible(dialog); ++i) Sleep(20);
        Sleep(100);
        HWND list = GetDlgItem(dialog, PrinterDialog::kListId);
        const LRESULT count = IsWindowVisible(list) ? SendMessageW(list, LB_GETCOUNT, 0, 0) : 0;
        int pick = -1;
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t text[512] = {};
            SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
            seen->push_back(WideToUtf8(WString(reinterpret_cast<const char16_t*>(text))));
            if (!choose.empty() && std::wstring(text).rfind(choose, 0) == 0 && pick < 0) pick = static_cast<int>(i);
        }
        if (pick < 0) {
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return;
        }
        SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(pick), 0);
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(PrinterDialog::kPrintId, BN_CLICKED), 0);
    });
}

} // namespace

TEST_F(HostTest, PrintsOnTheChosenPrinterAndTellsThePageEachOutcome) {
    struct Case {
        const char* script;
        const wchar_t* choose;
        const char* posted;
    };
    const Case cases[] = {
        {"", L"Stopped", R"({"type":"printResult","status":"success","message":"Print job sent successfully."})"},
        {"", L"", R"({"type":"printResult","status":"cancelled"})"},
        {"print-status 1\n", L"PDF", R"({"type":"printResult","status":"error","message":"The selected printer is unavailable."})"},
        {"print-status 2\n", L"PDF", R"({"type":"printResult","status":"error","message":"Print failed with unknown error."})"},
        {"print-fails 0x80004005\n", L"PDF",
         R"({"type":"printResult","status":"error","message":"Print failed. Please check your printer."})"},
        {"missing ICoreWebView2Environment6\n", L"PDF",
         R"({"type":"printResult","status":"error","message":"Failed to create print environment"})"},
        {"missing ICoreWebView2PrintSettings2\n", L"PDF",
         R"({"type":"printResult","status":"error","message":"Failed to set printer name"})"},
        {"missing ICoreWebView2_16\n", L"PDF", R"({"type":"printResult","status":"error","message":"Print API not available"})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.script) + " / " + WideToUtf8(WString(reinterpret_cast<const char16_t*>(c.choose))));
        StandInSession session("print", c.script);
        ASSERT_TRUE(Start(session, [&] { host->Navigate(Utf8ToWide(kPage)); }));
        ASSERT_TRUE(PumpUntil([&] { return Has(session.Journal(), std::string("Loaded ") + kPage); }));
        std::vector<std::string> seen;
        std::thread answer = AnswerPrinterDialog(c.choose, &seen);
        host->ShowSystemPrintDialog();
        answer.join();
        // Wine lists the CUPS printers: the default first with its star.
        EXPECT_EQ(seen, (std::vector<std::string>{"PDF  \xE2\x98\x85", "Stopped"}));
        const std::string posted = std::string("WebView.PostWebMessageAsJson ") + c.posted;
        ASSERT_TRUE(PumpUntil([&] { return Has(session.Journal(), posted); }, 5000))
            << ::testing::PrintToString(session.Journal());
        const std::vector<std::string> journal = session.Journal();
        if (std::string(c.posted).find("success") != std::string::npos) {
            EXPECT_TRUE(Has(journal, "PrintSettings.put_PrinterName Stopped"));
            EXPECT_TRUE(Has(journal, std::string("WebView.Print printer=Stopped page=") + kPage));
        }
        // One outcome per request.
        EXPECT_EQ(std::count_if(journal.begin(), journal.end(),
                                [](const std::string& l) { return l.rfind("WebView.PostWebMessageAsJson", 0) == 0; }),
                  1);
        ExpectNoSlotSlips(journal);
    }
}
