// Linux: a freedesktop desktop entry for the scheme, made the user's default
// handler in mimeapps.list, so xdg-open and browsers hand links to us.
//
// Whatever the entry names runs on every link the user clicks, so only a
// program that no other user can replace is registered: the file and every
// folder on the way to it (links followed) belong to the user or to root and
// are writable by nobody else. A sticky shared folder is no exception: a
// program under /tmp/x can be planted there once /tmp/x is gone. A handler
// installed for the whole system (the package's entry) is left to answer,
// and an entry of ours that names a program that is gone, or that others
// could replace, is taken away.
#include "app/scheme_registration.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

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

// The folders above the user's data home, as the desktop searches them.
std::vector<fs::path> SystemDataDirs() {
    const char* value = std::getenv("XDG_DATA_DIRS");
    std::istringstream in(value != nullptr && value[0] != '\0' ? value : "/usr/local/share/:/usr/share/");
    std::vector<fs::path> dirs;
    for (std::string dir; std::getline(in, dir, ':');) {
        if (!dir.empty() && dir[0] == '/') dirs.emplace_back(dir);
    }
    return dirs;
}

std::string ExecutablePath() {
    std::error_code ec;
    const fs::path path = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : path.string();
}

std::string ReadSmallFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text(64 * 1024, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

// The group of the user-private-group scheme: the user's primary group,
// named after the user, with no other member.
bool IsPrivateGroupOf(gid_t gid, uid_t user) {
    std::vector<char> buffer(64 * 1024);
    passwd account{};
    passwd* found = nullptr;
    if (getpwuid_r(user, &account, buffer.data(), buffer.size() / 2, &found) != 0 || found == nullptr ||
        account.pw_gid != gid) {
        return false;
    }
    group entry{};
    group* groupFound = nullptr;
    char* groupBuffer = buffer.data() + buffer.size() / 2;
    if (getgrgid_r(gid, &entry, groupBuffer, buffer.size() / 2, &groupFound) != 0 || groupFound == nullptr) return false;
    if (std::string(entry.gr_name) != account.pw_name) return false;
    for (char** member = entry.gr_mem; *member != nullptr; ++member) {
        if (std::string(*member) != account.pw_name) return false;
    }
    return true;
}

bool OnlyUserCanChange(const struct stat& st, uid_t user) {
    if (st.st_uid != user && st.st_uid != 0) return false;
    if ((st.st_mode & S_IWOTH) != 0) return false;
    if ((st.st_mode & S_IWGRP) != 0) return st.st_uid == user && IsPrivateGroupOf(st.st_gid, user);
    return true;
}

void PushComponents(std::vector<std::string>& pending, const std::string& path) {
    std::vector<std::string> parts;
    std::istringstream in(path);
    for (std::string part; std::getline(in, part, '/');) {
        if (!part.empty() && part != ".") parts.push_back(part);
    }
    pending.insert(pending.end(), parts.rbegin(), parts.rend());
}

// True when path names an existing regular file that nobody but the user
// (and root) can change or replace: walked one name at a time as the system
// resolves it, every folder passed and the file itself checked.
bool OnlyUserCanReplace(const std::string& path, uid_t user) {
    if (path.empty() || path[0] != '/') return false;
    struct stat st {};
    if (lstat("/", &st) != 0 || !OnlyUserCanChange(st, user)) return false;
    std::vector<std::string> pending; // names still to walk, the next one last
    PushComponents(pending, path);
    std::string current; // the real folder reached so far; empty for the root
    int links = 0;
    while (!pending.empty()) {
        const std::string name = pending.back();
        pending.pop_back();
        if (name == "..") {
            current.resize(current.rfind('/') == std::string::npos ? 0 : current.rfind('/'));
            continue;
        }
        const std::string next = current + "/" + name;
        if (lstat(next.c_str(), &st) != 0) return false;
        if (S_ISLNK(st.st_mode)) {
            // A link is as safe as the folder holding it, already checked; its target is walked on.
            if (++links > 40) return false;
            std::string target(4096, '\0');
            const ssize_t length = readlink(next.c_str(), target.data(), target.size());
            if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return false;
            target.resize(static_cast<std::size_t>(length));
            if (target[0] == '/') current.clear();
            PushComponents(pending, target);
            continue;
        }
        if (!OnlyUserCanChange(st, user)) return false;
        if (pending.empty()) return S_ISREG(st.st_mode);
        if (!S_ISDIR(st.st_mode)) return false;
        current = next;
    }
    return false;
}

// A program the user's entry may name: a path the entry can hold, an
// existing file nobody else can replace.
bool IsSoundProgram(const std::string& program) {
    return IsRegistrablePathText(program) && OnlyUserCanReplace(program, geteuid());
}

// The running program, when it may be registered: also still the file at
// its path (a program whose file was deleted or replaced is not).
std::string RegistrableExecutable() {
    const std::string executable = ExecutablePath();
    if (!IsSoundProgram(executable)) return std::string();
    struct stat atPath {};
    struct stat running {};
    if (stat(executable.c_str(), &atPath) != 0 || stat("/proc/self/exe", &running) != 0 ||
        atPath.st_dev != running.st_dev || atPath.st_ino != running.st_ino) {
        return std::string();
    }
    return executable;
}

bool DeclaresScheme(const fs::path& entry) {
    const std::string mime = "x-scheme-handler/" + WideToUtf8(ApplicationConstants.schemeWord);
    std::istringstream in(ReadSmallFile(entry));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("MimeType=", 0) != 0) continue;
        std::istringstream types(line.substr(9));
        for (std::string type; std::getline(types, type, ';');) {
            if (type == mime) return true;
        }
    }
    return false;
}

