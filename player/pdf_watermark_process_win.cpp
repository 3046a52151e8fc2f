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
#include "player/pdf_render_print_win.h"

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

// What one run of a mode may cost, and what it is called in the log.
struct Bounds {
    const char* work;
    int cpuSeconds;
    std::size_t memoryBytes;
    int wallMs;
    std::size_t outputLimit;
    // qpdf starts nothing; the printing path may have Windows start a
    // helper of its own (a driver's dialog asking where to save, say).
    bool aloneInJob;
};

// A job that holds the process to the bounds, keeps it alone where it needs
// no other, and ends it when the player ends (its last handle closes).
HANDLE BoundingJob(const Bounds& bounds) {
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION |
                                              JOB_OBJECT_LIMIT_PROCESS_TIME | JOB_OBJECT_LIMIT_PROCESS_MEMORY |
                                              (bounds.aloneInJob ? JOB_OBJECT_LIMIT_ACTIVE_PROCESS : 0);
    limits.BasicLimitInformation.PerProcessUserTimeLimit.QuadPart = static_cast<LONGLONG>(bounds.cpuSeconds) * 10000000;
    limits.BasicLimitInformation.ActiveProcessLimit = 1;
    limits.ProcessMemoryLimit = bounds.memoryBytes;
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
Ending WaitForEnd(HANDLE process, HANDLE output, const Bounds& bounds) {
    Ending ending;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(bounds.wallMs);
    while (WaitForSingleObject(process, kLookMs) == WAIT_TIMEOUT) {
        PROCESS_MEMORY_COUNTERS_EX memory{};
        memory.cb = sizeof memory;
        const bool counted =
            GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory) != 0;
        LARGE_INTEGER written{};
        Bound over = Bound::None;
        if (CpuMs(process) > bounds.cpuSeconds * 1000LL) over = Bound::Cpu;
        else if (counted && memory.PrivateUsage > bounds.memoryBytes) over = Bound::Memory;
        else if (GetFileSizeEx(output, &written) && static_cast<std::size_t>(written.QuadPart) > bounds.outputLimit)
            over = Bound::Output;
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

std::string WhyEnded(const Ending& ending, const Bounds& bounds) {
    const std::string work = bounds.work;
    switch (ending.over) {
    case Bound::Cpu: return "the " + work + " needed more than " + std::to_string(bounds.cpuSeconds) + " s of processor time";
    case Bound::Memory: return "the " + work + " needed more than " + std::to_string(bounds.memoryBytes >> 20) + " MB";
    case Bound::Output: return "the " + work + "'s output grew too large";
    case Bound::Clock: return "the " + work + " took more than " + std::to_string(bounds.wallMs / 1000) + " s";
    case Bound::None: break;
    }
    if (ending.code == 127) return "the " + work + " could not be started";
    // An exception the process did not handle (the job ends it, no report).
    if (ending.code >= 0xC0000000) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08lX", static_cast<unsigned long>(ending.code));
        return "the " + work + " ended with exception 0x" + hex;
    }
    return "the " + work + " ended with code " + std::to_string(ending.code);
}

struct Started {
    OwnedHandle process;
    std::string error;
};

// Starts the program in a mode of its own, suspended until it is in the
// job, handing it only the four files.
void Start(Started& started, const std::wstring& program, const std::string& mode, HANDLE job, HANDLE document,
           HANDLE watermark, HANDLE output, HANDLE answer) {
    std::wstring commandLine = L"\"" + program + L"\" " + std::wstring(mode.begin(), mode.end()) + L" " +
                               std::to_wstring(reinterpret_cast<std::uintptr_t>(watermark));
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
        started.error = "the process could not be started: error " + std::to_string(error);
        return;
    }
    OwnedHandle thread(process.hThread);
    if (!AssignProcessToJobObject(job, process.hProcess)) {
        TerminateProcess(process.hProcess, 127);
        CloseHandle(process.hProcess);
        started.error = "the process could not be bounded: error " + std::to_string(GetLastError());
        return;
    }
    started.process.handle = process.hProcess;
    ResumeThread(thread.handle);
}

