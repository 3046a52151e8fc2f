// The player end to end on a virtual display: every kind of content of the
// development service's catalogue, printing into CUPS, the navigation policy
// and the pin check of browser traffic.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QKeyEvent>
#include <QWebEngineView>
#include <QWebEnginePage>
#include <QScreen>

#include <optional>
#include <thread>

#include <nlohmann/json.hpp>

#include "common/app_constants.h"
#include "common/masking.h"
#include "links/player_content.h"
#include "player/print_gate.h"
#include "player/print_job_qt.h"
#include "player/printer_dialog_qt.h"
#include "player/webview_host_qt.h"
#include "service/http_client.h"
#include "service/pins.h"
#include "tests/player_e2e/player_harness.h"
#include "tests/player_qt/user_input_qt.h"
#include "tests/support/test_support.h"

using namespace PlayerTesting;

namespace {

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

bool OverlayGone(PlayerTest& t, QVariant (PlayerTest::*run)(const QString&, int)) {
    return (t.*run)(Text("document.getElementById('kelbro-full-loader') === null"), 10000).toBool();
}

QStringList PdfFiles() {
    return QDir(QDir::homePath() + "/PDF").entryList({"*.pdf"}, QDir::Files, QDir::Time);
}

} // namespace

class Player : public PlayerTest {
protected:
    // The content's own document, not the blank page the browser starts on.
    bool PageComplete(const char* path) {
        return RunJs(Text("location.pathname === '%1' && document.readyState === 'complete'").arg(Text(path))).toBool();
    }
};

TEST_F(Player, VideoPlaysAndTheOverlayGoes) {
    ASSERT_TRUE(OpenContent("video-1"));
    EXPECT_EQ(player->windowTitle(), Text("Tovani V 4.9.0"));
    EXPECT_EQ(PlayerContent.contentType, u"url_direct");
    EXPECT_TRUE(WaitFor([&] {
        return RunJs(Text("(function(){var v=document.querySelector('video');"
                          "return !!v && !v.paused && v.currentTime > 0.3;})()"))
            .toBool();
    }, 30000)) << "the video never played";
    EXPECT_TRUE(WaitFor([&] { return RunJs(Text("document.getElementById('kelbro-full-loader') === null")).toBool(); },
                        12000));
    Screenshot("player-video");
}

TEST_F(Player, PdfShowsWithWatermarkAndPrintButton) {
    ASSERT_TRUE(OpenContent("pdf-1"));
    ASSERT_TRUE(WaitFor([&] { return RunJs(Text("!!document.getElementById('kelbro-watermark')")).toBool(); }));
    EXPECT_EQ(RunJs(Text("document.getElementById('kelbro-watermark').textContent")).toString(),
              Text("Learner 42 \xE2\x80\x93 \xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7"));
    EXPECT_TRUE(RunJs(Text("!!document.getElementById('kelbro-print-btn')")).toBool());
    // A page that removes the watermark gets it back.
    RunJs(Text("document.getElementById('kelbro-watermark').remove(); true"));
    EXPECT_TRUE(WaitFor([&] { return RunJs(Text("!!document.getElementById('kelbro-watermark')")).toBool(); }, 5000));
    EXPECT_TRUE(WaitFor([&] { return RunJs(Text("document.getElementById('kelbro-full-loader') === null")).toBool(); },
                        12000));
    Pump(1500);
    Screenshot("player-pdf");
}

TEST_F(Player, OtherKindsGetTheEmbeddedFramePage) {
    ASSERT_TRUE(OpenContent("embed-1"));
    ASSERT_TRUE(WaitFor([&] { return RunJs(Text("!!document.querySelector('iframe')")).toBool(); }));
    EXPECT_EQ(RunJs(Text("document.title")).toString(), Text("Tovani"));
    EXPECT_EQ(RunJs(Text("document.querySelector('iframe').getAttribute('src')")).toString(),
              Text("https://127.0.0.1:47443/media/embed.html"));
    EXPECT_TRUE(player->Shown());
}

TEST_F(Player, WatermarkTextIsShownLiterally) {
    PlayerContent = PlayerContentRecord{};
    PlayerContent.domain = u"https://127.0.0.1:47443";
    PlayerContent.url = u"https://127.0.0.1:47443/media/embed.html";
    PlayerContent.contentType = u"web";
    PlayerContent.watermarkText = u"it's <b>&\"x\"</b>";
    player = std::make_unique<PlayerWindow>();
    player->show();
    ASSERT_TRUE(player->CreateBrowser());
    ASSERT_TRUE(WaitFor([&] { return RunJs(Text("!!document.querySelector('iframe')")).toBool(); }));
    EXPECT_EQ(RunJs(Text("document.querySelector('iframe').nextElementSibling.textContent")).toString(),
              Text("it's <b>&\"x\"</b>"));
    EXPECT_FALSE(RunJs(Text("!!document.querySelector('body > div > b')")).toBool());
}

