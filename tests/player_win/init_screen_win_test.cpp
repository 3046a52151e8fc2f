// tovani.exe started without a link, under Wine with the stand-in runtime:
// the init window shows its loading text from the start, while the browser
// is still coming up; then the start page with the init screen's request
// headers, the navigation bar's messages (home, back, fullscreen) acted on,
// and the window brought forward and the splash closed by every completed
// navigation, a failed one included.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "app/splash_win.h"
#include "common/text.h"
#include "player/browser_rules.h"
#include "player/page_scripts.h"
#include "runtime/repair.h"
#include "tests/player_win/program_run.h"
#include "tests/support/standin_runtime_win.h"
#include "tests/support/test_support.h"

namespace {

using namespace ProgramRunning;
using TestSupport::StandInSession;

// What the screen shows inside a window's client area: where the pixels
// that are not the black background lie, and whether the text colour itself
// (RGB(200, 200, 200), as the fully covered pixels of a glyph) is there.
struct ClientPicture {
    int width = 0;
    int height = 0;
    RECT drawn{INT_MAX, INT_MAX, -1, -1};
    int drawnPixels = 0;
    bool textColour = false;
};

ClientPicture PictureOf(HWND window) {
    ClientPicture picture;
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    picture.width = client.right;
    picture.height = client.bottom;
    if (picture.width <= 0 || picture.height <= 0) return picture;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, picture.width, picture.height, screen, origin.x, origin.y, SRCCOPY);
        GdiFlush();
        const auto* pixel = static_cast<const BYTE*>(bits);
        for (int y = 0; y < picture.height; ++y) {
            for (int x = 0; x < picture.width; ++x, pixel += 4) {
                const int b = pixel[0], g = pixel[1], r = pixel[2];
                if (r == 200 && g == 200 && b == 200) picture.textColour = true;
                if (std::max({r, g, b}) > 40) {
                    ++picture.drawnPixels;
                    picture.drawn.left = std::min<LONG>(picture.drawn.left, x);
                    picture.drawn.top = std::min<LONG>(picture.drawn.top, y);
                    picture.drawn.right = std::max<LONG>(picture.drawn.right, x + 1);
                    picture.drawn.bottom = std::max<LONG>(picture.drawn.bottom, y + 1);
                }
            }
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return picture;
}

std::size_t IndexOf(const std::vector<std::string>& lines, const std::string& line, std::size_t from = 0) {
    for (std::size_t i = from; i < lines.size(); ++i)
        if (lines[i] == line) return i;
    return std::string::npos;
}

std::size_t IndexOfPrefix(const std::vector<std::string>& lines, const std::string& prefix, std::size_t from = 0) {
    for (std::size_t i = from; i < lines.size(); ++i)
        if (lines[i].rfind(prefix, 0) == 0) return i;
    return std::string::npos;
}

// Wine has no Segoe UI and, in its place, a font without Arabic: the loading
// text's Arabic half would be boxes. DejaVu Sans (from the system's fonts)
// has the Arabic letters, as Segoe UI has on Windows.
void SubstituteSegoeUi() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes", 0,
                        nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    const wchar_t font[] = L"DejaVu Sans";
    RegSetValueExW(key, L"Segoe UI", 0, REG_SZ, reinterpret_cast<const BYTE*>(font), sizeof font);
    RegCloseKey(key);
}

class InitScreen : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(TestSupport::InstallStandInRuntime(), "");
        SubstituteSegoeUi();
    }
    GdiplusSession gdiplus;
};

