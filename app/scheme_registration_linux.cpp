// Linux: a freedesktop desktop entry for the scheme, made the user's default
// handler in mimeapps.list, so xdg-open and browsers hand links to us.
#include "app/scheme_registration.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/app_constants.h"

namespace {

namespace fs = std::filesystem;

fs::path XdgDir(const char* variable, const char* fallbackUnderHome) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/') return value;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') return {};
    return fs::path(home) / fallbackUnderHome;
}

std::string ExecutablePath() {
    std::error_code ec;
    const fs::path path = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : path.string();
}

// Writes through a temporary file so a reader never sees half a file.
bool WriteFileAtomically(const fs::path& path, const std::string& content) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    const fs::path temporary = path.string() + ".tmp-" + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << content;
        if (!out.good()) return false;
    }
    fs::rename(temporary, path, ec);
    if (ec) fs::remove(temporary, ec);
    return !ec;
}

// A path with spaces or other special characters needs quotes in the entry,
// which xdg-open's generic mode cannot run: name a plain link to it instead.
std::string ExecPathFor(const std::string& executable, const fs::path& dataHome) {
    if (IsBareExecPath(executable)) return executable;
    const fs::path link = dataHome / WideToUtf8(ToLowerCopy(ApplicationConstants.productName)) / "bin" /
                          WideToUtf8(ToLowerCopy(ApplicationConstants.productName));
    if (!IsBareExecPath(link.string())) return executable;
    std::error_code ec;
    fs::create_directories(link.parent_path(), ec);
    const fs::path temporary = link.string() + ".tmp-" + std::to_string(getpid());
    fs::remove(temporary, ec);
    fs::create_symlink(executable, temporary, ec);
    if (!ec) fs::rename(temporary, link, ec);
    if (ec) {
        fs::remove(temporary, ec);
        return executable;
    }
    return link.string();
}

} // namespace

void RegisterUrlScheme() {
    const std::string executable = ExecutablePath();
    const fs::path applications = XdgDir("XDG_DATA_HOME", ".local/share") / "applications";
    const fs::path config = XdgDir("XDG_CONFIG_HOME", ".config");
    if (executable.empty() || applications.empty() || config.empty()) return;

    const std::string desktopFile = WideToUtf8(ToLowerCopy(ApplicationConstants.productName)) + "-" +
                                    WideToUtf8(ApplicationConstants.schemeWord) + ".desktop";
    const fs::path dataHome = applications.parent_path();
    if (!WriteFileAtomically(applications / desktopFile, SchemeDesktopEntry(ExecPathFor(executable, dataHome)))) return;

    const fs::path mimeapps = config / "mimeapps.list";
    std::string current;
    {
        std::ifstream in(mimeapps, std::ios::binary);
        std::ostringstream buffer;
        buffer << in.rdbuf();
        current = buffer.str();
    }
    const std::string updated = WithDefaultSchemeHandler(current, desktopFile);
    if (updated != current) WriteFileAtomically(mimeapps, updated);
}
