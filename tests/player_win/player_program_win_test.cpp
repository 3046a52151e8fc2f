// tovani.exe end to end under Wine: the program started with a link against
// the development service and the stand-in runtime, as a debugged child so
// its debug output (the start-up log) is read as a debugger reads it; its
// windows are found and answered from here, inside the same Wine desktop.
#include <gtest/gtest.h>

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/splash_win.h"
#include "common/text.h"
#include "links/player_content.h"
#include "links/scheme_link.h"
#include "player/browser_rules.h"
#include "player/page_builder.h"
#include "player/page_scripts.h"
#include "tests/support/silent_listener.h"
#include "tests/support/standin_runtime_win.h"
#include "tests/support/test_support.h"
#include "tests/player_win/program_run.h"

using TestSupport::StandInSession;

namespace {

using namespace ProgramRunning;

class PlayerProgram : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(TestSupport::InstallStandInRuntime(), ""); }
    GdiplusSession gdiplus;
};

// A PDF link: the splash, the steps logged in order, the scheme written under
// HKCU\Software\Classes, the player window with the content loaded by the
// browser with its scripts, and exit code 0 when the window is closed.
TEST_F(PlayerProgram, ALinkShowsItsContentAndTheWindowEndsTheProgramWithZero) {
    const std::wstring schemeKey = L"Software\\Classes\\corvantiluxen";
    RegDeleteTreeW(HKEY_CURRENT_USER, schemeKey.c_str());
    StandInSession session("program-pdf");
    const std::string pdf = std::string(kService) + "/media/sample.pdf";

    HWND player = nullptr;
    bool sawSplash = false;
    RECT playerRect{};
    std::string screenshot;
    std::vector<std::string> journal;
    const ProgramRun run = RunProgram(TestSupport::SealLink("p", "pdf-1", kService), [&] {
        if (!sawSplash && FindWindowW(kSplashWindowClass, L"Kelbro Splash") != nullptr) sawSplash = true;
        player = VisibleWindow(L"TovaniWindow");
        if (player == nullptr) return true;
        journal = session.Journal();
        if (!Has(journal, "Loaded " + pdf)) return true;
        Sleep(300); // the stand-in paints the address
        GetWindowRect(player, &playerRect);
        screenshot = SaveScreenshot("tovani-player.png");
        PostMessageW(player, WM_CLOSE, 0, 0);
        return false;
    });
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);

    const std::vector<std::string> steps = {"Step 7: Initializing SSL pinning defaults",
                                            "Step 7: Loading dynamic pins synchronously",
                                            "Step 7: Dynamic pins loaded OK",
                                            "Step 7B: Checking app version...",
                                            "Step 7B: Version check done. hasUpdate=0",
                                            "Step 8: Registering URL protocol...",
                                            "Step 9: Parsing command line...",
                                            "Step 9: hasSchemeArgs=1"};
    std::vector<std::string> logged;
    for (const std::string& line : run.log)
        if (line.rfind("Step ", 0) == 0) logged.push_back(line);
    EXPECT_EQ(logged, steps) << ::testing::PrintToString(run.log);

    EXPECT_TRUE(sawSplash);
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(playerRect.right - playerRect.left, 1280);
    EXPECT_EQ(playerRect.bottom - playerRect.top, 720);
    EXPECT_FALSE(screenshot.empty());

    // The browser as the player drives it: production settings, the loader
    // and print scripts then the watermark and print button, and the
    // content navigated through a request carrying the identity headers.
    journal = session.Journal();
    EXPECT_TRUE(Has(journal, "Settings.put_AreDevToolsEnabled 0"));
    EXPECT_TRUE(Has(journal, "Settings.put_HiddenPdfToolbarItems 7"));
    EXPECT_EQ(std::count_if(journal.begin(), journal.end(),
                            [](const std::string& l) { return l.rfind("WebView.AddScriptToExecuteOnDocumentCreated", 0) == 0; }),
              4);
    EXPECT_TRUE(HasPrefix(journal, "WebView.NavigateWithWebResourceRequest " + pdf));
    EXPECT_TRUE(Has(journal, "Controller.Close"));

    // The registration, rewritten by this start.
    const std::wstring program = ProgramPath();
    wchar_t full[MAX_PATH] = {};
    GetFullPathNameW(program.c_str(), MAX_PATH, full, nullptr);
    DWORD bytes = 0;
    EXPECT_EQ(Narrow(RegistryString(schemeKey, nullptr, &bytes)), "Kelbro Desktop Player");
    EXPECT_EQ(bytes, (21u + 1) * 2);
    EXPECT_EQ(Narrow(RegistryString(schemeKey, L"URL Protocol", &bytes)), "");
    EXPECT_EQ(bytes, 2u);
    const std::string icon = Narrow(RegistryString(schemeKey + L"\\DefaultIcon", nullptr));
    const std::string command = Narrow(RegistryString(schemeKey + L"\\shell\\open\\command", nullptr));
    EXPECT_EQ(ToLowerCopy(Utf8ToWide(icon)), ToLowerCopy(Utf8ToWide(Narrow(full) + ",-101")));
    EXPECT_EQ(ToLowerCopy(Utf8ToWide(command)), ToLowerCopy(Utf8ToWide("\"" + Narrow(full) + "\" \"%1\"")));
}

