#include "player/pdf_watermark_process_win.h"

#include <windows.h>
#include <psapi.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "common/debug_log.h"

namespace {

// The answer is a title or a reason.
constexpr std::size_t kMaxAnswerBytes = 64 * 1024;
// How often the waiting side looks at the process's use.
constexpr DWORD kLookMs = 50;

struct OwnedHandle {
    HANDLE handle = nullptr;
    OwnedHandle() = default;
    explicit OwnedHandle(HANDLE h) : handle(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~OwnedHandle() {
        if (handle != nullptr) CloseHandle(handle);
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
};

WatermarkedPdf Failed(std::string why) {
    WatermarkedPdf result;
    result.error = std::move(why);
    return result;
}

bool WriteAll(HANDLE file, const char* data, std::size_t size) {
    while (size > 0) {
        DWORD written = 0;
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 20));
        if (!WriteFile(file, data, piece, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

bool Rewind(HANDLE file) {
    LARGE_INTEGER zero{};
    return SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) != 0;
}

// Up to limit bytes from the file's position; one more tells the caller it had more.
std::string ReadAll(HANDLE file, std::size_t limit) {
    std::string bytes;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0)
        bytes.reserve(std::min(static_cast<std::size_t>(size.QuadPart), limit + 1));
    char buffer[64 * 1024];
    while (bytes.size() <= limit) {
        DWORD read = 0;
        const DWORD want = static_cast<DWORD>(std::min(sizeof buffer, limit + 1 - bytes.size()));
        if (!ReadFile(file, buffer, want, &read, nullptr) || read == 0) break;
        bytes.append(buffer, read);
    }
    return bytes;
}

// A file in the user's temporary folder that the process hands on by its
// handle (inheritable) and that goes when the last handle to it closes.
HANDLE TemporaryFile() {
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t name[MAX_PATH + 1] = {};
    if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, L"tvp", 0, name) == 0) return nullptr;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileW(name);
        return nullptr;
    }
    return file;
}

HANDLE FileHolding(const std::string& bytes) {
    const HANDLE file = TemporaryFile();
    if (file != nullptr && (!WriteAll(file, bytes.data(), bytes.size()) || !Rewind(file))) {
        CloseHandle(file);
        return nullptr;
    }
    return file;
}

// The player's program: the running one when it is the player, else the
// one beside it (a test program's).
std::wstring PlayerProgram() {
    std::wstring self(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    if (length == 0 || length >= self.size()) return {};
    self.resize(length);
    const std::size_t slash = self.find_last_of(L"\\/");
    const std::wstring name = slash == std::wstring::npos ? self : self.substr(slash + 1);
    if (_wcsicmp(name.c_str(), L"tovani.exe") == 0) return self;
    const std::wstring beside = (slash == std::wstring::npos ? std::wstring() : self.substr(0, slash + 1)) + L"tovani.exe";
    return GetFileAttributesW(beside.c_str()) == INVALID_FILE_ATTRIBUTES ? std::wstring() : beside;
}

// A job that holds the process to the bounds, keeps it from starting
// others, and ends it when the player ends (its last handle closes).
HANDLE BoundingJob() {
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION |
                                              JOB_OBJECT_LIMIT_PROCESS_TIME | JOB_OBJECT_LIMIT_PROCESS_MEMORY |
                                              JOB_OBJECT_LIMIT_ACTIVE_PROCESS;
    limits.BasicLimitInformation.PerProcessUserTimeLimit.QuadPart = static_cast<LONGLONG>(kWatermarkCpuSeconds) * 10000000;
    limits.BasicLimitInformation.ActiveProcessLimit = 1;
    limits.ProcessMemoryLimit = kWatermarkMemoryBytes;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

enum class Bound { None, Cpu, Memory, Output, Clock };

struct Ending {
    DWORD code = 0;
    Bound over = Bound::None;
    long long cpuMs = 0;
    std::size_t peakBytes = 0;
};

long long CpuMs(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    const auto value = [](const FILETIME& t) {
        return (static_cast<long long>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000;
    };
    return value(kernel) + value(user);
}

// Waits for the process to end, ending it at any bound (the job's limits
// are the system's; these hold where a system does not keep them); a cancel
// ends it from the other side.
Ending WaitForEnd(HANDLE process, HANDLE output, std::size_t outputLimit) {
    Ending ending;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWatermarkWallMs);
    while (WaitForSingleObject(process, kLookMs) == WAIT_TIMEOUT) {
        PROCESS_MEMORY_COUNTERS_EX memory{};
        memory.cb = sizeof memory;
        const bool counted =
            GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory) != 0;
        LARGE_INTEGER written{};
        Bound over = Bound::None;
        if (CpuMs(process) > kWatermarkCpuSeconds * 1000LL) over = Bound::Cpu;
        else if (counted && memory.PrivateUsage > kWatermarkMemoryBytes) over = Bound::Memory;
        else if (GetFileSizeEx(output, &written) && static_cast<std::size_t>(written.QuadPart) > outputLimit) over = Bound::Output;
        else if (std::chrono::steady_clock::now() >= deadline) over = Bound::Clock;
        if (over != Bound::None) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, INFINITE);
            ending.over = over;
            break;
        }
    }
    GetExitCodeProcess(process, &ending.code);
    ending.cpuMs = CpuMs(process);
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(process, &memory, sizeof memory)) ending.peakBytes = memory.PeakWorkingSetSize;
    return ending;
}