// What a run of a mode came to: its answer and output, or why there are none.
struct Ran {
    bool ok = false;
    std::string answer;
    std::string output;
    std::string error;
};

// Runs the program in mode within the bounds: input on its standard input,
// side (a few lines) in the file whose handle it is given, its output and
// answer read back. A cancel ends it at once.
Ran RunBounded(const char* mode, const std::string& input, const std::string& side, const Bounds& bounds,
               PrintCancel& cancel) {
    Ran ran;
    const std::string work = bounds.work;
    if (cancel.Cancelled()) {
        ran.error = "the print was called off";
        return ran;
    }
    const std::wstring program = PlayerProgram();
    if (program.empty()) {
        ran.error = "the player's program was not found for the " + work;
        return ran;
    }
    OwnedHandle in(FileHolding(input));
    OwnedHandle extra(FileHolding(side));
    OwnedHandle output(TemporaryFile());
    OwnedHandle answer(TemporaryFile());
    OwnedHandle job(in.handle && extra.handle && output.handle && answer.handle ? BoundingJob(bounds) : nullptr);
    if (job.handle == nullptr) {
        ran.error = "no files or job for the " + work + ": error " + std::to_string(GetLastError());
        return ran;
    }
    Started started;
    Start(started, program, mode, job.handle, in.handle, extra.handle, output.handle, answer.handle);
    if (started.process.handle == nullptr) {
        ran.error = started.error;
        return ran;
    }
    const HANDLE process = started.process.handle;
    if (!cancel.Adopt([process] { TerminateProcess(process, 1); })) {
        WaitForSingleObject(process, INFINITE);
        ran.error = "the print was called off";
        return ran;
    }
    const Ending ending = WaitForEnd(process, output.handle, bounds);
    cancel.Release();
    DebugLog("print: the " + work + " used " + std::to_string(ending.cpuMs) + " ms of processor time and " +
             std::to_string(ending.peakBytes >> 20) + " MB");
    if (cancel.Cancelled()) {
        ran.error = "the print was called off";
    } else if (ending.over != Bound::None || ending.code != 0 || !Rewind(answer.handle) || !Rewind(output.handle)) {
        ran.error = WhyEnded(ending, bounds);
    } else {
        ran.ok = true;
        ran.answer = ReadAll(answer.handle, kMaxAnswerBytes);
        ran.output = ReadAll(output.handle, bounds.outputLimit);
    }
    return ran;
}

// The document Windows draws for the printer: its own PDF support, in a
// process of its own, bounded as generously as a long document needs.
constexpr int kRenderCpuSeconds = 120;
constexpr std::size_t kRenderMemoryBytes = std::size_t{3} << 29; // 1.5 GB
constexpr int kRenderWallMs = 300000;

// The process's side: the files it was given.
struct Given {
    std::string side;
    std::FILE* in = nullptr;
    std::FILE* out = nullptr;
    std::size_t inBytes = 0;
    HANDLE answer = nullptr;
    bool ok = false;
};

Given TakeFiles(const WString& sideHandle) {
    Given given;
    given.answer = GetStdHandle(STD_ERROR_HANDLE);
    std::uintptr_t value = 0;
    for (const char16_t c : sideHandle) {
        if (c < u'0' || c > u'9') return given;
        value = value * 10 + static_cast<std::uintptr_t>(c - u'0');
    }
    const auto sideFile = reinterpret_cast<HANDLE>(value);
    given.side = ReadAll(sideFile, kMaxWatermarkBytes);
    CloseHandle(sideFile);
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(input, &size)) return given;
    given.inBytes = static_cast<std::size_t>(size.QuadPart);
    const int inFd = _open_osfhandle(reinterpret_cast<intptr_t>(input), _O_RDONLY | _O_BINARY);
    const int outFd = _open_osfhandle(reinterpret_cast<intptr_t>(GetStdHandle(STD_OUTPUT_HANDLE)), _O_WRONLY | _O_BINARY);
    given.in = inFd >= 0 ? _fdopen(inFd, "rb") : nullptr;
    given.out = outFd >= 0 ? _fdopen(outFd, "wb") : nullptr;
    given.ok = given.in != nullptr && given.out != nullptr;
    return given;
}

