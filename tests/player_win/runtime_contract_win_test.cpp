// tovani.exe against the runtime as its published contract has it, not as a
// kind host would wish: scripts that become ready only later, a page given as
// text reported under an address of the runtime's choosing, events that wait
// while one of the player's handlers runs, and browser processes that end.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "diagnostics/diagnostic_dialog_win.h"
#include "diagnostics/diagnostic_code.h"
#include "links/scheme_link.h"
#include "links/player_content.h"
#include "player/page_builder.h"
#include "player/player_messages.h"
#include "player/process_recovery.h"
#include "player/system_print_win.h"
#include "tests/player_win/program_run.h"
#include "tests/support/clipboard_win.h"
#include "tests/support/standin_runtime_win.h"
#include "tests/support/test_support.h"

using TestSupport::StandInSession;

namespace {

using namespace ProgramRunning;

const std::string kPdf = std::string(kService) + "/media/sample.pdf";

class RuntimeContract : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(TestSupport::InstallStandInRuntime(), ""); }
    GdiplusSession gdiplus;
};

std::size_t CountPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    return static_cast<std::size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

std::size_t IndexOfPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].rfind(prefix, 0) == 0) return i;
    return lines.size();
}

// The journal holds no call the contract forbids (a navigation before its
// scripts were ready, a document created without them, a wrong slot).
void ExpectNoBreach(const std::vector<std::string>& journal) {
    for (const std::string& line : journal) {
        EXPECT_EQ(line.find("ERROR"), std::string::npos) << line;
        EXPECT_EQ(line.find("UNEXPECTED"), std::string::npos) << line;
    }
}

PlayerLoadPlan PlanFor(const std::string& id) {
    PlayerContent = PlayerContentRecord{};
    std::string error;
    EXPECT_TRUE(ParseSchemeArgs(TestSupport::SealLink("p", id, kService), error)) << error;
    return PlanPlayerLoad(PlayerContent);
}

} // namespace

// Every document script is ready before the first navigation, however late
// the runtime says so; the built page loads from its own https address,
// whichever address the runtime would report for a page given as text, and
// its frame is asked for with that origin as referrer. A page of the content
// cannot itself navigate to the built page's address.
TEST_F(RuntimeContract, ScriptsAreReadyFirstAndTheBuiltPageLoadsWithAnOrigin) {
    struct Case {
        const char* id;
        const char* script;
    };
    for (const Case& c : {Case{"pdf-1", "script-delay 400\n"}, Case{"embed-1", "string-page-address data\n"},
                          Case{"embed-1", "string-page-address about:blank\nscript-delay 0\n"}}) {
        SCOPED_TRACE(std::string(c.id) + " " + c.script);
        const PlayerLoadPlan plan = PlanFor(c.id);
        const bool built = plan.load == PlayerLoadPlan::Load::NavigateToString;
        const std::string base = WideToUtf8(kStringPageBase);
        const std::string loaded = "Loaded " + (built ? base : WideToUtf8(plan.target));
        StandInSession session(std::string("contract-") + c.id,
                               std::string(c.script) + "once tovani.invalid navigate " + base + "\n");
        const ProgramRun run = RunProgram(TestSupport::SealLink("p", c.id, kService), [&] {
            HWND player = VisibleWindow(L"TovaniWindow");
            const std::vector<std::string> journal = session.Journal();
            if (player == nullptr || !Has(journal, loaded)) return true;
            if (built && !HasPrefix(journal, "Navigation cancelled")) return true;
            PostMessageW(player, WM_CLOSE, 0, 0);
            return false;
        });
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(run.exitCode, 0u);
        const std::vector<std::string> journal = session.Journal();
        ExpectNoBreach(journal);
        EXPECT_EQ(CountPrefix(journal, "WebView.AddScriptToExecuteOnDocumentCreated"), plan.documentScripts.size());
        EXPECT_TRUE(Has(journal, loaded)) << ::testing::PrintToString(journal);
        if (!built) continue;
        const std::string page = WideToUtf8(plan.target);
        EXPECT_TRUE(Has(journal, "WebResourceRequested " + base + " context=1 headers:  -> response 200 OK "
                                 "[Content-Type: text/html; charset=utf-8] with content fnv=" +
                                     TestSupport::StandInDigest(page) + " length=" + std::to_string(page.size())))
            << ::testing::PrintToString(journal);
        EXPECT_TRUE(Has(journal, "Frame " + WideToUtf8(PlayerContent.url) + " referrer=" + base));
        // The page's own try at the built page's address is the policy's to refuse.
        EXPECT_EQ(CountPrefix(journal, "Navigation cancelled"), 1u);
        EXPECT_TRUE(Has(journal, "Navigation cancelled " + base));
    }
}

