// The browser host on a real Qt WebEngine: start, messages both ways,
// navigation decisions, new windows and document-creation scripts.
#include <QApplication>

#include <algorithm>
#include <QDir>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <gmock/gmock.h>

#include "browser_fixture.h"
#include "player/browser_page_qt.h"
#include "player/web_error_status_qt.h"
#include "player/webview_host_qt.h"
#include "tests/player_qt/user_input_qt.h"

using BrowserTesting::BrowserTest;
using BrowserTesting::DevUrl;
using ::testing::ElementsAre;

namespace {

class WebViewHostTest : public BrowserTest {};

TEST_F(WebViewHostTest, InitializeReportsReadyBeforeItReturns) {
    bool readyWhileInitializing = false;
    bool returned = false;
    host->onReady = [&](bool ok) {
        readyCalls.push_back(ok);
        readyWhileInitializing = !returned;
        // The owner configures and navigates from here.
        host->ConfigureForProduction();
        host->NavigateToString(u"<p id='x'>ready</p>");
    };
    ASSERT_TRUE(Start());
    returned = true;
    EXPECT_THAT(readyCalls, ElementsAre(true));
    EXPECT_TRUE(readyWhileInitializing);
    EXPECT_TRUE(host->IsReady());
    ASSERT_NE(WebView::ViewOf(*host), nullptr);
    EXPECT_EQ(WebView::ViewOf(*host)->geometry(), window->rect());
    ASSERT_TRUE(WaitFor([&] { return !completions.empty(); }));
    EXPECT_EQ(RunJs(QStringLiteral("document.getElementById('x').textContent")).toString(), QStringLiteral("ready"));
}

TEST_F(WebViewHostTest, InitializeWithoutAWindowFailsAndSaysSo) {
    EXPECT_FALSE(host->Initialize(nullptr, dataDir.path().toStdU16String(), 3));
    EXPECT_THAT(readyCalls, ElementsAre(false));
    EXPECT_FALSE(host->IsReady());
    // Every operation is a no-op on a host that did not start.
    host->NavigateTo(u"https://127.0.0.1:47443/");
    host->NavigateToString(u"<p>x</p>");
    host->PostWebMessageAsJson(u"{}");
    host->ConfigureForProduction();
    host->GoBack();
    EXPECT_FALSE(host->CanGoBack());
    EXPECT_EQ(WebView::ViewOf(*host), nullptr);
}

TEST_F(WebViewHostTest, ViewFollowsTheWindowUntilBoundsAreSet) {
    ASSERT_TRUE(Start());
    window->resize(640, 480);
    ASSERT_TRUE(WaitFor([&] { return WebView::ViewOf(*host)->size() == QSize(640, 480); }));
    host->SetBounds(10, 20, 300, 200);
    EXPECT_EQ(WebView::ViewOf(*host)->geometry(), QRect(10, 20, 300, 200));
    window->resize(700, 500);
    Pump(100);
    EXPECT_EQ(WebView::ViewOf(*host)->geometry(), QRect(10, 20, 300, 200));
    host->SetBounds(0, 0, -5, -5);
    EXPECT_EQ(WebView::ViewOf(*host)->size(), QSize(0, 0));
}

TEST_F(WebViewHostTest, OnlyStringMessagesReachTheHostInOrder) {
    ASSERT_TRUE(Start());
    // Posted by the page's first script, before the channel is connected.
    ASSERT_TRUE(NavigateAndWait([&] {
        host->NavigateToString(
            u"<script>"
            u"var w = window.chrome.webview;"
            u"w.postMessage('x'); w.postMessage({a: 1}); w.postMessage(42); w.postMessage(['y']);"
            u"w.postMessage(null); w.postMessage(undefined); w.postMessage(function () {});"
            u"var cyclic = {}; cyclic.self = cyclic; w.postMessage(cyclic);"
            u"w.postMessage('\"requestPrint\"'); w.postMessage(''); w.postMessage('\\u0627\\ud83d\\ude00');"
            u"</script>");
    }));
    ASSERT_TRUE(WaitFor([&] { return messages.size() >= 4; }));
    Pump(300);
    EXPECT_THAT(messages, ElementsAre(u"x", u"\"requestPrint\"", u"", u"\u0627\U0001F600"));
    // Later messages go straight through.
    RunJs(QStringLiteral("window.chrome.webview.postMessage('later')"));
    ASSERT_TRUE(WaitFor([&] { return messages.size() == 5; }));
    EXPECT_EQ(messages.back(), u"later");
}

TEST_F(WebViewHostTest, HostJsonReachesThePageListeners) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(NavigateAndWait([&] {
        host->NavigateToString(
            u"<script>"
            u"function echo(e) { window.chrome.webview.postMessage('got ' + JSON.stringify(e.data) + ' ' + "
            u"(e instanceof MessageEvent)); }"
            u"window.chrome.webview.addEventListener('message', echo);"
            u"window.chrome.webview.postMessage('listening');"
            u"</script>");
    }));
    ASSERT_TRUE(WaitFor([&] { return !messages.empty(); }));
    host->PostWebMessageAsJson(u"{oops");
    host->PostWebMessageAsJson(u"");
    host->PostWebMessageAsJson(u"1,2");
    host->PostWebMessageAsJson(u"1],[2");
    host->PostWebMessageAsJson(u"{\"type\":\"printResult\",\"status\":\"cancelled\"}");
    host->PostWebMessageAsJson(u"\"plain\"");
    ASSERT_TRUE(WaitFor([&] { return messages.size() >= 3; }));
    Pump(200);
    EXPECT_THAT(messages, ElementsAre(u"listening", u"got {\"type\":\"printResult\",\"status\":\"cancelled\"} true",
                                      u"got \"plain\" true"));
    // A removed listener hears nothing more.
    RunJs(QStringLiteral("window.chrome.webview.removeEventListener('message', echo)"));
    host->PostWebMessageAsJson(u"1");
    Pump(300);
    EXPECT_EQ(messages.size(), 3u);
}

