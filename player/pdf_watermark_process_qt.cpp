#include "player/pdf_watermark_process_qt.h"

#include <QGuiApplication>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/debug_log.h"
#include "player/pdf_print_qt.h"

namespace {

// The answer is a title or a reason.
constexpr std::size_t kMaxAnswerBytes = 64 * 1024;

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Up to limit bytes from fd; one more tells the caller it had more.
std::string ReadAll(int fd, std::size_t limit) {
    std::string bytes;
    struct stat info {};
    if (fstat(fd, &info) == 0 && info.st_size > 0)
        bytes.reserve(std::min(static_cast<std::size_t>(info.st_size), limit + 1));
    char buffer[64 * 1024];
    while (bytes.size() <= limit) {
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, limit + 1 - bytes.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

// A file in memory that the process gets as a descriptor (seekable, no
// folder for others to look into); -1 when none could be made.
int MemoryFile(const char* name, const std::string& bytes) {
    const int fd = memfd_create(name, MFD_CLOEXEC);
    if (fd < 0) return -1;
    if (!WriteAll(fd, bytes.data(), bytes.size()) || lseek(fd, 0, SEEK_SET) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// The player's program: the running one when it is the player, else the
// one beside it (a test program's).
std::string PlayerProgram() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    const std::filesystem::path program = self.parent_path() / "tovani";
    return access(program.c_str(), X_OK) == 0 ? program.string() : std::string();
}

// Starts the program in its watermarking mode under the bounds, with the
// document on standard input, the answer file as standard output, the
// watermark on descriptor 3 and the output file on 4; 0 when it could not be
// started.
pid_t Start(const std::string& program, int document, int answer, int watermark, int output, std::size_t outputLimit) {
    // Everything the child uses is made before the fork: after it, in a
    // copy of a process with many threads, only system calls are safe.
    std::string mode = kWatermarkMode;
    std::string path = program;
    char* const argv[] = {path.data(), mode.data(), nullptr};
    const rlimit cpu{kWatermarkCpuSeconds, kWatermarkCpuSeconds + 1};
    const rlimit memory{kWatermarkMemoryBytes, kWatermarkMemoryBytes};
    const rlimit file{outputLimit, outputLimit};
    const rlimit core{0, 0};
    const pid_t parent = getpid();
    sigset_t none;
    sigemptyset(&none);

    const pid_t child = fork();
    if (child < 0) return 0;
    if (child > 0) return child;
    // Ends with the thread that waits for it, should the player end first.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    // Out of the way of 0, 1, 3 and 4 first, in case one of them is one of those.
    const int from[] = {document, answer, watermark, output};
    const int to[] = {0, 1, 3, 4};
    int moved[4];
    for (int i = 0; i < 4; ++i)
        if ((moved[i] = fcntl(from[i], F_DUPFD, 10)) < 0) _exit(127);
    for (int i = 0; i < 4; ++i)
        if (dup2(moved[i], to[i]) < 0) _exit(127);
    close_range(5, ~0U, 0);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (setrlimit(RLIMIT_CPU, &cpu) != 0 || setrlimit(RLIMIT_AS, &memory) != 0 || setrlimit(RLIMIT_FSIZE, &file) != 0 ||
        setrlimit(RLIMIT_CORE, &core) != 0) {
        _exit(127);
    }
    execv(argv[0], argv);
    _exit(127);
}

struct Ending {
    int status = 0;
    bool overTime = false;
    bool lost = false; // no status to be had
    rusage usage{};
};

// Waits for the process to end, killing it at the clock's bound; a cancel
// kills it from the other side.
Ending WaitForEnd(pid_t child, PrintCancel& cancel) {
    Ending ending;
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWatermarkWallMs);
    for (;;) {
        siginfo_t info{};
        const int waited = waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT);
        if (waited == 0 && info.si_pid == child) break;
        if (waited < 0 && errno != EINTR) break; // not ours to wait for any more
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 && !ending.overTime) {
            kill(child, SIGKILL);
            ending.overTime = true;
        }
        pollfd ended{pidfd, POLLIN, 0};
        // Without a pidfd (an old kernel) the loop looks every 10 ms.
        poll(pidfd >= 0 ? &ended : nullptr, pidfd >= 0 ? 1 : 0,
             pidfd >= 0 && !ending.overTime ? static_cast<int>(std::min<long long>(left.count(), 1000)) : 10);
    }
    cancel.Release();
    int reaped;
    while ((reaped = static_cast<int>(wait4(child, &ending.status, 0, &ending.usage))) < 0 && errno == EINTR) {
    }
    ending.lost = reaped != child;
    if (pidfd >= 0) close(pidfd);
    return ending;
}

WatermarkedPdf Failed(std::string why) {
    WatermarkedPdf result;
    result.error = std::move(why);
    return result;
}

WatermarkedPdf ReadAnswer(const std::string& answer, int output, std::size_t outputLimit) {
    if (answer.rfind("ok\n", 0) == 0 && lseek(output, 0, SEEK_SET) != 0) return Failed("the watermarking gave no answer");
    return ReadWatermarkAnswer(answer, answer.rfind("ok\n", 0) == 0 ? ReadAll(output, outputLimit) : std::string());
}

std::string WhyEnded(const Ending& ending) {
    if (ending.lost) return "the watermarking process was lost";
    if (ending.overTime) return "the watermarking took more than " + std::to_string(kWatermarkWallMs / 1000) + " s";
    if (WIFSIGNALED(ending.status)) {
        switch (WTERMSIG(ending.status)) {
        case SIGXCPU:
        case SIGKILL: return "the watermarking needed more than " + std::to_string(kWatermarkCpuSeconds) + " s of processor time";
        case SIGXFSZ: return "the watermarked document grew too large";
        default: return "the watermarking ended by signal " + std::to_string(WTERMSIG(ending.status));
        }
    }
    if (WIFEXITED(ending.status) && WEXITSTATUS(ending.status) == 127) return "the watermarking could not be started";
    return "the watermarking ended with code " + std::to_string(WIFEXITED(ending.status) ? WEXITSTATUS(ending.status) : -1);
}

} // namespace

