#pragma once
// Windows only: another process's command line, as it was started.
#include <windows.h>

#include <string>

// Read from the process's parameters (the handle needs
// PROCESS_QUERY_INFORMATION and PROCESS_VM_READ); empty when it cannot be read.
std::wstring ProcessCommandLine(HANDLE process);