TEST_F(WebViewHostTest, PageCannotReplaceTheShim) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(NavigateAndWait([&] {
        host->NavigateToString(
            u"<script>"
            u"var original = window.chrome.webview;"
            u"try { window.chrome.webview = {postMessage: function () {}}; } catch (e) {}"
            u"try { original.postMessage = function () {}; } catch (e) {}"
            u"window.chrome.webview.postMessage(String(window.chrome.webview === original));"
            u"window.chrome.webview.postMessage(typeof QWebChannel);"
            u"</script>");
    }));
    ASSERT_TRUE(WaitFor([&] { return messages.size() == 2; }));
    EXPECT_THAT(messages, ElementsAre(u"true", u"undefined"));
}

TEST_F(WebViewHostTest, NavigationStartingCanCancel) {
    ASSERT_TRUE(BrowserTest::DevServiceUp());
    ASSERT_TRUE(Start());
    cancelNavigation = [](const WString& uri) { return Contains(uri, u"/home"); };
    ASSERT_TRUE(NavigateAndWait([&] { host->NavigateTo(DevUrl("/media/page.html")); }));
    const std::size_t before = navigationsStarting.size();
    RunJs(QStringLiteral("document.getElementById('home').click()"));
    ASSERT_TRUE(WaitFor([&] { return navigationsStarting.size() > before; }));
    Pump(500);
    EXPECT_EQ(navigationsStarting.back(), DevUrl("/home"));
    EXPECT_EQ(RunJs(QStringLiteral("location.pathname")).toString(), QStringLiteral("/media/page.html"));
    // Sub-frame navigations are not asked about.
    for (const WString& uri : navigationsStarting) EXPECT_FALSE(Contains(uri, u"embed.html")) << WideToUtf8(uri);

    // A page given as text starts as about:blank, as in WebView2.
    ASSERT_TRUE(NavigateAndWait([&] { host->NavigateToString(u"<p>text</p>"); }));
    EXPECT_EQ(navigationsStarting.back(), u"about:blank");
}