// The printer dialog opens once the page's message has been handled: while
// the learner chooses, the page's requests go on being answered.
TEST_F(RuntimeContract, ThePagesTrafficFlowsWhileThePrinterDialogIsOpen) {
    const std::string image = std::string(kService) + "/media/image.png";
    StandInSession session("contract-print", "once sample.pdf message requestPrint\n"
                                             "on sample.pdf repeat 150 request " + image + " 3\n");
    const std::wstring title(reinterpret_cast<const wchar_t*>(PrinterDialog::kTitle));
    DWORD dialogSeen = 0;
    std::size_t requestsAtDialog = 0, requestsLater = 0;
    const ProgramRun run = RunProgram(TestSupport::SealLink("p", "pdf-1", kService), [&] {
        HWND player = VisibleWindow(L"TovaniWindow");
        HWND dialog = VisibleWindow(L"#32770", title.c_str());
        if (player == nullptr || dialog == nullptr) return true;
        const std::size_t requests = CountPrefix(session.Journal(), "WebResourceRequested " + image);
        if (dialogSeen == 0) {
            dialogSeen = GetTickCount();
            requestsAtDialog = requests;
            return true;
        }
        if (GetTickCount() - dialogSeen < 1500) return true;
        requestsLater = requests;
        PostMessageW(GetDlgItem(dialog, PrinterDialog::kListId), WM_KEYDOWN, VK_ESCAPE, 0);
        PostMessageW(player, WM_CLOSE, 0, 0);
        return false;
    });
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_NE(dialogSeen, 0u);
    // About ten in a second and a half; none at all when the dialog holds the runtime's handler.
    EXPECT_GE(requestsLater, requestsAtDialog + 5) << requestsAtDialog << " then " << requestsLater;
    ExpectNoBreach(session.Journal());
}

// A page's process that ends brings the content back with the scripts it
// has (the watermark among them), a whole browser that ends brings a new
// browser with the scripts registered again; the window says so meanwhile.
// A second end within the bound ends in the diagnostic dialog instead.
TEST_F(RuntimeContract, AnEndedBrowserProcessBringsTheContentBackOnceAMinute) {
    const PlayerLoadPlan plan = PlanFor("pdf-1");
    const std::string watermark =
        "WebView.AddScriptToExecuteOnDocumentCreated fnv=" +
        TestSupport::StandInDigest(WideToUtf8(plan.documentScripts[2]));
    for (const char* kind : {"1", "0"}) {
        SCOPED_TRACE(kind);
        const bool browser = std::string(kind) == "0";
        StandInSession session(std::string("contract-failed-") + kind,
                               std::string("once sample.pdf process-failed ") + kind + "\n");
        const ProgramRun run = RunProgram(TestSupport::SealLink("p", "pdf-1", kService), [&] {
            HWND player = VisibleWindow(L"TovaniWindow");
            const std::vector<std::string> journal = session.Journal();
            if (player == nullptr || CountPrefix(journal, "Loaded " + kPdf) < 2) return true;
            PostMessageW(player, WM_CLOSE, 0, 0);
            return false;
        });
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(run.exitCode, 0u);
        const std::vector<std::string> journal = session.Journal();
        ExpectNoBreach(journal);
        EXPECT_EQ(CountPrefix(journal, watermark), browser ? 2u : 1u) << ::testing::PrintToString(journal);
        EXPECT_EQ(CountPrefix(journal, "Controller created"), browser ? 2u : 1u);
        const std::size_t failed = IndexOfPrefix(journal, "ProcessFailed");
        EXPECT_LT(failed, journal.size()) << ::testing::PrintToString(journal);
        EXPECT_TRUE(Has(run.log, browser ? "player: the browser ended under the content; starting it again"
                                         : "player: the page's process ended; loading the content again"))
            << ::testing::PrintToString(run.log);
        // Hidden while it comes back, shown again once it is.
        EXPECT_LT(failed, IndexOfPrefix(journal, "Controller.put_IsVisible 0"));
        EXPECT_TRUE(Has(journal, "Controller.put_IsVisible 1"));
    }

    // Every load fails: the second end comes within the minute.
    StandInSession session("contract-failed-again", "on sample.pdf process-failed 1\n");
    const ProgramRun run = RunProgram(TestSupport::SealLink("p", "pdf-1", kService), [] { return true; }, 60000, {},
                                      true);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(CountPrefix(session.Journal(), "Loaded " + kPdf), 2u);
    const std::string code = TestSupport::ClipboardText();
    EXPECT_EQ(DecodeDiagnosticCode(code).reason, kRenderProcessFailedReason);
    ASSERT_EQ(run.children.size(), 1u);
    EXPECT_EQ(run.children[0].commandLine,
              WideToUtf8(DiagnosticDialogCommandLine(ContentFailedNotice::kCaption, ContentFailedNotice::kEnglish,
                                                     ContentFailedNotice::kArabic, code)));
}