int Watermark(const Given& given) {
    const std::unique_ptr<WatermarkFont> font = ScreenWatermarkFont();
    const WatermarkedPdf result = given.ok ? WatermarkInProcess(given.in, given.inBytes, given.side, *font, given.out)
                                           : Failed("the watermarking got no files");
    const std::string said = WatermarkAnswer(result);
    return WriteAll(given.answer, said.data(), said.size()) ? 0 : 1;
}

int Render(const Given& given) {
    std::string said;
    const std::size_t line = given.side.find('\n');
    if (!given.ok || line == std::string::npos) {
        said = "error\nthe printing process got no files";
    } else if (given.inBytes > kMaxPdfPrintBytes + kOutputAllowance) {
        said = "error\nthe document is too large to print";
    } else {
        std::string pdf(given.inBytes, '\0');
        if (std::fread(pdf.data(), 1, pdf.size(), given.in) != pdf.size()) {
            said = "error\nthe document could not be read";
        } else {
            const WString printer = Utf8ToWide(given.side.substr(0, line));
            const WString job = Utf8ToWide(given.side.substr(line + 1));
            // Called off by ending this process: the spooler drops a job whose
            // writer went before closing it.
            const WindowsPdfPrint printed = PrintPdfWithWindows(pdf, std::wstring(printer.begin(), printer.end()),
                                                                std::wstring(job.begin(), job.end()), [] { return false; });
            said = printed.printed ? "ok\n" : (printed.available ? "error\n" : "unavailable\n") + printed.error;
        }
    }
    return WriteAll(given.answer, said.data(), said.size()) ? 0 : 1;
}

} // namespace

WatermarkedPdf WatermarkPdfInProcess(const std::string& document, const WString& watermark, PrintCancel& cancel) {
    const Bounds bounds{"watermarking", kWatermarkCpuSeconds, kWatermarkMemoryBytes, kWatermarkWallMs,
                        2 * document.size() + kOutputAllowance, true};
    Ran ran = RunBounded(kWatermarkMode, document, WideToUtf8(watermark), bounds, cancel);
    if (!ran.ok) return Failed(ran.error);
    const bool ok = ran.answer.rfind("ok\n", 0) == 0;
    return ReadWatermarkAnswer(ran.answer, ok ? std::move(ran.output) : std::string());
}

WindowsPdfPrint PrintPdfWithWindowsInProcess(const std::string& pdf, const WString& printer, const WString& jobName,
                                             PrintCancel& cancel) {
    const Bounds bounds{"printing process", kRenderCpuSeconds, kRenderMemoryBytes, kRenderWallMs, kOutputAllowance, false};
    const Ran ran = RunBounded(kRenderMode, pdf, WideToUtf8(printer) + "\n" + WideToUtf8(jobName), bounds, cancel);
    WindowsPdfPrint result;
    result.available = true;
    if (!ran.ok) {
        result.error = ran.error;
    } else if (ran.answer == "ok\n") {
        result.printed = true;
    } else if (ran.answer.rfind("unavailable\n", 0) == 0) {
        result.available = false;
        result.error = ran.answer.substr(12);
    } else {
        result.error = ran.answer.rfind("error\n", 0) == 0 ? ran.answer.substr(6) : "the printing process gave no answer";
    }
    return result;
}

bool IsPrintProcessMode(const std::vector<WString>& args) {
    return args.size() == 3 && (args[1] == Utf8ToWide(kWatermarkMode) || args[1] == Utf8ToWide(kRenderMode));
}

int RunPrintProcess(const std::vector<WString>& args) {
    if (!IsPrintProcessMode(args)) return 127;
    const Given given = TakeFiles(args[2]);
    return args[1] == Utf8ToWide(kWatermarkMode) ? Watermark(given) : Render(given);
}