// New windows the user asks for (a click on a target=_blank link) open in
// this view; those a script asks for on its own (a frame of another origin
// among them), and those for addresses that are no web address, do not.
TEST_F(WebViewHostTest, NewWindowsOpenInTheSameViewOnlyForTheUsersClicks) {
    ASSERT_TRUE(BrowserTest::DevServiceUp());
    ASSERT_TRUE(Start());
    ASSERT_TRUE(NavigateAndWait([&] {
        host->NavigateToString(
            u"<style>a{display:block;font-size:40px}</style>"
            u"<a id='blank' target='_blank' href='" + DevUrl("/start") + u"'>start</a>"
            u"<a id='file' target='_blank' href='file:///etc/passwd'>file</a>"
            u"<a id='data' target='_blank' href=\"data:text/html,<script>window.chrome.webview.postMessage('from "
            u"data')</script>\">data</a>"
            u"<iframe id='frame' src=\"data:text/html,<script>setTimeout(function () { "
            u"window.open('" + DevUrl("/home") + u"', '_blank'); }, 1500);</script>\"></iframe>"
            u"<script>window.chrome.webview.postMessage('loaded')</script>");
    }));
    ASSERT_TRUE(WaitFor([&] { return !messages.empty(); }));
    const QString page = RunJs(QStringLiteral("location.href")).toString();

    // What a script opens on its own, in the page or in its frame of another
    // origin (an opaque one), opens nowhere.
    const std::size_t before = navigationsStarting.size();
    RunJs(QStringLiteral("window.open('/home', 'other', 'width=300,height=200'); true"));
    Pump(3000); // the frame's own window.open comes 1.5 s after it loaded
    EXPECT_EQ(navigationsStarting.size(), before);
    EXPECT_EQ(RunJs(QStringLiteral("location.href")).toString(), page);

    // The user's clicks on links to a file or a page made of data open nothing either.
    for (const char* link : {"file", "data"}) {
        ASSERT_TRUE(UserInput::Click(WebView::ViewOf(*host), RunJs(UserInput::CentreOf(QString::fromLatin1(link)))));
        Pump(1000);
        EXPECT_EQ(navigationsStarting.size(), before) << link;
    }
    EXPECT_EQ(std::count(messages.begin(), messages.end(), u"from data"), 0);

    // The user's click on a web link opens it, in this view.
    const std::size_t completed = completions.size();
    ASSERT_TRUE(UserInput::Click(WebView::ViewOf(*host), RunJs(UserInput::CentreOf(QStringLiteral("blank")))));
    ASSERT_TRUE(WaitFor([&] { return completions.size() > completed; }));
    EXPECT_EQ(RunJs(QStringLiteral("location.href")).toString(), QString::fromStdU16String(DevUrl("/start")));
    EXPECT_EQ(navigationsStarting.back(), DevUrl("/start"));
    // Still one top-level window.
    int views = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible()) ++views;
    EXPECT_EQ(views, 1);
}

TEST_F(WebViewHostTest, ScriptsRunAtDocumentCreationAlsoInFrames) {
    ASSERT_TRUE(BrowserTest::DevServiceUp());
    host->onReady = [&](bool ok) {
        readyCalls.push_back(ok);
        host->AddScriptToExecuteOnDocumentCreated(
            u"window.__created = document.readyState + ':' + (document.body === null) + ':' + "
            u"(window.chrome && typeof window.chrome.webview) + ':' + (window === window.top);");
        host->AddScriptToExecuteOnDocumentCreated(u"window.__order = (window.__order || '') + 'b';");
    };
    ASSERT_TRUE(Start());
    // The page's own first script sees what the injected ones did.
    ASSERT_TRUE(NavigateAndWait([&] {
        host->NavigateToString(u"<script>window.chrome.webview.postMessage(window.__created + ' ' + window.__order)"
                               u"</script>");
    }));
    ASSERT_TRUE(WaitFor([&] { return !messages.empty(); }));
    EXPECT_EQ(messages.front(), u"loading:true:object:true b");

    ASSERT_TRUE(NavigateAndWait([&] { host->NavigateTo(DevUrl("/media/page.html")); }));
    EXPECT_EQ(RunJs(QStringLiteral("window.__created")).toString(), QStringLiteral("loading:true:object:true"));
    ASSERT_TRUE(WaitFor([&] {
        return RunJs(QStringLiteral("document.getElementById('frame').contentWindow.__created")).toString() ==
               QStringLiteral("loading:true:undefined:false");
    }));
}

TEST_F(WebViewHostTest, GoBackFollowsHistory) {
    ASSERT_TRUE(Start());
    EXPECT_FALSE(host->CanGoBack());
    ASSERT_TRUE(NavigateAndWait([&] { host->NavigateToString(u"<p id='p'>one</p>"); }));
    ASSERT_TRUE(NavigateAndWait([&] { host->Navigate(u"data:text/html,<p id='p'>two</p>"); }));
    // Browser-initiated data: loads are allowed; the second page is current.
    EXPECT_EQ(RunJs(QStringLiteral("document.getElementById('p').textContent")).toString(), QStringLiteral("two"));
    ASSERT_TRUE(host->CanGoBack());
    host->ConfigureForProduction(); // the host's own back still works
    ASSERT_TRUE(NavigateAndWait([&] { host->GoBack(); }));
    EXPECT_EQ(RunJs(QStringLiteral("document.getElementById('p').textContent")).toString(), QStringLiteral("one"));
}

