#pragma once
// Windows backend only: the repair with its message owned by the browser's window.
#include <windows.h>

#include <string>

#include "common/text.h"

namespace Repair {

// As RepairOrReport, the "Repairing..." box owned by owner.
void RepairOrReport(const WString& userDataFolder, HWND owner);

// The script's bytes as cmd reads them: in the console's code page when every
// character has a place in it, else in UTF-8 after a switch to that code page.
std::string EncodeBatchScript(const WString& script, unsigned consoleCodePage);

} // namespace Repair