// The names the desktop database of a folder lists for the scheme.
std::vector<std::string> CachedSchemeHandlers(const fs::path& applications) {
    const std::string key = "x-scheme-handler/" + WideToUtf8(ApplicationConstants.schemeWord) + "=";
    std::vector<std::string> names;
    std::istringstream in(ReadSmallFile(applications / "mimeinfo.cache"));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key, 0) != 0) continue;
        std::istringstream list(line.substr(key.size()));
        for (std::string name; std::getline(list, name, ';');) names.push_back(name);
    }
    return names;
}

// True when a desktop entry for the scheme is installed for every user in a
// system data folder (the package's, under the same name, or another that
// the system's desktop database names).
bool SystemHandlerInstalled(const fs::path& userApplications) {
    for (const fs::path& dir : SystemDataDirs()) {
        const fs::path applications = dir / "applications";
        std::error_code ec;
        if (fs::equivalent(applications, userApplications, ec)) continue;
        std::vector<std::string> names = CachedSchemeHandlers(applications);
        names.push_back(SchemeDesktopFileName());
        for (const std::string& name : names) {
            if (name.empty() || name.find('/') != std::string::npos) continue;
            const fs::path entry = applications / name;
            if (fs::is_regular_file(entry, ec) && DeclaresScheme(entry)) return true;
        }
    }
    return false;
}

// Writes through a fresh temporary file (never one that exists, never
// through a link) so a reader never sees half a file. A file that exists
// keeps its mode, less any write permission for others.
bool WriteFileAtomically(const fs::path& path, const std::string& content) {
    if (content.empty()) return false;
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    struct stat existing {};
    const mode_t mode = stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 0755) : 0644;
    std::string temporary = path.string() + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) return false;
    bool written = fchmod(fd, mode) == 0;
    for (std::size_t done = 0; written && done < content.size();) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n <= 0) written = false;
        else done += static_cast<std::size_t>(n);
    }
    written = close(fd) == 0 && written;
    if (written) fs::rename(temporary, path, ec);
    if (!written || ec) {
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

fs::path ProgramLinkPath(const fs::path& dataHome) {
    const std::string name = WideToUtf8(ToLowerCopy(ApplicationConstants.productName));
    return dataHome / name / "bin" / name;
}

// A path with spaces or other special characters needs quotes in the entry,
// which xdg-open's generic mode cannot run: name a plain link to it instead,
// when that link is as safe as the program.
std::string ExecPathFor(const std::string& executable, const fs::path& dataHome) {
    if (IsBareExecPath(executable)) return executable;
    const fs::path link = ProgramLinkPath(dataHome);
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
    if (!IsSoundProgram(link.string())) {
        fs::remove(link, ec);
        return executable;
    }
    return link.string();
}

// The file a mimeapps.list path stands for: itself, or, when it is a link
// (dotfiles, home-manager), the file it leads to, so the link stays a link.
// Nothing when the link leads nowhere or to a file that is not the user's
// own regular file: that one is left alone.
std::optional<fs::path> MimeappsTarget(const fs::path& mimeapps) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(mimeapps, ec))) return mimeapps;
    const fs::path target = fs::canonical(mimeapps, ec);
    if (ec) return std::nullopt;
    struct stat info {};
    if (lstat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid()) return std::nullopt;
    return target;
}