// One run: the loading text painted in the visible window while the
// browser's environment is still on its way; the start page requested with
// both init-screen headers; the bar's messages as the page posts them (only
// the exact words count): back with no history does nothing, fullscreen
// covers the screen, home goes home, back returns, fullscreen again restores
// the framed window; the splash gone and the window in front; 0 on close.
TEST_F(InitScreen, PaintsItsTextWhileTheBrowserStartsThenFollowsTheNavigationBar) {
    const std::string start = WideToUtf8(StartPageUrl());
    const std::string home = WideToUtf8(HomePageUrl());
    ASSERT_EQ(home.find(start), std::string::npos);
    ASSERT_EQ(start.find(home), std::string::npos);
    StandInSession session("init-bar", "environment-delay 4000\n"
                                       "once " + start + " message btn_back\n"
                                       "once " + start + " message BTN_HOME\n"
                                       "once " + start + " message btn_home \n"
                                       "once " + start + " message btn_fullscreen\n"
                                       "once " + start + " message btn_home\n"
                                       "once " + home + " message btn_back\n"
                                       "once " + home + " message btn_fullscreen\n");
    HWND screen = nullptr;
    std::wstring title;
    LONG_PTR classStyle = 0, style = 0, exStyle = 0;
    bool visibleBeforeBrowser = false;
    bool splashBeforeBrowser = false;
    bool browserBeforePicture = false;
    DWORD loadingStep = 0; // when the splash was moved aside
    DWORD finalStep = 0;   // when the last of the bar's messages was seen
    ClientPicture loading;
    std::string loadingShot, finalShot;
    RECT finalRect{};
    LONG_PTR finalStyle = 0, finalExStyle = 0;
    HWND foreground = nullptr;
    const ProgramRun run = RunProgram(WString(), [&] {
        screen = FindWindowW(L"KelbroInitWindow", nullptr);
        if (screen == nullptr) return true;
        const std::vector<std::string> journal = session.Journal();
        // The program is this test's debuggee: it stands still while the
        // test handles one of its events, and runs only between these calls.
        // So nothing here waits on its thread (the splash is moved
        // asynchronously), and time for painting passes between calls.
        if (!visibleBeforeBrowser && !HasPrefix(journal, "Environment created")) {
            if (!IsWindowVisible(screen)) return true;
            if (loadingStep == 0) {
                // The splash stays topmost over the middle of the screen,
                // where the window's text is: move it aside to see the text.
                if (HWND splash = FindWindowW(kSplashWindowClass, nullptr)) {
                    splashBeforeBrowser = true;
                    RECT splashRect{};
                    GetWindowRect(splash, &splashRect);
                    SetWindowPos(splash, nullptr,
                                 GetSystemMetrics(SM_CXSCREEN) - (splashRect.right - splashRect.left) / 2,
                                 GetSystemMetrics(SM_CYSCREEN) - (splashRect.bottom - splashRect.top) / 2, 0, 0,
                                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
                }
                loadingStep = GetTickCount();
                return true;
            }
            if (GetTickCount() - loadingStep < 500) return true;
            visibleBeforeBrowser = true;
            wchar_t text[64] = {};
            GetWindowTextW(screen, text, 64);
            title = text;
            classStyle = static_cast<LONG_PTR>(GetClassLongPtrW(screen, GCL_STYLE));
            style = GetWindowLongPtrW(screen, GWL_STYLE);
            exStyle = GetWindowLongPtrW(screen, GWL_EXSTYLE);
            loading = PictureOf(screen);
            loadingShot = SaveScreenshot("tovani-init-loading.png");
            browserBeforePicture = HasPrefix(session.Journal(), "Controller created");
            return true;
        }
        // Back home from the home page, and fullscreen left again.
        const std::size_t back = IndexOf(journal, "WebView.GoBack");
        if (back == std::string::npos || IndexOf(journal, "Loaded " + start, back) == std::string::npos ||
            IndexOf(journal, "Page posts message btn_fullscreen", back) == std::string::npos)
            return true;
        // Time for the stand-in to paint the address, the program running.
        if (finalStep == 0) finalStep = GetTickCount();
        if (GetTickCount() - finalStep < 300) return true;
        GetWindowRect(screen, &finalRect);
        finalStyle = GetWindowLongPtrW(screen, GWL_STYLE);
        finalExStyle = GetWindowLongPtrW(screen, GWL_EXSTYLE);
        foreground = GetForegroundWindow();
        finalShot = SaveScreenshot("tovani-init-screen.png");
        PostMessageW(screen, WM_CLOSE, 0, 0);
        return false;
    });
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(Has(run.log, "Step 9: hasSchemeArgs=0"));

    // Visible and painted before the browser was there: the framed window of
    // its class, with the program's title.
    ASSERT_TRUE(visibleBeforeBrowser);
    ASSERT_FALSE(browserBeforePicture) << "the browser came up before the picture was taken: too slow a machine";
    EXPECT_EQ(Narrow(title), "Tovani V 4.9.0");
    EXPECT_EQ(classStyle, CS_HREDRAW | CS_VREDRAW);
    EXPECT_EQ(style & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
    EXPECT_EQ(exStyle & WS_EX_APPWINDOW, WS_EX_APPWINDOW);
    EXPECT_TRUE(splashBeforeBrowser);
    EXPECT_FALSE(loadingShot.empty());
    ASSERT_GT(loading.drawnPixels, 200) << "no text in the window";
    EXPECT_TRUE(loading.textColour);
    // Nothing but one line of text on black, centred both ways. (Wine measures
    // the Arabic letters before it joins them, which draws the line a little
    // left of the middle.)
    const RECT& text = loading.drawn;
    EXPECT_NEAR((text.left + text.right) / 2, loading.width / 2, 24) << text.left << ".." << text.right;
    EXPECT_NEAR((text.top + text.bottom) / 2, loading.height / 2, 6) << text.top << ".." << text.bottom;
    EXPECT_LT(text.bottom - text.top, 48);
    EXPECT_GT(text.right - text.left, 150);

    const std::vector<std::string> journal = session.Journal();
    // The start page, asked for after the settings and the bar's script,
    // with both headers of the init screen.
    const std::size_t settings = IndexOf(journal, "Settings.put_AreDevToolsEnabled 0");
    const std::size_t script =
        IndexOf(journal, "WebView.AddScriptToExecuteOnDocumentCreated fnv=" +
                             TestSupport::StandInDigest(WideToUtf8(NavigationBarScript())) +
                             " length=" + std::to_string(WideToUtf8(NavigationBarScript()).size()));
    const std::size_t request = IndexOfPrefix(journal, "WebResourceRequested " + start + " context=1 headers: ");
    ASSERT_NE(settings, std::string::npos);
    ASSERT_NE(script, std::string::npos);
    ASSERT_NE(request, std::string::npos) << ::testing::PrintToString(journal);
    EXPECT_LT(settings, script);
    EXPECT_LT(script, request);
    for (const HeaderPair& header : InitScreenRequestHeaders()) {
        EXPECT_NE(journal[request].find(WideToUtf8(header.name) + "=" + WideToUtf8(header.value)), std::string::npos)
            << journal[request];
    }

    // The bar: exactly one trip home and one step back; a back with nothing
    // to go back to calls nothing.
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "Loaded " + home), 1);
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "WebView.GoBack"), 1);
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "Loaded " + start), 2);
    const std::size_t homeLoaded = IndexOf(journal, "Loaded " + home);
    EXPECT_LT(IndexOf(journal, "WebView.GoBack"), std::string::npos);
    EXPECT_GT(IndexOf(journal, "WebView.GoBack"), homeLoaded);
    // Fullscreen: the browser sized to the whole screen, then back to the
    // framed window's client area.
    const std::size_t enter = IndexOf(journal, "Page posts message btn_fullscreen");
    ASSERT_NE(enter, std::string::npos);
    const std::string fullBounds = "Controller.put_Bounds 0 0 " + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + " " +
                                   std::to_string(GetSystemMetrics(SM_CYSCREEN));
    const std::size_t full = IndexOf(journal, fullBounds, enter);
    EXPECT_NE(full, std::string::npos) << ::testing::PrintToString(journal);
    EXPECT_LT(full, homeLoaded);

    // The window after it all: framed again at its size, in front, not topmost.
    EXPECT_EQ(finalRect.right - finalRect.left, 1024);
    EXPECT_EQ(finalRect.bottom - finalRect.top, 768);
    EXPECT_EQ(finalStyle & WS_CAPTION, WS_CAPTION);
    EXPECT_EQ(finalStyle & WS_THICKFRAME, WS_THICKFRAME);
    EXPECT_EQ(finalExStyle & WS_EX_TOPMOST, 0);
    EXPECT_EQ(foreground, screen);
    EXPECT_FALSE(finalShot.empty());
    EXPECT_TRUE(Has(journal, "Controller.Close"));
    EXPECT_EQ(FindWindowW(kSplashWindowClass, nullptr), nullptr);
}

