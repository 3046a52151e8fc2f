// What a page does inside tovani.exe, end to end under Wine: the program
// started with a link against the development service, the stand-in runtime
// playing the page's part (its script), and the outcome read from the
// stand-in's journal, the program's windows, the clipboard, the processes it
// starts and the service's recording listeners.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "diagnostics/diagnostic_dialog_win.h"
#include "player/browser_rules.h"
#include "player/print_gate.h"
#include "player/print_notice_win.h"
#include "player/system_print_win.h"
#include "service/device_identity.h"
#include "tests/player_win/program_run.h"
#include "tests/service/service_test_env.h"
#include "tests/support/standin_runtime_win.h"
#include "tests/support/test_support.h"
#include "tests/support/clipboard_win.h"

using TestSupport::StandInSession;

namespace {

using namespace ProgramRunning;

const std::string kContent = std::string(kService) + "/media/sample.pdf";

class PlayerProgramPage : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(TestSupport::InstallStandInRuntime(), ""); }
    GdiplusSession gdiplus;
};

std::size_t CountOf(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

std::vector<std::string> WithPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& line : lines)
        if (line.rfind(prefix, 0) == 0) found.push_back(line);
    return found;
}

// The visible top-level windows of one process.
std::vector<HWND> VisibleWindowsOf(DWORD processId) {
    struct Search {
        DWORD processId;
        std::vector<HWND> found;
    } search{processId, {}};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == s->processId && IsWindowVisible(window)) s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void EmptyTheClipboard() {
    if (!OpenClipboard(nullptr)) return;
    EmptyClipboard();
    CloseClipboard();
}

using TestSupport::ClipboardText;

} // namespace

// A pinned host whose chain misses its pins (127.0.0.2 is pinned to the
// service's genuine chain; the listener on 47446 presents a forged one): the
// page's request there is answered at once with an empty 403 "Blocked" and
// never sent, the page goes on, the next request there is probed again, and
// about half a second later the diagnostic dialog starts with the code on the
// clipboard and the program ends with 0. The listener gets handshakes only.
TEST_F(PlayerProgramPage, APinnedHostFailingItsPinsIsBlockedThenTheDiagnosticEndsTheProgram) {
    ServiceTest::ResetTraps();
    EmptyTheClipboard();
    const std::string forged = "https://127.0.0.2:47446/api/player/progress";
    StandInSession session("page-blocked", "on sample.pdf request " + forged + " 8\n"
                                           "on sample.pdf request " + forged + "?again 8\n"
                                           "on sample.pdf request https://127.0.0.3:47443/media/image.png 3\n");
    const std::string blocked = "WebResourceRequested " + forged + " context=8 headers: X-Client=tovani-desktop"
                                " -> response 403 Blocked [Content-Type: text/plain] no content";
    DWORD blockedSeen = 0;
    const ProgramRun run = RunProgram(
        TestSupport::SealLink("p", "pdf-1", kService),
        [&] {
            const std::vector<std::string> lines = session.Journal();
            if (Has(lines, blocked)) {
                blockedSeen = GetTickCount();
                return false;
            }
            // Let through: nothing will end the program but its window.
            if (HasPrefix(lines, "WebResourceRequested " + forged + " context=8") || HasPrefix(lines, "Navigation failed")) {
                if (HWND player = VisibleWindow(L"TovaniWindow")) PostMessageW(player, WM_CLOSE, 0, 0);
                return false;
            }
            return true;
        },
        60000, {}, true);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);

    const std::vector<std::string> journal = session.Journal();
    EXPECT_TRUE(Has(journal, "Loaded " + kContent));
    EXPECT_EQ(CountOf(journal, blocked), 1u) << ::testing::PrintToString(journal);
    EXPECT_EQ(CountOf(journal, "WebResourceRequested " + forged + "?again context=8 headers: X-Client=tovani-desktop"
                               " -> response 403 Blocked [Content-Type: text/plain] no content"),
              1u);
    // The page went on meanwhile: an unpinned host is not held up.
    EXPECT_TRUE(Has(journal, "WebResourceRequested https://127.0.0.3:47443/media/image.png context=3 headers: "
                             "X-Client=tovani-desktop -> sent"));

    // The dialog as built, in a process of its own, half a second on.
    const std::string expected = WideToUtf8(DiagnosticDialogCommandLine(
        BlockedHostNotice::kCaption, BlockedHostNotice::kEnglish, BlockedHostNotice::kArabic, "MITM_PIN_127.0.0.2"));
    ASSERT_EQ(run.children.size(), 1u);
    EXPECT_EQ(run.children[0].commandLine, expected);
    ASSERT_NE(blockedSeen, 0u);
    const DWORD delay = run.children[0].startedTick - blockedSeen;
    // Seen here at about 480 ms: the journal is read every 50 ms or so.
    EXPECT_GE(delay, 350u);
    EXPECT_LE(delay, 2000u);
    EXPECT_EQ(ClipboardText(), "MITM_PIN_127.0.0.2");

    // Each request was probed anew; the forged server never heard a byte.
    const std::vector<ServiceTest::TrapConnection> probes = ServiceTest::TrapConnections("127.0.0.2:47446", 2);
    EXPECT_EQ(probes.size(), 2u);
    for (const ServiceTest::TrapConnection& probe : probes) {
        EXPECT_TRUE(probe.handshake);
        EXPECT_EQ(probe.received, "");
    }
}

