#include "common/debug_log.h"

#include <cstdio>

void DebugLog(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fwrite("\n", 1, 1, stderr);
    std::fflush(stderr);
}
