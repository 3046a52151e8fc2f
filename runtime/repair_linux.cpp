#include "runtime/repair.h"

#include "common/process_list_linux.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace Repair {

std::filesystem::path ScriptFile() { return TempFolder() / "webview2_repair.sh"; }

// A browser helper whose player has ended is adopted by init (or has no
// living parent); one with a living parent belongs to a running program.
void OrphanBrowserSweep() {
    for (const ProcessEntry& p : ListProcesses()) {
        if (p.name != kBrowserHelperProcessName) continue;
        const bool parentGone = p.parent <= 1 || kill(p.parent, 0) != 0;
        if (parentGone) kill(p.pid, SIGKILL);
    }
}

} // namespace Repair
