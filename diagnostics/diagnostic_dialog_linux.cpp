// Linux: the dialog is the player itself, started detached in its dialog
// mode; that process owns the clipboard, so the code stays there after this
// one has ended. Its texts and code also go to standard error, which is all
// there is when no display is available.
#include "diagnostics/diagnostic_dialog.h"

#include "common/process_list_linux.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace {

bool DisplayAvailable() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && x11[0] != '\0') || (wayland != nullptr && wayland[0] != '\0');
}

// The player binary beside the running executable (the player itself, or
// the tool in the same folder).
std::string DialogProgram() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    std::string path(buffer, static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    path = path.substr(0, slash + 1) + "tovani";
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || access(path.c_str(), X_OK) != 0) return {};
    return path;
}

// A session of its own and no inherited output, so the dialog outlives us
// and holds nothing of ours open.
bool StartDetached(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return rc == 0;
}

DiagnosticFallbackBox gFallback = nullptr;

} // namespace

void SetDiagnosticFallback(DiagnosticFallbackBox show) { gFallback = show; }

// Every browser helper below this process, not only its children: the
// browser's zygotes fork further helpers that would outlive us otherwise.
void ChildBrowserSweep() {
    std::map<pid_t, pid_t> parents;
    const std::vector<ProcessEntry> processes = ListProcesses();
    for (const ProcessEntry& p : processes) parents[p.pid] = p.parent;
    const pid_t self = getpid();
    for (const ProcessEntry& p : processes) {
        if (p.name != kBrowserHelperProcessName) continue;
        pid_t ancestor = p.parent;
        for (int depth = 0; depth < 64 && ancestor > 1 && ancestor != self; ++depth) {
            const auto it = parents.find(ancestor);
            ancestor = it == parents.end() ? 0 : it->second;
        }
        if (ancestor == self) kill(p.pid, SIGKILL);
    }
}

void HardExit() {
    std::fflush(nullptr);
    _exit(0);
}

void DiagnosticDialog(const WString& title, const WString& text, const WString& arabicText, const std::string& code) {
    MarkDiagnosticUnderway();
    ChildBrowserSweep();
    const std::string message = WideToUtf8(title) + "\n" + WideToUtf8(DiagnosticFallbackText(text, arabicText, code)) + "\n";
    std::fwrite(message.data(), 1, message.size(), stderr);
    if (DisplayAvailable()) {
        const std::string program = DialogProgram();
        const bool started =
            !program.empty() &&
            StartDetached({program, "--diagnostic-dialog", WideToUtf8(title), WideToUtf8(text), WideToUtf8(arabicText), code});
        // The user must see the code somewhere: in a plain box of our own.
        if (!started && gFallback != nullptr) gFallback(title, DiagnosticFallbackText(text, arabicText, code));
    }
    HardExit();
}
