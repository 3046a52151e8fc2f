// The player window and its browser under Wine: where the window is, whether
// it is minimised and a page element's own fullscreen, as the runtime (the
// stand-in) sees them and as the window shows them. The test moves and
// minimises the window and presses the page's keys from the same Wine desktop.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common/text.h"
#include "player/browser_rules.h"
#include "tests/player_win/program_run.h"
#include "tests/support/standin_runtime_win.h"
#include "tests/support/test_support.h"

using TestSupport::StandInSession;

namespace {

using namespace ProgramRunning;

class PlayerWindowPlace : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(TestSupport::InstallStandInRuntime(), ""); }
    GdiplusSession gdiplus;
};

std::size_t CountOf(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string Text(const RECT& r) {
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
           std::to_string(r.bottom);
}

RECT MonitorOf(HWND window) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    return monitor.rcMonitor;
}

void PressKey(HWND view, WPARAM key) { PostMessageW(view, WM_KEYDOWN, key, 1); }

} // namespace

// A move reaches the runtime, so a drop-down opens where the window now is; a
// minimised window hides its page and shows it again when restored; a video's
// own fullscreen covers the monitor without a frame and Esc puts the window
// back as it was; inside the window's own fullscreen (the page's word) the
// element's end leaves the window fullscreen.
TEST_F(PlayerWindowPlace, MovesMinimisingAndAVideosFullscreenReachTheBrowserAndTheWindow) {
    const std::string pdf = std::string(kService) + "/media/sample.pdf";
    StandInSession session("player-window-place", "once sample.pdf key D open-dropdown\n"
                                                  "once sample.pdf key F fullscreen-element on\n"
                                                  "once sample.pdf key X fullscreen-element off\n"
                                                  "once sample.pdf key T message toggleFullscreen\n");
    enum Step { Start, Moved, DropdownAsked, Minimised, Restored, ElementOn, ElementOff, OwnOn, OwnElementOn, OwnElementOff, Done };
    int step = Start;
    POINT origin{};
    std::string dropdown;
    bool hiddenWhileMinimised = false;
    bool shownWhenRestored = false;
    RECT framed{}, element{}, restored{}, own{}, monitor{};
    LONG_PTR framedStyle = 0, elementStyle = 0, restoredStyle = 0, ownStyle = 0;
    std::string screenshot, dropdownShot;
    const ProgramRun run = RunProgram(TestSupport::SealLink("p", "pdf-1", kService), [&] {
        HWND player = VisibleWindow(L"TovaniWindow");
        HWND view = player != nullptr ? FindWindowExW(player, nullptr, L"TovaniStandInBrowser", nullptr) : nullptr;
        if (view == nullptr) return true;
        const std::vector<std::string> journal = session.Journal();
        switch (step) {
        case Start:
            if (!Has(journal, "Loaded " + pdf) || !Has(journal, "Page binds key T")) return true;
            // Asynchronous: the program may be waiting on this debugger meanwhile.
            SetWindowPos(player, nullptr, 137, 91, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
            step = Moved;
            return true;
        case Moved: {
            RECT r{};
            GetWindowRect(player, &r);
            if (r.left != 137 || r.top != 91) return true;
            // The key follows the move in the program's queue.
            PressKey(view, 'D');
            step = DropdownAsked;
            return true;
        }
        case DropdownAsked: {
            const auto found = std::find_if(journal.begin(), journal.end(),
                                            [](const std::string& l) { return l.rfind("Dropdown at ", 0) == 0; });
            if (found == journal.end()) return true;
            dropdown = *found;
            origin = POINT{0, 0};
            ClientToScreen(player, &origin);
            Sleep(200); // the pop-up paints
            dropdownShot = SaveScreenshot("tovani-player-dropdown.png");
            ShowWindowAsync(player, SW_MINIMIZE);
            step = Minimised;
            return true;
        }
        case Minimised:
            if (!Has(journal, "Controller.put_IsVisible 0")) return true;
            hiddenWhileMinimised = !IsWindowVisible(view);
            ShowWindowAsync(player, SW_RESTORE);
            step = Restored;
            return true;
        case Restored:
            if (!Has(journal, "Controller.put_IsVisible 1") || IsIconic(player)) return true;
            shownWhenRestored = IsWindowVisible(view) != FALSE;
            GetWindowRect(player, &framed);
            framedStyle = GetWindowLongPtrW(player, GWL_STYLE);
            PressKey(view, 'F');
            step = ElementOn;
            return true;
        case ElementOn:
            if (CountOf(journal, "ContainsFullScreenElementChanged 1") < 1) return true;
            GetWindowRect(player, &element);
            elementStyle = GetWindowLongPtrW(player, GWL_STYLE);
            monitor = MonitorOf(player);
            screenshot = SaveScreenshot("tovani-player-element-fullscreen.png");
            // The user's Esc, which the runtime handles inside the page.
            PressKey(view, VK_ESCAPE);
            step = ElementOff;
            return true;
        case ElementOff:
            if (CountOf(journal, "ContainsFullScreenElementChanged 0") < 1) return true;
            GetWindowRect(player, &restored);
            restoredStyle = GetWindowLongPtrW(player, GWL_STYLE);
            PressKey(view, 'T');
            step = OwnOn;
            return true;
        case OwnOn: {
            RECT r{};
            GetWindowRect(player, &r);
            if (!SameRect(r, MonitorOf(player)) || !(GetWindowLongPtrW(player, GWL_STYLE) & WS_POPUP)) return true;
            PressKey(view, 'F');
            step = OwnElementOn;
            return true;
        }
        case OwnElementOn:
            if (CountOf(journal, "ContainsFullScreenElementChanged 1") < 2) return true;
            PressKey(view, 'X'); // the page leaves fullscreen itself
            step = OwnElementOff;
            return true;
        case OwnElementOff:
            if (CountOf(journal, "ContainsFullScreenElementChanged 0") < 2) return true;
            GetWindowRect(player, &own);
            ownStyle = GetWindowLongPtrW(player, GWL_STYLE);
            step = Done;
            PostMessageW(player, WM_CLOSE, 0, 0);
            return false;
        default: return false;
        }
    });
    const std::vector<std::string> journal = session.Journal();
    ASSERT_EQ(step, Done) << ::testing::PrintToString(journal);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);

    // The drop-down opened where the page is on the screen now.
    const std::string at = std::to_string(origin.x) + " " + std::to_string(origin.y);
    EXPECT_EQ(dropdown, "Dropdown at " + at);
    EXPECT_TRUE(Has(journal, "Controller.NotifyParentWindowPositionChanged " + at));
    EXPECT_FALSE(dropdownShot.empty());

    // Hidden while minimised, shown once restored, each told once.
    EXPECT_TRUE(hiddenWhileMinimised);
    EXPECT_TRUE(shownWhenRestored);
    EXPECT_EQ(CountOf(journal, "Controller.put_IsVisible 0"), 1u);
    EXPECT_EQ(CountOf(journal, "Controller.put_IsVisible 1"), 1u);

    // The element's fullscreen: the whole monitor, no frame; then the window as it was.
    EXPECT_TRUE(SameRect(element, monitor)) << Text(element) << " vs " << Text(monitor);
    EXPECT_FALSE(elementStyle & WS_CAPTION);
    EXPECT_FALSE(elementStyle & WS_THICKFRAME);
    EXPECT_TRUE(SameRect(restored, framed)) << Text(restored) << " vs " << Text(framed);
    EXPECT_EQ(restoredStyle, framedStyle);
    EXPECT_EQ(framed.left, 137);
    EXPECT_TRUE(framedStyle & WS_CAPTION);
    EXPECT_FALSE(screenshot.empty());

    // The window's own fullscreen outlasts the element's.
    EXPECT_TRUE(SameRect(own, monitor)) << Text(own);
    EXPECT_TRUE(ownStyle & WS_POPUP);
}

