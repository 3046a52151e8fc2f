// tovani.exe whose browser cannot start, run from a folder with percent
// signs in its name beside files planted under the names cmd.exe and
// mshta.exe, with a temporary folder whose name holds "&" and parentheses:
// the first failure writes the flag and the repair script, shows the message
// over the init window, ends its own browser processes (not the user's Edge)
// and ends; the system's cmd runs the script, which relaunches the program,
// which shows the init screen with its browser data cleared. The next
// failure, with the flag present, is reported with exit code 1 and no script.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>

#include "common/text.h"
#include "player/browser_rules.h"
#include "runtime/repair.h"
#include "tests/player_win/program_run.h"
#include "tests/support/standin_runtime_win.h"
#include "tests/support/test_support.h"

using namespace ProgramRunning;
using TestSupport::StandInSession;

namespace {

namespace fs = std::filesystem;

fs::path LocalAppData() {
    wchar_t folder[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder);
    return folder;
}

std::string U8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

void Touch(const fs::path& file) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    std::ofstream(file) << "x";
}

// A variable of this process (and so of the programs it starts) for a while.
class EnvironmentOverride {
public:
    EnvironmentOverride(const wchar_t* name, const std::wstring& value) : name_(name) {
        wchar_t old[32768] = {};
        const DWORD length = GetEnvironmentVariableW(name, old, 32768);
        if (length > 0 && length < 32768) saved_ = old;
        had_ = length > 0;
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~EnvironmentOverride() { SetEnvironmentVariableW(name_, had_ ? saved_.c_str() : nullptr); }

private:
    const wchar_t* name_;
    std::wstring saved_;
    bool had_ = false;
};

HANDLE StartProcess(const std::wstring& commandLine) {
    std::wstring line = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process)) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

