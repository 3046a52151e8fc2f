#include "runtime/repair.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace Repair {

std::filesystem::path ScriptFile() { return TempFolder() / "webview2_repair.sh"; }

namespace {
bool ReadParent(const std::string& pid, pid_t& parent, std::string& name) {
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

// A browser helper whose player has ended is adopted by init (or has no
// living parent); one with a living parent belongs to a running program.
void OrphanBrowserSweep() {
    DIR* dir = opendir("/proc");
    if (dir == nullptr) return;
    while (dirent* entry = readdir(dir)) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        pid_t parent = 0;
        std::string name;
        if (!ReadParent(pid, parent, name) || name != "QtWebEngineProc") continue;
        const bool parentGone = parent <= 1 || kill(parent, 0) != 0;
        if (parentGone) kill(static_cast<pid_t>(std::atol(pid.c_str())), SIGKILL);
    }
    closedir(dir);
}

} // namespace Repair
