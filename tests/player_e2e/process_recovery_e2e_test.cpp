// The page's process killed under the player, as a crash or the system's
// out-of-memory killer would end it: the content comes back with its scripts
// while the window says so, and a second end within a minute ends in the
// diagnostic dialog instead of a reload loop.
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QWebEngineScriptCollection>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "common/process_list_linux.h"
#include "common/qt_text.h"
#include "player/browser_page_qt.h"
#include "player/content_recovery_qt.h"
#include "player/player_messages.h"
#include "player/webview_host_qt.h"
#include "tests/player_e2e/player_harness.h"
#include "tests/support/test_support.h"

using namespace PlayerTesting;

namespace {

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

std::string CommandLine(pid_t pid) {
    std::string text = TestSupport::ReadFile("/proc/" + std::to_string(pid) + "/cmdline");
    for (char& c : text)
        if (c == '\0') c = ' ';
    return text;
}

// The processes below root (children, and theirs) whose command line holds marker.
std::vector<pid_t> Below(pid_t root, const std::string& marker) {
    std::map<pid_t, pid_t> parents;
    const std::vector<ProcessEntry> all = ListProcesses();
    for (const ProcessEntry& p : all) parents[p.pid] = p.parent;
    std::vector<pid_t> found;
    for (const ProcessEntry& p : all) {
        pid_t up = p.parent;
        for (int depth = 0; depth < 64 && up > 1 && up != root; ++depth) up = parents.count(up) ? parents[up] : 0;
        if (up == root && CommandLine(p.pid).find(marker) != std::string::npos) found.push_back(p.pid);
    }
    return found;
}

// Every page process of the player below root: the content's own among them.
std::vector<pid_t> KillRenderers(pid_t root) {
    const std::vector<pid_t> renderers = Below(root, "--type=renderer");
    for (const pid_t pid : renderers) kill(pid, SIGKILL);
    return renderers;
}

const char kWatermarkText[] = "Learner 42 \xE2\x80\x93 \xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7";

} // namespace

class ContentRecovery : public PlayerTest {};

TEST_F(ContentRecovery, AKilledPageProcessBringsThePdfBackWithItsWatermark) {
    ASSERT_TRUE(OpenContent("pdf-1"));
    ASSERT_TRUE(WaitFor([&] { return RunJs(Text("!!document.getElementById('kelbro-watermark')")).toBool(); }));
    WebView::BrowserPage* page = WebView::PageOf(*player->Host());
    ASSERT_NE(page, nullptr);
    const int scripts = page->scripts().count();
    const QString address = RunJs(Text("location.href")).toString();
    // Marks this document, so the reloaded one is told apart from it.
    ASSERT_TRUE(RunJs(Text("window.__beforeKill = true; true")).toBool());
    const qint64 killedPid = page->renderProcessPid();

    const std::vector<pid_t> killed = KillRenderers(getpid());
    ASSERT_FALSE(killed.empty()) << "no page process below the test";
    EXPECT_NE(std::find(killed.begin(), killed.end(), static_cast<pid_t>(killedPid)), killed.end())
        << "the content's page process was not among those found";
    QElapsedTimer since;
    since.start();

    QLabel* notice = nullptr;
    EXPECT_TRUE(WaitFor([&] {
        notice = player->findChild<QLabel*>(QString::fromLatin1(kRecoveryNoticeName));
        return notice != nullptr && notice->isVisible();
    }, 5000)) << "no notice while the content came back";
    if (notice != nullptr) {
        EXPECT_EQ(QTextDocumentFragment::fromHtml(notice->text()).toPlainText(), ToQString(Messages::ContentRecovering()));
        // What the X server shows: the notice over the browser's picture.
        QDir().mkpath(QStringLiteral(TOVANI_ARTIFACT_DIR));
        TestSupport::RunProcess("/usr/bin/import", {"-window", std::to_string(player->winId()),
                                                    std::string(TOVANI_ARTIFACT_DIR) + "/player-content-recovering.png"});
    }
    const auto reloaded = [&] {
        return RunJs(Text("!window.__beforeKill && document.readyState === 'complete' && "
                          "!!document.getElementById('kelbro-watermark') && location.href"),
                     300)
                   .toString() == address;
    };
    EXPECT_TRUE(WaitFor(reloaded, static_cast<int>(std::max<qint64>(0, 5000 - since.elapsed()))))
        << "the content was not back within 5 s";
    EXPECT_EQ(RunJs(Text("document.getElementById('kelbro-watermark').textContent")).toString(), Text(kWatermarkText));
    EXPECT_TRUE(RunJs(Text("!!document.getElementById('kelbro-print-btn')")).toBool());
    EXPECT_EQ(page->scripts().count(), scripts) << "the document scripts were registered again";
    EXPECT_NE(page->renderProcessPid(), killedPid);
    EXPECT_GT(page->renderProcessPid(), 0);
    // The notice goes once the content is back (after the least time it stays).
    EXPECT_TRUE(WaitFor([&] { return player->findChild<QLabel*>(QString::fromLatin1(kRecoveryNoticeName)) == nullptr; },
                        kRecoveryNoticeLeastMs + 3000));
    EXPECT_TRUE(player->isVisible());
    EXPECT_TRUE(player->Host()->IsReady());
}

