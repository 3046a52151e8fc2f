// The Windows diagnostic dialog: the mshta page it builds, and the ending of
// the process with the code on standard error and on the clipboard (the
// dialog itself is Wine's own mshta, which ends at once). The
// dialog runs in child processes (this test program started again on one of
// its disabled cases), since it ends the process that shows it.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "common/system_program_win.h"
#include "diagnostics/diagnostic_dialog.h"
#include "diagnostics/diagnostic_dialog_win.h"
#include "tests/support/test_support.h"
#include "tests/support/clipboard_win.h"

namespace {

// The whole command line, with {M} {T} {E} {A} {C} standing for the system's
// mshta, the title, the English text, the Arabic text and the code.
const std::string kCommandLineTemplate =
    R"~("{M}" "about:<html><head><title>{T}</title>)~"
    R"~(<hta:application id='diag' border='dialog' innerborder='no' scroll='no' maximizebutton='no' minimizebutton='no' sysmenu='yes' windowstate='normal' />)~"
    R"~(<style>body{font-family:Segoe UI,Tahoma,sans-serif;background:#1a1a2e;color:#eee;margin:0;padding:20px;display:flex;flex-direction:column;align-items:center;})~"
    R"~(.icon{font-size:48px;margin-bottom:10px;}h2{color:#e94560;margin:5px 0 10px;font-size:18px;})~"
    R"~(p{text-align:center;font-size:13px;line-height:1.5;margin:5px 0;color:#ccc;})~"
    R"~(.ar{direction:rtl;font-family:Segoe UI,Tahoma,sans-serif;})~"
    R"~(textarea{width:90%;height:60px;margin:10px 0;padding:8px;font-family:Consolas,monospace;font-size:11px;background:#0f3460;color:#e94560;border:1px solid #e94560;border-radius:4px;resize:none;text-align:center;})~"
    R"~(.btn{padding:8px 24px;background:#e94560;color:#fff;border:none;border-radius:4px;font-size:13px;cursor:pointer;margin:5px;})~"
    R"~(.btn:hover{background:#c73e54;}.info{font-size:11px;color:#888;margin-top:8px;}</style></head>)~"
    R"~(<body><div class='icon'>&#9888;</div><h2>{T}</h2><p>{E}</p><p class='ar'>{A}</p>)~"
    R"~(<p style='margin-top:15px;color:#e94560;font-size:12px;'>&#128274; Diagnostic Code / كود التشخيص</p>)~"
    R"~(<textarea id='dc' readonly onclick='this.select()'>{C}</textarea><div>)~"
    R"~(<button class='btn' onclick='copyCode()'>&#128203; Copy Code</button>)~"
    R"~(<button class='btn' style='background:#555;' onclick='window.close()'>Close</button></div>)~"
    R"~(<p class='info'>The code has been copied to your clipboard automatically.</p>)~"
    R"~(<p class='info'>Please send this code to support for assistance.</p>)~"
    R"~(<p class='info ar'>تم نسخ الكود تلقائياً. يرجى إرساله للدعم الفني.</p>)~"
    R"~(<script>function copyCode(){var t=document.getElementById('dc');t.select();document.execCommand('copy');})~"
    R"~(window.resizeTo(700,580);window.moveTo((screen.width-700)/2,(screen.height-580)/2);</script></body>)~"
    R"~(</html>")~";

std::string Fill(std::string text, const std::string& title, const std::string& english, const std::string& arabic,
                 const std::string& code) {
    const std::string mshta = WideToUtf8(SystemProgramPath(u"mshta.exe"));
    for (const auto& [mark, value] : {std::pair<std::string, std::string>{"{M}", mshta}, {"{T}", title},
                                      {"{E}", english}, {"{A}", arabic}, {"{C}", code}}) {
        for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size())) {
            text.replace(at, mark.size(), value);
        }
    }
    return text;
}

std::string SelfPath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return WideToUtf8(WStringView(reinterpret_cast<const char16_t*>(path), wcslen(path)));
}

std::vector<std::string> ChildArgs(const std::string& name) {
    return {"--gtest_also_run_disabled_tests", "--gtest_filter=DiagnosticDialogChild.DISABLED_" + name};
}

void SetEnv(const wchar_t* name, const std::string& value) {
    const WString wide = Utf8ToWide(value);
    SetEnvironmentVariableW(name, reinterpret_cast<const wchar_t*>(wide.c_str()));
}

using TestSupport::ClipboardText;

class DialogChild : public ::testing::Test {
protected:
    void SetUp() override {
        // Wine starts its desktop process for the first process that uses
        // the clipboard or a window, and that process hands it its standard
        // handles; started from the child, it would hold the child's output
        // pipe open for ever. Let this process start it.
        GetDesktopWindow();
        ClipboardText();
        SetEnv(L"TOVANI_TEST_DIALOG_TITLE", "Startup Error - \xd8\xae\xd8\xb7\xd8\xa3");
        SetEnv(L"TOVANI_TEST_DIALOG_CODE", code_);
    }
    TestSupport::ProcessResult RunDialog() { return TestSupport::RunProcess(SelfPath(), ChildArgs("ShowsTheDialog")); }
    const std::string code_ = "ABCD+/==" + std::to_string(GetCurrentProcessId());
};

} // namespace

// Run only as children of the cases below.
TEST(DiagnosticDialogChild, DISABLED_ShowsTheDialog) {
    wchar_t title[256] = {};
    GetEnvironmentVariableW(L"TOVANI_TEST_DIALOG_TITLE", title, 256);
    DiagnosticDialog(WString(reinterpret_cast<const char16_t*>(title)), u"Something failed.\nTry again.",
                     u"\u062d\u062f\u062b \u062e\u0637\u0623.", TestSupport::Env("TOVANI_TEST_DIALOG_CODE"));
}
TEST(DiagnosticDialogChild, DISABLED_StaysAlive) { Sleep(60000); }