// A start page that fails to load still closes the splash and brings the
// window to the front; closing it ends the program with 0.
TEST_F(InitScreen, AFailedStartPageStillClosesTheSplashAndShowsTheWindow) {
    const std::string start = WideToUtf8(StartPageUrl());
    StandInSession session("init-failed", "environment-delay 1000\nfail " + start + " 12\n");
    HWND screen = nullptr;
    bool splashUntilFailure = false;
    bool splashAfterFailure = true;
    bool visible = false;
    HWND foreground = nullptr;
    LONG_PTR exStyle = 0;
    DWORD failedSeen = 0;
    const ProgramRun run = RunProgram(WString(), [&] {
        const bool failed = HasPrefix(session.Journal(), "Navigation failed " + start);
        if (!failed && FindWindowW(kSplashWindowClass, nullptr) != nullptr) splashUntilFailure = true;
        screen = FindWindowW(L"KelbroInitWindow", nullptr);
        if (screen == nullptr || !failed) return true;
        // The journal tells of the failure before the program hears of it.
        if (failedSeen == 0) failedSeen = GetTickCount();
        if (GetTickCount() - failedSeen < 300) return true;
        splashAfterFailure = FindWindowW(kSplashWindowClass, nullptr) != nullptr;
        visible = IsWindowVisible(screen) != FALSE;
        foreground = GetForegroundWindow();
        exStyle = GetWindowLongPtrW(screen, GWL_EXSTYLE);
        PostMessageW(screen, WM_CLOSE, 0, 0);
        return false;
    });
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(Has(session.Journal(), "Navigation failed " + start + " status=12"));
    EXPECT_TRUE(splashUntilFailure);
    EXPECT_FALSE(splashAfterFailure);
    EXPECT_TRUE(visible);
    EXPECT_EQ(foreground, screen);
    EXPECT_EQ(exStyle & WS_EX_TOPMOST, 0);
}

