// The player against hostile pages and hostile service answers, end to end
// in the real browser on a virtual display: what they try reaches nobody
// and runs nothing, and genuine contents still show.
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPointer>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QTimer>

#include <nlohmann/json.hpp>

#include "app/splash_qt.h"
#include "app/startup_shell_qt.h"
#include "common/masking.h"
#include "links/player_content.h"
#include "player/print_gate.h"
#include "player/printer_dialog_qt.h"
#include "player/webview_host_qt.h"
#include "tests/player_e2e/outside_listener.h"
#include "tests/player_e2e/player_harness.h"
#include "tests/player_e2e/selective_interceptor.h"
#include "tests/player_e2e/window_close_x11.h"
#include "tests/service/service_test_env.h"
#include "tests/player_qt/user_input_qt.h"
#include "tests/support/test_support.h"

using namespace PlayerTesting;

namespace {

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

using nlohmann::json;

// A service base on the development service that answers every request with
// this document (status 200 unless given).
std::string CannedBase(const std::string& body, int status = 200) { return TestSupport::CannedServiceBase(body, status); }

// A content-data answer in the profile's keys.
std::string ContentAnswer(const std::string& kind, const std::string& address, const std::string& youtube = "") {
    json data = json::object();
    data[UnmaskConstant(Config::kKeyKind)] = kind;
    data[UnmaskConstant(Config::kKeyAddress)] = address;
    if (!youtube.empty()) data[UnmaskConstant(Config::kKeyEmbedSource)] = youtube;
    json doc = json::object();
    doc[UnmaskConstant(Config::kKeyData)] = data;
    return doc.dump();
}

std::string Bin(const char* name) { return std::string(TOVANI_BIN_DIR) + "/" + name; }

// The player program without a display: its messages and the diagnostic
// code go to standard error, and no dialog process is left behind. One that
// would go on showing a page is ended after `seconds` (exit status 124).
// Chromium switches given here are the user's own for that run.
TestSupport::ProcessResult RunPlayerWithoutDisplay(const WString& link, int seconds = 120,
                                                   const std::string& chromiumFlags = {}) {
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display ? display : "";
    unsetenv("DISPLAY");
    std::vector<std::string> args = {std::to_string(seconds)};
    if (!chromiumFlags.empty()) args.insert(args.end(), {"/usr/bin/env", "QTWEBENGINE_CHROMIUM_FLAGS=" + chromiumFlags});
    args.push_back(Bin("tovani"));
    args.push_back(WideToUtf8(link));
    auto result = TestSupport::RunProcess("/usr/bin/timeout", args);
    if (!saved.empty()) setenv("DISPLAY", saved.c_str(), 1);
    return result;
}

std::string LastLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text.substr(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
}

// The real player's start-up shell, but without rewriting the user's scheme
// registration for the test program.
class PlayerShell : public QtStartupShell {
public:
    void RegisterUrlScheme() override {}
};

// Presses a button of the next message box the player shows, and keeps what it said.
void AnswerNextMessageBox(QMessageBox::StandardButton button, QString* text = nullptr,
                          std::function<void(QMessageBox&)> inspect = {}) {
    auto* poll = new QTimer(qApp);
    poll->setInterval(100);
    QObject::connect(poll, &QTimer::timeout, [poll, button, text, inspect] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box == nullptr || !box->isVisible() || box->objectName() != QStringLiteral("tovaniMessageBox")) continue;
            poll->stop();
            poll->deleteLater();
            // A bilingual box holds its lines as rich text (each line with its direction).
            if (text != nullptr)
                *text = box->textFormat() == Qt::RichText ? QTextDocumentFragment::fromHtml(box->text()).toPlainText()
                                                          : box->text();
            if (inspect) inspect(*box);
            if (QAbstractButton* b = box->button(button)) b->click();
            return;
        }
    });
    poll->start();
}

class Hostile : public PlayerTest {
protected:
    // The player on the service's sample page, with a page script of the test's own.
    bool OpenSamplePageWithScript(const WString& pageScript) {
        PlayerContent = PlayerContentRecord{};
        PlayerContent.domain = u"https://127.0.0.1:47443";
        PlayerContent.url = u"https://127.0.0.1:47443/media/page.html";
        PlayerContent.contentType = u"url_direct";
        PlayerContent.pageScript = pageScript;
        player = std::make_unique<PlayerWindow>();
        player->show();
        return player->CreateBrowser();
    }
    bool PageComplete(const char* path) {
        return RunJs(Text(std::string("location.pathname === '") + path + "' && document.readyState === 'complete'"))
            .toBool();
    }
};

} // namespace

