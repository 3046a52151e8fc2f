// The Windows diagnostic dialog: an HTML application in its own process of
// the system's mshta that outlives the player, with a message box when mshta
// cannot start. The title and text also go to standard error, where support scripts
// and the tests (which run without a display) can read the code.
#include "diagnostics/diagnostic_dialog_win.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>
#include <vector>

#include "common/program_copies_win.h"
#include "common/system_program_win.h"
#include "diagnostics/diagnostic_dialog.h"

namespace {

const wchar_t* WinText(const WString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// One UTF-16 unit per byte of the code.
WString WidenBytes(const std::string& code) {
    WString out;
    out.reserve(code.size());
    for (unsigned char c : code) out.push_back(c);
    return out;
}

void WriteToStandardError(const std::string& utf8) {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    std::size_t offset = 0;
    while (offset < utf8.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(utf8.size() - offset, 1u << 20));
        if (!WriteFile(error, utf8.data() + offset, chunk, &written, nullptr) || written == 0) return;
        offset += written;
    }
}

// Every inserted text stays text: markup characters become references, and
// so does "%", which the about: address would otherwise read as an escape.
// A double quote never reaches the command line, so the page stays one
// quoted argument.
WString PageText(const WString& text) {
    static constexpr std::pair<char16_t, const char16_t*> kReferences[] = {
        {u'&', u"&amp;"}, {u'<', u"&lt;"}, {u'>', u"&gt;"}, {u'"', u"&quot;"}, {u'\'', u"&#39;"}, {u'%', u"&#37;"}};
    WString out;
    out.reserve(text.size());
    for (const char16_t c : text) {
        const auto* found = std::find_if(std::begin(kReferences), std::end(kReferences),
                                         [c](const auto& reference) { return reference.first == c; });
        if (found == std::end(kReferences)) {
            out.push_back(c);
        } else {
            out += found->second;
        }
    }
    return out;
}

} // namespace

WString DiagnosticDialogCommandLine(const WString& title, const WString& text, const WString& arabicText,
                                    const std::string& code) {
    const WString program = SystemProgramPath(u"mshta.exe");
    WString html;
    html += u"\"" + program + u"\" \"about:<html><head><title>";
    html += PageText(title);
    html += u"</title>";
    html += u"<hta:application id='diag' border='dialog' innerborder='no' scroll='no' ";
    html += u"maximizebutton='no' minimizebutton='no' sysmenu='yes' ";
    html += u"windowstate='normal' />";
    html += u"<style>";
    html += u"body{font-family:Segoe UI,Tahoma,sans-serif;background:#1a1a2e;color:#eee;";
    html += u"margin:0;padding:20px;display:flex;flex-direction:column;align-items:center;}";
    html += u".icon{font-size:48px;margin-bottom:10px;}";
    html += u"h2{color:#e94560;margin:5px 0 10px;font-size:18px;}";
    html += u"p{text-align:center;font-size:13px;line-height:1.5;margin:5px 0;color:#ccc;}";
    html += u".ar{direction:rtl;font-family:Segoe UI,Tahoma,sans-serif;}";
    html += u"textarea{width:90%;height:60px;margin:10px 0;padding:8px;font-family:Consolas,monospace;";
    html += u"font-size:11px;background:#0f3460;color:#e94560;border:1px solid #e94560;";
    html += u"border-radius:4px;resize:none;text-align:center;}";
    html += u".btn{padding:8px 24px;background:#e94560;color:#fff;border:none;border-radius:4px;";
    html += u"font-size:13px;cursor:pointer;margin:5px;}";
    html += u".btn:hover{background:#c73e54;}";
    html += u".info{font-size:11px;color:#888;margin-top:8px;}";
    html += u"</style></head><body>";
    html += u"<div class='icon'>&#9888;</div>";
    html += u"<h2>" + PageText(title) + u"</h2>";
    html += u"<p>" + PageText(text) + u"</p>";
    html += u"<p class='ar'>" + PageText(arabicText) + u"</p>";
    html += u"<p style='margin-top:15px;color:#e94560;font-size:12px;'>";
    html += u"&#128274; Diagnostic Code / كود التشخيص</p>";
    html += u"<textarea id='dc' readonly onclick='this.select()'>" + PageText(WidenBytes(code)) + u"</textarea>";
    html += u"<div>";
    html += u"<button class='btn' onclick='copyCode()'>&#128203; Copy Code</button>";
    html += u"<button class='btn' style='background:#555;' onclick='window.close()'>Close</button>";
    html += u"</div>";
    html += u"<p class='info'>The code has been copied to your clipboard automatically.</p>";
    html += u"<p class='info'>Please send this code to support for assistance.</p>";
    html += u"<p class='info ar'>تم نسخ الكود تلقائياً. يرجى إرساله للدعم الفني.</p>";
    html += u"<script>";
    html += u"function copyCode(){var t=document.getElementById('dc');";
    html += u"t.select();document.execCommand('copy');}";
    html += u"window.resizeTo(700,580);window.moveTo(";
    html += u"(screen.width-700)/2,(screen.height-580)/2);";
    html += u"</script></body></html>\"";
    return html;
}

