#include "common/process_list_linux.h"

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <utility>

std::vector<ProcessEntry> ListProcesses() {
    std::vector<ProcessEntry> processes;
    DIR* dir = opendir("/proc");
    if (dir == nullptr) return processes;
    while (dirent* entry = readdir(dir)) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in("/proc/" + pid + "/stat");
        std::string stat;
        if (!std::getline(in, stat)) continue;
        // "pid (name) state ppid ...": the name may hold spaces and parentheses.
        const std::size_t open = stat.find('(');
        const std::size_t close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close + 4 >= stat.size()) continue;
        ProcessEntry process{static_cast<pid_t>(std::atol(pid.c_str())),
                             static_cast<pid_t>(std::atol(stat.c_str() + close + 4)),
                             stat.substr(open + 1, close - open - 1)};
        // "Uid:\treal\teffective\t...": the real user is who started it.
        std::ifstream status("/proc/" + pid + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("Uid:", 0) != 0) continue;
            process.uid = static_cast<uid_t>(std::strtoul(line.c_str() + 4, nullptr, 10));
            break;
        }
        processes.push_back(std::move(process));
    }
    closedir(dir);
    return processes;
}