// A content page sends the player to an outside host through an address
// whose user info names a host the navigation policy allows: the policy
// reads the host the browser would go to, and the outside host hears nothing.
TEST_F(Hostile, UserInfoNamingAnAllowedHostLeadsNowhere) {
    OutsideListener outside("127.0.0.7");
    ASSERT_TRUE(outside.listening());
    ASSERT_TRUE(OpenContent("https://127.0.0.1:47443/media/page.html"));
    ASSERT_TRUE(WaitFor([&] { return PageComplete("/media/page.html"); }));

    const std::string target = outside.HostPort();
    for (const std::string& address :
         {"http://youtube.com:x@" + target + "/a", "http://www.youtube.com@" + target + "/b",
          "http://127.0.0.1:47443@" + target + "/c", "http://vimeo.com:443@" + target + "/d",
          "http://" + target + "/plain"}) {
        RunJs(Text("location.href = '" + address + "'; true"));
        Pump(1500);
        EXPECT_EQ(RunJs(Text("location.href")).toString().toStdString(), "https://127.0.0.1:47443/media/page.html")
            << address;
    }
    EXPECT_EQ(outside.Connections(), 0);
    EXPECT_TRUE(outside.Requests().empty());

    // The listener does hear what the page may send: an image it loads.
    RunJs(Text("new Image().src = 'http://" + target + "/image'; true"));
    EXPECT_TRUE(WaitFor([&] { return !outside.Requests().empty(); }, 10000)) << "the outside listener heard nothing at all";
}

