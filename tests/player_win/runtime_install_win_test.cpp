// tovani.exe on a machine without a browser runtime: the prompt, the stand-in
// installer downloaded from the development service into the temporary
// folder, run and waited for, the second probe, and each failure's message
// and exit code.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>

#include "common/text.h"
#include "tests/player_win/program_run.h"
#include "tests/support/standin_runtime_win.h"
#include "tests/support/test_support.h"

using namespace ProgramRunning;
using TestSupport::StandInSession;

namespace {

namespace fs = std::filesystem;

constexpr wchar_t kClientState[] =
    L"SOFTWARE\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
const std::string kPromptCaption = "Kelbro \xE2\x80\x94 Component Required";

fs::path ServedInstaller() { return fs::u8path(TestSupport::Env("TOVANI_TEST_STATE")) / "runtime-installer.exe"; }

fs::path DownloadedInstaller() {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    return fs::path(temp) / L"WebView2Installer.exe";
}

fs::path PerUserRuntimeRoot() {
    wchar_t local[MAX_PATH] = {};
    GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
    return fs::path(local) / L"Microsoft" / L"EdgeWebView";
}

// Takes every runtime record away (per machine and per user) and puts the
// test prefix's stand-in back afterwards.
class NoRuntime : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveRuntimes();
        SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", nullptr);
    }
    void TearDown() override {
        RemoveRuntimes();
        std::error_code ec;
        fs::remove(ServedInstaller(), ec);
        fs::remove(DownloadedInstaller(), ec);
        SetEnvironmentVariableW(L"TOVANI_STANDIN_INSTALLER", nullptr);
        EXPECT_EQ(TestSupport::InstallStandInRuntime(), "");
    }
    static void RemoveRuntimes() {
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kClientState, KEY_WOW64_32KEY, 0);
        RegDeleteKeyExW(HKEY_CURRENT_USER, kClientState, KEY_WOW64_32KEY, 0);
        std::error_code ec;
        fs::remove_all(PerUserRuntimeRoot(), ec);
    }
    static void ServeInstaller() {
        std::error_code ec;
        fs::copy_file(fs::u8path(TestSupport::Env("TOVANI_BIN") + "/standin/MicrosoftEdgeWebview2Setup.exe"),
                      ServedInstaller(), fs::copy_options::overwrite_existing, ec);
        ASSERT_FALSE(ec) << ec.message();
    }
    GdiplusSession gdiplus;
};

// The boxes a run answered, in order: caption, text.
struct Answered {
    std::vector<std::pair<std::string, std::string>> boxes;
};

// Answers boxes by caption (in any order); stops at the init screen, which
// it closes once its start page has loaded.
std::function<bool()> Answer(Answered& answered, const std::vector<std::pair<std::string, WPARAM>>& answers,
                             StandInSession* session = nullptr) {
    return [&answered, answers, session] {
        for (const auto& [caption, button] : answers) {
            if (HWND box = MessageBoxWindow(caption)) {
                if (!answered.boxes.empty() && answered.boxes.back().first == caption) continue; // being closed
                answered.boxes.emplace_back(caption, MessageBoxText(box));
                PostMessageW(box, WM_COMMAND, button, 0);
                return true;
            }
        }
        HWND screen = VisibleWindow(L"KelbroInitWindow");
        if (screen == nullptr || session == nullptr || !HasPrefix(session->Journal(), "Loaded ")) return true;
        PostMessageW(screen, WM_CLOSE, 0, 0);
        return false;
    };
}

std::vector<std::string> Captions(const Answered& answered) {
    std::vector<std::string> captions;
    for (const auto& box : answered.boxes) captions.push_back(box.first);
    return captions;
}