// The service's own message for a link: shown over the splash, with the
// service's caption; OK ends the program with 1 and no content (the
// browser, started early in the window not yet shown, is closed unused).
TEST_F(PlayerProgram, AServiceMessageIsShownOverTheSplashAndEndsWithOne) {
    StandInSession session("program-message");
    const std::wstring caption = Wide("Tovani - \xD8\xAE\xD8\xB7\xD8\xA3");
    std::wstring text;
    RECT splashRect{};
    bool splashLayered = false;
    std::string screenshot;
    const ProgramRun run = RunProgram(TestSupport::SealLink("p", "error-message", kService), [&] {
        HWND box = VisibleWindow(L"#32770", caption.c_str());
        if (box == nullptr) return true;
        Sleep(300);
        HWND splash = FindWindowW(kSplashWindowClass, L"Kelbro Splash");
        if (splash != nullptr) {
            GetWindowRect(splash, &splashRect);
            const LONG_PTR ex = GetWindowLongPtrW(splash, GWL_EXSTYLE);
            splashLayered = (ex & WS_EX_LAYERED) && (ex & WS_EX_TOPMOST) && (ex & WS_EX_TOOLWINDOW);
        }
        // The box's text control (id 0xFFFF in the system's message box).
        HWND label = GetDlgItem(box, 0xFFFF);
        wchar_t buffer[512] = {};
        if (label != nullptr) {
            GetWindowTextW(label, buffer, 512);
        }
        text = buffer;
        screenshot = SaveScreenshot("tovani-splash-and-message.png");
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        return false;
    });
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(Narrow(text), "\xD8\xA7\xD9\x84\xD9\x85\xD8\xAD\xD8\xAA\xD9\x88\xD9\x89 \xD8\xBA\xD9\x8A\xD8\xB1 "
                            "\xD9\x85\xD8\xAA\xD8\xA7\xD8\xAD \xD8\xAD\xD8\xA7\xD9\x84\xD9\x8A\xD8\xA7\xD9\x8B");
    // Wine's message box shows neither MB_RIGHT, MB_RTLREADING nor
    // MB_TOPMOST in its window styles, so those are not read back here.
    // The splash, still up: the image's size, centred on the screen.
    EXPECT_TRUE(splashLayered);
    EXPECT_EQ(splashRect.right - splashRect.left, 720);
    EXPECT_EQ(splashRect.bottom - splashRect.top, 420);
    EXPECT_EQ(splashRect.left, (GetSystemMetrics(SM_CXSCREEN) - 720) / 2);
    EXPECT_EQ(splashRect.top, (GetSystemMetrics(SM_CYSCREEN) - 420) / 2);
    EXPECT_FALSE(screenshot.empty());
    const std::vector<std::string> journal = session.Journal();
    EXPECT_FALSE(HasPrefix(journal, "WebView.Navigate")) << ::testing::PrintToString(journal);
    if (Has(journal, "Controller created"))
        EXPECT_TRUE(Has(journal, "Controller.Close")) << ::testing::PrintToString(journal);
    EXPECT_TRUE(Has(run.log, "Step 9: hasSchemeArgs=1"));
}

