#pragma once
// Windows backend only: the repair with its message owned by the browser's window.
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/text.h"

namespace Repair {

// As RepairOrReport, the "Repairing..." box owned by owner.
void RepairOrReport(const WString& userDataFolder, HWND owner);

// The script's bytes as cmd reads them: in the console's code page when every
// character has a place in it, else in UTF-8 after a switch to that code page.
std::string EncodeBatchScript(const WString& script, unsigned consoleCodePage);

// Ends the browser processes (msedgewebview2.exe, msedge.exe) that belong to
// this player, with everything they started: those below this process and
// those whose command line names its browser data folder. The user's own
// browser and other programs' web views stay. The ids ended.
std::vector<DWORD> EndOwnBrowserProcesses(const WString& userDataFolder);

// How cmd (the system's, by full path) is told to run the script, which is
// named relative to the folder cmd starts in.
std::wstring RepairCommandLine(const std::wstring& cmd, const std::wstring& scriptName);
// Starts cmd from the system folder on the script, in the script's folder.
bool StartRepairScript(const std::filesystem::path& script);

} // namespace Repair