// A mimeapps.list's whole text (empty when there is none yet). Nothing when
// a file is there that cannot be read whole (one left by root after a sudo,
// a special file): writing ours in its place would lose the user's handlers.
std::optional<std::string> ReadWholeFile(const fs::path& path) {
    // Not blocking: a FIFO under the name opens at once and is refused below.
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? std::optional<std::string>(std::string()) : std::nullopt;
    std::optional<std::string> text;
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        text.emplace();
        char buffer[16 * 1024];
        for (;;) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n == 0) break;
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                text.reset();
                break;
            }
            text->append(buffer, static_cast<std::size_t>(n));
        }
    }
    close(fd);
    return text;
}

void UpdateMimeapps(const fs::path& link, const std::string& desktopFile, bool makeDefault) {
    const std::optional<fs::path> target = MimeappsTarget(link);
    if (!target) return;
    const fs::path& mimeapps = *target;
    const std::optional<std::string> current = ReadWholeFile(mimeapps);
    if (!current) return;
    const std::string updated = makeDefault ? WithDefaultSchemeHandler(*current, desktopFile)
                                            : WithoutDefaultSchemeHandler(*current, desktopFile);
    if (updated != *current) WriteFileAtomically(mimeapps, updated);
}

// Takes away the user's entry of ours, and the link it named if that is ours.
void RemoveUserEntry(const fs::path& entry, const fs::path& dataHome) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(entry, ec))) return;
    const std::optional<std::string> program = SchemeEntryProgram(ReadSmallFile(entry));
    fs::remove(entry, ec);
    if (program && fs::path(*program) == ProgramLinkPath(dataHome) && fs::is_symlink(*program, ec)) fs::remove(*program, ec);
}

} // namespace

bool NobodyElseCanReplace(const std::string& program) { return IsSoundProgram(program); }

void RegisterUrlScheme() {
    const fs::path applications = XdgDir("XDG_DATA_HOME", ".local/share") / "applications";
    const fs::path config = XdgDir("XDG_CONFIG_HOME", ".config");
    if (applications.empty() || config.empty()) return;
    const fs::path dataHome = applications.parent_path();
    const std::string desktopFile = SchemeDesktopFileName();
    const fs::path entry = applications / desktopFile;

    // An entry of the user's under the package's name would shadow the
    // package's own, and outlive it once the package is removed.
    if (SystemHandlerInstalled(applications)) {
        RemoveUserEntry(entry, dataHome);
        return;
    }

    const std::string executable = RegistrableExecutable();
    if (executable.empty()) {
        // Someone else's registration stays while it is sound.
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(entry, ec))) return;
        const std::optional<std::string> program = SchemeEntryProgram(ReadSmallFile(entry));
        if (program && IsSoundProgram(*program)) return;
        RemoveUserEntry(entry, dataHome);
        UpdateMimeapps(config / "mimeapps.list", desktopFile, false);
        return;
    }
    if (!WriteFileAtomically(entry, SchemeDesktopEntry(ExecPathFor(executable, dataHome)))) return;
    UpdateMimeapps(config / "mimeapps.list", desktopFile, true);
}