// The page's request to the platform's own domain meets a server whose
// chain misses the pins (an interceptor the system would trust): the
// player's own connection is cut after the handshake, the learner gets the
// pin dialog ("SSL_" and the host on the clipboard), the program ends with
// 0, and the interceptor never reads a byte of the request.
TEST_F(PlayerProgramPage, ARequestToThePlatformsDomainFailingItsPinsEndsInThePinDialog) {
    ServiceTest::ResetTraps();
    EmptyTheClipboard();
    const std::string forged = "https://127.0.0.1:47446/api/player/progress";
    StandInSession session("page-primary", "on sample.pdf request " + forged + " 8\n");
    const ProgramRun run = RunProgram(TestSupport::SealLink("p", "pdf-1", kService), [&] { return true; }, 30000, {}, true);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.children.size(), 1u);
    EXPECT_EQ(run.children[0].commandLine,
              WideToUtf8(DiagnosticDialogCommandLine(BlockedHostNotice::kCaption, BlockedHostNotice::kEnglish,
                                                     BlockedHostNotice::kArabic, "SSL_127.0.0.1")));
    EXPECT_EQ(ClipboardText(), "SSL_127.0.0.1");
    const std::vector<ServiceTest::TrapConnection> seen = ServiceTest::TrapConnections("127.0.0.1:47446", 1);
    ASSERT_FALSE(seen.empty()) << "the interceptor was never reached";
    for (const ServiceTest::TrapConnection& connection : seen) {
        EXPECT_TRUE(connection.handshake);
        EXPECT_EQ(connection.received, "");
    }
    EXPECT_TRUE(Has(session.Journal(), "Loaded " + kContent));
}

