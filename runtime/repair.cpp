#include "runtime/repair.h"

#include <system_error>

namespace Repair {

namespace fs = std::filesystem;

fs::path FlagFile() {
    const fs::path folder = RepairFolder();
    return folder.empty() ? fs::path() : folder / kFlagFileName;
}

Decision DecideRepair(const fs::path& flagFile) {
    if (flagFile.empty()) return Decision::StartRepair;
    std::error_code ec;
    // Whatever stands at the name counts (a link is not followed).
    if (fs::exists(fs::symlink_status(flagFile, ec))) {
        fs::remove(flagFile, ec);
        return Decision::ReportFailure;
    }
#ifdef _WIN32
    CreateExclusive(flagFile, "repair_attempted\r\n"); // as text mode writes it
#else
    CreateExclusive(flagFile, kFlagContent);
#endif
    return Decision::StartRepair;
}

std::string WindowsRepairScript(std::uint32_t processId, const WString& executable, const WString& userDataFolder) {
    const std::string pid = std::to_string(processId);
    const std::string rule(44, '=');
    const std::string lines[] = {
        "@echo off",
        "title WebView2 Repair",
        "echo " + rule,
        "echo   WebView2 Repair Tool",
        "echo " + rule,
        "echo.",
        "echo Waiting for application to close...",
        ":waitloop",
        "tasklist /FI \"PID eq " + pid + "\" 2>NUL | find \"" + pid + "\" >NUL",
        "if not errorlevel 1 (",
        "    timeout /t 1 /nobreak >NUL",
        "    goto waitloop",
        ")",
        "echo Application closed.",
        "echo.",
        "echo [1/4] Killing WebView2 processes...",
        // The user's own browsers and other programs' web views are none of
        // the repair's business: the player ends exactly its own.
        "rem The player ended its own browser processes before it closed;",
        "rem the user's other browsers and web views are left alone.",
        "timeout /t 2 /nobreak >NUL",
        "echo [2/4] Deleting WebView2 user cache...",
        // Only the player's own data: the shared Edge folders belong to other programs too.
        "rd /s /q \"" + WideToUtf8(userDataFolder) + "\\EBWebView\\Default\\Cache\" 2>NUL",
        "echo [3/4] Deleting Edge shared data...",
        "rd /s /q \"" + WideToUtf8(userDataFolder) + "\\EBWebView\\Crashpad\" 2>NUL",
        "echo [4/4] Deleting app data...",
        "rd /s /q \"" + WideToUtf8(userDataFolder) + "\" 2>NUL",
        "echo.",
        "echo " + rule,
        "echo   Repair complete! Relaunching app...",
        "echo " + rule,
        "timeout /t 2 /nobreak >NUL",
        "start \"\" \"" + WideToUtf8(executable) + "\"",
        "del \"%~f0\"",
    };
    std::string script;
    for (const std::string& line : lines) script += line + "\n";
    return script;
}

namespace {
// Single-quoted for the shell: a quote inside becomes '\''.
std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out.push_back(c);
        }
    }
    return out + "'";
}
} // namespace

std::string ShellRepairScript(std::uint32_t processId, const std::string& executable, const std::string& userDataFolder) {
    const std::string rule(44, '=');
    const std::string pid = std::to_string(processId);
    const std::string lines[] = {
        "#!/bin/sh",
        "echo " + rule,
        "echo '  WebView2 Repair Tool'",
        "echo " + rule,
        "echo 'Waiting for application to close...'",
        "while kill -0 " + pid + " 2>/dev/null; do sleep 1; done",
        "echo 'Application closed.'",
        "echo '[1/4] Killing WebView2 processes...'",
        // The player ended its own browser helpers before it closed; those
        // of other programs are none of its business.
        "echo '      (ended by the player)'",
        "sleep 2",
        "echo '[2/4] Deleting WebView2 user cache...'",
        "rm -rf " + ShellQuote(userDataFolder + "/Cache") + " 2>/dev/null",
        "echo '[3/4] Deleting Edge shared data...'",
        "echo '      (none: the browser runtime shares no data with other programs here)'",
        "echo '[4/4] Deleting app data...'",
        "rm -rf " + ShellQuote(userDataFolder) + " 2>/dev/null",
        "echo " + rule,
        "echo '  Repair complete! Relaunching app...'",
        "echo " + rule,
        "sleep 2",
        "nohup " + ShellQuote(executable) + " >/dev/null 2>&1 &",
        "rm -f \"$0\"",
    };
    std::string script;
    for (const std::string& line : lines) script += line + "\n";
    return script;
}

namespace {
// Names compare as the file system does: Windows ignores case, Linux does not.
bool IsStaleCopyName(const fs::path& name, const fs::path& leaf) {
#ifdef _WIN32
    const WString text = ToLowerCopy(name.u16string());
    const WString prefix = ToLowerCopy(leaf.u16string() + u"_bad_");
#else
    const std::string text = name.string();
    const std::string prefix = leaf.string() + "_bad_";
#endif
    return text.compare(0, prefix.size(), prefix) == 0;
}
} // namespace

void StaleDataSweep(const fs::path& userDataFolder) {
    const fs::path parent = userDataFolder.parent_path();
    const fs::path leaf = userDataFolder.filename();
    std::error_code ec;
    for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
        if (!IsStaleCopyName(it->path().filename(), leaf)) continue;
        std::error_code typeError;
        if (!it->is_directory(typeError) || it->is_symlink(typeError)) continue;
        std::error_code removeError;
        fs::remove_all(it->path(), removeError);
    }
}

WString RepairMessage() {
    return u"WebView2 needs repair. The application will close and clean up automatically.\n"
           u"It will relaunch after cleanup is complete.";
}

} // namespace Repair
