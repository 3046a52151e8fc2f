// Windows: browser helpers left without their player, and the repair script
// started through cmd after the user has read why the player closes.
#include "runtime/repair.h"
#include "runtime/repair_win.h"

#include <aclapi.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "common/message_box_win.h"
#include "common/process_command_line_win.h"
#include "common/program_copies_win.h"
#include "common/system_program_win.h"

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

// The per-user temporary folder belongs to the user alone.
std::filesystem::path RepairFolder() {
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
    return ec ? std::filesystem::path() : folder;
}

std::filesystem::path ScriptFile() {
    const std::filesystem::path folder = RepairFolder();
    return folder.empty() ? folder : folder / "webview2_repair.bat";
}

bool CreateExclusive(const std::filesystem::path& file, const std::string& bytes) {
    if (file.empty()) return false;
    // CREATE_NEW fails on any existing name, a link included.
    const HANDLE handle =
        CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool complete = bytes.empty() || (WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                                      nullptr) &&
                                            written == bytes.size());
    CloseHandle(handle);
    if (!complete) DeleteFileW(file.c_str());
    return complete;
}

namespace {

// A path as Windows compares it: full, backslashes, no trailing separator.
std::wstring ComparablePath(std::wstring path) {
    std::replace(path.begin(), path.end(), L'/', L'\\');
    if (path.rfind(L"\\\\?\\", 0) == 0) path.erase(0, 4);
    wchar_t full[MAX_PATH * 4] = {};
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
    if (length > 0 && length < MAX_PATH * 4) path.assign(full, length);
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// The browser's --user-data-dir is the player's data folder, or the folder the
// runtime keeps inside it (EBWebView).
bool ServesDataFolder(const std::wstring& commandLine, const WString& userDataFolder) {
    if (commandLine.empty() || userDataFolder.empty()) return false;
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(commandLine.c_str(), &count);
    if (args == nullptr) return false;
    constexpr std::wstring_view kSwitch = L"--user-data-dir=";
    std::wstring dataDir;
    for (int i = 1; i < count; ++i) {
        const std::wstring_view arg = args[i];
        if (arg.substr(0, kSwitch.size()) == kSwitch) dataDir = std::wstring(arg.substr(kSwitch.size()));
    }
    LocalFree(args);
    if (dataDir.empty()) return false;
    const std::wstring ours = ComparablePath(std::wstring(userDataFolder.begin(), userDataFolder.end()));
    const std::wstring theirs = ComparablePath(dataDir);
    return SamePath(theirs, ours) || SamePath(theirs, ours + L"\\EBWebView");
}

} // namespace

// Only a browser of this user on this player's data folder whose parent has
// ended, and only while no other copy of the player runs: a browser process
// serves every client of its data folder and outlives the one that started
// it, so a parentless one may still serve another player. Other programs'
// web views and the user's Edge never name this folder.
void OrphanBrowserSweep(const WString& userDataFolder) {
    if (userDataFolder.empty()) return;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    std::vector<PROCESSENTRY32W> processes;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        processes.push_back(entry);
    CloseHandle(snapshot);
    if (OtherCopyOfThisProgramRunning()) return;
    for (const PROCESSENTRY32W& process : processes) {
        const std::wstring name = process.szExeFile;
        // Case-sensitive, as the runtime names its helper.
        if (name.size() <= 17 || name.find(kHelperName) == std::wstring::npos) continue;
        HANDLE helper = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                                    process.th32ProcessID);
        if (helper == nullptr) continue;
        if (StillRunning(helper) && !ParentAlive(process.th32ParentProcessID, helper) && RunsAsThisUser(helper) &&
            ServesDataFolder(ProcessCommandLine(helper), userDataFolder)) {
            TerminateProcess(helper, 0);
        }
        CloseHandle(helper);
    }
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

std::string ScriptBytes(const WString& userDataFolder) {
    wchar_t executable[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, executable, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    const WString program(reinterpret_cast<const char16_t*>(executable), length);
    std::string lines = WindowsRepairScript(GetCurrentProcessId(), EscapePercent(program), EscapePercent(userDataFolder));
    // Text mode: every line feed becomes CR LF.
    WString script;
    for (const char16_t c : Utf8ToWide(lines)) {
        if (c == u'\n') script += u"\r";
        script.push_back(c);
    }
    return EncodeBatchScript(script, GetOEMCP());
}

struct HandleCloser {
    void operator()(HANDLE handle) const {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// The user this process runs as, and the owner its new files get (an
// elevated administrator's files belong to the Administrators group).
bool IsOwnedByUs(PSID owner) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    const UniqueHandle tokenHandle(token);
    for (TOKEN_INFORMATION_CLASS kind : {TokenUser, TokenOwner}) {
        DWORD size = 0;
        GetTokenInformation(token, kind, nullptr, 0, &size);
        std::vector<unsigned char> buffer(size);
        if (size == 0 || !GetTokenInformation(token, kind, buffer.data(), size, &size)) continue;
        const PSID sid = kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                                           : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
        if (EqualSid(sid, owner)) return true;
    }
    return false;
}

// An earlier script of ours under the name (its run never came, or it could
// not delete itself) goes; anything else there stays.
bool RemoveOurPlainFile(const std::filesystem::path& file) {
    const UniqueHandle handle(CreateFileW(file.c_str(), DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (handle.get() == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle.get(), &info)) return false;
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        info.nNumberOfLinks != 1) {
        return false;
    }
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const bool ours = owner != nullptr && IsOwnedByUs(owner);
    LocalFree(descriptor);
    if (!ours) return false;
    // The very file just checked, through its handle.
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(handle.get(), FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// The script under its usual name, or, when something that is not ours holds
// that name, under a fresh one beside it. Empty when none can be written.
std::filesystem::path WriteScript(const std::string& bytes) {
    const std::filesystem::path usual = ScriptFile();
    if (usual.empty() || bytes.empty()) return {};
    if (CreateExclusive(usual, bytes)) return usual;
    if (RemoveOurPlainFile(usual) && CreateExclusive(usual, bytes)) return usual;
    for (unsigned attempt = 0; attempt < 16; ++attempt) {
        const std::filesystem::path fresh =
            usual.parent_path() / (L"webview2_repair_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                                   std::to_wstring(GetTickCount() + attempt) + L".bat");
        if (CreateExclusive(fresh, bytes)) return fresh;
    }
    return {};
}

} // namespace

std::wstring RepairCommandLine(const std::wstring& cmd, const std::wstring& scriptName) {
    // The script is named relative to the folder cmd starts in, so no part of
    // the folder's path meets cmd's parser (which expands %...% even inside
    // quotes). /s: cmd drops exactly the outer pair of quotes and runs the
    // quoted name inside as one word; /d: no AutoRun commands; /v:off: no
    // delayed expansion of "!".
    return L"\"" + cmd + L"\" /d /v:off /s /c \"\".\\" + scriptName + L"\"\"";
}

bool StartRepairScript(const std::filesystem::path& script) {
    const WString systemCmd = SystemProgramPath(u"cmd.exe");
    const std::wstring cmd(systemCmd.begin(), systemCmd.end());
    if (cmd.empty()) return false;
    std::wstring commandLine = RepairCommandLine(cmd, script.filename().wstring());
    const std::wstring folder = script.parent_path().wstring();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(cmd.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_CONSOLE | CREATE_UNICODE_ENVIRONMENT, nullptr, folder.c_str(), &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

namespace {

// The folder stands in the line as a whole path (not as the start of a
// longer folder name); names compare without case, as the file system does.
bool NamesFolder(const std::wstring& commandLine, const WString& folder) {
    if (folder.empty()) return false;
    const WString line = ToLowerCopy(WStringView(reinterpret_cast<const char16_t*>(commandLine.data()), commandLine.size()));
    const WString wanted = ToLowerCopy(folder);
    for (std::size_t at = line.find(wanted); at != WString::npos; at = line.find(wanted, at + 1)) {
        const std::size_t after = at + wanted.size();
        if (after == line.size() || line[after] == u'\\' || line[after] == u'/' || line[after] == u'"' ||
            line[after] == u' ') {
            return true;
        }
    }
    return false;
}

bool IsBrowserProgram(const wchar_t* exeName) {
    const WString name = ToLowerCopy(WStringView(reinterpret_cast<const char16_t*>(exeName), wcsnlen(exeName, MAX_PATH)));
    return name == u"msedgewebview2.exe" || name == u"msedge.exe";
}

struct Process {
    DWORD parent = 0;
    bool browser = false;
    UniqueHandle handle;       // opened while listing: the same process to the end
    ULONGLONG created = 0;
};

// A parent id counts only for a parent older than its child: ids are reused.
bool IsParentOf(const std::map<DWORD, Process>& processes, DWORD parent, const Process& child) {
    const auto it = processes.find(parent);
    if (it == processes.end() || it->second.handle == nullptr) return false;
    return it->second.created != 0 && child.created != 0 && it->second.created <= child.created;
}

} // namespace

std::vector<DWORD> EndOwnBrowserProcesses(const WString& userDataFolder) {
    std::map<DWORD, Process> processes;
    const DWORD self = GetCurrentProcessId();
    {
        const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (snapshot.get() == INVALID_HANDLE_VALUE) return {};
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
            Process& p = processes[entry.th32ProcessID];
            p.parent = entry.th32ParentProcessID;
            p.browser = IsBrowserProgram(entry.szExeFile);
            const DWORD access = entry.th32ProcessID == self
                                     ? PROCESS_QUERY_LIMITED_INFORMATION
                                     : PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE;
            p.handle.reset(OpenProcess(access, FALSE, entry.th32ProcessID));
            if (p.handle != nullptr) p.created = CreationTime(p.handle.get());
        }
    }
    // Below this process, or below one of the player's own browser processes.
    const auto below = [&](DWORD id, const auto& isRoot) {
        const Process* child = &processes.at(id);
        DWORD parent = child->parent;
        for (int depth = 0; depth < 64; ++depth) {
            if (!IsParentOf(processes, parent, *child)) return false;
            if (isRoot(parent)) return true;
            child = &processes.at(parent);
            parent = child->parent;
        }
        return false;
    };
    std::vector<DWORD> roots;
    for (auto& [id, p] : processes) {
        if (!p.browser || p.handle == nullptr || id == self) continue;
        if (below(id, [self](DWORD candidate) { return candidate == self; }) ||
            NamesFolder(ProcessCommandLine(p.handle.get()), userDataFolder)) {
            roots.push_back(id);
        }
    }
    std::vector<DWORD> ended;
    for (auto& [id, p] : processes) {
        if (p.handle == nullptr || id == self) continue;
        const bool root = std::find(roots.begin(), roots.end(), id) != roots.end();
        const auto isRoot = [&roots](DWORD candidate) {
            return std::find(roots.begin(), roots.end(), candidate) != roots.end();
        };
        if (!root && !below(id, isRoot)) continue;
        if (StillRunning(p.handle.get()) && TerminateProcess(p.handle.get(), 0)) ended.push_back(id);
    }
    for (DWORD id : ended) WaitForSingleObject(processes.at(id).handle.get(), 2000);
    return ended;
}

void RepairOrReport(const WString& userDataFolder, HWND owner) {
    if (DecideRepair(FlagFile()) == Decision::ReportFailure) return;
    const std::filesystem::path script = WriteScript(ScriptBytes(userDataFolder));
    if (script.empty()) return;
    ShowMessageBox(RepairMessage(), u"Repairing...", MessageIcon::Information, MessageButtons::Ok, false, owner);
    // Exactly this player's browser processes, with everything they started.
    EndOwnBrowserProcesses(userDataFolder);
    StartRepairScript(script);
    ExitProcess(0);
}

void RepairOrReport(const WString& userDataFolder) { RepairOrReport(userDataFolder, nullptr); }

} // namespace Repair
