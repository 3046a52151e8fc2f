// The Windows repair's own parts: the orphan sweep over real processes named
// as the runtime's browser, and the script's bytes in the code page cmd reads.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "runtime/repair.h"
#include "runtime/repair_win.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

HANDLE Start(const fs::path& program, const std::wstring& arguments = {}) {
    std::wstring command = L"\"" + program.wstring() + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

// The running children of a process that has ended, found by its id.
std::vector<DWORD> ChildrenOf(DWORD parent) {
    std::vector<DWORD> children;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ParentProcessID == parent) children.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return children;
}

// Starts program through a go-between that ends at once: the orphan.
HANDLE StartOrphan(const fs::path& sleeper, const fs::path& program, const std::wstring& arguments = {}) {
    HANDLE between = Start(sleeper, L"spawn \"" + program.wstring() + L"\"" + (arguments.empty() ? L"" : L" " + arguments));
    if (between == nullptr) return nullptr;
    WaitForSingleObject(between, 10000);
    const DWORD betweenId = GetProcessId(between);
    CloseHandle(between);
    const std::vector<DWORD> children = ChildrenOf(betweenId);
    if (children.size() != 1) return nullptr;
    return OpenProcess(PROCESS_ALL_ACCESS, FALSE, children[0]);
}

bool Running(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

std::string Narrow(const std::wstring& text) { return WideToUtf8(WString(text.begin(), text.end())); }

void End(HANDLE process) {
    TerminateProcess(process, 0);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
}

// Only a parentless browser on this player's data folder ends, and none while
// another copy of the player runs (the browser may serve it): never a web view
// of another program's folder, a browser whose client still runs, or a
// program named otherwise.
TEST(OrphanBrowserSweep, EndsOnlyAParentlessBrowserOfThisDataFolderWhileNoOtherPlayerRuns) {
    const fs::path sleeper = fs::u8path(TestSupport::Env("TOVANI_BIN") + "/standin/sleeper.exe");
    const fs::path root = fs::temp_directory_path() / ("tovani-orphans-" + std::to_string(GetCurrentProcessId()));
    std::error_code ec;
    fs::create_directories(root / "lower", ec);
    fs::create_directories(root / "upper", ec);
    fs::create_directories(root / "player", ec);
    const fs::path helper = root / "lower" / "msedgewebview2.exe";
    const fs::path capitals = root / "upper" / "MSEDGEWEBVIEW2.EXE";
    ASSERT_TRUE(fs::copy_file(sleeper, helper, fs::copy_options::overwrite_existing, ec)) << ec.message();
    ASSERT_TRUE(fs::copy_file(sleeper, capitals, fs::copy_options::overwrite_existing, ec)) << ec.message();
    const WString folder = u"C:\\users\\tovani\\AppData\\Local\\Tovani\\WebView2Data";
    // As the runtime writes it, and spelled otherwise: case, separators, a trailing one.
    const std::wstring ours = L"--embedded-browser-webview=1 \"--user-data-dir=C:\\users\\tovani\\AppData\\Local\\Tovani\\WebView2Data\\EBWebView\"";
    const std::wstring oursSpelledOtherwise = L"--type=renderer \"--user-data-dir=c:/USERS/tovani/appdata/local/tovani/webview2data/\"";
    const std::wstring stranger = L"--embedded-browser-webview=1 \"--user-data-dir=C:\\users\\tovani\\AppData\\Local\\Other\\EBWebView\"";
    const std::wstring longerName = L"\"--user-data-dir=C:\\users\\tovani\\AppData\\Local\\Tovani\\WebView2Data2\"";

    HANDLE withParent = Start(helper, ours);   // this test is its living parent
    HANDLE orphan = StartOrphan(sleeper, helper, ours);
    HANDLE orphanSpelledOtherwise = StartOrphan(sleeper, helper, oursSpelledOtherwise);
    HANDLE strangersOrphan = StartOrphan(sleeper, helper, stranger);
    HANDLE neighboursOrphan = StartOrphan(sleeper, helper, longerName);
    HANDLE noFolder = StartOrphan(sleeper, helper);
    HANDLE inCapitals = StartOrphan(sleeper, capitals, ours);
    for (HANDLE process : {withParent, orphan, orphanSpelledOtherwise, strangersOrphan, neighboursOrphan, noFolder,
                           inCapitals})
        ASSERT_NE(process, nullptr);

    // Another copy of this program runs: its browser may be the orphan.
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const fs::path otherPlayer = root / "player" / fs::path(self).filename();
    ASSERT_TRUE(fs::copy_file(sleeper, otherPlayer, fs::copy_options::overwrite_existing, ec)) << ec.message();
    HANDLE player = Start(otherPlayer);
    ASSERT_NE(player, nullptr);
    Repair::OrphanBrowserSweep(folder);
    Sleep(300);
    EXPECT_TRUE(Running(orphan));
    EXPECT_TRUE(Running(orphanSpelledOtherwise));
    End(player);

    Repair::OrphanBrowserSweep(folder);

    EXPECT_EQ(WaitForSingleObject(orphan, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(orphanSpelledOtherwise, 5000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(orphan, &code);
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(Running(withParent));
    EXPECT_TRUE(Running(strangersOrphan));
    EXPECT_TRUE(Running(neighboursOrphan));
    EXPECT_TRUE(Running(noFolder));
    // The name is matched as the runtime writes it.
    EXPECT_TRUE(Running(inCapitals));

    for (HANDLE process : {withParent, orphan, orphanSpelledOtherwise, strangersOrphan, neighboursOrphan, noFolder,
                           inCapitals})
        End(process);
    fs::remove_all(root, ec);
}

// The player's own browser processes end (below it, any case of the name);
// the user's Edge and web views of other programs, and the player's other
// children, stay.
TEST(EndOwnBrowserProcesses, EndsOnlyThePlayersOwn) {
    const fs::path sleeper = fs::u8path(TestSupport::Env("TOVANI_BIN") + "/standin/sleeper.exe");
    const fs::path root = fs::temp_directory_path() / ("tovani-own-" + std::to_string(GetCurrentProcessId()));
    std::error_code ec;
    struct Program {
        const wchar_t* folder;
        const wchar_t* name;
        bool orphan;
        bool ours;
        HANDLE process = nullptr;
    };
    std::vector<Program> programs = {{L"a", L"msedgewebview2.exe", false, true},
                                     {L"b", L"MSEdge.exe", false, true},
                                     {L"c", L"helper.exe", false, false},
                                     {L"d", L"msedge.exe", true, false},
                                     {L"e", L"msedgewebview2.exe", true, false}};
    for (Program& p : programs) {
        fs::create_directories(root / p.folder, ec);
        const fs::path exe = root / p.folder / p.name;
        ASSERT_TRUE(fs::copy_file(sleeper, exe, fs::copy_options::overwrite_existing, ec)) << ec.message();
        p.process = p.orphan ? StartOrphan(sleeper, exe) : Start(exe);
        ASSERT_NE(p.process, nullptr);
    }
    const std::vector<DWORD> ended = Repair::EndOwnBrowserProcesses(u"C:\\users\\nobody\\Tovani\\WebView2Data");
    for (Program& p : programs) {
        const bool wasEnded = std::find(ended.begin(), ended.end(), GetProcessId(p.process)) != ended.end();
        EXPECT_EQ(wasEnded, p.ours) << Narrow(p.name);
        EXPECT_EQ(Running(p.process), !p.ours) << Narrow(p.name);
        TerminateProcess(p.process, 0);
        WaitForSingleObject(p.process, 5000);
        CloseHandle(p.process);
    }
    fs::remove_all(root, ec);
}

// The system's cmd on the script named relative to its folder: nothing of the
// folder's path ("&", "(", "%") meets cmd's parser.
TEST(RepairScript, IsStartedByTheSystemsCmdWithItsNameQuoted) {
    EXPECT_EQ(Repair::RepairCommandLine(L"C:\\windows\\system32\\cmd.exe", L"webview2_repair.bat"),
              L"\"C:\\windows\\system32\\cmd.exe\" /d /v:off /s /c \"\".\\webview2_repair.bat\"\"");
}

// A path the console's code page can write stays in it, line for line; one
// it cannot goes to UTF-8 with the switch after "@echo off".
TEST(RepairScript, IsWrittenInACodePageCmdReadsBack) {
    const WString latin =
        Utf8ToWide(Repair::WindowsRepairScript(7, u"C:\\Users\\J\u00FCrgen\\tovani.exe", u"C:\\Users\\J\u00FCrgen\\D"));
    const std::string inOem = Repair::EncodeBatchScript(latin, 850);
    EXPECT_EQ(inOem.find("chcp"), std::string::npos);
    EXPECT_NE(inOem.find("start \"\" \"C:\\Users\\J\x81rgen\\tovani.exe\""), std::string::npos);

    const WString arabic = Utf8ToWide(Repair::WindowsRepairScript(7, u"C:\\Users\\\u0645\u062D\u0645\u062F\\t.exe", u"D"));
    const std::string inUtf8 = Repair::EncodeBatchScript(arabic, 850);
    EXPECT_EQ(inUtf8.rfind("@echo off\nchcp 65001 >NUL\n", 0), 0u);
    EXPECT_NE(inUtf8.find("start \"\" \"C:\\Users\\\xD9\x85\xD8\xAD\xD9\x85\xD8\xAF\\t.exe\""), std::string::npos);
}

} // namespace
