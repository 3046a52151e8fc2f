#pragma once
#include <string_view>

// One ASCII line to the debug output (the debugger on Windows, standard error
// on Linux), followed by a separate line feed. No file, no levels.
void DebugLog(std::string_view line);
