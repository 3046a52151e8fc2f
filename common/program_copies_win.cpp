#include "common/program_copies_win.h"

#include <tlhelp32.h>

#include <filesystem>
#include <string>
#include <vector>

bool RunsAsThisUser(HANDLE process) {
    const auto userOf = [](HANDLE of, std::vector<unsigned char>& buffer) -> PSID {
        HANDLE token = nullptr;
        if (!OpenProcessToken(of, TOKEN_QUERY, &token)) return nullptr;
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        buffer.resize(size);
        const bool got = size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
        CloseHandle(token);
        return got ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid : nullptr;
    };
    std::vector<unsigned char> ours, theirs;
    const PSID self = userOf(GetCurrentProcess(), ours);
    const PSID other = userOf(process, theirs);
    return self != nullptr && other != nullptr && EqualSid(self, other);
}

bool OtherCopyOfThisProgramRunning() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return true;
    const std::wstring program = std::filesystem::path(std::wstring(path, length)).filename().wstring();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return true;
    const DWORD self = GetCurrentProcessId();
    bool found = false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == self || _wcsicmp(entry.szExeFile, program.c_str()) != 0) continue;
        HANDLE other = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (other == nullptr) continue;
        DWORD code = 0;
        found = GetExitCodeProcess(other, &code) && code == STILL_ACTIVE && RunsAsThisUser(other);
        CloseHandle(other);
    }
    CloseHandle(snapshot);
    return found;
}