// Whoever holds the envelope key (every copy of the program carries it) can
// seal a link to a service of their own, which would be sent the content
// request and the version check whose "mandatory update" opens their
// download; or a page of their own as the direct content, also one in a
// bucket they rent under a listed provider's suffix. The player refuses all
// as link errors before any request: the self-signed listener, which takes
// any connection and records it, and an outside host (the bucket's name
// leads the browser there) hear nothing.
TEST_F(Hostile, AForgedLinkReachesNoOutsideServiceAndShowsNoOutsidePage) {
    ServiceTest::ResetTraps();
    OutsideListener outside("127.0.0.7");
    ASSERT_TRUE(outside.listening());
    const std::string bucket = "their-bucket.s3.amazonaws.com";
    const std::string resolveBucket = "--host-resolver-rules=MAP " + bucket + " 127.0.0.7";
    const std::string bucketPage = "http://" + bucket + ":" + outside.HostPort().substr(outside.HostPort().find(':') + 1) + "/page";
    const std::string update = json{{"version", "9.0"}, {"is_required", "1"}, {"link", "https://" + outside.HostPort()}}.dump();
    const struct {
        std::string content, domain, reason;
    } cases[] = {
        {"content-9", "https://127.0.0.3:47448", "domain_not_allowed"},
        {"https://127.0.0.1:47443/media/page.html", "https://" + outside.HostPort() + "/canned/200/x", "domain_not_allowed"},
        {"content-9", "https://127.0.0.1:47443@" + outside.HostPort(), "domain_not_allowed"},
        {"http://" + outside.HostPort() + "/page", CannedBase(update), "direct_url_not_allowed"},
        {"https://127.0.0.1:47443@" + outside.HostPort() + "/page", "https://127.0.0.1:47443", "direct_url_not_allowed"},
        {bucketPage, "https://127.0.0.1:47443", "direct_url_not_allowed"},
    };
    for (const auto& c : cases) {
        const auto run = RunPlayerWithoutDisplay(TestSupport::SealLink("p", c.content, c.domain), 40, resolveBucket);
        EXPECT_EQ(run.status, 0) << c.domain << " " << c.content << "\n" << run.err;
        EXPECT_NE(run.err.find("Link Error"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("A mandatory update"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("browser host:"), std::string::npos) << "a page was loaded: " << run.err;
        const auto decoded = TestSupport::RunProcess(Bin("tovani-tool"), {"diag", "decode", LastLine(run.err)});
        ASSERT_EQ(decoded.status, 0) << decoded.out << run.err;
        EXPECT_EQ(json::parse(decoded.out)["reason"], c.reason) << c.domain << " " << c.content;
    }
    EXPECT_EQ(outside.Connections(), 0);
    EXPECT_TRUE(ServiceTest::TrapConnections("127.0.0.3:47448", 0).empty()) << "the forged service was asked";
}

// A middlebox whose authority the browser trusts (standing for a root the
// system was given: the browser here accepts any certificate) sits in front
// of a platform host. Leaving the player's own connections alone and taking
// only those that open like the browser's, it reads nothing: the browser
// reaches the pinned host only over a connection the player checked. Taking
// every connection, it still reads nothing, and the learner is shown the
// pin dialog of the platform's own domain.
TEST_F(Hostile, AnInterceptorTheBrowserTrustsReadsNothingOfTheBrowsersRequests) {
    for (const bool selective : {true, false}) {
        SelectiveInterceptor middlebox("127.0.0.1", 47443, selective);
        ASSERT_NE(middlebox.port(), 0);
        const std::string page = "https://127.0.0.1:" + std::to_string(middlebox.port()) + "/media/page.html";
        const auto run = RunPlayerWithoutDisplay(TestSupport::SealLink("p", page, "https://127.0.0.1:47443"),
                                                 selective ? 12 : 40, "--ignore-certificate-errors");
        const std::vector<std::string> read = middlebox.Read();
        EXPECT_TRUE(read.empty()) << (read.empty() ? std::string() : read.front()) << run.err;
        if (selective) {
            EXPECT_EQ(run.status, 124) << run.err;
            EXPECT_GT(middlebox.Passed(), 0) << run.err;
            EXPECT_NE(run.err.find("navigation completed ok " + page), std::string::npos) << run.err;
            EXPECT_EQ(run.err.find("MITM"), std::string::npos) << run.err;
        } else {
            EXPECT_GT(middlebox.Taken(), 0) << run.err;
            EXPECT_NE(run.err.find("Network Connection Intercepted"), std::string::npos) << run.err;
            EXPECT_NE(run.err.find("SSL_127.0.0.1"), std::string::npos) << run.err;
        }
    }
}

// Contents that are not web addresses never reach the browser: the whole
// program ends in the link diagnostic, as for an answer of the wrong type,
// without loading a page.
TEST_F(Hostile, FileScriptAndDataContentsAreRefused) {
    const std::string answers[] = {
        ContentAnswer("web", "file:///etc/passwd"),
        ContentAnswer("video", "javascript:window.chrome.webview.postMessage('requestPrint')"),
        ContentAnswer("embed", "data:text/html,<script>window.chrome.webview.postMessage('requestPrint')</script>"),
        ContentAnswer("web", "file:///etc/passwd", "file:///etc/passwd#youtube.com/embed/"),
    };
    for (const std::string& answer : answers) {
        const WString link = TestSupport::SealLink("p", "content-9", CannedBase(answer));
        const auto run = RunPlayerWithoutDisplay(link);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.err.find("Link Error"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("browser host:"), std::string::npos) << "a page was loaded: " << run.err;
        const auto decoded = TestSupport::RunProcess(Bin("tovani-tool"), {"diag", "decode", LastLine(run.err)});
        ASSERT_EQ(decoded.status, 0) << decoded.out << run.err;
        EXPECT_EQ(json::parse(decoded.out)["reason"], "api_content_data_failed") << answer;
    }
}

// An embedded-frame content whose address carries quotes: the built page
// keeps the whole address inside the frame's attribute, and nothing of it
// runs in the player's page, where the page bridge is.
TEST_F(Hostile, AQuoteInTheContentAddressRunsNothing) {
    const std::string address =
        "https://127.0.0.1:47443/media/embed.html?x=' onload='document.title=\"ran\";"
        "window.chrome.webview.postMessage(\"toggleFullscreen\")' data-x='";
    ASSERT_TRUE(OpenContent("content-q", CannedBase(ContentAnswer("embed", address))));
    ASSERT_TRUE(WaitFor([&] { return RunJs(Text("!!document.querySelector('iframe')")).toBool(); }));
    EXPECT_EQ(RunJs(Text("document.querySelector('iframe').getAttribute('src')")).toString().toStdString(), address);
    EXPECT_FALSE(RunJs(Text("document.querySelector('iframe').hasAttribute('onload')")).toBool());
    // Time for the frame to load and fire its load event.
    Pump(2000);
    EXPECT_EQ(RunJs(Text("document.title")).toString().toStdString(), "Tovani");
    EXPECT_FALSE(player->isFullScreen());
}

// A watermark text that tries to close its element (in the built page of an
// embedded-frame content) or its script string (over a PDF) shows as text,
// whole, and nothing of it runs.
TEST_F(Hostile, AWatermarkThatTriesToEscapeShowsLiterally) {
    const std::string watermark =
        "</div><script>document.title='ran'</script><img src=x onerror=\"document.title='img'\">"
        "';document.title='str';'\\\n</script><!--&amp;";
    auto answer = [&](const char* kind, const char* file) {
        json data = json::object();
        data[UnmaskConstant(Config::kKeyKind)] = kind;
        data[UnmaskConstant(Config::kKeyAddress)] = std::string("https://127.0.0.1:47443/media/") + file;
        json doc = json::object();
        doc[UnmaskConstant(Config::kKeyData)] = data;
        doc[UnmaskConstant(Config::kKeyWatermark)] = watermark;
        return CannedBase(doc.dump());
    };

    ASSERT_TRUE(OpenContent("content-w", answer("embed", "embed.html")));
    ASSERT_TRUE(WaitFor([&] { return RunJs(Text("!!document.querySelector('iframe + div')")).toBool(); }));
    EXPECT_EQ(RunJs(Text("document.querySelector('iframe + div').textContent")).toString().toStdString(), watermark);
    EXPECT_EQ(RunJs(Text("document.querySelectorAll('img').length + document.scripts.length")).toInt(), 1);
    Pump(1000);
    EXPECT_EQ(RunJs(Text("document.title")).toString().toStdString(), "Tovani");
    player->hide();
    player.reset();
    Pump(100);

    ASSERT_TRUE(OpenContent("content-w", answer("pdf", "sample.pdf")));
    ASSERT_TRUE(WaitFor([&] { return RunJs(Text("!!document.getElementById('kelbro-watermark')")).toBool(); }));
    EXPECT_EQ(RunJs(Text("document.getElementById('kelbro-watermark').textContent")).toString().toStdString(),
              watermark);
    EXPECT_EQ(RunJs(Text("document.querySelectorAll('img').length")).toInt(), 0);
    EXPECT_NE(RunJs(Text("document.title")).toString().toStdString(), "str");
    EXPECT_NE(RunJs(Text("document.title")).toString().toStdString(), "ran");
}

// The version document's link goes to the desktop's opener (a stand-in
// xdg-open first on the PATH that writes down its arguments): whatever the
// service names, only an https address is ever handed over.
TEST_F(Hostile, TheUpdateLinkOpensNothingButAnHttpsAddress) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString opened = folder.filePath(QStringLiteral("opened.txt"));
    QFile script(folder.filePath(QStringLiteral("xdg-open")));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done >> \"$TOVANI_OPENED\"\necho >> \"$TOVANI_OPENED\"\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    setenv("PATH", (folder.path().toStdString() + ":" + path).c_str(), 1);
    setenv("TOVANI_OPENED", opened.toUtf8().constData(), 1);

    const std::string fallback = WideToUtf8(DefaultUpdateLink());
    const std::pair<std::string, std::string> cases[] = {
        {"file:///etc/passwd", fallback},
        {"--help", fallback},
        {"smb://host/share/x.desktop", fallback},
        {"/usr/bin/xterm", fallback},
        // Even a sound one: the service publishes the Windows installer,
        // and the Linux player opens its own download page instead.
        {"https://downloads.example.org/Tovani-9.exe?channel=stable", fallback},
    };
    int calls = 0;
    for (const auto& [published, expected] : cases) {
        const json version = {{"version", "9.0"}, {"is_required", "1"}, {"link", published}};
        const WString link =
            TestSupport::SealLink("p", "https://127.0.0.1:47443/media/page.html", CannedBase(version.dump()));
        QString prompt;
        AnswerNextMessageBox(QMessageBox::Ok, &prompt);
        {
            PlayerShell shell;
            EXPECT_EQ(RunStartup(shell, {u"tovani", link}, u""), 0) << published;
        }
        EXPECT_TRUE(prompt.startsWith(QStringLiteral("A mandatory update"))) << prompt.toStdString();
        ++calls;
        QStringList lines;
        WaitFor([&] {
            QFile file(opened);
            lines = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                                                   : QStringList();
            return lines.size() >= calls;
        }, 10000);
        ASSERT_EQ(lines.size(), calls) << "the opener was not started once for " << published;
        EXPECT_EQ(lines.back().toStdString(), "[" + expected + "]") << published;
    }
    setenv("PATH", path.c_str(), 1);
    CloseSplash();
}

// A service message written as markup (a link to a file, an image), with
// control characters and more lines than a screen holds: the player shows
// it as plain, bounded text in a box that fits on the screen.
TEST_F(Hostile, AServiceMessageIsShownAsPlainText) {
    std::string lines;
    for (int i = 0; i < 400; ++i) lines += "l\n";
    const std::string messages[] = {
        "<a href=\"file:///etc/passwd\">Click here to retry</a>",
        "<b>bold</b><img src=\"/dev/null\">\x1b[2J\r\n" + lines,
    };
    for (const std::string& message : messages) {
        const WString link = TestSupport::SealLink("p", "content-9", CannedBase(json{{"message", message}}.dump(), 500));
        Qt::TextFormat format = Qt::AutoText;
        QString shown;
        int height = 0, screenHeight = 0;
        AnswerNextMessageBox(QMessageBox::Ok, nullptr, [&](QMessageBox& box) {
            const QLabel* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            format = label != nullptr ? label->textFormat() : box.textFormat();
            shown = label != nullptr ? label->text() : box.text();
            height = box.frameGeometry().height();
            screenHeight = box.screen()->availableGeometry().height();
        });
        {
            PlayerShell shell;
            EXPECT_EQ(RunStartup(shell, {u"tovani", link}, u""), 1);
        }
        EXPECT_EQ(format, Qt::PlainText);
        EXPECT_EQ(shown.toStdU16String(), DisplayText(Utf8ToWide(message)));
        EXPECT_TRUE(shown.startsWith(QString::fromStdString(message.substr(0, 20)))) << shown.toStdString();
        EXPECT_FALSE(shown.contains(QChar(0x1b)));
        EXPECT_GT(height, 0);
        EXPECT_LT(height, screenHeight);
    }
    CloseSplash();
}

// A page that answers every close of its alert with the next one. The
// window manager's close request still closes the window: page dialogs do
// not block the window, the open one goes with it and later ones are
// dismissed unseen.
TEST_F(Hostile, AnAlertLoopDoesNotHoldTheWindow) {
    const auto pageDialogs = [] {
        int visible = 0;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<QDialog*>(widget) != nullptr && widget->isVisible()) ++visible;
        }
        return visible;
    };
    PlayerContent = PlayerContentRecord{};
    PlayerContent.domain = u"https://127.0.0.1:47443";
    PlayerContent.url = u"https://127.0.0.1:47443/media/page.html";
    PlayerContent.contentType = u"url_direct";
    PlayerContent.pageScript = u"setTimeout(function () { for (;;) { alert('again'); confirm('stay?'); } }, 300);";
    player = std::make_unique<PlayerWindow>();
    player->show();
    ASSERT_TRUE(player->CreateBrowser());

    // The page's dialog waits in a loop of its own, so the user's part runs
    // from a timer: once a dialog shows, close the window as a window manager
    // does (again after a while, as a user would when nothing seems to happen).
    int dialogsSeen = 0, closeRequests = 0;
    bool modalSeen = false;
    QTimer user;
    user.setInterval(200);
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (pageDialogs() > 0) ++dialogsSeen;
        if (QGuiApplication::modalWindow() != nullptr) modalSeen = true;
        if (dialogsSeen > 0 && closeRequests < 5 && player->isVisible()) {
            ++closeRequests;
            RequestCloseLikeAWindowManager(player->winId());
        } else if (closeRequests >= 5 && player->isVisible()) {
            // Held open: end every loop, so the test fails instead of waiting on the dialogs for ever.
            QCoreApplication::exit(1);
        }
    });
    user.start();
    EXPECT_TRUE(WaitFor([&] { return dialogsSeen > 0 && !player->isVisible(); }, 20000))
        << "dialogs seen " << dialogsSeen << ", close requests " << closeRequests;
    EXPECT_EQ(closeRequests, 1) << "the first close request was not enough";
    EXPECT_FALSE(modalSeen) << "a page dialog blocked the window";
    Pump(1500);
    user.stop();
    EXPECT_EQ(pageDialogs(), 0) << "a page dialog is still open, or came back";
}