std::string WhyEnded(const Ending& ending) {
    switch (ending.over) {
    case Bound::Cpu: return "the watermarking needed more than " + std::to_string(kWatermarkCpuSeconds) + " s of processor time";
    case Bound::Memory: return "the watermarking needed more than " + std::to_string(kWatermarkMemoryBytes >> 20) + " MB";
    case Bound::Output: return "the watermarked document grew too large";
    case Bound::Clock: return "the watermarking took more than " + std::to_string(kWatermarkWallMs / 1000) + " s";
    case Bound::None: break;
    }
    if (ending.code == 127) return "the watermarking could not be started";
    // An exception the process did not handle (the job ends it, no report).
    if (ending.code >= 0xC0000000) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08lX", static_cast<unsigned long>(ending.code));
        return std::string("the watermarking ended with exception 0x") + hex;
    }
    return "the watermarking ended with code " + std::to_string(ending.code);
}

struct Started {
    OwnedHandle process;
    std::string error;
};

// Starts the program in its watermarking mode, suspended until it is in the
// job, handing it only the four files.
void Start(Started& started, const std::wstring& program, HANDLE job, HANDLE document, HANDLE watermark, HANDLE output,
           HANDLE answer) {
    std::wstring commandLine = L"\"" + program + L"\" " + std::wstring(kWatermarkMode, kWatermarkMode + sizeof kWatermarkMode - 1) +
                               L" " + std::to_wstring(reinterpret_cast<std::uintptr_t>(watermark));
    HANDLE handed[] = {document, watermark, output, answer};
    SIZE_T attributeBytes = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &attributeBytes);
    std::unique_ptr<char[]> attributes(new char[attributeBytes]);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.get());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &attributeBytes)) {
        started.error = "no attribute list: " + std::to_string(GetLastError());
        return;
    }
    STARTUPINFOEXW info{};
    info.StartupInfo.cb = sizeof info;
    info.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    info.StartupInfo.hStdInput = document;
    info.StartupInfo.hStdOutput = output;
    info.StartupInfo.hStdError = answer;
    info.lpAttributeList = list;
    PROCESS_INFORMATION process{};
    const bool listed = UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handed, sizeof handed,
                                                  nullptr, nullptr) != 0;
    const bool created =
        listed && CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                 CREATE_SUSPENDED | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                                 &info.StartupInfo, &process) != 0;
    const DWORD error = GetLastError();
    DeleteProcThreadAttributeList(list);
    if (!created) {
        started.error = "the watermarking could not be started: error " + std::to_string(error);
        return;
    }
    OwnedHandle thread(process.hThread);
    if (!AssignProcessToJobObject(job, process.hProcess)) {
        TerminateProcess(process.hProcess, 127);
        CloseHandle(process.hProcess);
        started.error = "the watermarking could not be bounded: error " + std::to_string(GetLastError());
        return;
    }
    started.process.handle = process.hProcess;
    ResumeThread(thread.handle);
}

} // namespace

