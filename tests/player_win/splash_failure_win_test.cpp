// The player built without its splash image, and with one that cannot be
// decoded: the step that failed is named in a "Splash Error" box, the log
// says the splash could not be made, and start-up goes on to the init screen.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/splash_win.h"
#include "tests/player_win/program_run.h"
#include "tests/support/standin_runtime_win.h"
#include "tests/support/test_support.h"

namespace {

using namespace ProgramRunning;

struct SplashRun {
    std::string boxText;
    bool initScreenAfterBox = false;
    bool splashSeen = false;
    ProgramRun run;
};

SplashRun RunVariant(const wchar_t* variant) {
    SplashRun result;
    bool answered = false;
    const std::wstring program = Wide(TestSupport::Env("TOVANI_BIN")) + L"\\standin\\" + variant;
    result.run = RunProgram(
        WString(),
        [&] {
            if (FindWindowW(kSplashWindowClass, nullptr) != nullptr) result.splashSeen = true;
            if (!answered) {
                HWND box = MessageBoxWindow("Splash Error");
                if (box == nullptr) return true;
                result.boxText = MessageBoxText(box);
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                answered = true;
                return true;
            }
            HWND screen = VisibleWindow(L"KelbroInitWindow");
            if (screen == nullptr) return true;
            result.initScreenAfterBox = true;
            PostMessageW(screen, WM_CLOSE, 0, 0);
            return false;
        },
        60000, program);
    return result;
}

class SplashFailure : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(TestSupport::InstallStandInRuntime(), ""); }
    GdiplusSession gdiplus;
};

TEST_F(SplashFailure, EachFailedStepIsNamedAndStartUpGoesOn) {
    TestSupport::StandInSession session("splash-failure");
    const struct {
        const wchar_t* program;
        const char* message;
    } cases[] = {
        {L"tovani-no-splash.exe", "FindResourceW failed. Could not find resource ID 102."},
        {L"tovani-damaged-splash.exe", "Gdiplus::Bitmap::FromStream failed."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const SplashRun result = RunVariant(c.program);
        ASSERT_TRUE(result.run.ended);
        EXPECT_EQ(result.boxText, c.message);
        EXPECT_FALSE(result.splashSeen);
        EXPECT_TRUE(Has(result.run.log, "Failed to create splash screen from embedded resources."))
            << ::testing::PrintToString(result.run.log);
        // Start-up went on past the box: the steps ran and the init screen came up.
        EXPECT_TRUE(Has(result.run.log, "Step 9: hasSchemeArgs=0"));
        EXPECT_TRUE(result.initScreenAfterBox);
        EXPECT_EQ(result.run.exitCode, 0u);
    }
}

} // namespace
