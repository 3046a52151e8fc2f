#include "common/process_command_line_win.h"

#include <winternl.h>

namespace {

using NtQueryInformationProcessFn = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

} // namespace

std::wstring ProcessCommandLine(HANDLE process) {
    static const auto query = reinterpret_cast<NtQueryInformationProcessFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic{};
    if (query == nullptr || query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0) return {};
    PEB peb{};
    RTL_USER_PROCESS_PARAMETERS parameters{};
    SIZE_T read = 0;
    if (basic.PebBaseAddress == nullptr ||
        !ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, &read) || peb.ProcessParameters == nullptr ||
        !ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof parameters, &read)) {
        return {};
    }
    std::wstring text(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
    if (text.empty() ||
        !ReadProcessMemory(process, parameters.CommandLine.Buffer, text.data(), text.size() * sizeof(wchar_t), &read)) {
        return {};
    }
    return text;
}