WatermarkedPdf WatermarkPdfInProcess(const std::string& document, const WString& watermark, PrintCancel& cancel) {
    if (cancel.Cancelled()) return Failed("the print was called off");
    const std::wstring program = PlayerProgram();
    if (program.empty()) return Failed("the player's program was not found for the watermarking");
    const std::size_t outputLimit = 2 * document.size() + kOutputAllowance;
    OwnedHandle in(FileHolding(document));
    OwnedHandle mark(FileHolding(WideToUtf8(watermark)));
    OwnedHandle output(TemporaryFile());
    OwnedHandle answer(TemporaryFile());
    if (in.handle == nullptr || mark.handle == nullptr || output.handle == nullptr || answer.handle == nullptr)
        return Failed("no temporary file for the watermarking: error " + std::to_string(GetLastError()));
    OwnedHandle job(BoundingJob());
    if (job.handle == nullptr) return Failed("no job to bound the watermarking: error " + std::to_string(GetLastError()));
    Started started;
    Start(started, program, job.handle, in.handle, mark.handle, output.handle, answer.handle);
    if (started.process.handle == nullptr) return Failed(started.error);
    const HANDLE process = started.process.handle;
    if (!cancel.Adopt([process] { TerminateProcess(process, 1); })) {
        WaitForSingleObject(process, INFINITE);
        return Failed("the print was called off");
    }
    const Ending ending = WaitForEnd(process, output.handle, outputLimit);
    cancel.Release();
    DebugLog("print: the watermarking used " + std::to_string(ending.cpuMs) + " ms of processor time and " +
             std::to_string(ending.peakBytes >> 20) + " MB");
    if (cancel.Cancelled()) return Failed("the print was called off");
    if (ending.over != Bound::None || ending.code != 0 || !Rewind(answer.handle)) return Failed(WhyEnded(ending));
    const std::string said = ReadAll(answer.handle, kMaxAnswerBytes);
    const bool ok = said.rfind("ok\n", 0) == 0;
    if (ok && !Rewind(output.handle)) return Failed("the watermarked document could not be read");
    return ReadWatermarkAnswer(said, ok ? ReadAll(output.handle, outputLimit) : std::string());
}

bool IsWatermarkMode(const std::vector<WString>& args) {
    return args.size() == 3 && args[1] == Utf8ToWide(kWatermarkMode);
}

int RunWatermarkProcess(const std::vector<WString>& args) {
    if (!IsWatermarkMode(args)) return 127;
    const HANDLE answer = GetStdHandle(STD_ERROR_HANDLE);
    std::uintptr_t value = 0;
    for (const char16_t c : args[2]) {
        if (c < u'0' || c > u'9') return 127;
        value = value * 10 + static_cast<std::uintptr_t>(c - u'0');
    }
    const auto markHandle = reinterpret_cast<HANDLE>(value);
    const std::string watermark = ReadAll(markHandle, kMaxWatermarkBytes);
    CloseHandle(markHandle);
    const HANDLE documentHandle = GetStdHandle(STD_INPUT_HANDLE);
    LARGE_INTEGER size{};
    const int inFd = _open_osfhandle(reinterpret_cast<intptr_t>(documentHandle), _O_RDONLY | _O_BINARY);
    const int outFd = _open_osfhandle(reinterpret_cast<intptr_t>(GetStdHandle(STD_OUTPUT_HANDLE)), _O_WRONLY | _O_BINARY);
    std::FILE* in = inFd >= 0 ? _fdopen(inFd, "rb") : nullptr;
    std::FILE* out = outFd >= 0 ? _fdopen(outFd, "wb") : nullptr;
    const std::unique_ptr<WatermarkFont> font = ScreenWatermarkFont();
    const WatermarkedPdf result =
        !GetFileSizeEx(documentHandle, &size)
            ? Failed("the watermarking got no files")
            : WatermarkInProcess(in, static_cast<std::size_t>(size.QuadPart), watermark, *font, out);
    const std::string said = WatermarkAnswer(result);
    return WriteAll(answer, said.data(), said.size()) ? 0 : 1;
}
