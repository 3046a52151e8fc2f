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
// A service base on the development service whose every answer is this body
// with this status: "https://127.0.0.1:47443/canned/STATUS/" and the body in
// unpadded base64url.
std::string CannedServiceBase(const std::string& body, int status = 200);
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
    // The most memory the process held at once (its peak resident set), 0
    // when the system did not tell.
    std::size_t peakMemoryBytes = 0;
};
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args);

} // namespace TestSupport