// The init screen's bar asks for fullscreen while a video's own fullscreen
// covers the screen: the window stays covering it when the video's ends, and
// the bar's next press puts back the window from before the video's.
TEST_F(PlayerWindowPlace, TheInitScreensOwnFullscreenTakesOverAVideosFullscreen) {
    const std::string start = WideToUtf8(StartPageUrl());
    StandInSession session("init-window-place", "once " + start + " key F fullscreen-element on\n"
                                                "once " + start + " key B message btn_fullscreen\n"
                                                "once " + start + " key X fullscreen-element off\n");
    enum Step { Start, ElementOn, BarOn, ElementOff, BarOff, Done };
    int step = Start;
    RECT framed{}, element{}, kept{}, back{}, monitor{};
    LONG_PTR framedStyle = 0, elementStyle = 0, keptStyle = 0, backStyle = 0;
    const ProgramRun run = RunProgram(WString(), [&] {
        HWND screen = VisibleWindow(L"KelbroInitWindow");
        HWND view = screen != nullptr ? FindWindowExW(screen, nullptr, L"TovaniStandInBrowser", nullptr) : nullptr;
        if (view == nullptr) return true;
        const std::vector<std::string> journal = session.Journal();
        switch (step) {
        case Start:
            if (!Has(journal, "Loaded " + start) || !Has(journal, "Page binds key X")) return true;
            GetWindowRect(screen, &framed);
            framedStyle = GetWindowLongPtrW(screen, GWL_STYLE);
            PressKey(view, 'F');
            step = ElementOn;
            return true;
        case ElementOn:
            if (!Has(journal, "ContainsFullScreenElementChanged 1")) return true;
            GetWindowRect(screen, &element);
            elementStyle = GetWindowLongPtrW(screen, GWL_STYLE);
            monitor = MonitorOf(screen);
            PressKey(view, 'B');
            step = BarOn;
            return true;
        case BarOn:
            // The bar's message is handled as the page posts it.
            if (!Has(journal, "Page posts message btn_fullscreen")) return true;
            PressKey(view, 'X');
            step = ElementOff;
            return true;
        case ElementOff:
            if (!Has(journal, "ContainsFullScreenElementChanged 0")) return true;
            GetWindowRect(screen, &kept);
            keptStyle = GetWindowLongPtrW(screen, GWL_STYLE);
            PressKey(view, 'B');
            step = BarOff;
            return true;
        case BarOff: {
            if (CountOf(journal, "Page posts message btn_fullscreen") < 2) return true;
            GetWindowRect(screen, &back);
            backStyle = GetWindowLongPtrW(screen, GWL_STYLE);
            // Handled once the journal line is followed by the window's change.
            if (SameRect(back, kept)) return true;
            step = Done;
            PostMessageW(screen, WM_CLOSE, 0, 0);
            return false;
        }
        default: return false;
        }
    });
    ASSERT_EQ(step, Done) << ::testing::PrintToString(session.Journal());
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(framedStyle & WS_CAPTION);
    EXPECT_TRUE(SameRect(element, monitor)) << Text(element);
    EXPECT_FALSE(elementStyle & WS_CAPTION);
    EXPECT_TRUE(SameRect(kept, monitor)) << Text(kept);
    EXPECT_FALSE(keptStyle & WS_CAPTION);
    EXPECT_TRUE(SameRect(back, framed)) << Text(back) << " vs " << Text(framed);
    EXPECT_EQ(backStyle, framedStyle);
}
