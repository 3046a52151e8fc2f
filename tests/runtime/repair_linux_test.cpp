// The orphan sweep on Linux, against real processes under the browser
// helper's name: an orphaned one of this user ends, another user's stays.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "common/process_list_linux.h"
#include "runtime/repair.h"

namespace {

namespace fs = std::filesystem;

// A sleeper under the helper's name whose parent has ended (adopted by init
// or the nearest subreaper), run as `uid` when given; its pid.
pid_t StartOrphanedHelper(const fs::path& program, uid_t uid) {
    int link[2];
    if (pipe(link) != 0) return 0;
    const pid_t middle = fork();
    if (middle == 0) {
        const pid_t helper = fork();
        if (helper == 0) {
            if (uid != static_cast<uid_t>(-1) && (setgid(uid) != 0 || setuid(uid) != 0)) _exit(126);
            execl(program.c_str(), "QtWebEngineProcess", "30", static_cast<char*>(nullptr));
            _exit(127);
        }
        (void)!write(link[1], &helper, sizeof helper);
        _exit(0);
    }
    pid_t helper = 0;
    (void)!read(link[0], &helper, sizeof helper);
    close(link[0]);
    close(link[1]);
    waitpid(middle, nullptr, 0);
    return helper;
}

// Alive under the helper's name (an ended one waiting to be reaped is not).
bool Running(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return false;
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z') return false;
    for (const ProcessEntry& p : ListProcesses()) {
        if (p.pid == pid) return p.name == kBrowserHelperProcessName;
    }
    return false;
}

bool WaitUntilGone(pid_t pid) {
    for (int i = 0; i < 50 && Running(pid); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return !Running(pid);
}

} // namespace

TEST(OrphanBrowserSweep, EndsOnlyThisUsersOrphanedHelpers) {
    const fs::path folder = fs::temp_directory_path() / ("tovani-sweep-" + std::to_string(getpid()));
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    const fs::path program = folder / "QtWebEngineProcess";
    fs::copy_file("/bin/sleep", program, fs::copy_options::overwrite_existing);

    const pid_t mine = StartOrphanedHelper(program, static_cast<uid_t>(-1));
    const bool root = geteuid() == 0;
    const pid_t theirs = root ? StartOrphanedHelper(program, 65534) : 0;
    ASSERT_GT(mine, 0);
    for (int i = 0; i < 50 && (!Running(mine) || (theirs > 0 && !Running(theirs))); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(Running(mine));
    pid_t parent = 0;
    for (const ProcessEntry& p : ListProcesses()) {
        if (p.pid == mine) parent = p.parent;
    }
    if (parent > 1 && parent != getpid() && kill(parent, 0) == 0 && parent != 1) {
        // Adopted by a living subreaper: not an orphan by the sweep's rule.
        kill(mine, SIGKILL);
        if (theirs > 0) kill(theirs, SIGKILL);
        fs::remove_all(folder);
        GTEST_SKIP() << "orphans are adopted by a living subreaper (pid " << parent << ") here";
    }

    Repair::OrphanBrowserSweep(u"");
    EXPECT_TRUE(WaitUntilGone(mine)) << "this user's orphaned helper was left running";
    if (theirs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_TRUE(Running(theirs)) << "another user's helper was ended";
        kill(theirs, SIGKILL);
    }
    fs::remove_all(folder);
}