TEST_F(Player, PrintingReachesCupsAndReportsTheRealOutcome) {
    ASSERT_TRUE(OpenContent("https://127.0.0.1:47443/media/page.html"));
    ASSERT_TRUE(WaitFor([&] { return PageComplete("/media/page.html"); }));
    ListenForPlayerMessages();

    // window.print() is redirected to the player's own dialog.
    const QStringList before = PdfFiles();
    QStringList listed;
    AnswerPrinterDialog(Text("PDF"), &listed);
    RunJs(Text("window.print(); true"));
    ASSERT_TRUE(WaitFor([&] { return PlayerMessages().contains(Text("printResult")); }, 60000));
    EXPECT_EQ(PlayerMessages().toStdString(), R"({"type":"printResult","status":"success","message":"Print job sent successfully."})");
    ASSERT_FALSE(listed.isEmpty());
    // The default printer comes first, starred, with its state (idle, or
    // printing another test's job).
    EXPECT_TRUE(listed.front().startsWith(Text("PDF  \xE2\x98\x85  ("))) << listed.front().toStdString();
    EXPECT_TRUE(WaitFor([&] { return PdfFiles().size() > before.size(); }, 20000)) << "no PDF was written";

    // Escape: cancelled.
    RunJs(Text("window.__tovaniResults = []; true"));
    AnswerPrinterDialog(QString());
    RunJs(Text("window.print(); true"));
    ASSERT_TRUE(WaitFor([&] { return PlayerMessages().contains(Text("printResult")); }, 20000));
    EXPECT_EQ(PlayerMessages().toStdString(), R"({"type":"printResult","status":"cancelled"})");
    // Requests in the quiet time after a cancel are not taken.
    Pump(static_cast<int>(PrintGate::kCancelQuiet.count()) + 200);

    // A stopped printer: unavailable.
    RunJs(Text("window.__tovaniResults = []; true"));
    AnswerPrinterDialog(Text("Stopped"));
    RunJs(Text("window.print(); true"));
    ASSERT_TRUE(WaitFor([&] { return PlayerMessages().contains(Text("printResult")); }, 20000));
    EXPECT_EQ(PlayerMessages().toStdString(),
              R"({"type":"printResult","status":"error","message":"The selected printer is unavailable."})");
}

// Two requests at once: one dialog, one answer.
TEST_F(Player, ASecondPrintRequestWhileOneIsUnderWayIsNotStacked) {
    ASSERT_TRUE(OpenContent("https://127.0.0.1:47443/media/page.html"));
    ASSERT_TRUE(WaitFor([&] { return PageComplete("/media/page.html"); }));
    ListenForPlayerMessages();
    // While the dialog is open the page asks again; the user prints on PDF.
    int dialogs = 0;
    bool askedAgain = false;
    QWebEngineView* view = WebView::ViewOf(*player->Host());
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        int count = 0;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (qobject_cast<PrinterChoiceDialog*>(widget) != nullptr && widget->isVisible()) ++count;
        dialogs = std::max(dialogs, count);
        if (count > 0 && !askedAgain) {
            askedAgain = true;
            view->page()->runJavaScript(Text("window.print();"));
        }
    });
    user.start(10);
    AnswerPrinterDialog(Text("PDF"));
    RunJs(Text("window.print(); true"));
    ASSERT_TRUE(WaitFor([&] { return PlayerMessages().contains(Text("printResult")); }, 60000));
    Pump(2000);
    user.stop();
    EXPECT_TRUE(askedAgain);
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(RunJs(Text("window.__tovaniResults.length")).toInt(), 1) << PlayerMessages().toStdString();
    EXPECT_EQ(PlayerMessages().toStdString(), R"({"type":"printResult","status":"success","message":"Print job sent successfully."})");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    // The next request is served again.
    RunJs(Text("window.__tovaniResults = []; true"));
    AnswerPrinterDialog(QString());
    RunJs(Text("window.print(); true"));
    EXPECT_TRUE(WaitFor([&] { return PlayerMessages().contains(Text("cancelled")); }, 20000));
}

