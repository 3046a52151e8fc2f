#include "diagnostics/diagnostic_dialog.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

// Parent pid and command name of a process, from /proc/<pid>/stat.
bool ReadStat(const std::string& pid, pid_t& parent, std::string& name) {
    std::ifstream in("/proc/" + pid + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return false;
    const std::size_t open = stat.find('(');
    const std::size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 4 >= stat.size()) return false;
    name = stat.substr(open + 1, close - open - 1);
    parent = static_cast<pid_t>(std::atol(stat.c_str() + close + 4));
    return true;
}

} // namespace

void ChildBrowserSweep() {
    DIR* dir = opendir("/proc");
    if (dir == nullptr) return;
    const pid_t self = getpid();
    while (dirent* entry = readdir(dir)) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        pid_t parent = 0;
        std::string name;
        if (!ReadStat(pid, parent, name)) continue;
        // The kernel cuts command names to 15 characters: "QtWebEngineProc".
        if (parent == self && name.rfind("QtWebEngineProc", 0) == 0) kill(static_cast<pid_t>(std::atol(pid.c_str())), SIGKILL);
    }
    closedir(dir);
}

void HardExit() {
    std::fflush(stderr);
    _exit(0);
}

void DiagnosticDialog(const WString& title, const WString& text, const WString& arabicText, const std::string& code) {
    ChildBrowserSweep();
    const std::string message = WideToUtf8(title) + "\n" + WideToUtf8(DiagnosticFallbackText(text, arabicText, code)) + "\n";
    std::fwrite(message.data(), 1, message.size(), stderr);
    HardExit();
}
