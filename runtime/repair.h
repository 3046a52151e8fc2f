#pragma once
// The clean-up before every browser start and the one-shot repair after a
// failed one: a script in a folder only the user can write waits for the
// player to end, clears its browser data, relaunches it and deletes itself.
// The player ends its own browser processes before it goes. A flag file
// makes sure the repair is tried once in a row.
#include <cstdint>
#include <filesystem>
#include <string>

#include "common/text.h"

namespace Repair {

inline constexpr char kFlagFileName[] = "webview2_repair_done.flag";
inline constexpr char kFlagContent[] = "repair_attempted\n";

// The folder of the flag and the script; empty when there is none that only
// this user can write (then nothing is repaired). Windows: the per-user
// temporary folder. Linux: the user's runtime folder when it is private,
// else a private folder of the user's own in the temporary folder.
std::filesystem::path RepairFolder();
std::filesystem::path FlagFile();   // empty without a repair folder
std::filesystem::path ScriptFile(); // .bat on Windows, .sh on Linux; empty likewise

// Creates a new file with these bytes; false when anything exists at that
// name already (a link is never followed) or the file cannot be written.
bool CreateExclusive(const std::filesystem::path& file, const std::string& bytes);

enum class Decision { StartRepair, ReportFailure };
// Flag present: delete it and report. Absent: write it and repair (also when
// it cannot be written).
Decision DecideRepair(const std::filesystem::path& flagFile);

// The Windows batch script, one entry per line (written in text mode).
std::string WindowsRepairScript(std::uint32_t processId, const WString& executable, const WString& userDataFolder);
// The same steps for a POSIX shell.
std::string ShellRepairScript(std::uint32_t processId, const std::string& executable, const std::string& userDataFolder);

// Deletes the folders beside userDataFolder named like it plus "_bad_";
// files of that name stay.
void StaleDataSweep(const std::filesystem::path& userDataFolder);

// Platform parts: browser processes left behind by a player that is gone
// (Windows: only those on this data folder, and none while another copy of
// the player runs), and the start of the script (never returns when it
// started).
void OrphanBrowserSweep(const WString& userDataFolder);
// Writes the script, tells the user, starts it and ends the process; returns
// only when the script could not be written.
void RunRepairScript(const WString& userDataFolder);

WString RepairMessage();
// Initialisation failed: repair (never returns) or return so the caller reports.
void RepairOrReport(const WString& userDataFolder);

} // namespace Repair
