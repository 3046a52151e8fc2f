// The browser processes under the Windows host, under Wine, against the
// stand-in runtime: a page's renderer and the whole browser process ending
// under a ready host, as the runtime reports them.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <tlhelp32.h>

#include "common/process_command_line_win.h"
#include "player/user_data_win.h"
#include "player/webview_host_win.h"
#include "tests/player_win/program_run.h"
#include "tests/support/standin_runtime_win.h"
#include "tests/support/test_support.h"

using TestSupport::StandInSession;

namespace {

constexpr char kPage[] = "https://127.0.0.1:47443/media/page.html";
constexpr char kOther[] = "https://127.0.0.1:47443/media/other.html";

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeOwnerWindow() {
    static const bool registered = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = OwnerProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"TovaniBrowserProcessOwner";
        return RegisterClassW(&wc) != 0;
    }();
    (void)registered;
    return CreateWindowExW(0, L"TovaniBrowserProcessOwner", L"browser process test", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                           0, 0, 800, 600, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(timeoutMs);
    while (!done()) {
        if (GetTickCount() > end) return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
    return true;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::size_t Count(const std::vector<std::string>& lines, const std::string& prefix) {
    return static_cast<std::size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

// The stand-in's window for the view inside the owner window.
HWND ViewWindow(HWND owner) { return FindWindowExW(owner, nullptr, L"TovaniStandInBrowser", nullptr); }

class BrowserProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(TestSupport::InstallStandInRuntime(), "");
        window = MakeOwnerWindow();
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        host.reset();
        if (window) DestroyWindow(window);
    }

    bool Start() {
        host = std::make_unique<WebView::WebViewHost>();
        host->onProcessFailed = [this](WebView::BrowserProcessFailure failure) { failures.push_back(failure); };
        return host->Initialize(window, u"C:\\users\\tovani\\WebView2Data", 3);
    }

    HWND window = nullptr;
    std::unique_ptr<WebView::WebViewHost> host;
    std::vector<WebView::BrowserProcessFailure> failures;
};

} // namespace

// A renderer's end leaves the view usable; the browser's end kills the view
// and its controller until a new environment and controller are made.
TEST_F(BrowserProcessTest, RendererAndBrowserEndsAsTheRuntimeReportsThem) {
    StandInSession session("process-failed", "once page.html process-failed 1\n"
                                             "once other.html process-failed 0\n");
    ASSERT_TRUE(Start());
    host->Navigate(Utf8ToWide(kPage));
    std::vector<std::string> journal;
    ASSERT_TRUE(PumpUntil([&] { return !failures.empty(); })) << "no renderer failure reported";
    EXPECT_EQ(failures, std::vector<WebView::BrowserProcessFailure>{WebView::BrowserProcessFailure::Page});
    journal = session.Journal();
    EXPECT_TRUE(Has(journal, "Page process-failed 1"));
    EXPECT_TRUE(Has(journal, "ProcessFailed kind=1"));
    EXPECT_TRUE(Has(journal, "WebView.add_ProcessFailed"));

    // The view still loads.
    host->Navigate(Utf8ToWide(kOther));
    ASSERT_TRUE(PumpUntil([&] { return failures.size() == 2; })) << "no browser failure reported";
    EXPECT_EQ(failures.back(), WebView::BrowserProcessFailure::Browser);
    journal = session.Journal();
    EXPECT_TRUE(Has(journal, std::string("Loaded ") + kOther));
    EXPECT_TRUE(Has(journal, "ProcessFailed kind=0 browser process exited"));
    // The browser's window went with its process.
    const HWND view = ViewWindow(window);
    ASSERT_NE(view, nullptr);
    EXPECT_FALSE(IsWindowVisible(view));

    // The dead view refuses what it is asked.
    host->Navigate(Utf8ToWide(kPage));
    host->SetBounds(0, 0, 300, 200);
    journal = session.Journal();
    EXPECT_TRUE(Has(journal, "DEAD VIEW call WebView.Navigate"));
    EXPECT_TRUE(Has(journal, "DEAD VIEW call Controller.put_Bounds"));
    EXPECT_EQ(Count(journal, std::string("Loaded ") + kPage), 1u);

    // A new environment and controller serve again.
    host.reset();
    ASSERT_TRUE(Start());
    host->Navigate(Utf8ToWide(kPage));
    ASSERT_TRUE(PumpUntil([&] { return Count(session.Journal(), std::string("Loaded ") + kPage) == 2; }));
    EXPECT_EQ(Count(session.Journal(), "UNEXPECTED"), 0u);
}

namespace {

// The browser processes on a data folder, by the folder their command line names.
std::vector<DWORD> BrowsersOf(const WString& folder) {
    std::vector<DWORD> found;
    const std::wstring wanted = std::wstring(folder.begin(), folder.end()) + L"\\EBWebView\"";
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, L"msedgewebview2.exe") != 0) continue;
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, entry.th32ProcessID);
        if (process == nullptr) continue;
        if (ProcessCommandLine(process).find(wanted) != std::wstring::npos) found.push_back(entry.th32ProcessID);
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return found;
}