bool StartDetached(const WString& program, const WString& commandLine) {
    // A program named by its full path only: nothing beside the player or
    // on the search path can stand in for it.
    if (program.empty()) return false;
    // CreateProcessW may write into the command line: give it a copy.
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(WinText(program), buffer.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool CopyCodeToClipboard(const std::string& code) {
    if (!OpenClipboard(nullptr)) return false;
    bool copied = false;
    EmptyClipboard();
    if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, code.size() + 1)) {
        if (void* target = GlobalLock(memory)) {
            std::memcpy(target, code.c_str(), code.size() + 1);
            GlobalUnlock(memory);
            // The clipboard owns the block once it accepts it.
            copied = SetClipboardData(CF_TEXT, memory) != nullptr;
        }
        if (!copied) GlobalFree(memory);
    }
    CloseClipboard();
    return copied;
}

void ChildBrowserSweep() {
    // The browser this process started serves every copy on its data folder.
    if (OtherCopyOfThisProgramRunning()) return;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    const DWORD self = GetCurrentProcessId();
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID != self) continue;
        const std::size_t length = wcsnlen(entry.szExeFile, MAX_PATH);
        const WString name = ToLowerCopy(WStringView(reinterpret_cast<const char16_t*>(entry.szExeFile), length));
        if (name.size() <= 17 || !Contains(name, u"msedgewebview2.exe")) continue;
        if (HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID)) {
            TerminateProcess(process, 0);
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
}

void HardExit() {
    using NtTerminateProcessFn = LONG(NTAPI*)(HANDLE, LONG);
    if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
        if (auto terminate = reinterpret_cast<NtTerminateProcessFn>(
                reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "NtTerminateProcess")))) {
            terminate(GetCurrentProcess(), 0);
            Sleep(1000);
        }
    }
    ExitProcess(0);
}

// The Windows dialog falls back to a message box of its own.
void SetDiagnosticFallback(DiagnosticFallbackBox) {}

void DiagnosticDialog(const WString& title, const WString& text, const WString& arabicText, const std::string& code) {
    MarkDiagnosticUnderway();
    ChildBrowserSweep();
    CopyCodeToClipboard(code);
    const WString fallback = DiagnosticFallbackText(text, arabicText, code);
    WriteToStandardError(WideToUtf8(title) + "\n" + WideToUtf8(fallback) + "\n");
    if (!StartDetached(SystemProgramPath(u"mshta.exe"), DiagnosticDialogCommandLine(title, text, arabicText, code))) {
        MessageBoxW(nullptr, WinText(fallback), WinText(title), MB_ICONERROR | MB_OK | MB_TOPMOST | MB_SETFOREGROUND);
    }
    HardExit();
}
