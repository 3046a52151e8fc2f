#pragma once
// The processes of the system as /proc shows them (Linux only).
#include <sys/types.h>

#include <string>
#include <vector>

struct ProcessEntry {
    pid_t pid = 0;
    pid_t parent = 0;
    std::string name; // the kernel's command name, at most 15 characters
    uid_t uid = static_cast<uid_t>(-1); // its real user (-1 when it could not be read)
};

std::vector<ProcessEntry> ListProcesses();

// The kernel's name of Qt WebEngine's helper ("QtWebEngineProcess" cut to 15).
inline constexpr char kBrowserHelperProcessName[] = "QtWebEngineProc";