struct Player {
    std::unique_ptr<StandInSession> session; // its own journal
    HANDLE process = nullptr;
    DWORD id = 0;
    Player() = default;
    Player(Player&& other) noexcept
        : session(std::move(other.session)), process(std::exchange(other.process, nullptr)), id(other.id) {}
    // A player the test leaves running ends with it.
    ~Player() {
        if (process == nullptr) return;
        if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
        }
        CloseHandle(process);
    }
};

// tovani.exe without a link (its init screen), not debugged, its journal
// apart from the others'.
Player StartPlayer(const std::string& name) {
    Player player;
    player.session = std::make_unique<StandInSession>(name);
    std::wstring command = L"\"" + ProgramRunning::ProgramPath() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        CloseHandle(info.hThread);
        player.process = info.hProcess;
        player.id = info.dwProcessId;
    }
    return player;
}

constexpr wchar_t kPlayerWindow[] = L"KelbroInitWindow";

struct Found {
    DWORD id;
    const wchar_t* className;
    HWND window = nullptr;
};

// A visible top-level window of the process, of a class.
HWND WindowOf(DWORD id, const wchar_t* className) {
    Found found{id, className};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* f = reinterpret_cast<Found*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t name[64] = {};
            GetClassNameW(window, name, 64);
            if (owner != f->id || wcscmp(name, f->className) != 0 || !IsWindowVisible(window)) return TRUE;
            f->window = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found.window;
}

// The stand-in's view inside a window, at any depth.
HWND ViewInside(HWND window) {
    HWND view = nullptr;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM param) -> BOOL {
            wchar_t name[64] = {};
            GetClassNameW(child, name, 64);
            if (wcscmp(name, L"TovaniStandInBrowser") != 0) return TRUE;
            *reinterpret_cast<HWND*>(param) = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&view));
    return view;
}

bool ShowsContent(const Player& player) {
    const HWND window = WindowOf(player.id, kPlayerWindow);
    const HWND view = window ? ViewInside(window) : nullptr;
    return view != nullptr && IsWindowVisible(view) && Count(player.session->Journal(), "Loaded ") > 0;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 30000) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(timeoutMs);
    while (!done()) {
        if (GetTickCount() > end) return false;
        Sleep(50);
    }
    return true;
}

} // namespace

// Players on one data folder share one browser process, which outlives the
// player that started it; a player that starts later (and sweeps) leaves it
// to the player it still serves.
TEST(SharedBrowserProcess, OutlivesItsFirstPlayerAndIsNotSweptFromUnderTheSecond) {
    ASSERT_EQ(TestSupport::InstallStandInRuntime(), "");
    const WString folder = WebView::UserDataFolder();
    std::vector<Player> players;
    players.reserve(3);
    players.push_back(StartPlayer("shared-first"));
    ASSERT_NE(players[0].process, nullptr);
    ASSERT_TRUE(WaitFor([&] { return ShowsContent(players[0]); })) << "the first player shows no content";
    players.push_back(StartPlayer("shared-second"));
    ASSERT_NE(players[1].process, nullptr);
    ASSERT_TRUE(WaitFor([&] { return ShowsContent(players[1]); })) << "the second player shows no content";
    const std::vector<DWORD> browsers = BrowsersOf(folder);
    ASSERT_EQ(browsers.size(), 1u) << "one browser for both";
    HANDLE browser = OpenProcess(SYNCHRONIZE, FALSE, browsers[0]);
    ASSERT_NE(browser, nullptr);

    // The first player, the browser's parent, ends; the browser serves on.
    PostMessageW(WindowOf(players[0].id, kPlayerWindow), WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(players[0].process, 20000), WAIT_OBJECT_0);
    Sleep(500);
    EXPECT_EQ(WaitForSingleObject(browser, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    // A third player sweeps before its browser starts, and joins the same one.
    players.push_back(StartPlayer("shared-third"));
    ASSERT_NE(players[2].process, nullptr);
    EXPECT_TRUE(WaitFor([&] { return ShowsContent(players[2]); })) << "the third player shows no content";
    Sleep(500); // a browser's end reaches its views within a tenth of a second
    EXPECT_EQ(WaitForSingleObject(browser, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the sweep ended a browser in use";
    EXPECT_EQ(Count(players[1].session->Journal(), "ProcessFailed"), 0u)
        << ::testing::PrintToString(players[1].session->Journal());
    EXPECT_TRUE(ShowsContent(players[1]));
    EXPECT_EQ(BrowsersOf(folder), browsers);

    // With its last player gone the browser ends by itself.
    for (std::size_t i = 1; i < players.size(); ++i) {
        PostMessageW(WindowOf(players[i].id, kPlayerWindow), WM_CLOSE, 0, 0);
        EXPECT_EQ(WaitForSingleObject(players[i].process, 20000), WAIT_OBJECT_0);
    }
    EXPECT_EQ(WaitForSingleObject(browser, 10000), WAIT_OBJECT_0);
    CloseHandle(browser);
}