bool Running(HANDLE process) { return process != nullptr && WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

std::size_t CountPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    return static_cast<std::size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

// A browser that comes up on its third try: the init screen shows its page,
// after short pauses, and nothing is repaired.
TEST(RepairProgram, AStartThatSucceedsOnALaterTryIsNotRepaired) {
    ASSERT_EQ(TestSupport::InstallStandInRuntime(), "");
    std::error_code ec;
    const fs::path temp = fs::temp_directory_path() / L"tovani-retry-temp";
    fs::remove_all(temp, ec);
    fs::create_directories(temp, ec);
    EnvironmentOverride tmp(L"TMP", temp.wstring());
    EnvironmentOverride tempVariable(L"TEMP", temp.wstring());
    ASSERT_EQ(Repair::FlagFile(), temp / L"webview2_repair_done.flag");
    StandInSession session("retry", "environment-fails-times 2 0x80004005\n");
    bool repairShown = false;
    std::vector<std::string> journal;
    const ProgramRun run = RunProgram(WString(), [&] {
        // Never answered: a repair here would clear the user's data.
        if (MessageBoxWindow("Repairing...") != nullptr) repairShown = true;
        if (repairShown) return false;
        HWND screen = VisibleWindow(L"KelbroInitWindow");
        journal = session.Journal();
        if (screen == nullptr || !HasPrefix(journal, "Loaded ")) return true;
        PostMessageW(screen, WM_CLOSE, 0, 0);
        return false;
    });
    ASSERT_TRUE(run.ended);
    EXPECT_FALSE(repairShown);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(CountPrefix(journal, "CreateWebViewEnvironmentWithOptionsInternal"), 3u) << ::testing::PrintToString(journal);
    EXPECT_EQ(CountPrefix(journal, "Environment creation fails"), 2u);
    EXPECT_EQ(CountPrefix(journal, "Controller created"), 1u);
    EXPECT_TRUE(Has(run.log, "browser host: the browser did not come up; trying again in 250 ms (2 of 3)"))
        << ::testing::PrintToString(run.log);
    EXPECT_TRUE(Has(run.log, "browser host: the browser did not come up; trying again in 1000 ms (3 of 3)"));
    EXPECT_FALSE(fs::exists(Repair::FlagFile()));
    EXPECT_FALSE(fs::exists(Repair::ScriptFile()));
    fs::remove_all(temp, ec);
}

TEST(RepairProgram, AFailedBrowserStartIsRepairedOnceAndThenReported) {
    ASSERT_EQ(TestSupport::InstallStandInRuntime(), "");
    GdiplusSession gdiplus;
    std::error_code ec;
    fs::remove(Repair::FlagFile(), ec);
    fs::remove(Repair::ScriptFile(), ec);
    // The program in a folder whose name cmd could take for a variable.
    // (Wine's cmd, under this machine's locale, reads no batch line beyond
    // ASCII in any code page, so non-ASCII paths are covered by the
    // encoding's own test, not here.)
    const fs::path folder = fs::temp_directory_path() / L"Tovani 50% off %TEMP%";
    fs::create_directories(folder, ec);
    const fs::path program = folder / L"tovani.exe";
    ASSERT_TRUE(fs::copy_file(fs::path(ProgramPath()), program, fs::copy_options::overwrite_existing, ec))
        << ec.message();
    // Planted beside the program: they would record their start.
    const fs::path planted = folder / L"planted-program-ran.txt";
    fs::remove(planted, ec);
    EnvironmentOverride record(L"TOVANI_TEST_DIALOG_RECORD", planted.wstring());
    for (const wchar_t* name : {L"cmd.exe", L"mshta.exe"}) {
        ASSERT_TRUE(fs::copy_file(fs::u8path(TestSupport::Env("TOVANI_BIN") + "/standin/dialog-recorder.exe"),
                                  folder / name, fs::copy_options::overwrite_existing, ec))
            << ec.message();
    }
    // A temporary folder whose name cmd would split, and what would run then.
    const fs::path temp = L"C:\\t&x (1)";
    fs::create_directories(temp, ec);
    const fs::path split = L"C:\\t-split-ran.txt";
    fs::remove(split, ec);
    std::ofstream(L"C:\\t.bat") << "@echo ran> \"" << Narrow(split.wstring()) << "\"\r\n";
    EnvironmentOverride tmp(L"TMP", temp.wstring());
    EnvironmentOverride tempVariable(L"TEMP", temp.wstring());
    ASSERT_EQ(Repair::FlagFile(), temp / L"webview2_repair_done.flag");
    fs::remove(Repair::FlagFile(), ec);
    fs::remove(Repair::ScriptFile(), ec);

    const fs::path data = LocalAppData() / L"Tovani" / L"WebView2Data";
    Touch(data / "Default" / "Cookies");
    // The user's own Edge, and a browser process of the player's data folder
    // that the player did not start (left from an earlier run).
    const fs::path sleeper = fs::u8path(TestSupport::Env("TOVANI_BIN") + "/standin/sleeper.exe");
    const fs::path browsers = fs::temp_directory_path() / L"tovani-browsers";
    fs::create_directories(browsers / L"edge", ec);
    fs::create_directories(browsers / L"webview", ec);
    ASSERT_TRUE(fs::copy_file(sleeper, browsers / L"edge" / L"msedge.exe", fs::copy_options::overwrite_existing, ec));
    ASSERT_TRUE(fs::copy_file(sleeper, browsers / L"webview" / L"msedgewebview2.exe",
                              fs::copy_options::overwrite_existing, ec));
    const HANDLE usersEdge = StartProcess(L"\"" + (browsers / L"edge" / L"msedge.exe").wstring() +
                                          L"\" --user-data-dir=\"C:\\users\\me\\Edge\"");
    const HANDLE playersBrowser = StartProcess(L"\"" + (browsers / L"webview" / L"msedgewebview2.exe").wstring() +
                                               L"\" --user-data-dir=\"" + (data / L"EBWebView").wstring() + L"\"");
    ASSERT_TRUE(Running(usersEdge));
    ASSERT_TRUE(Running(playersBrowser));
    Touch(LocalAppData() / L"Tovani" / L"WebView2Data_bad_1" / "old");
    Touch(LocalAppData() / L"Tovani" / L"WebView2Data_bad_file");
    Touch(LocalAppData() / L"Another Program" / "keep");

    StandInSession session("repair", "environment-fails 0x80004005\n");
    std::string text, script, screenshot;
    bool ownedByInitWindow = false;
    std::size_t triesBeforeRepair = 0;
    ProgramRun run = RunProgram(
        WString(),
        [&] {
            HWND box = MessageBoxWindow("Repairing...");
            if (box == nullptr) return true;
            triesBeforeRepair = CountPrefix(session.Journal(), "CreateWebViewEnvironmentWithOptionsInternal");
            text = MessageBoxText(box);
            HWND owner = GetWindow(box, GW_OWNER);
            wchar_t ownerClass[64] = {};
            if (owner != nullptr) GetClassNameW(owner, ownerClass, 64);
            ownedByInitWindow = std::wstring(ownerClass) == L"KelbroInitWindow";
            script = TestSupport::ReadFile(U8(Repair::ScriptFile()));
            Sleep(300);
            screenshot = SaveScreenshot("tovani-repair-message.png");
            session.SetScript(""); // the relaunched program's browser starts
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            return false;
        },
        60000, program.wstring());
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(text, "WebView2 needs repair. The application will close and clean up automatically.\n"
                    "It will relaunch after cleanup is complete.");
    EXPECT_TRUE(ownedByInitWindow);
    // Repaired only once every try failed.
    EXPECT_EQ(triesBeforeRepair, 3u);
    EXPECT_FALSE(screenshot.empty());
    EXPECT_EQ(TestSupport::ReadFile(U8(Repair::FlagFile())), "repair_attempted\r\n"); // text mode
    // The script: CR LF lines, the program's id twice, the data folder, the relaunch.
    std::smatch pid;
    ASSERT_TRUE(std::regex_search(script, pid, std::regex("tasklist /FI \"PID eq ([0-9]+)\" 2>NUL \\| find \"([0-9]+)\" >NUL\r\n")))
        << script;
    EXPECT_EQ(pid[1], pid[2]);
    EXPECT_EQ(script.rfind("@echo off\r\n", 0), 0u);
    EXPECT_NE(script.find("rd /s /q \"" + Narrow(data.wstring()) + "\" 2>NUL\r\n"), std::string::npos) << script;
    EXPECT_NE(script.find("del \"%~f0\"\r\n"), std::string::npos);

    // The relaunch: the init screen on a clean data folder.
    const std::string start = WideToUtf8(StartPageUrl());
    HWND screen = nullptr;
    for (DWORD end = GetTickCount() + 90000; GetTickCount() < end; Sleep(200)) {
        screen = VisibleWindow(L"KelbroInitWindow");
        if (screen != nullptr && Has(session.Journal(), "Loaded " + start)) break;
        screen = nullptr;
    }
    ASSERT_NE(screen, nullptr) << "the repaired program did not come back";
    EXPECT_TRUE(Running(usersEdge)) << "the user's own Edge was ended";
    EXPECT_FALSE(Running(playersBrowser)) << "the player's browser process was left running";
    EXPECT_FALSE(fs::exists(split)) << "the temporary folder's name split the repair's command";
    EXPECT_FALSE(fs::exists(planted)) << TestSupport::ReadFile(U8(planted));
    EXPECT_FALSE(fs::exists(data / "Default" / "Cookies"));
    EXPECT_FALSE(fs::exists(LocalAppData() / L"Tovani" / L"WebView2Data_bad_1"));
    EXPECT_TRUE(fs::exists(LocalAppData() / L"Tovani" / L"WebView2Data_bad_file"));
    EXPECT_TRUE(fs::exists(LocalAppData() / L"Another Program" / "keep"));
    EXPECT_FALSE(fs::exists(Repair::ScriptFile())); // it deleted itself
    DWORD relaunchedId = 0;
    GetWindowThreadProcessId(screen, &relaunchedId);
    HANDLE relaunched = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, relaunchedId);
    wchar_t relaunchedPath[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (relaunched != nullptr) QueryFullProcessImageNameW(relaunched, 0, relaunchedPath, &size);
    EXPECT_EQ(ToLowerCopy(Utf8ToWide(Narrow(relaunchedPath))), ToLowerCopy(Utf8ToWide(Narrow(program.wstring()))));
    PostMessageW(screen, WM_CLOSE, 0, 0);
    if (relaunched != nullptr) {
        EXPECT_EQ(WaitForSingleObject(relaunched, 20000), WAIT_OBJECT_0);
        CloseHandle(relaunched);
    }

    // The next failure, flag present: reported, exit 1, no script, flag used up.
    session.SetScript("environment-fails 0x80004005\n");
    std::string report;
    run = RunProgram(
        WString(),
        [&] {
            HWND box = MessageBoxWindow("Error");
            if (box == nullptr) return !MessageBoxWindow("Repairing...");
            report = MessageBoxText(box);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            return false;
        },
        60000, program.wstring());
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(report, "Failed to initialize WebView2.");
    EXPECT_FALSE(fs::exists(Repair::FlagFile()));
    EXPECT_FALSE(fs::exists(Repair::ScriptFile()));
    EXPECT_FALSE(fs::exists(planted)) << TestSupport::ReadFile(U8(planted));
    for (HANDLE process : {usersEdge, playersBrowser}) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
    fs::remove_all(browsers, ec);
    fs::remove(L"C:\\t.bat", ec);
    fs::remove_all(temp, ec);
    fs::remove_all(folder, ec);
    fs::remove_all(LocalAppData() / L"Another Program", ec);
    fs::remove(LocalAppData() / L"Tovani" / L"WebView2Data_bad_file", ec);
}

} // namespace