// The page's other requests: permissions as the player grants them, a new
// window opened in the same view (and those to a foreign site, a data: or a
// file: address never opened), the page's own navigation away refused, a download
// cancelled, save-as suppressed, identity headers on a platform request, the
// Referer on a YouTube one, and fullscreen at the page's request.
TEST_F(PlayerProgramPage, ThePagesRequestsGetThePlayersDecisions) {
    const std::string opened = std::string(kService) + "/media/page.html#opened";
    // A window a script (a frame's) opens on its own, without the user.
    const std::string takenOver = std::string(kService) + "/media/page.html#taken-over";
    // Every permission kind the runtime knows, and one it may add later.
    std::string permissions;
    std::vector<std::string> decisions;
    for (int kind = 0; kind <= 14; ++kind) {
        permissions += "on sample.pdf permission " + std::to_string(kind) + "\n";
        const bool granted = kind == 1 || kind == 2 || kind == 4; // microphone, camera, notifications
        decisions.push_back("PermissionRequested kind=" + std::to_string(kind) + " state=" + (granted ? "1" : "0"));
    }
    StandInSession session("page-events", permissions +
                                          "on sample.pdf request https://127.0.0.1:47443/api/player/progress 8\n"
                                          "on sample.pdf request https://www.youtube.com/embed/abc 3\n"
                                          "on sample.pdf download " + kContent + "\n"
                                          "on sample.pdf save-as\n"
                                          "on sample.pdf navigate https://evil.test/phish\n"
                                          "on sample.pdf message toggleFullscreen\n"
                                          "on sample.pdf new-window " + takenOver + "\n"
                                          "on sample.pdf new-window https://evil.test/popup user\n"
                                          "on sample.pdf new-window data:text/html,<script>alert(1)</script> user\n"
                                          "on sample.pdf new-window file:///C:/windows/win.ini user\n"
                                          "on sample.pdf new-window " + opened + " user\n");
    std::vector<HWND> windows;
    RECT playerRect{};
    LONG_PTR playerStyle = 0;
    std::string screenshot;
    const ProgramRun run = RunProgram(TestSupport::SealLink("p", "pdf-1", kService), [&] {
        HWND player = VisibleWindow(L"TovaniWindow");
        if (player == nullptr || !Has(session.Journal(), "Loaded " + opened)) return true;
        Sleep(300); // the stand-in paints the address
        DWORD processId = 0;
        GetWindowThreadProcessId(player, &processId);
        windows = VisibleWindowsOf(processId);
        GetWindowRect(player, &playerRect);
        playerStyle = GetWindowLongPtrW(player, GWL_STYLE);
        screenshot = SaveScreenshot("tovani-player-fullscreen.png");
        PostMessageW(player, WM_CLOSE, 0, 0);
        return false;
    });
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    const std::vector<std::string> journal = session.Journal();

    // Microphone, camera and notifications granted; the rest, geolocation
    // included, left to the runtime's default.
    EXPECT_EQ(WithPrefix(journal, "PermissionRequested kind="), decisions);
    EXPECT_TRUE(Has(journal, "DownloadStarting " + kContent + " cancel=1 handled=1"));
    EXPECT_TRUE(Has(journal, "SaveAsUIShowing suppress=1"));

    // The script's own window opened nowhere: the view kept its page.
    EXPECT_TRUE(Has(journal, "NewWindowRequested " + takenOver + " handled"));
    EXPECT_FALSE(HasPrefix(journal, "WebView.Navigate " + takenOver));
    // Both new windows the user asked for stayed in the view: the foreign
    // one refused by the policy, the same-site one loaded; no second window
    // ever showed.
    EXPECT_TRUE(Has(journal, "NewWindowRequested https://evil.test/popup handled"));
    EXPECT_TRUE(Has(journal, "Navigation cancelled https://evil.test/popup"));
    EXPECT_TRUE(Has(journal, "NewWindowRequested " + opened + " handled"));
    EXPECT_TRUE(Has(journal, "WebView.Navigate " + opened));
    EXPECT_TRUE(Has(journal, "Navigation cancelled https://evil.test/phish"));
    // Nor does a page open a local file or a page of its own making.
    EXPECT_TRUE(Has(journal, "NewWindowRequested data:text/html,<script>alert(1)</script> handled"));
    EXPECT_TRUE(Has(journal, "NewWindowRequested file:///C:/windows/win.ini handled"));
    EXPECT_FALSE(HasPrefix(journal, "Loaded data:"));
    EXPECT_FALSE(HasPrefix(journal, "Loaded file:"));
    EXPECT_EQ(windows.size(), 1u);

    // Headers the player adds to the page's requests.
    const std::string identity = WideToUtf8(GetDeviceIdentity());
    const std::string description = WideToUtf8(GetDeviceDescription());
    ASSERT_FALSE(identity.empty());
    EXPECT_TRUE(HasPrefix(journal, "WebResourceRequested https://127.0.0.1:47443/api/player/progress context=8 headers: "
                             "X-Client=tovani-desktop; X-Device-Id=" + identity +
                                 (description.empty() ? "" : "; X-Device-Info=" + description) +
                                 "; X-Tovani-Device=" + identity +
                                 (description.empty() ? "" : "; X-Tovani-Device-Info=" + description) +
                                 " -> response "))
        << "fetched by the player over its checked connection\n"
        << ::testing::PrintToString(WithPrefix(journal, "WebResourceRequested"));
    EXPECT_TRUE(Has(journal, "WebResourceRequested https://www.youtube.com/embed/abc context=3 headers: "
                             "X-Client=tovani-desktop; Referer=" + std::string(kService) + " -> sent"));

    // Fullscreen on the page's word: a popup over the whole screen.
    EXPECT_TRUE(playerStyle & WS_POPUP);
    EXPECT_FALSE(playerStyle & WS_CAPTION);
    EXPECT_EQ(playerRect.left, 0);
    EXPECT_EQ(playerRect.top, 0);
    EXPECT_EQ(playerRect.right, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(playerRect.bottom, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_FALSE(screenshot.empty());
    for (const std::string& line : journal) EXPECT_EQ(line.find("UNEXPECTED"), std::string::npos) << line;
}

// A page asks storage buckets and CDN zones under the allowed providers'
// suffixes, names anyone can rent, for /media/ files and video paths: none
// of them gets an identity header, only the client header. The platform's own
// domain and the product's video domain still get the video identity.
TEST_F(PlayerProgramPage, StorageBucketsUnderProviderSuffixesGetNoIdentity) {
    const std::vector<std::string> buckets = {
        "https://their-bucket.s3.amazonaws.com/media/x.png", "https://d111111abcdef8.cloudfront.net/media/x.png",
        "https://theirs.blob.core.windows.net/c/media/x.png", "https://theirs.nyc3.digitaloceanspaces.com/media/x.png",
        "https://s3.wasabisys.com/theirs/media/x.png",        "https://vz-1.b-cdn.net/lesson/video"};
    const std::vector<std::string> own = {"https://media.tovani-cdn.test/media/x.png",
                                          "https://stream.tovanivideo.test/lesson/video"};
    std::string script;
    for (const std::string& url : buckets) script += "on sample.pdf request " + url + " 3\n";
    for (const std::string& url : own) script += "on sample.pdf request " + url + " 3\n";
    StandInSession session("page-buckets", script);
    const ProgramRun run = RunProgram(TestSupport::SealLink("p", "pdf-1", kService), [&] {
        if (!HasPrefix(session.Journal(), "WebResourceRequested " + own.back())) return true;
        if (HWND player = VisibleWindow(L"TovaniWindow")) PostMessageW(player, WM_CLOSE, 0, 0);
        return false;
    });
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    const std::vector<std::string> journal = session.Journal();
    for (const std::string& url : buckets) {
        EXPECT_TRUE(Has(journal, "WebResourceRequested " + url + " context=3 headers: X-Client=tovani-desktop -> sent"))
            << url << "\n" << ::testing::PrintToString(WithPrefix(journal, "WebResourceRequested " + url));
    }
    const std::string identity = WideToUtf8(GetDeviceIdentity());
    const std::string description = WideToUtf8(GetDeviceDescription());
    ASSERT_FALSE(identity.empty());
    for (const std::string& url : own) {
        EXPECT_TRUE(Has(journal, "WebResourceRequested " + url + " context=3 headers: X-Client=tovani-desktop; X-Tovani-Device=" +
                                     identity + (description.empty() ? "" : "; X-Tovani-Device-Info=" + description) +
                                     " -> sent"))
            << url << "\n" << ::testing::PrintToString(WithPrefix(journal, "WebResourceRequested " + url));
    }
}

namespace {

// How the test answers one printer dialog.
struct PrinterAnswer {
    enum class How { PrintButton, DoubleClick, CloseBox, EscapeKey };
    std::wstring choose; // the printer's line starts with this
    How how;
};

// What one printer dialog showed.
struct SeenDialog {
    std::vector<std::string> lines;
    LRESULT selected = -1;
    bool ownedByPlayer = false;
    bool centred = false;
    COLORREF background = 0;
    COLORREF listBackground = 0;
    bool read = true; // every question answered in time
};

// The player may be held on a debug event that only this thread (its
// debugger) lets go: a read that does not come back soon is tried again
// once the run loop has served the player's events.
LRESULT SendWaiting(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool& answered) {
    DWORD_PTR result = static_cast<DWORD_PTR>(-1);
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 200, &result)) {
        answered = false;
        return -1;
    }
    return static_cast<LRESULT>(result);
}

SeenDialog LookAt(HWND dialog, HWND player) {
    SeenDialog seen;
    HWND list = GetDlgItem(dialog, PrinterDialog::kListId);
    const LRESULT count = SendWaiting(list, LB_GETCOUNT, 0, 0, seen.read);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[512] = {};
        SendWaiting(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text), seen.read);
        seen.lines.push_back(Narrow(text));
    }
    seen.selected = SendWaiting(list, LB_GETCURSEL, 0, 0, seen.read);
    seen.ownedByPlayer = GetWindow(dialog, GW_OWNER) == player;
    RECT rect{};
    GetWindowRect(dialog, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    seen.centred = std::abs(rect.left - (GetSystemMetrics(SM_CXSCREEN) - width) / 2) <= 1 &&
                   std::abs(rect.top - (GetSystemMetrics(SM_CYSCREEN) - height) / 2) <= 1;
    // The dark colours, read off the screen: the dialog's face just inside
    // its client area, and the list's below its last line.
    HDC screen = GetDC(nullptr);
    POINT face{2, 2};
    ClientToScreen(dialog, &face);
    seen.background = GetPixel(screen, face.x, face.y);
    RECT listClient{};
    GetClientRect(list, &listClient);
    POINT inside{listClient.right - 4, listClient.bottom - 4};
    ClientToScreen(list, &inside);
    seen.listBackground = GetPixel(screen, inside.x, inside.y);
    ReleaseDC(nullptr, screen);
    return seen;
}

