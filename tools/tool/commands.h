#pragma once
#include <string>
#include <vector>

#include "common/text.h"

// Each command prints its answer to standard output and returns the exit status.
int RunTool(const std::vector<WString>& args);