TEST(DiagnosticCommandLine, IsTheFixedPageAroundTheTextsAsTheyAre) {
    const std::string arabic = "\xd8\xad\xd8\xaf\xd8\xab \xd8\xae\xd8\xb7\xd8\xa3";
    EXPECT_EQ(WideToUtf8(DiagnosticDialogCommandLine(u"Tovani - Startup Error", u"The link could not be opened.",
                                                     Utf8ToWide(arabic), "RVJSRElBRw==")),
              Fill(kCommandLineTemplate, "Tovani - Startup Error", "The link could not be opened.", arabic,
                   "RVJSRElBRw=="));
    // Every inserted text stays text in the page (a "%" would be read as an
    // escape of the address), and every byte of the code becomes one unit.
    const std::string title = "<b>\"quoted\" & 'single'</b>\n";
    const std::string escapedTitle = "&lt;b&gt;&quot;quoted&quot; &amp; &#39;single&#39;&lt;/b&gt;\n";
    EXPECT_EQ(WideToUtf8(DiagnosticDialogCommandLine(Utf8ToWide(title), u"50% off %3Cscript%3E",
                                                     u"</p><script>alert(1)</script>", "\xC3\xA9\x01<\"")),
              Fill(kCommandLineTemplate, escapedTitle, "50&#37; off &#37;3Cscript&#37;3E",
                   "&lt;/p&gt;&lt;script&gt;alert(1)&lt;/script&gt;", "\xC3\x83\xC2\xA9\x01&lt;&quot;"));
    // The page is one argument: no double quote inside it but its own two ends.
    const std::string line = WideToUtf8(DiagnosticDialogCommandLine(u"\"", u"\"", u"\"", "\""));
    EXPECT_EQ(std::count(line.begin(), line.end(), '"'), 4) << line;
}

TEST_F(DialogChild, EndsTheProcessWithTheCodeOnStandardErrorAndTheClipboard) {
    const auto started = std::chrono::steady_clock::now();
    const TestSupport::ProcessResult r = RunDialog();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    // It never returns into the test.
    EXPECT_NE(r.out.find("[ RUN      ] DiagnosticDialogChild.DISABLED_ShowsTheDialog"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("[       OK ]"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("FAILED"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "Startup Error - \xd8\xae\xd8\xb7\xd8\xa3\n"
                     "Something failed.\nTry again.\n\n\xd8\xad\xd8\xaf\xd8\xab \xd8\xae\xd8\xb7\xd8\xa3.\n\n"
                     "Diagnostic Code:\n" + code_ + "\n");
    EXPECT_EQ(ClipboardText(), code_);
}

TEST_F(DialogChild, EndsEvenWhenTheClipboardIsHeld) {
    // Held through a window: Wine lets two owners without a window share it.
    const HWND holder = CreateWindowExW(0, L"STATIC", L"holder", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(holder, nullptr);
    ASSERT_TRUE(OpenClipboard(holder));
    EmptyClipboard();
    const TestSupport::ProcessResult r = RunDialog();
    CloseClipboard();
    DestroyWindow(holder);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("Diagnostic Code:\n" + code_), std::string::npos) << r.err;
    EXPECT_EQ(ClipboardText(), "");
}

TEST(ChildBrowserSweep, EndsOnlyThisProcesssBrowserChildren) {
    // Copies of this program stand in for child processes of every name.
    std::error_code ignored;
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("tovani-sweep-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(dir);
    struct Child {
        std::string name;
        bool browser;
        PROCESS_INFORMATION process{};
    };
    std::vector<Child> children = {{"Tovani-MSEdgeWebView2.exe", true}, {"msedgewebview2.exe", true},
                                   {"old.msedgewebview2.exe.exe", true}, {"webview2.exe", false},
                                   {"msedgewebview.exe", false}};
    for (Child& child : children) {
        const std::filesystem::path exe = dir / child.name;
        ASSERT_TRUE(std::filesystem::copy_file(std::filesystem::u8path(SelfPath()), exe,
                                               std::filesystem::copy_options::overwrite_existing));
        std::wstring line = L"\"" + exe.wstring() + L"\" --gtest_also_run_disabled_tests "
                            L"--gtest_filter=DiagnosticDialogChild.DISABLED_StaysAlive";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                                   &startup, &child.process))
            << child.name;
    }
    Sleep(500);
    ChildBrowserSweep();
    for (Child& child : children) {
        const DWORD waited = WaitForSingleObject(child.process.hProcess, child.browser ? 10000 : 500);
        if (child.browser) {
            EXPECT_EQ(waited, WAIT_OBJECT_0) << child.name;
            DWORD code = 1;
            GetExitCodeProcess(child.process.hProcess, &code);
            EXPECT_EQ(code, 0u) << child.name;
        } else {
            EXPECT_EQ(waited, static_cast<DWORD>(WAIT_TIMEOUT)) << child.name;
            TerminateProcess(child.process.hProcess, 1);
            WaitForSingleObject(child.process.hProcess, 10000);
        }
        CloseHandle(child.process.hThread);
        CloseHandle(child.process.hProcess);
    }
    std::filesystem::remove_all(dir, ignored);
}

TEST(StartDetached, ReportsWhetherTheProcessStarted) {
    EXPECT_FALSE(StartDetached(SystemProgramPath(u"tovani-no-such-program-7f3a.exe"), u"x"));
    EXPECT_FALSE(StartDetached(u"", u"cmd.exe /c exit 0")) << "a program is named by its full path only";
    EXPECT_TRUE(StartDetached(SystemProgramPath(u"cmd.exe"), u"cmd.exe /c exit 0"));
}