// The start page asks, at the user's click, for new windows on a local file
// and a script address: neither is opened, in the view or anywhere; a new
// window for a web address (the home page) opens in the same view, and one
// a script asks for on its own does not.
TEST_F(InitScreen, NewWindowsOpenOnlyWebAddressesTheUserAskedFor) {
    const std::string start = WideToUtf8(StartPageUrl());
    const std::string home = WideToUtf8(HomePageUrl());
    StandInSession session("init-new-window", "once " + start + " new-window file:///C:/windows/win.ini user\n"
                                              "once " + start + " new-window javascript:alert(document.cookie) user\n"
                                              "once " + start + " new-window " + start + "#by-script\n"
                                              "once " + start + " new-window " + home + " user\n");
    const ProgramRun run = RunProgram(WString(), [&] {
        HWND screen = FindWindowW(L"KelbroInitWindow", nullptr);
        if (screen == nullptr || !Has(session.Journal(), "Loaded " + home)) return true;
        PostMessageW(screen, WM_CLOSE, 0, 0);
        return false;
    });
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    const std::vector<std::string> journal = session.Journal();
    for (const std::string address : {std::string("file:///C:/windows/win.ini"),
                                      std::string("javascript:alert(document.cookie)"), start + "#by-script"}) {
        EXPECT_TRUE(Has(journal, "NewWindowRequested " + address + " handled")) << address;
        EXPECT_FALSE(HasPrefix(journal, "WebView.Navigate " + address)) << address;
    }
    EXPECT_FALSE(HasPrefix(journal, "Loaded file:"));
    EXPECT_FALSE(HasPrefix(journal, "Loaded javascript:"));
    EXPECT_TRUE(Has(journal, "WebView.Navigate " + home));
    for (const std::string& line : journal) EXPECT_EQ(line.find("UNEXPECTED"), std::string::npos) << line;
}

// The window closed while its browser is still starting, without a link
// (the init screen) and with one (the player): the program ends quietly with
// 0, as when it is closed later (no crash, no error box, no repair), and the
// browser never comes up. The player's browser starts before the service is
// asked, so its window is closed once the service has answered (closing it
// while start-up still waits on the service gives up, another test's case).
TEST_F(InitScreen, EitherWindowClosedWhileItsBrowserStartsEndsTheProgramQuietly) {
    struct Case {
        const wchar_t* windowClass;
        WString link;
        const char* script;
        DWORD closeAfterShownMs;
    };
    for (const Case& c : {Case{L"KelbroInitWindow", WString(), "environment-delay 2000\n", 0},
                          Case{L"TovaniWindow", TestSupport::SealLink("p", "pdf-1", kService),
                               "environment-delay 7000\n", 3000}}) {
        SCOPED_TRACE(Narrow(c.windowClass));
        StandInSession session("closed-while-starting", c.script);
        bool closed = false;
        DWORD shownAt = 0;
        std::string box;
        const ProgramRun run = RunProgram(c.link, [&] {
            for (const char* caption : {"Error", "Tovani - Startup Error", "Repairing..."}) {
                if (HWND shown = MessageBoxWindow(caption)) {
                    box = std::string(caption) + ": " + MessageBoxText(shown);
                    PostMessageW(shown, WM_COMMAND, IDOK, 0);
                    return true;
                }
            }
            if (closed) return true;
            HWND window = VisibleWindow(c.windowClass);
            if (window == nullptr) return true;
            if (shownAt == 0) shownAt = GetTickCount();
            if (GetTickCount() - shownAt < c.closeAfterShownMs ||
                !HasPrefix(session.Journal(), "CreateWebViewEnvironmentWithOptionsInternal") ||
                HasPrefix(session.Journal(), "Environment created"))
                return true;
            PostMessageW(window, WM_CLOSE, 0, 0);
            closed = true;
            return true;
        }, 20000);
        ASSERT_TRUE(closed);
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(box, "");
        EXPECT_FALSE(HasPrefix(session.Journal(), "Controller created"));
        EXPECT_EQ(GetFileAttributesW(Repair::ScriptFile().c_str()), INVALID_FILE_ATTRIBUTES);
    }
}

} // namespace
