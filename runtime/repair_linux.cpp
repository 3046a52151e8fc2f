#include "runtime/repair.h"

#include "common/process_list_linux.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace Repair {

namespace fs = std::filesystem;

namespace {

// A folder of this user's own, no link, that no one else may write into;
// the runtime folder must be exactly 0700, as the base directory rules ask.
bool IsPrivateFolder(const fs::path& folder, bool exactlyOwnerOnly) {
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid()) return false;
    if (exactlyOwnerOnly) return (info.st_mode & 07777) == 0700;
    return (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Others can neither rename nor replace what sits in it: not writable by
// them, or sticky (as /tmp).
bool ProtectsItsEntries(const fs::path& folder) {
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
    if (info.st_uid != 0 && info.st_uid != geteuid()) return false;
    return (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (info.st_mode & S_ISVTX) != 0;
}

fs::path BaseTemporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    if (tmp != nullptr && tmp[0] == '/') return fs::path(tmp).lexically_normal();
    return "/tmp";
}

} // namespace

fs::path RepairFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        const fs::path folder = fs::path(runtime).lexically_normal();
        if (IsPrivateFolder(folder, true) && ProtectsItsEntries(folder.parent_path())) return folder;
    }
    const fs::path base = BaseTemporaryFolder();
    const fs::path folder = base / ("tovani-" + std::to_string(geteuid()));
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
    // One made by someone else under our name is refused, not used.
    if (!ProtectsItsEntries(base) || !IsPrivateFolder(folder, false)) return {};
    return folder;
}

fs::path ScriptFile() {
    const fs::path folder = RepairFolder();
    return folder.empty() ? fs::path() : folder / "webview2_repair.sh";
}

bool CreateExclusive(const fs::path& file, const std::string& bytes) {
    if (file.empty()) return false;
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + offset, bytes.size() - offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        offset += static_cast<std::size_t>(n);
    }
    const bool complete = offset == bytes.size();
    if (close(fd) != 0 || !complete) {
        unlink(file.c_str());
        return false;
    }
    return true;
}

// A browser helper whose player has ended is adopted by init (or has no
// living parent); one with a living parent belongs to a running program. Qt
// WebEngine's helpers serve only the program that started them, never
// another player, so the data folder does not matter here. Only this
// user's own: as root, another user's helpers are none of the player's.
void OrphanBrowserSweep(const WString& /*userDataFolder*/) {
    for (const ProcessEntry& p : ListProcesses()) {
        if (p.name != kBrowserHelperProcessName || p.uid != getuid()) continue;
        const bool parentGone = p.parent <= 1 || kill(p.parent, 0) != 0;
        if (parentGone) kill(p.pid, SIGKILL);
    }
}

} // namespace Repair
