// The production settings and the page's requests the host answers itself:
// zoom, browser keys, context menu, saving, downloads, permissions and PDFs.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QTest>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QWheelEvent>

#include <gmock/gmock.h>

#include "browser_fixture.h"
#include "player/browser_page_qt.h"
#include "player/webview_host_qt.h"

using BrowserTesting::BrowserTest;
using BrowserTesting::DevUrl;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class ProductionTest : public BrowserTest {
protected:
    QWidget* InputWidget() {
        QWebEngineView* view = WebView::ViewOf(*host);
        return view != nullptr && view->focusProxy() != nullptr ? view->focusProxy() : view;
    }
    bool LoadMarkedPage() {
        const bool loaded = NavigateAndWait([&] {
            host->NavigateToString(u"<body style='height:2000px'><p id='p'>page</p>"
                                   u"<a id='d' href='data:text/plain,hello' download='hello.txt'>file</a></body>");
        });
        if (!loaded) return false;
        RunJs(QStringLiteral("window.__marker = 'kept'"));
        // Chromium draws the page into the widget that takes input.
        return WaitFor([&] { return WebView::ViewOf(*host)->focusProxy() != nullptr; });
    }
    void CtrlWheel() {
        QWidget* target = InputWidget();
        const QPointF at(100, 100);
        for (int i = 0; i < 3; ++i) {
            QWheelEvent wheel(at, target->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::ControlModifier,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(target, &wheel);
        }
    }
    QString Marker() { return RunJs(QStringLiteral("String(window.__marker)")).toString(); }
    void Record(QWebEngineProfile* profile) {
        QObject::connect(profile, &QWebEngineProfile::downloadRequested, profile,
                         [this](QWebEngineDownloadRequest* d) {
                             downloadStates.push_back(d->state());
                             downloadNames.push_back(d->downloadFileName());
                         });
    }

    std::vector<QWebEngineDownloadRequest::DownloadState> downloadStates;
    std::vector<QString> downloadNames;
};

TEST_F(ProductionTest, CtrlWheelZoomsOnlyUntilProduction) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(LoadMarkedPage());
    QWebEnginePage* page = WebView::PageOf(*host);
    CtrlWheel();
    // Qt WebEngine zooms on Ctrl+wheel by itself.
    ASSERT_TRUE(WaitFor([&] { return page->zoomFactor() != 1.0; }, 5000));
    host->ConfigureForProduction();
    EXPECT_EQ(page->zoomFactor(), 1.0);
    CtrlWheel();
    Pump(800);
    EXPECT_EQ(page->zoomFactor(), 1.0);
    // Plain wheel still scrolls the page.
    const QPointF at(100, 100);
    QWheelEvent wheel(at, InputWidget()->mapToGlobal(at), QPoint(), QPoint(0, -360), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(InputWidget(), &wheel);
    EXPECT_TRUE(WaitFor([&] { return RunJs(QStringLiteral("window.scrollY")).toInt() > 0; }, 5000));
}

TEST_F(ProductionTest, BrowserCommandsWorkOnlyUntilProduction) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(NavigateAndWait([&] { host->NavigateToString(u"<p>first</p>"); }));
    ASSERT_TRUE(LoadMarkedPage());
    WebView::BrowserPage* page = WebView::PageOf(*host);
    page->triggerAction(QWebEnginePage::Reload);
    ASSERT_TRUE(WaitFor([&] { return Marker() == QStringLiteral("undefined"); }, 5000));
    RunJs(QStringLiteral("window.__marker = 'kept'"));

    host->ConfigureForProduction();
    for (QWebEnginePage::WebAction action : {QWebEnginePage::Reload, QWebEnginePage::ReloadAndBypassCache,
                                             QWebEnginePage::Back, QWebEnginePage::ViewSource}) {
        page->triggerAction(action);
        Pump(400);
        EXPECT_EQ(Marker(), QStringLiteral("kept")) << action;
    }
    // The keys Chromium knows as browser commands reach the page and nothing else.
    RunJs(QStringLiteral("window.__keys = []; document.addEventListener('keydown', e => window.__keys.push(e.key))"));
    for (auto [key, modifiers] : {std::pair{Qt::Key_F5, Qt::NoModifier}, std::pair{Qt::Key_R, Qt::ControlModifier},
                                  std::pair{Qt::Key_Left, Qt::AltModifier}, std::pair{Qt::Key_F12, Qt::NoModifier}})
        QTest::keyClick(InputWidget(), key, modifiers);
    // QTest presses the modifier keys too.
    WaitFor([&] { return RunJs(QStringLiteral("window.__keys.length")).toInt() == 6; }, 3000);
    EXPECT_EQ(RunJs(QStringLiteral("window.__keys.join(' ')")).toString(), QStringLiteral("F5 Control r Alt ArrowLeft F12"));
    EXPECT_EQ(Marker(), QStringLiteral("kept"));
    // The host's own history command still works.
    ASSERT_TRUE(host->CanGoBack());
    EXPECT_TRUE(NavigateAndWait([&] { host->GoBack(); }));
    EXPECT_EQ(RunJs(QStringLiteral("document.body.innerText")).toString(), QStringLiteral("first"));
}