// A job CUPS accepted and still holds when the watch ends has not failed.
TEST(PrintJobWatcher, AJobStillPendingAtTheTimeLimitIsNotAFailure) {
    const QString printer = QStringLiteral("PDF");
    ASSERT_TRUE(PrinterAvailable(printer));
    const std::set<int> known = PrinterJobIds(printer);
    QTemporaryDir folder;
    const QString document = folder.filePath(QStringLiteral("held.txt"));
    {
        QFile file(document);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("held\n");
    }
    const auto submitted = TestSupport::RunProcess("/usr/bin/lp", {"-d", "PDF", "-H", "hold", document.toStdString()});
    ASSERT_EQ(submitted.status, 0) << submitted.err;
    std::optional<PrintJobOutcome> outcome;
    new PrintJobWatcher(printer, known, [&](PrintJobOutcome o) { outcome = o; }, 1500, qApp);
    for (int i = 0; i < 200 && !outcome; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(outcome, PrintJobOutcome::Completed);
    for (const int id : PrinterJobIds(printer))
        if (known.count(id) == 0) TestSupport::RunProcess("/usr/bin/cancel", {std::to_string(id)});
}

TEST_F(Player, PdfPrintButtonAndKeysOpenThePrinterDialog) {
    ASSERT_TRUE(OpenContent("pdf-1"));
    ASSERT_TRUE(WaitFor([&] { return RunJs(Text("!!document.getElementById('kelbro-print-btn')")).toBool(); }));
    ListenForPlayerMessages();
    AnswerPrinterDialog(QString());
    RunJs(Text("document.getElementById('kelbro-print-btn').click(); true"));
    ASSERT_TRUE(WaitFor([&] { return PlayerMessages().contains(Text("cancelled")); }, 20000));
    // Requests in the quiet time after a cancel are not taken.
    Pump(static_cast<int>(PrintGate::kCancelQuiet.count()) + 200);

    RunJs(Text("window.__tovaniResults = []; true"));
    AnswerPrinterDialog(QString());
    RunJs(Text("document.dispatchEvent(new KeyboardEvent('keydown', {key: 'p', ctrlKey: true, bubbles: true})); true"));
    EXPECT_TRUE(WaitFor([&] { return PlayerMessages().contains(Text("cancelled")); }, 20000));
}

TEST_F(Player, NavigationPolicyInTheRealBrowser) {
    ASSERT_TRUE(OpenContent("https://127.0.0.1:47443/media/page.html"));
    ASSERT_TRUE(WaitFor([&] { return PageComplete("/media/page.html"); }));
    // An unrelated site is refused: the page stays.
    RunJs(Text("location.href = 'https://unrelated.example.net/'; true"));
    Pump(1500);
    EXPECT_EQ(RunJs(Text("location.href")).toString(), Text("https://127.0.0.1:47443/media/page.html"));
    // The same site is allowed.
    RunJs(Text("location.href = 'https://127.0.0.1:47443/media/embed.html?x=1'; true"));
    EXPECT_TRUE(WaitFor([&] { return RunJs(Text("location.pathname")).toString() == Text("/media/embed.html"); }));
    // A new window the user asks for stays in this view (clicked once the
    // loading overlay has gone).
    Pump(1500);
    RunJs(Text("var a = document.createElement('a'); a.id = 'opener'; a.target = '_blank';"
               "a.href = 'https://127.0.0.1:47443/media/page.html#opened'; a.textContent = 'open';"
               "a.style.cssText = 'position:fixed;left:20px;top:20px;font-size:40px;z-index:2147483647';"
               "document.body.appendChild(a); true"));
    ASSERT_TRUE(UserInput::Click(WebView::ViewOf(*player->Host()), RunJs(UserInput::CentreOf(Text("opener")))));
    EXPECT_TRUE(WaitFor([&] { return RunJs(Text("location.hash")).toString() == Text("#opened"); }));
}

// A forged chain on the platform's own host (its leaf names the genuine
// intermediate and is sent with it): the diagnostic path, and the server
// receives nothing after the handshake.
TEST(PlayerProgram, AForgedChainOnThePlatformHostEndsInTheDiagnostic) {
    HttpClient control;
    control.pinningDisabled = true;
    ASSERT_TRUE(control.Get(u"http://127.0.0.1:47480/control/traps/reset").ok);
    const WString link = TestSupport::SealLink("p", "https://127.0.0.1:47446/content", "https://127.0.0.1:47443");
    const auto run = TestSupport::RunProcess(std::string(TOVANI_BIN_DIR) + "/tovani", {WideToUtf8(link)});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("Network Connection Intercepted"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("SSL_127.0.0.1"), std::string::npos) << run.err;
    // The log shows the start-up steps, not the browser engine's chatter.
    EXPECT_NE(run.err.find("Step 9: hasSchemeArgs=1"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("qt.webenginecontext"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(":ERROR:"), std::string::npos) << run.err;
    // The relay met the listener (its record is written when the connection closes).
    nlohmann::json records;
    for (int i = 0; i < 50 && (!records.is_array() || records.empty()); ++i) {
        if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const nlohmann::json all =
            nlohmann::json::parse(control.Get(u"http://127.0.0.1:47480/control/traps").body, nullptr, false);
        if (all.is_object()) records = all.value("127.0.0.1:47446", nlohmann::json::array());
    }
    ASSERT_FALSE(records.empty()) << "the forged server was never contacted";
    for (const nlohmann::json& record : records) EXPECT_EQ(record["bytes"], 0) << record.dump();
}

// The whole program: the service's pin document pins 127.0.0.2 to a key its
// certificate lacks; the content the service names there is blocked and half
// a second later the program ends in the diagnostic path.
TEST(PlayerProgram, ABrowserRequestFailingItsPinsEndsInTheDiagnostic) {
    HttpClient control;
    control.pinningDisabled = true;
    const std::string wrongPins = R"([{"scope":"127.0.0.2","pins":["sha256/AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="]}])";
    ASSERT_TRUE(control.Request(u"PUT", u"http://127.0.0.1:47480/control/pins", wrongPins, u"application/json").ok);
    // The service names it: a direct address on another host is no content a link may carry.
    nlohmann::json content = nlohmann::json::object();
    content[UnmaskConstant(Config::kKeyData)] = {{UnmaskConstant(Config::kKeyKind), "video"},
                                                 {UnmaskConstant(Config::kKeyAddress), "https://127.0.0.2:47443/media/page.html"}};
    const WString link = TestSupport::SealLink("p", "content-9", TestSupport::CannedServiceBase(content.dump()));
    const auto run = TestSupport::RunProcess(std::string(TOVANI_BIN_DIR) + "/tovani", {WideToUtf8(link)});
    control.Request(u"DELETE", u"http://127.0.0.1:47480/control/pins", "", u"");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("Network Connection Intercepted"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("MITM_PIN_127.0.0.2"), std::string::npos) << run.err;
}

// A video as a user meets it: its menu offers no "Download", the log says it
// loaded, F11 and Esc toggle the window's fullscreen, and the video's own
// fullscreen (a double click on it, through the X server) fills the screen
// until Esc.
TEST_F(Player, VideoFullscreenFromKeysAndFromTheVideoItself) {
    StderrCapture log;
    ASSERT_TRUE(OpenContent("video-1"));
    ASSERT_TRUE(WaitFor([&] {
        return RunJs(Text("(function(){var v=document.querySelector('video');"
                          "return !!v && !v.paused && v.currentTime > 0.3;})()"))
            .toBool();
    }, 30000)) << "the video never played";
    EXPECT_TRUE(RunJs(Text("document.querySelector('video').controlsList.contains('nodownload')")).toBool())
        << RunJs(Text("document.documentElement.outerHTML.slice(0,300)")).toString().toStdString();
    const std::string lines = log.Text();
    EXPECT_EQ(lines.find("navigation completed failed"), std::string::npos) << lines;
    EXPECT_NE(lines.find("navigation completed ok (media document) https://127.0.0.1:47443/media/"), std::string::npos)
        << lines;

    PressKeys(player.get(), {"F11"});
    EXPECT_TRUE(WaitFor([&] { return player->Fullscreen() && player->isFullScreen(); }, 5000));
    PressKeys(player.get(), {"Escape"});
    EXPECT_TRUE(WaitFor([&] { return !player->Fullscreen() && !player->isFullScreen(); }, 5000));
    // Outside fullscreen Esc belongs to the page.
    PressKeys(player.get(), {"Escape"});
    Pump(300);
    EXPECT_FALSE(player->isFullScreen());

    // The video's controls take a moment to answer the pointer; a double
    // click that came too early is given again.
    bool pageFullscreen = false;
    for (int attempt = 0; attempt < 3 && !pageFullscreen; ++attempt) {
        PointerTo(player->mapToGlobal(player->rect().center()), 2);
        pageFullscreen = WaitFor([&] { return player->PageFullscreen() && player->isFullScreen(); }, 4000);
    }
    ASSERT_TRUE(pageFullscreen);
    EXPECT_TRUE(WaitFor([&] { return RunJs(Text("!!document.fullscreenElement")).toBool(); }, 5000));
    Pump(500);
    EXPECT_EQ(player->geometry(), player->screen()->geometry());
    Screenshot("player-video-own-fullscreen");
    PressKeys(player.get(), {"Escape"});
    EXPECT_TRUE(WaitFor([&] { return !player->PageFullscreen() && !player->isFullScreen(); }, 5000));
    EXPECT_TRUE(WaitFor([&] { return !RunJs(Text("!!document.fullscreenElement")).toBool(); }, 5000));
}