// The whole program: a first kill is recovered, a second one within the
// minute ends it (status 0) in the diagnostic dialog, whose code names the
// reason; the dialog's process carries that code.
TEST(PlayerProgram, ThePageProcessEndingTwiceWithinAMinuteEndsInTheDiagnostic) {
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    QTemporaryDir scratch;
    const std::string log = scratch.filePath(QStringLiteral("player.log")).toStdString();
    const std::string link = WideToUtf8(TestSupport::SealLink("p", "pdf-1", "https://127.0.0.1:47443"));
    const pid_t player = StartPlayerProgram(link, log);
    ASSERT_GE(player, 0);
    const auto logText = [&] { return TestSupport::ReadFile(log); };
    const auto count = [&](const std::string& what) {
        const std::string text = logText();
        int n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    };
    const auto waitUntil = [](const std::function<bool()>& condition, int ms) {
        for (int waited = 0; waited < ms; waited += 50) {
            if (condition()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return condition();
    };
    const char* loaded = "navigation completed ok https://127.0.0.1:47443/media/sample.pdf";
    const char* recovering = "loading the content again";
    EXPECT_TRUE(waitUntil([&] { return count(loaded) >= 1; }, 30000)) << logText();
    EXPECT_FALSE(KillRenderers(player).empty());
    EXPECT_TRUE(waitUntil([&] { return count(recovering) == 1 && count(loaded) >= 2; }, 5000)) << logText();
    EXPECT_EQ(waitpid(player, nullptr, WNOHANG), 0) << "the first end of the page's process ended the program";
    EXPECT_FALSE(KillRenderers(player).empty());

    int status = -1;
    const bool ended = waitUntil([&] { return waitpid(player, &status, WNOHANG) == player; }, 10000);
    if (!ended) {
        kill(player, SIGKILL);
        waitpid(player, &status, 0);
    }
    EXPECT_TRUE(ended) << logText();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string text = logText();
    EXPECT_EQ(count(recovering), 1) << text;
    EXPECT_NE(text.find("Content Error"), std::string::npos) << text;

    // The dialog is the player in its dialog mode, detached; as the
    // subreaper this test is its parent now. Its last argument is the code.
    std::vector<pid_t> dialogs;
    waitUntil([&] { return !(dialogs = Below(getpid(), "--diagnostic-dialog")).empty(); }, 5000);
    std::string code;
    if (dialogs.size() == 1) {
        std::string arguments = TestSupport::ReadFile("/proc/" + std::to_string(dialogs[0]) + "/cmdline");
        while (!arguments.empty() && arguments.back() == '\0') arguments.pop_back();
        code = arguments.substr(arguments.rfind('\0') + 1);
    }
    for (const pid_t pid : dialogs) kill(pid, SIGKILL);
    for (const pid_t pid : Below(getpid(), "QtWebEngineProcess")) kill(pid, SIGKILL);
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    ASSERT_EQ(dialogs.size(), 1u) << text;

    EXPECT_NE(text.find(code), std::string::npos) << "the code on standard error differs from the dialog's";
    const auto decoded = TestSupport::RunProcess(std::string(TOVANI_BIN_DIR) + "/tovani-tool", {"diag", "decode", code});
    ASSERT_EQ(decoded.status, 0) << decoded.out;
    EXPECT_EQ(nlohmann::json::parse(decoded.out, nullptr, false).value("reason", ""), "render_process_failed");
}