WatermarkedPdf WatermarkPdfInProcess(const std::string& document, const WString& watermark, PrintCancel& cancel) {
    if (cancel.Cancelled()) return Failed("the print was called off");
    const std::string program = PlayerProgram();
    if (program.empty()) return Failed("the player's program was not found for the watermarking");
    const std::size_t outputLimit = 2 * document.size() + kOutputAllowance;
    const int in = MemoryFile("tovani-print-document", document);
    const int mark = MemoryFile("tovani-print-watermark", WideToUtf8(watermark));
    const int out = memfd_create("tovani-print-answer", MFD_CLOEXEC);
    const int output = memfd_create("tovani-print-watermarked", MFD_CLOEXEC);
    WatermarkedPdf result;
    if (in < 0 || mark < 0 || out < 0 || output < 0) {
        result = Failed(std::string("no memory file for the watermarking: ") + std::strerror(errno));
    } else if (const pid_t child = Start(program, in, out, mark, output, outputLimit); child == 0) {
        result = Failed(std::string("the watermarking could not be started: ") + std::strerror(errno));
    } else {
        const bool adopted = cancel.Adopt([child] { kill(child, SIGKILL); });
        const Ending ending = adopted ? WaitForEnd(child, cancel) : Ending{};
        if (!adopted) waitpid(child, nullptr, 0);
        const long long cpuMs = (ending.usage.ru_utime.tv_sec + ending.usage.ru_stime.tv_sec) * 1000LL +
                                (ending.usage.ru_utime.tv_usec + ending.usage.ru_stime.tv_usec) / 1000;
        DebugLog("print: the watermarking used " + std::to_string(cpuMs) + " ms of processor time and " +
                 std::to_string(ending.usage.ru_maxrss / 1024) + " MB");
        if (cancel.Cancelled()) {
            result = Failed("the print was called off");
        } else if (!ending.lost && WIFEXITED(ending.status) && WEXITSTATUS(ending.status) == 0 && !ending.overTime &&
                   lseek(out, 0, SEEK_SET) == 0) {
            result = ReadAnswer(ReadAll(out, kMaxAnswerBytes), output, outputLimit);
        } else {
            result = Failed(WhyEnded(ending));
        }
    }
    for (const int fd : {in, mark, out, output})
        if (fd >= 0) close(fd);
    return result;
}

bool IsWatermarkMode(int argc, char** argv) { return argc == 2 && std::strcmp(argv[1], kWatermarkMode) == 0; }

int RunWatermarkProcess(int argc, char** argv) {
    // The stencils are drawn with the screen's fonts; no screen is needed.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    const std::string watermark = ReadAll(3, kMaxWatermarkBytes);
    close(3);
    struct stat document {};
    std::FILE* in = fdopen(0, "rb");
    std::FILE* out = fdopen(4, "wb");
    const std::unique_ptr<WatermarkFont> font = ScreenWatermarkFont();
    const WatermarkedPdf result =
        fstat(0, &document) != 0 ? Failed("the watermarking got no files")
                                 : WatermarkInProcess(in, static_cast<std::size_t>(document.st_size), watermark, *font, out);
    const std::string answer = WatermarkAnswer(result);
    return WriteAll(1, answer.data(), answer.size()) ? 0 : 1;
}