TEST_F(WebViewHostTest, BadAddressesAreIgnored) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(NavigateAndWait([&] { host->NavigateToString(u"<p id='p'>kept</p>"); }));
    const std::size_t before = navigationsStarting.size();
    host->NavigateTo(u"");
    host->NavigateTo(u"not a url");
    host->Navigate(u"http://[::1");
    host->Navigate(u"/relative/path");
    host->NavigateTo(WString(u"https://127.0.0.1:47443/\0x", 27));
    Pump(500);
    EXPECT_EQ(navigationsStarting.size(), before);
    EXPECT_EQ(RunJs(QStringLiteral("document.getElementById('p').textContent")).toString(), QStringLiteral("kept"));
}

TEST_F(WebViewHostTest, NavigationOutcomesAsWebView2ReportsThem) {
    ASSERT_TRUE(BrowserTest::DevServiceUp());
    ASSERT_TRUE(Start());
    EXPECT_TRUE(NavigateAndWait([&] { host->Navigate(DevUrl("/status/200")); }));
    EXPECT_EQ(completions.back().second, 0);
    // An HTTP error answer is a failed navigation.
    EXPECT_FALSE(NavigateAndWait([&] { host->Navigate(DevUrl("/status/404")); }));
    EXPECT_NE(completions.back().second, 0);
    EXPECT_FALSE(NavigateAndWait([&] { host->Navigate(DevUrl("/status/500")); }));
    EXPECT_FALSE(NavigateAndWait([&] { host->Navigate(u"https://127.0.0.1:47999/"); }));
    EXPECT_EQ(completions.back().second, WebView::WebErrorStatus::kCannotConnect);
    // A cancelled navigation completes as a failure too, as in WebView2.
    cancelNavigation = [](const WString& uri) { return Contains(uri, u"/start"); };
    EXPECT_FALSE(NavigateAndWait([&] { host->Navigate(DevUrl("/start")); }, 5000));
}

TEST_F(WebViewHostTest, OversizedTextPageFailsAsANavigation) {
    ASSERT_TRUE(Start());
    const WString huge = u"<p>" + WString(3 * 1024 * 1024, u'a') + u"</p>";
    EXPECT_FALSE(NavigateAndWait([&] { host->NavigateToString(huge); }));
    EXPECT_NE(completions.back().second, 0);
}

TEST_F(WebViewHostTest, DestroyingTheHostWhileLoadingIsSafe) {
    ASSERT_TRUE(BrowserTest::DevServiceUp());
    ASSERT_TRUE(Start());
    host->NavigateTo(DevUrl("/slow?ms=3000"));
    Pump(100);
    host.reset();
    Pump(200);
    // The window goes first this time: the host must not touch a dead view.
    NewHost();
    ASSERT_TRUE(Start());
    window.reset();
    host->SetBounds(0, 0, 10, 10);
    host->NavigateToString(u"<p>x</p>");
    host.reset();
    Pump(200);
}

TEST_F(WebViewHostTest, PageDataPersistsInTheUserFolder) {
    ASSERT_TRUE(Start());
    QWebEngineProfile* profile = WebView::ProfileOf(*host);
    ASSERT_NE(profile, nullptr);
    EXPECT_FALSE(profile->isOffTheRecord());
    const QString folder = dataDir.path() + QStringLiteral("/WebView2Data");
    EXPECT_EQ(QDir(profile->persistentStoragePath()).absolutePath(), folder);
    EXPECT_TRUE(profile->cachePath().startsWith(folder));
    ASSERT_TRUE(NavigateAndWait([&] { host->NavigateToString(u"<p>one</p>"); }));
    RunJs(QStringLiteral("localStorage.setItem('kept', 'across starts')"));
    host.reset();
    Pump(1000);
    EXPECT_TRUE(QDir(folder).exists());

    NewHost();
    ASSERT_TRUE(Start());
    ASSERT_TRUE(NavigateAndWait([&] { host->NavigateToString(u"<p>two</p>"); }));
    EXPECT_EQ(RunJs(QStringLiteral("localStorage.getItem('kept')")).toString(), QStringLiteral("across starts"));
}

} // namespace