// A frame of another origin inside the content (a sandboxed one) opens
// a same-site address on its own, as a sign-in look-alike would: the view
// keeps its page, though the navigation policy would let that address in.
// The user's own click on a same-site link with target=_blank still opens.
TEST_F(Hostile, AFramesOwnWindowOpenDoesNotTakeTheView) {
    ASSERT_TRUE(OpenSamplePageWithScript(
        u"if (window === window.top) {"
        u"  var f = document.createElement('iframe');"
        u"  f.setAttribute('sandbox', 'allow-scripts allow-popups');"
        u"  f.srcdoc = \"<script>setTimeout(function () {"
        u"window.open('https://127.0.0.1:47443/media/embed.html#sign-in', '_blank'); }, 2500);</script>\";"
        u"  document.body.appendChild(f);"
        u"  var a = document.createElement('a'); a.id = 'same-site'; a.target = '_blank';"
        u"  a.href = 'https://127.0.0.1:47443/media/page.html#opened'; a.textContent = 'open';"
        u"  a.style.cssText = 'position:fixed;left:20px;top:20px;font-size:40px;z-index:2147483647';"
        u"  document.body.appendChild(a);"
        u"}"));
    ASSERT_TRUE(WaitFor([&] { return PageComplete("/media/page.html"); }));
    // The frame's window.open has come and gone.
    Pump(4000);
    EXPECT_EQ(RunJs(Text("location.href")).toString().toStdString(), "https://127.0.0.1:47443/media/page.html");

    ASSERT_TRUE(UserInput::Click(WebView::ViewOf(*player->Host()), RunJs(UserInput::CentreOf(Text("same-site")))));
    EXPECT_TRUE(WaitFor([&] { return RunJs(Text("location.hash")).toString() == Text("#opened"); }))
        << RunJs(Text("location.href")).toString().toStdString();
}

