#pragma once
// Windows tests only: the stand-in browser runtime, installed into the Wine
// prefix where an installer puts the real one (per machine, stable channel),
// and its journal and page script.
#include <string>
#include <vector>

namespace TestSupport {

inline constexpr char kStandInVersion[] = "120.0.2210.91";

// Copies the stand-in library into its versioned runtime folder and records
// that folder in the registry; idempotent. Empty on success, else what failed.
std::string InstallStandInRuntime();
// The versioned runtime folder the stand-in is installed in.
std::string StandInRuntimeFolder();

// A journal and a page script of the stand-in for one test, in a fresh
// folder; the environment variables the stand-in reads point at them.
class StandInSession {
public:
    explicit StandInSession(const std::string& name, const std::string& script = {});
    ~StandInSession();
    // The journal's lines so far.
    std::vector<std::string> Journal() const;
    void SetScript(const std::string& script) const;
    std::string folder;
    std::string journalPath;
    std::string scriptPath;
};

// The FNV-1a digest under which the journal names a script text (UTF-8).
std::string StandInDigest(const std::string& utf8);

} // namespace TestSupport
