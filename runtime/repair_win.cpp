// Windows: browser helpers left without their player, and the repair script
// started through cmd after the user has read why the player closes.
#include "runtime/repair.h"
#include "runtime/repair_win.h"

#include <shellapi.h>
#include <tlhelp32.h>

#include <fstream>

#include "common/message_box_win.h"

namespace Repair {

namespace {

constexpr wchar_t kHelperName[] = L"msedgewebview2.exe";

bool StillRunning(HANDLE process) {
    DWORD code = 0;
    return GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
}

ULONGLONG CreationTime(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// The helper's parent is alive: its id opens, it runs, and it is older than
// the helper (a younger one got the id of a parent that has ended).
bool ParentAlive(DWORD parentId, HANDLE helper) {
    HANDLE parent = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, parentId);
    if (parent == nullptr) return false;
    bool alive = StillRunning(parent);
    const ULONGLONG parentStart = CreationTime(parent);
    const ULONGLONG helperStart = CreationTime(helper);
    if (alive && parentStart != 0 && helperStart != 0 && parentStart > helperStart) alive = false;
    CloseHandle(parent);
    return alive;
}

} // namespace

std::filesystem::path ScriptFile() { return TempFolder() / "webview2_repair.bat"; }

void OrphanBrowserSweep() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        const std::wstring name = entry.szExeFile;
        // Case-sensitive, as the runtime names its helper.
        if (name.size() <= 17 || name.find(kHelperName) == std::wstring::npos) continue;
        HANDLE helper = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID);
        if (helper == nullptr) continue;
        if (StillRunning(helper) && !ParentAlive(entry.th32ParentProcessID, helper)) TerminateProcess(helper, 0);
        CloseHandle(helper);
    }
    CloseHandle(snapshot);
}

std::string EncodeBatchScript(const WString& script, unsigned consoleCodePage) {
    const wchar_t* text = reinterpret_cast<const wchar_t*>(script.c_str());
    const int length = static_cast<int>(script.size());
    if (length == 0) return {};
    // UTF-8 has no "default character" test; any other code page must take
    // every character back unchanged (no best-fit lookalikes in a path).
    if (consoleCodePage != CP_UTF8) {
        BOOL lossy = FALSE;
        const int size = WideCharToMultiByte(consoleCodePage, WC_NO_BEST_FIT_CHARS, text, length, nullptr, 0, nullptr,
                                             &lossy);
        if (size > 0 && !lossy) {
            std::string bytes(static_cast<std::size_t>(size), '\0');
            WideCharToMultiByte(consoleCodePage, WC_NO_BEST_FIT_CHARS, text, length, bytes.data(), size, nullptr,
                                &lossy);
            if (!lossy) return bytes;
        }
    }
    // cmd reads each line of a batch file in the code page current when it
    // reaches it: the switch comes right after the first line.
    std::string utf8 = WideToUtf8(script);
    const std::size_t firstLine = utf8.find('\n');
    if (firstLine == std::string::npos) return "chcp 65001 >NUL\r\n" + utf8;
    const bool crlf = firstLine > 0 && utf8[firstLine - 1] == '\r';
    utf8.insert(firstLine + 1, crlf ? "chcp 65001 >NUL\r\n" : "chcp 65001 >NUL\n");
    return utf8;
}

void RunRepairScript(const WString& userDataFolder) { RepairOrReport(userDataFolder, nullptr); }

namespace {

// A percent sign in a path would start a variable inside the script.
WString EscapePercent(const WString& path) {
    WString out;
    for (char16_t c : path) {
        out.push_back(c);
        if (c == u'%') out.push_back(u'%');
    }
    return out;
}

bool WriteScript(const std::filesystem::path& file, const WString& userDataFolder) {
    wchar_t executable[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, executable, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    const WString program(reinterpret_cast<const char16_t*>(executable), length);
    std::string lines = WindowsRepairScript(GetCurrentProcessId(), EscapePercent(program), EscapePercent(userDataFolder));
    // Text mode: every line feed becomes CR LF.
    WString script;
    for (const char16_t c : Utf8ToWide(lines)) {
        if (c == u'\n') script += u"\r";
        script.push_back(c);
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << EncodeBatchScript(script, GetOEMCP());
    out.close();
    return static_cast<bool>(out);
}

} // namespace

void RepairOrReport(const WString& userDataFolder, HWND owner) {
    if (DecideRepair(FlagFile()) == Decision::ReportFailure) return;
    const std::filesystem::path script = ScriptFile();
    if (!WriteScript(script, userDataFolder)) return;
    ShowMessageBox(RepairMessage(), u"Repairing...", MessageIcon::Information, MessageButtons::Ok, false, owner);
    const std::wstring parameters = L"/c \"" + script.wstring() + L"\"";
    ShellExecuteW(nullptr, L"open", L"cmd.exe", parameters.c_str(), nullptr, SW_SHOW);
    ExitProcess(0);
}

void RepairOrReport(const WString& userDataFolder) { RepairOrReport(userDataFolder, nullptr); }

} // namespace Repair