void Answer(HWND dialog, const PrinterAnswer& answer, const std::vector<std::string>& lines) {
    HWND list = GetDlgItem(dialog, PrinterDialog::kListId);
    for (std::size_t i = 0; i < lines.size() && !answer.choose.empty(); ++i) {
        if (lines[i].rfind(Narrow(answer.choose), 0) == 0) {
            // Posted: it reaches the list before the answer posted after it.
            PostMessageW(list, LB_SETCURSEL, i, 0);
            break;
        }
    }
    switch (answer.how) {
    case PrinterAnswer::How::PrintButton:
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(PrinterDialog::kPrintId, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, PrinterDialog::kPrintId)));
        break;
    case PrinterAnswer::How::DoubleClick:
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(PrinterDialog::kListId, LBN_DBLCLK), reinterpret_cast<LPARAM>(list));
        break;
    case PrinterAnswer::How::CloseBox: PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); break;
    case PrinterAnswer::How::EscapeKey: PostMessageW(list, WM_KEYDOWN, VK_ESCAPE, 0); break;
    }
}

} // namespace

// The print flow: the page asks to print every 400 ms; each time the
// player's dark dialog lists Wine's printers (from CUPS) with the default
// first and preselected, the test answers it, the runtime prints on the
// chosen printer with the outcome the stand-in is given, and each outcome
// reaches the page as its printResult, in order. Requests while a print is
// under way are not queued up, and after the fifth, cancelled, the next ones
// show no dialog.
TEST_F(PlayerProgramPage, EachPrintRequestGoesThroughThePrinterDialogAndEndsInItsResult) {
    const std::string script = "print-next status 0\nprint-next status 1\nprint-next status 2\n"
                               "print-next fails 0x80004005\nonce sample.mp4 repeat 400 message requestPrint\n";
    StandInSession session("page-print", script);
    using How = PrinterAnswer::How;
    const std::vector<PrinterAnswer> answers = {{L"Stopped", How::PrintButton}, {L"PDF", How::DoubleClick},
                                                {L"PDF", How::PrintButton},     {L"Stopped", How::PrintButton},
                                                {L"", How::CloseBox}};
    const std::wstring title(reinterpret_cast<const wchar_t*>(PrinterDialog::kTitle));
    std::vector<SeenDialog> seen;
    HWND answered = nullptr;
    DWORD firstSeen = 0, lastAnswered = 0;
    bool extraDialog = false;
    std::string screenshot;
    // A page the browser prints (a PDF content prints as its document).
    const ProgramRun run = RunProgram(TestSupport::SealLink("p", "video-1", kService), [&] {
        HWND player = VisibleWindow(L"TovaniWindow");
        if (player == nullptr) return true;
        if (answered != nullptr && IsWindow(answered)) return true; // the last one is still closing
        HWND dialog = VisibleWindow(L"#32770", title.c_str());
        if (seen.size() == answers.size()) {
            if (dialog != nullptr) extraDialog = true;
            if (WithPrefix(session.Journal(), "WebView.PostWebMessageAsJson").size() < answers.size()) return true;
            // Time for a sixth dialog to show, if one were to.
            if (lastAnswered == 0) lastAnswered = GetTickCount();
            if (GetTickCount() - lastAnswered < 1500) return true;
            PostMessageW(player, WM_CLOSE, 0, 0);
            return false;
        }
        if (dialog == nullptr) return true;
        // Found as soon as it shows; read once it has painted.
        if (firstSeen == 0) firstSeen = GetTickCount();
        if (GetTickCount() - firstSeen < 300) return true;
        const SeenDialog look = LookAt(dialog, player);
        if (!look.read) return true;
        firstSeen = 0;
        seen.push_back(look);
        if (seen.size() == 1) screenshot = SaveScreenshot("tovani-printer-dialog.png");
        Answer(dialog, answers[seen.size() - 1], seen.back().lines);
        answered = dialog;
        return true;
    });
    if (!run.ended) {
        std::string tail;
        for (const std::string& line : session.Journal()) tail += line + "\n";
        FAIL() << seen.size() << " dialogs answered; the runtime's journal:\n" << tail;
    }
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(seen.size(), answers.size());
    EXPECT_FALSE(extraDialog) << "a request right after the cancel opened the dialog again";
    for (const SeenDialog& dialog : seen) {
        EXPECT_EQ(dialog.lines, (std::vector<std::string>{"PDF  \xE2\x98\x85", "Stopped"}));
        EXPECT_EQ(dialog.selected, 0);
        EXPECT_TRUE(dialog.ownedByPlayer);
        EXPECT_TRUE(dialog.centred);
        EXPECT_EQ(dialog.background, RGB(30, 30, 30));
        EXPECT_EQ(dialog.listBackground, RGB(45, 45, 45));
    }
    EXPECT_FALSE(screenshot.empty());

    const std::vector<std::string> journal = session.Journal();
    const std::string video = std::string(kService) + "/media/sample.mp4";
    EXPECT_EQ(WithPrefix(journal, "WebView.Print "),
              (std::vector<std::string>{"WebView.Print printer=Stopped page=" + video,
                                        "WebView.Print printer=PDF page=" + video,
                                        "WebView.Print printer=PDF page=" + video,
                                        "WebView.Print printer=Stopped page=" + video}));
    const std::string posted = "WebView.PostWebMessageAsJson ";
    EXPECT_EQ(
        WithPrefix(journal, posted),
        (std::vector<std::string>{
            posted + R"({"type":"printResult","status":"success","message":"Print job sent successfully."})",
            posted + R"({"type":"printResult","status":"error","message":"The selected printer is unavailable."})",
            posted + R"({"type":"printResult","status":"error","message":"Print failed with unknown error."})",
            posted + R"({"type":"printResult","status":"error","message":"Print failed. Please check your printer."})",
            posted + R"({"type":"printResult","status":"cancelled"})"}));
    for (const std::string& line : journal) EXPECT_EQ(line.find("UNEXPECTED"), std::string::npos) << line;
}