// A service that cannot be reached is named as such, in both languages,
// and is no attack: refused at once, silent within start-up's bound.
TEST_F(PlayerProgram, AServiceThatCannotBeReachedIsNamedAndEndsWithOne) {
    StandInSession session("program-unreachable");
    TestSupport::SilentListener silent("127.0.0.1");
    ASSERT_FALSE(silent.Base().empty());
    // The platform host is pinned: its refused pre-flight used to be reported as an attack.
    for (const std::string& domain : {std::string("https://127.0.0.1:9"), silent.Base()}) {
        std::wstring text;
        const DWORD started = GetTickCount();
        const ProgramRun run = RunProgram(TestSupport::SealLink("p", "video-1", domain), [&] {
            HWND box = VisibleWindow(L"#32770", L"Tovani - Connection Error");
            if (box == nullptr) return true;
            wchar_t buffer[512] = {};
            if (HWND label = GetDlgItem(box, 0xFFFF)) GetWindowTextW(label, buffer, 512);
            text = buffer;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            return false;
        });
        const DWORD took = GetTickCount() - started;
        ASSERT_TRUE(run.ended) << domain;
        EXPECT_EQ(run.exitCode, 1u) << domain;
        EXPECT_EQ(Narrow(text).rfind("Cannot reach the Tovani service, check your internet connection.\n\xD8\xAA", 0),
                  0u)
            << domain << ": " << Narrow(text);
        EXPECT_LT(took, 25000u) << domain;
    }
}

// Waiting on a silent service, the splash says that the player is
// connecting; its button gives up with code 1.
TEST_F(PlayerProgram, ASlowServiceShowsTheConnectingNoticeWhichGivesUp) {
    StandInSession session("program-connecting");
    TestSupport::SilentListener silent("127.0.0.1");
    ASSERT_FALSE(silent.Base().empty());
    bool seen = false;
    std::string screenshot;
    const DWORD started = GetTickCount();
    const ProgramRun run = RunProgram(TestSupport::SealLink("p", "video-1", silent.Base()), [&] {
        HWND notice = VisibleWindow(L"TovaniConnectingNotice", L"Tovani - Connecting");
        if (notice == nullptr) return true;
        seen = true;
        Sleep(200);
        screenshot = SaveScreenshot("tovani-connecting-notice.png");
        HWND button = FindWindowExW(notice, nullptr, L"BUTTON", nullptr);
        if (button != nullptr) PostMessageW(button, BM_CLICK, 0, 0);
        return false;
    });
    const DWORD took = GetTickCount() - started;
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(seen);
    EXPECT_EQ(run.exitCode, 1u);
    // Given up, not waited out.
    EXPECT_LT(took, 11000u);
    EXPECT_FALSE(screenshot.empty());
}

// Without a link: the init screen, its browser on the start page with the
// navigation bar, and exit code 0 when it is closed.
TEST_F(PlayerProgram, WithoutALinkTheInitScreenShowsTheStartPage) {
    StandInSession session("program-init");
    const std::string start = WideToUtf8(StartPageUrl());
    HWND screen = nullptr;
    RECT rect{};
    const ProgramRun run = RunProgram(WString(), [&] {
        screen = VisibleWindow(L"KelbroInitWindow");
        if (screen == nullptr || !Has(session.Journal(), "Loaded " + start)) return true;
        GetWindowRect(screen, &rect);
        PostMessageW(screen, WM_CLOSE, 0, 0);
        return false;
    });
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(Has(run.log, "Step 9: hasSchemeArgs=0"));
    // Its browser came up, unseen, while the service was asked.
    const auto at = [&run](const char* line) { return std::find(run.log.begin(), run.log.end(), line) - run.log.begin(); };
    EXPECT_LT(at("Starting the start page's browser early, unseen"), at("Step 7: Loading dynamic pins synchronously"))
        << ::testing::PrintToString(run.log);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(rect.right - rect.left, 1024);
    EXPECT_EQ(rect.bottom - rect.top, 768);
    const std::vector<std::string> journal = session.Journal();
    EXPECT_TRUE(Has(journal, "WebView.AddScriptToExecuteOnDocumentCreated fnv=" +
                                 TestSupport::StandInDigest(WideToUtf8(NavigationBarScript())) + " length=" +
                                 std::to_string(WideToUtf8(NavigationBarScript()).size())));
    EXPECT_TRUE(Has(journal, "Controller.Close"));
    // The splash goes with the first completed navigation.
    EXPECT_EQ(FindWindowW(kSplashWindowClass, nullptr), nullptr);
}

