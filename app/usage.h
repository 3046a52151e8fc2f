#pragma once
// The player's own options: `--help` (`-h`) and `--version` print their text
// and end the program at once, before anything else of the start-up runs.
#include <optional>
#include <string>
#include <vector>

#include "common/text.h"

// The text to print for such a command line (args[0] is the program); nothing
// for any other one, which starts the player.
std::optional<std::string> InformationRequest(const std::vector<WString>& args);