// A page that asks to print every 300 ms: never two dialogs at once; after
// each cancel (the close box, then Escape) the dialog stays away for the
// quiet time, so it comes back at most once per quiet time; and closing the
// player window while the dialog is open ends the dialog and the program at
// once, with 0.
TEST_F(PlayerProgramPage, APrintLoopCannotHoldTheWindow) {
    StandInSession session("page-print-loop", "once sample.pdf repeat 300 message requestPrint\n");
    using How = PrinterAnswer::How;
    const std::wstring title(reinterpret_cast<const wchar_t*>(PrinterDialog::kTitle));
    std::vector<DWORD> shown, cancelled;
    int mostAtOnce = 0;
    HWND answered = nullptr;
    DWORD closedAt = 0;
    const ProgramRun run = RunProgram(TestSupport::SealLink("p", "pdf-1", kService), [&] {
        HWND player = VisibleWindow(L"TovaniWindow");
        if (player == nullptr) return true;
        struct Dialogs {
            const std::wstring* title;
            int visible = 0;
            HWND last = nullptr;
        } dialogs{&title};
        EnumWindows(
            [](HWND window, LPARAM data) -> BOOL {
                auto* d = reinterpret_cast<Dialogs*>(data);
                wchar_t text[64] = {};
                GetWindowTextW(window, text, 64);
                if (IsWindowVisible(window) && *d->title == text) {
                    ++d->visible;
                    d->last = window;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&dialogs));
        const int visible = dialogs.visible;
        HWND dialog = dialogs.last;
        mostAtOnce = std::max(mostAtOnce, visible);
        if (dialog == nullptr || dialog == answered) return true;
        shown.push_back(GetTickCount());
        if (shown.size() <= 2) {
            // Cancelled by the user, once with the close box, once with Escape.
            Answer(dialog, PrinterAnswer{L"", shown.size() == 1 ? How::CloseBox : How::EscapeKey}, {});
            cancelled.push_back(GetTickCount());
            answered = dialog;
            return true;
        }
        // The third time the user closes the player window itself.
        PostMessageW(player, WM_CLOSE, 0, 0);
        closedAt = GetTickCount();
        return false;
    }, 60000);
    const DWORD endedAt = GetTickCount();
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(mostAtOnce, 1);
    // Back no sooner than the quiet time after each cancel (the watch looks
    // about every 50 ms), and the page asked all along.
    const DWORD quiet = static_cast<DWORD>(PrintGate::kCancelQuiet.count());
    for (std::size_t i = 0; i < cancelled.size(); ++i)
        EXPECT_GE(shown[i + 1] - cancelled[i], quiet - 100) << "dialog " << i + 2;
    EXPECT_LT(endedAt - closedAt, 5000u) << "the program did not end promptly after its window was closed";
    const std::vector<std::string> journal = session.Journal();
    EXPECT_GE(CountOf(journal, "Page posts message requestPrint"), 10u);
    EXPECT_EQ(WithPrefix(journal, "WebView.PostWebMessageAsJson "),
              (std::vector<std::string>(2, R"(WebView.PostWebMessageAsJson {"type":"printResult","status":"cancelled"})")));
    EXPECT_FALSE(HasPrefix(journal, "WebView.Print "));
    for (const std::string& line : journal) EXPECT_EQ(line.find("UNEXPECTED"), std::string::npos) << line;
}

namespace {

// A shell command's output on the Unix side of Wine, where CUPS-PDF writes
// its files and pdftotext reads them. Wine starts a Unix program as it is,
// but does not wait for it: the output is moved into place when whole.
std::string UnixOutput(const std::string& command) {
    static int calls = 0;
    // Wine's process ids come again in later runs: the clock makes the name this call's own.
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    const std::string file = "/tmp/tovani-win-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(now.QuadPart) + "-" + std::to_string(++calls);
    std::wstring line = Wide("/bin/sh -c \"(" + command + ") > " + file + ".part 2>&1; mv " + file + ".part " + file + "\"");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return {};
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::wstring windowsPath = L"Z:" + Wide(file);
    for (wchar_t& c : windowsPath)
        if (c == L'/') c = L'\\';
    for (int i = 0; i < 600 && GetFileAttributesW(windowsPath.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
    std::string text = TestSupport::ReadFile(Narrow(windowsPath));
    DeleteFileW(windowsPath.c_str());
    return text;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// What one print of a PDF content came to.
struct DocumentPrintRun {
    ProgramRun run;
    std::vector<std::string> journal;
    std::string noticeText; // the notice's window text, UTF-8
    bool noticeOwnedByPlayer = false;
    std::string newFiles; // CUPS-PDF's files of the document's job since the print began
};

DocumentPrintRun PrintContent(const std::string& content) {
    DocumentPrintRun result;
    StandInSession session("page-print-" + content, "once .pdf message requestPrint\n");
    const std::string list = "ls ~/PDF";
    const std::string before = UnixOutput(list);
    const std::wstring title(reinterpret_cast<const wchar_t*>(PrinterDialog::kTitle));
    bool answered = false;
    DWORD noticeSeen = 0;
    result.run = RunProgram(TestSupport::SealLink("p", content, kService), [&] {
        HWND player = VisibleWindow(L"TovaniWindow");
        if (player == nullptr) return true;
        if (!answered) {
            HWND dialog = VisibleWindow(L"#32770", title.c_str());
            if (dialog == nullptr) return true;
            Sleep(300);
            answered = true;
            Answer(dialog, PrinterAnswer{L"PDF", PrinterAnswer::How::PrintButton}, LookAt(dialog, player).lines);
            return true;
        }
        if (HWND notice = VisibleWindow(kPrintNoticeClass); notice != nullptr && noticeSeen == 0) {
            wchar_t text[256] = {};
            GetWindowTextW(notice, text, 256);
            result.noticeText = Narrow(text);
            result.noticeOwnedByPlayer = GetWindow(notice, GW_OWNER) == player;
            noticeSeen = GetTickCount();
        }
        if (noticeSeen == 0 || WithPrefix(session.Journal(), "WebView.PostWebMessageAsJson").empty()) return true;
        PostMessageW(player, WM_CLOSE, 0, 0);
        return false;
    }, 120000);
    result.journal = session.Journal();
    // CUPS-PDF renames a file into place once Ghostscript is done with it.
    const auto lines = [](const std::string& text) {
        std::vector<std::string> found;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = std::min(text.find('\n', at), text.size());
            if (end > at) found.push_back(text.substr(at, end - at));
            at = end + 1;
        }
        return found;
    };
    const std::vector<std::string> old = lines(before);
    for (int i = 0; i < 100 && result.newFiles.empty(); ++i) {
        for (const std::string& name : lines(UnixOutput(list)))
            if (std::find(old.begin(), old.end(), name) == old.end()) result.newFiles += name + "\n";
        if (content != "pdf-1" && i >= 10) break; // nothing is to come
        if (result.newFiles.empty()) Sleep(300);
    }
    return result;
}

} // namespace

// A PDF content prints as its document: the player's print button, its
// dialog, the document fetched again through the pinned client and
// watermarked in its own process, and a job on the CUPS printer through
// Wine's spooler. CUPS-PDF's file holds both pages' text in order and the
// watermark's Latin text once on each page; the page and the learner are told
// it printed; the browser's print of its viewer is never used.
TEST_F(PlayerProgramPage, APdfContentPrintsAsTheDocumentWithTheWatermarkOnEveryPage) {
    const DocumentPrintRun printed = PrintContent("pdf-1");
    ASSERT_TRUE(printed.run.ended);
    EXPECT_EQ(printed.run.exitCode, 0u);
    EXPECT_FALSE(HasPrefix(printed.journal, "WebView.Print ")) << "the browser printed its viewer";
    EXPECT_EQ(WithPrefix(printed.journal, "WebView.PostWebMessageAsJson "),
              (std::vector<std::string>{
                  R"(WebView.PostWebMessageAsJson {"type":"printResult","status":"success","message":"Print job sent successfully."})"}));
    EXPECT_EQ(printed.noticeText, "Printed.\n\xD8\xAA\xD9\x85\xD8\xAA \xD8\xA7\xD9\x84\xD8\xB7\xD8\xA8\xD8\xA7\xD8\xB9\xD8\xA9.");
    EXPECT_TRUE(printed.noticeOwnedByPlayer);
    ASSERT_FALSE(printed.newFiles.empty()) << "CUPS-PDF wrote nothing for the document";
    const std::string file = printed.newFiles.substr(0, printed.newFiles.find('\n'));
    const std::string path = "~/PDF/'" + file + "'";
    std::string info;
    for (int i = 0; i < 30 && info.find("Pages:") == std::string::npos; ++i, Sleep(300)) info = UnixOutput("pdfinfo " + path);
    EXPECT_NE(info.find("Pages:           2"), std::string::npos) << info;
    const std::string first = UnixOutput("pdftotext -raw -f 1 -l 1 " + path + " -");
    const std::string second = UnixOutput("pdftotext -raw -f 2 -l 2 " + path + " -");
    EXPECT_NE(first.find("Page 1 of 2. Used by the development service."), std::string::npos) << first << info;
    EXPECT_EQ(first.find("Page 2 of 2"), std::string::npos) << first;
    EXPECT_NE(second.find("Page 2 of 2."), std::string::npos) << second;
    for (const std::string* page : {&first, &second})
        EXPECT_EQ(Occurrences(*page, "Learner 42 \xE2\x80\x93"), 1u) << *page;
}

// A document no reader can open, and one that forbids printing: the print
// fails, the learner and the page are told so, and nothing reaches CUPS.
TEST_F(PlayerProgramPage, ADocumentThatCannotBePrintedFailsWithNothingPrinted) {
    for (const char* content : {"pdf-damaged", "pdf-noprint"}) {
        const DocumentPrintRun failed = PrintContent(content);
        ASSERT_TRUE(failed.run.ended) << content;
        EXPECT_FALSE(HasPrefix(failed.journal, "WebView.Print ")) << content;
        EXPECT_EQ(WithPrefix(failed.journal, "WebView.PostWebMessageAsJson "),
                  (std::vector<std::string>{
                      R"(WebView.PostWebMessageAsJson {"type":"printResult","status":"error","message":"Print failed. Please check your printer."})"}))
            << content;
        EXPECT_EQ(failed.noticeText, "Printing failed.\n\xD8\xAA\xD8\xB9\xD8\xB0\xD8\xB1\xD8\xAA \xD8\xA7\xD9\x84\xD8\xB7\xD8\xA8\xD8\xA7\xD8\xB9\xD8\xA9.")
            << content;
        EXPECT_TRUE(failed.newFiles.empty()) << content << failed.newFiles;
    }
}

// The window closed while a long document is being watermarked for the
// printer: the program ends at once, with 0, and nothing reaches CUPS then
// or later (the watermarking process goes with the player's job).
TEST_F(PlayerProgramPage, ClosingTheWindowDuringADocumentPrintPrintsNothing) {
    StandInSession session("page-print-close", "once .pdf message requestPrint\n");
    const std::string before = UnixOutput("ls ~/PDF");
    const std::wstring title(reinterpret_cast<const wchar_t*>(PrinterDialog::kTitle));
    HWND answered = nullptr;
    DWORD closedAt = 0;
    const ProgramRun run = RunProgram(TestSupport::SealLink("p", "pdf-long", kService), [&] {
        HWND player = VisibleWindow(L"TovaniWindow");
        if (player == nullptr) return true;
        HWND dialog = VisibleWindow(L"#32770", title.c_str());
        if (answered == nullptr) {
            if (dialog == nullptr) return true;
            Sleep(300);
            Answer(dialog, PrinterAnswer{L"PDF", PrinterAnswer::How::PrintButton}, LookAt(dialog, player).lines);
            answered = dialog;
            return true;
        }
        // The print is under way once its dialog has gone.
        if (IsWindow(answered)) return true;
        PostMessageW(player, WM_CLOSE, 0, 0);
        closedAt = GetTickCount();
        return false;
    }, 60000);
    const DWORD endedAt = GetTickCount();
    std::string log;
    for (const std::string& line : run.log) log += line + "\n";
    ASSERT_TRUE(run.ended) << log;
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_LT(endedAt - closedAt, 5000u) << "the program did not end promptly after its window was closed";
    EXPECT_FALSE(HasPrefix(session.Journal(), "WebView.Print "));
    Sleep(4000);
    EXPECT_EQ(UnixOutput("ls ~/PDF"), before) << "a job reached CUPS-PDF after the window closed";
}
