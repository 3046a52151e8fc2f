#include "tests/support/test_support.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/app_constants.h"
#include "common/base64.h"
#include "common/masking.h"
#include "links/envelope.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <poll.h>
#include <spawn.h>
#include <unistd.h>
extern char** environ;
#endif

namespace TestSupport {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string ToolPath() {
#ifdef _WIN32
    return Env("TOVANI_BIN") + "/tovani-tool.exe";
#else
    return Env("TOVANI_BIN") + "/tovani-tool";
#endif
}

std::string ProfileKey() { return UnmaskConstant(Config::kEnvelopeKey); }

WString SealLink(const std::string& pass, const std::string& content, const std::string& domain) {
    const std::string key = ProfileKey();
    return ApplicationConstants.schemeWord + u":" + Utf8ToWide(SealEnvelope(pass, key)) + u":" +
           Utf8ToWide(SealEnvelope(content, key)) + u":" + Utf8ToWide(SealEnvelope(domain, key));
}

std::string CannedServiceBase(const std::string& body, int status) {
    std::string encoded = Base64Encode(body);
    for (char& c : encoded) c = c == '+' ? '-' : c == '/' ? '_' : c;
    while (!encoded.empty() && encoded.back() == '=') encoded.pop_back();
    return "https://127.0.0.1:47443/canned/" + std::to_string(status) + "/" + encoded;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

#ifdef _WIN32

namespace {
std::wstring QuoteArg(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
        } else if (c == L'"') {
            out.append(backslashes * 2 + 1, L'\\');
            out.push_back(c);
            backslashes = 0;
            continue;
        } else {
            backslashes = 0;
        }
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

std::wstring Wide(const std::string& utf8) {
    const WString w = Utf8ToWide(utf8);
    return std::wstring(w.begin(), w.end());
}

void Drain(HANDLE pipe, std::string* sink) {
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) sink->append(buffer, got);
}
} // namespace

namespace {
ProcessResult RunOnce(const std::string& program, const std::vector<std::string>& args) {
    ProcessResult result;
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite;
    if (!CreatePipe(&outRead, &outWrite, &sa, 0)) return result;
    if (!CreatePipe(&errRead, &errWrite, &sa, 0)) {
        CloseHandle(outRead);
        CloseHandle(outWrite);
        return result;
    }
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    std::wstring commandLine = QuoteArg(Wide(program));
    for (const auto& a : args) commandLine += L" " + QuoteArg(Wide(a));
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = outWrite;
    si.hStdError = errWrite;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    // Wine starts its desktop process with the first program that touches a
    // window or the clipboard, and that process keeps the starter's output
    // handles: start it here so a child never becomes that starter.
    GetDesktopWindow();
    // Under Wine a start can fail for a moment while other programs of the
    // suite start and end; such a failure is the host's, not the program's.
    BOOL started = FALSE;
    DWORD startError = 0;
    for (int attempt = 0; attempt < 4 && !started; ++attempt) {
        if (attempt > 0) Sleep(250 * attempt);
        started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
        if (!started) startError = GetLastError();
    }
    if (!started) result.err = "CreateProcessW failed: " + std::to_string(startError);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (started) {
        std::thread errThread(Drain, errRead, &result.err);
        Drain(outRead, &result.out);
        errThread.join();
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        result.status = static_cast<int>(code);
        PROCESS_MEMORY_COUNTERS memory{};
        memory.cb = sizeof memory;
        if (K32GetProcessMemoryInfo(pi.hProcess, &memory, sizeof memory)) result.peakMemoryBytes = memory.PeakWorkingSetSize;
        if (code == 0xFFFFFFFFu && result.out.empty() && result.err.empty())
            result.err = "the program ended with 0xFFFFFFFF and printed nothing";
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(outRead);
    CloseHandle(errRead);
    return result;
}
} // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args) {
    ProcessResult result = RunOnce(program, args);
    // None of our programs ends with -1; Wine reports it, with nothing
    // printed, for a process it lost while starting it. Run such a one again.
    if (result.status == -1 && result.out.empty()) {
        Sleep(500);
        result = RunOnce(program, args);
    }
    return result;
}

#else

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args) {
    ProcessResult result;
    // Close-on-exec: only the duplicates on 1 and 2 reach the child, so
    // processes it leaves running do not keep our pipes open.
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (rc == 0) {
        pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
        std::string* sinks[2] = {&result.out, &result.err};
        int open = 2;
        while (open > 0) {
            if (poll(fds, 2, -1) < 0) break;
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                char buffer[4096];
                const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
                if (got > 0) {
                    sinks[i]->append(buffer, static_cast<std::size_t>(got));
                } else {
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.peakMemoryBytes = static_cast<std::size_t>(usage.ru_maxrss) * 1024; // kilobytes on Linux
    }
    close(outPipe[0]);
    close(errPipe[0]);
    return result;
}

#endif

} // namespace TestSupport