TEST_F(ProductionTest, NoContextMenuInProduction) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(LoadMarkedPage());
    RunJs(QStringLiteral("document.addEventListener('contextmenu', () => window.__menus = (window.__menus || 0) + 1)"));
    QTest::mouseClick(InputWidget(), Qt::RightButton, Qt::NoModifier, QPoint(50, 50));
    ASSERT_TRUE(WaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 5000));
    QApplication::activePopupWidget()->close();
    Pump(200);

    host->ConfigureForProduction();
    QTest::mouseClick(InputWidget(), Qt::RightButton, Qt::NoModifier, QPoint(60, 60));
    // The page still hears its contextmenu event.
    EXPECT_TRUE(WaitFor([&] { return RunJs(QStringLiteral("window.__menus")).toInt() == 2; }, 5000));
    Pump(500);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST_F(ProductionTest, DownloadsAreCancelled) {
    ASSERT_TRUE(Start());
    host->ConfigureForProduction();
    Record(WebView::ProfileOf(*host));
    ASSERT_TRUE(LoadMarkedPage());
    RunJs(QStringLiteral("document.getElementById('d').click()"));
    ASSERT_TRUE(WaitFor([&] { return !downloadStates.empty(); }));
    EXPECT_THAT(downloadStates, ElementsAre(QWebEngineDownloadRequest::DownloadCancelled));
    EXPECT_THAT(downloadNames, ElementsAre(QStringLiteral("hello.txt")));
    Pump(500);
    const QString folder = WebView::ProfileOf(*host)->downloadPath();
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/hello.txt")));
    // The page carries on.
    EXPECT_EQ(Marker(), QStringLiteral("kept"));
}

TEST_F(ProductionTest, SavePageDoesNothingInProduction) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(LoadMarkedPage());
    Record(WebView::ProfileOf(*host));
    WebView::BrowserPage* page = WebView::PageOf(*host);
    // Without production the save command asks for a download (refused).
    page->triggerAction(QWebEnginePage::SavePage);
    ASSERT_TRUE(WaitFor([&] { return downloadStates.size() == 1; }));
    host->ConfigureForProduction();
    EXPECT_FALSE(page->action(QWebEnginePage::SavePage)->isEnabled());
    EXPECT_FALSE(page->action(QWebEnginePage::InspectElement)->isEnabled());
    page->triggerAction(QWebEnginePage::SavePage);
    page->triggerAction(QWebEnginePage::Reload);
    QTest::keyClick(InputWidget(), Qt::Key_S, Qt::ControlModifier);
    QTest::keyClick(InputWidget(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    Pump(800);
    EXPECT_EQ(downloadStates.size(), 1u);
    EXPECT_EQ(Marker(), QStringLiteral("kept"));
}

TEST_F(ProductionTest, CameraMicrophoneAndNotificationsAllowedGeolocationNot) {
    ASSERT_TRUE(Start());
    host->ConfigureForProduction();
    std::vector<QWebEnginePage::Feature> asked;
    QObject::connect(WebView::PageOf(*host), &QWebEnginePage::featurePermissionRequested, WebView::PageOf(*host),
                     [&](const QUrl&, QWebEnginePage::Feature f) { asked.push_back(f); });
    ASSERT_TRUE(NavigateAndWait([&] {
        host->NavigateToString(
            u"<script>"
            u"var post = m => window.chrome.webview.postMessage(m);"
            u"navigator.mediaDevices.getUserMedia({video: true})"
            u"  .then(s => post('camera ' + s.getVideoTracks().length), e => post('camera ' + e.name));"
            u"navigator.mediaDevices.getUserMedia({audio: true})"
            u"  .then(s => post('microphone ' + s.getAudioTracks().length), e => post('microphone ' + e.name));"
            u"Notification.requestPermission().then(p => post('notifications ' + p));"
            u"navigator.geolocation.getCurrentPosition(() => post('geolocation granted'),"
            u"  e => post('geolocation ' + e.code), {timeout: 8000});"
            u"</script>");
    }));
    ASSERT_TRUE(WaitFor([&] { return messages.size() == 4; }, 15000));
    std::sort(messages.begin(), messages.end());
    EXPECT_THAT(messages, ElementsAre(u"camera 1", u"geolocation 1", u"microphone 1", u"notifications granted"));
    EXPECT_THAT(asked, Contains(QWebEnginePage::MediaVideoCapture));
    EXPECT_THAT(asked, Contains(QWebEnginePage::Geolocation));
}

TEST_F(ProductionTest, PdfOpensInTheViewerWithTheScripts) {
    ASSERT_TRUE(DevServiceUp());
    host->onReady = [&](bool ok) {
        readyCalls.push_back(ok);
        host->ConfigureForProduction();
        host->AddScriptToExecuteOnDocumentCreated(u"window.__injected = 'yes';");
    };
    ASSERT_TRUE(Start());
    Record(WebView::ProfileOf(*host));
    EXPECT_TRUE(NavigateAndWait([&] { host->NavigateTo(DevUrl("/media/sample.pdf")); }));
    Pump(500);
    EXPECT_THAT(downloadStates, IsEmpty());
    EXPECT_EQ(RunJs(QStringLiteral("document.querySelector('embed') ? document.querySelector('embed').type : 'none'"))
                  .toString(),
              QStringLiteral("application/pdf"));
    EXPECT_EQ(RunJs(QStringLiteral("window.__injected")).toString(), QStringLiteral("yes"));
    // The PDF's document talks to the host like any page (the print button).
    RunJs(QStringLiteral("window.chrome.webview.postMessage('from the pdf')"));
    EXPECT_TRUE(WaitFor([&] { return !messages.empty() && messages.back() == u"from the pdf"; }, 5000));
}

} // namespace