// Each kind of content from the link to the browser: the scripts the player
// registers, in their order, and how the content is loaded (navigated, with
// the identity headers on the platform's host, or given as the page's text),
// as the shared plan makes them from what this link resolves to.
TEST_F(PlayerProgram, EachKindOfContentGetsItsScriptsInOrderAndItsLoad) {
    for (const char* id : {"video-1", "pdfurl-1", "embed-1", "youtube-1", "zoom-1"}) {
        SCOPED_TRACE(id);
        const WString link = TestSupport::SealLink("p", id, kService);
        PlayerContent = PlayerContentRecord{};
        std::string error;
        ASSERT_TRUE(ParseSchemeArgs(link, error)) << error;
        const PlayerLoadPlan plan = PlanPlayerLoad(PlayerContent);
        const std::string target = WideToUtf8(plan.target);
        std::vector<std::string> expected;
        for (const WString& script : plan.documentScripts)
            expected.push_back("fnv=" + TestSupport::StandInDigest(WideToUtf8(script)));
        const auto loaded = [&](const std::vector<std::string>& journal) {
            // A page given as text is served at its own address.
            if (plan.load == PlayerLoadPlan::Load::NavigateToString)
                return std::any_of(journal.begin(), journal.end(), [&](const std::string& line) {
                    return line.rfind("WebResourceRequested " + WideToUtf8(kStringPageBase), 0) == 0 &&
                           line.find("with content fnv=" + TestSupport::StandInDigest(target)) != std::string::npos;
                });
            return HasPrefix(journal, "WebView.NavigateWithWebResourceRequest " + target) ||
                   Has(journal, "WebView.Navigate " + target);
        };

        StandInSession session(std::string("program-kind-") + id);
        const ProgramRun run = RunProgram(link, [&] {
            HWND player = VisibleWindow(L"TovaniWindow");
            if (player == nullptr || !loaded(session.Journal())) return true;
            PostMessageW(player, WM_CLOSE, 0, 0);
            return false;
        });
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(run.exitCode, 0u);
        const std::vector<std::string> journal = session.Journal();
        EXPECT_TRUE(loaded(journal)) << ::testing::PrintToString(journal);
        std::vector<std::string> scripts;
        const std::string add = "WebView.AddScriptToExecuteOnDocumentCreated ";
        for (const std::string& line : journal) {
            if (line.rfind(add, 0) != 0) continue;
            const std::string rest = line.substr(add.size());
            scripts.push_back(rest.substr(0, rest.find(' ')));
        }
        EXPECT_EQ(scripts, expected);
        // The platform's host is navigated with the identity headers, any other without.
        if (plan.load == PlayerLoadPlan::Load::NavigateTo)
            EXPECT_EQ(HasPrefix(journal, "WebView.NavigateWithWebResourceRequest " + target),
                      target.rfind(kService, 0) == 0);
    }
}

// The second version check asks the service the link names: an optional
// update declined goes on to the content (0 when the window closes); a
// required one cancelled ends with 0 before any content: the browser,
// started early in the window not yet shown, is closed unused.
TEST_F(PlayerProgram, UpdatePromptsAfterTheLinksVersionCheck) {
    const std::string page = std::string(kService) + "/media/page.html";
    struct Case {
        const char* domainPath;
        const char* caption;
        WPARAM answer;
        bool browserExpected;
    };
    for (const Case& c : {Case{"/update-optional", "Tovani - Update Available", IDNO, true},
                          Case{"/update-required", "Tovani - Update Required", IDCANCEL, false}}) {
        SCOPED_TRACE(c.domainPath);
        StandInSession session(std::string("program-update") + (c.browserExpected ? "-optional" : "-required"));
        const std::wstring caption = Wide(c.caption);
        bool answered = false;
        bool closed = false;
        const ProgramRun run = RunProgram(TestSupport::SealLink("p", page, std::string(kService) + c.domainPath), [&] {
            if (!answered) {
                HWND box = VisibleWindow(L"#32770", caption.c_str());
                if (box == nullptr) return true;
                PostMessageW(box, WM_COMMAND, c.answer, 0);
                answered = true;
                return true;
            }
            HWND player = VisibleWindow(L"TovaniWindow");
            if (player == nullptr || !Has(session.Journal(), "Loaded " + page)) return true;
            PostMessageW(player, WM_CLOSE, 0, 0);
            closed = true;
            return false;
        });
        ASSERT_TRUE(run.ended);
        EXPECT_TRUE(answered);
        EXPECT_EQ(run.exitCode, 0u);
        // The start-up's own check uses the built-in endpoint, which has none.
        EXPECT_TRUE(Has(run.log, "Step 7B: Version check done. hasUpdate=0"));
        EXPECT_EQ(closed, c.browserExpected);
        const std::vector<std::string> journal = session.Journal();
        if (Has(journal, "Controller created"))
            EXPECT_TRUE(Has(journal, "Controller.Close")) << ::testing::PrintToString(journal);
        EXPECT_EQ(HasPrefix(journal, "WebView.Navigate"), c.browserExpected) << ::testing::PrintToString(journal);
        EXPECT_EQ(Has(journal, "Loaded " + page), c.browserExpected);
    }
}

} // namespace
