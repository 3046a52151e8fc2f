// Linux: the repair script runs in /bin/sh, detached, after the user has
// read why the player closes.
#include <QProcess>

#include <unistd.h>

#include <cstdio>

#include "common/message_box_qt.h"
#include "diagnostics/diagnostic_dialog.h"
#include "runtime/repair.h"

namespace Repair {

void RunRepairScript(const WString& userDataFolder) {
    char executable[4096];
    const ssize_t n = readlink("/proc/self/exe", executable, sizeof executable - 1);
    if (n <= 0) return;
    const std::string program(executable, static_cast<std::size_t>(n));
    const std::filesystem::path script = ScriptFile();
    if (script.empty()) return;
    // A script left from an earlier repair sits in our private folder: ours to replace.
    unlink(script.c_str());
    if (!CreateExclusive(script, ShellRepairScript(static_cast<std::uint32_t>(getpid()), program,
                                                   WideToUtf8(userDataFolder)))) {
        return;
    }
    ShowMessageBox(RepairMessage(), u"Repairing...", MessageIcon::Information, MessageButtons::Ok);
    // Exactly this player's browser helpers, with all they started.
    ChildBrowserSweep();
    // Nothing of ours stays open in the script or the program it relaunches.
    QProcess runner;
    runner.setProgram(QStringLiteral("/bin/sh"));
    runner.setArguments({QString::fromStdString(script.string())});
    runner.setStandardInputFile(QProcess::nullDevice());
    runner.setStandardOutputFile(QProcess::nullDevice());
    runner.setStandardErrorFile(QProcess::nullDevice());
    runner.startDetached();
    std::fflush(nullptr);
    _exit(0);
}

void RepairOrReport(const WString& userDataFolder) {
    if (DecideRepair(FlagFile()) == Decision::ReportFailure) return;
    RunRepairScript(userDataFolder);
}

} // namespace Repair
