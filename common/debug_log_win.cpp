#include "common/debug_log.h"

#include <windows.h>

#include <string>

void DebugLog(std::string_view line) {
    const std::string text(line);
    OutputDebugStringA(text.c_str());
    OutputDebugStringA("\n");
}