TEST_F(NoRuntime, TheStandInInstallerIsDownloadedRunAndTheInitScreenFollows) {
    ServeInstaller();
    // A file of the installer's name from before is overwritten.
    { std::ofstream(DownloadedInstaller(), std::ios::binary) << "left over"; }
    StandInSession session("install-ok");
    Answered answered;
    const ProgramRun run =
        RunProgram(WString(), Answer(answered, {{kPromptCaption, IDYES}, {"Installing...", IDOK}}, &session));
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(Captions(answered), (std::vector<std::string>{kPromptCaption, "Installing..."}));
    EXPECT_EQ(answered.boxes[0].second,
              "WebView2 Runtime is required to run this application.\n"
              "\xD9\x8A\xD8\xAD\xD8\xAA\xD8\xA7\xD8\xAC \xD9\x87\xD8\xB0\xD8\xA7 \xD8\xA7\xD9\x84\xD8\xAA\xD8\xB7\xD8\xA8\xD9\x8A\xD9\x82 "
              "\xD8\xA5\xD9\x84\xD9\x89 WebView2 Runtime \xD9\x84\xD9\x84\xD8\xAA\xD8\xB4\xD8\xBA\xD9\x8A\xD9\x84.\n\n"
              "Would you like to install it now?");
    EXPECT_EQ(answered.boxes[1].second.rfind("WebView2 Runtime is being downloaded and installed.\n", 0), 0u);
    EXPECT_TRUE(Has(run.log, "Browser runtime: installer ended with 0")) << ::testing::PrintToString(run.log);
    EXPECT_TRUE(Has(run.log, "Step 9: hasSchemeArgs=0"));
    // Installed per user by the stand-in installer, found by the second
    // probe, used by the init screen; the download is gone.
    EXPECT_NE(Narrow(RegistryString(kClientState, L"EBWebView")), "<no key>");
    EXPECT_TRUE(HasPrefix(session.Journal(), "Controller created"));
    EXPECT_FALSE(fs::exists(DownloadedInstaller()));
}

// Every way the installation ends without a runtime: exit code 1 and the
// message of that way; the download stays where it failed to help.
TEST_F(NoRuntime, EachFailureGivesItsMessageAndExitCodeOne) {
    struct Case {
        const char* name;
        bool served;
        const wchar_t* installerMode;
        WPARAM firstAnswer;
        std::vector<std::string> captions;
        std::string lastText;
        bool downloadLeft;
    };
    const std::vector<Case> cases = {
        {"declined", true, nullptr, IDNO, {kPromptCaption}, "", false},
        {"download fails", false, nullptr, IDYES, {kPromptCaption, "Installing...", "Download Error"},
         "Failed to download WebView2 Runtime.\nPlease check your internet connection.", false},
        {"installer fails", true, L"fail", IDYES, {kPromptCaption, "Installing...", "Installation"},
         "WebView2 installation may have failed.\nPlease restart the application.", true},
        {"still missing after install", true, L"old", IDYES, {kPromptCaption, "Installing...", "Installation"},
         "WebView2 installation may have failed.\nPlease restart the application.", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveRuntimes();
        std::error_code ec;
        fs::remove(ServedInstaller(), ec);
        fs::remove(DownloadedInstaller(), ec);
        if (c.served) ServeInstaller();
        SetEnvironmentVariableW(L"TOVANI_STANDIN_INSTALLER", c.installerMode);
        StandInSession session(std::string("install-") + c.name);
        Answered answered;
        const ProgramRun run = RunProgram(WString(), Answer(answered, {{kPromptCaption, c.firstAnswer},
                                                                       {"Installing...", IDOK},
                                                                       {"Download Error", IDOK},
                                                                       {"Installation", IDOK}}));
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_EQ(Captions(answered), c.captions);
        if (!c.lastText.empty() && !answered.boxes.empty()) EXPECT_EQ(answered.boxes.back().second, c.lastText);
        EXPECT_EQ(fs::exists(DownloadedInstaller()), c.downloadLeft);
        EXPECT_FALSE(HasPrefix(session.Journal(), "Controller created"));
        EXPECT_FALSE(Has(run.log, "Step 7: Initializing SSL pinning defaults"));
    }
}

} // namespace