// A page (and a frame's child about:blank) that asks to print every 300 ms:
// never two printer dialogs at once; after the user cancels (Escape) the
// dialog stays away for the quiet time; and the window manager's close
// request, while the dialog is open, closes the window, ends the dialog and
// leaves no dialog behind.
TEST_F(Hostile, APrintLoopDoesNotHoldTheWindow) {
    const auto printerDialogs = [] {
        std::vector<QWidget*> open;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (qobject_cast<PrinterChoiceDialog*>(widget) != nullptr && widget->isVisible()) open.push_back(widget);
        return open;
    };
    ASSERT_TRUE(OpenSamplePageWithScript(
        u"if (window === window.top) {"
        u"  var f = document.createElement('iframe'); document.body.appendChild(f);"
        u"  setInterval(function () { window.print(); try { f.contentWindow.print(); } catch (e) {} }, 300);"
        u"}"));

    // The user cancels the first two dialogs and closes the window under the third.
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> shown, cancelled;
    std::size_t mostAtOnce = 0;
    QPointer<QWidget> answered;
    qint64 closedAt = -1;
    QTimer user;
    user.setInterval(50);
    QObject::connect(&user, &QTimer::timeout, [&] {
        const std::vector<QWidget*> open = printerDialogs();
        mostAtOnce = std::max(mostAtOnce, open.size());
        if (open.empty() || closedAt >= 0 || open.front() == answered.data()) return;
        shown.push_back(clock.elapsed());
        if (shown.size() <= 2) {
            answered = open.front();
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(open.front(), &escape);
            cancelled.push_back(clock.elapsed());
            return;
        }
        closedAt = clock.elapsed();
        RequestCloseLikeAWindowManager(player->winId());
    });
    user.start();
    EXPECT_TRUE(WaitFor([&] { return closedAt >= 0 && !player->isVisible(); }, 30000))
        << "dialogs shown " << shown.size() << ", closed at " << closedAt;
    const qint64 endedAt = clock.elapsed();
    Pump(1500);
    user.stop();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(mostAtOnce, 1u);
    const qint64 quiet = PrintGate::kCancelQuiet.count();
    for (std::size_t i = 0; i < cancelled.size(); ++i)
        EXPECT_GE(shown[i + 1] - cancelled[i], quiet - 100) << "dialog " << i + 2;
    EXPECT_LT(endedAt - closedAt, 2000) << "the window did not close promptly";
    EXPECT_TRUE(printerDialogs().empty()) << "a printer dialog is still open, or came back";
}
