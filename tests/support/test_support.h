#pragma once
// Helpers shared by the test executables of both builds.
#include <string>
#include <vector>

#include "common/text.h"

namespace TestSupport {

// An environment variable, or "" when unset.
std::string Env(const char* name);
// The profile's envelope key (unmasked), for sealing test links.
std::string ProfileKey();
// A link "corvantiluxen:" + the three sealed parts.
WString SealLink(const std::string& pass, const std::string& content, const std::string& domain);
// The built tovani-tool of this build (folder from TOVANI_BIN).
std::string ToolPath();
// Reads a whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);

// Runs a program with arguments (no shell), capturing standard output and
// standard error; returns its exit status (-1 when it could not start).
struct ProcessResult {
    int status = -1;
    std::string out;
    std::string err;
};
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args);

} // namespace TestSupport
