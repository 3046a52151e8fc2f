#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "runtime/repair.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class TempTree : public ::testing::Test {
protected:
    fs::path root;
    void SetUp() override {
        root = fs::temp_directory_path() / ("tovani-repair-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(root);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    void Touch(const fs::path& p, const std::string& content = "x") {
        fs::create_directories(p.parent_path());
        std::ofstream(p) << content;
    }
};

} // namespace

TEST_F(TempTree, RepairIsTriedOnceInARow) {
    const fs::path flag = root / Repair::kFlagFileName;
    EXPECT_EQ(Repair::DecideRepair(flag), Repair::Decision::StartRepair);
#ifdef _WIN32
    EXPECT_EQ(TestSupport::ReadFile(flag.string()), "repair_attempted\r\n"); // written in text mode
#else
    EXPECT_EQ(TestSupport::ReadFile(flag.string()), "repair_attempted\n");
#endif
    EXPECT_EQ(Repair::DecideRepair(flag), Repair::Decision::ReportFailure);
    EXPECT_FALSE(fs::exists(flag));
    EXPECT_EQ(Repair::DecideRepair(flag), Repair::Decision::StartRepair) << "after a report the next failure repairs again";
    // A flag that cannot be written does not stop the repair.
    EXPECT_EQ(Repair::DecideRepair(root / "missing-folder" / "flag"), Repair::Decision::StartRepair);
}

TEST_F(TempTree, StaleCopiesOfTheDataFolderAreRemovedAndNothingElse) {
    const fs::path data = root / "WebView2Data";
    Touch(data / "keep");
    Touch(root / "WebView2Data_bad_1" / "inner" / "file");
    Touch(root / "WebView2Data_bad_" / "file");
    Touch(root / "WebView2Data_bad_file");         // a file of that name stays
    Touch(root / "WebView2Data_other" / "file");   // another name stays
    Touch(root / "XWebView2Data_bad_1" / "file");  // prefix must match from the start
    Touch(root / "webview2data_BAD_2" / "file");   // another case of the same name
    Repair::StaleDataSweep(data);
#ifdef _WIN32
    EXPECT_FALSE(fs::exists(root / "webview2data_BAD_2")); // the file system ignores case
#else
    EXPECT_TRUE(fs::exists(root / "webview2data_BAD_2" / "file")); // and this one does not
#endif
    EXPECT_TRUE(fs::exists(data / "keep"));
    EXPECT_FALSE(fs::exists(root / "WebView2Data_bad_1"));
    EXPECT_FALSE(fs::exists(root / "WebView2Data_bad_"));
    EXPECT_TRUE(fs::exists(root / "WebView2Data_bad_file"));
    EXPECT_TRUE(fs::exists(root / "WebView2Data_other" / "file"));
    EXPECT_TRUE(fs::exists(root / "XWebView2Data_bad_1" / "file"));
    Repair::StaleDataSweep(root / "no-such-folder" / "WebView2Data"); // nothing to do, no error
}

TEST(RepairScript, WindowsBatchLines) {
    const auto lines = Lines(Repair::WindowsRepairScript(4012, u"C:\\Apps\\Tovani.exe", u"C:\\Users\\a\\AppData\\Local\\Tovani\\WebView2Data"));
    ASSERT_EQ(lines.size(), 32u);
    EXPECT_EQ(lines[0], "@echo off");
    EXPECT_EQ(lines[2], "echo " + std::string(44, '='));
    EXPECT_EQ(lines[8], "tasklist /FI \"PID eq 4012\" 2>NUL | find \"4012\" >NUL");
    EXPECT_EQ(lines[10], "    timeout /t 1 /nobreak >NUL");
    EXPECT_EQ(lines[24], "rd /s /q \"C:\\Users\\a\\AppData\\Local\\Tovani\\WebView2Data\" 2>NUL");
    EXPECT_EQ(lines[30], "start \"\" \"C:\\Apps\\Tovani.exe\"");
    EXPECT_EQ(lines[31], "del \"%~f0\"");
    // No browser of the user's is ended by name: the player ended its own.
    EXPECT_EQ(lines[16].rfind("rem ", 0), 0u);
    EXPECT_EQ(lines[17].rfind("rem ", 0), 0u);
    for (const std::string& line : lines) EXPECT_EQ(line.find("taskkill"), std::string::npos) << line;
}

#ifndef _WIN32
namespace {
struct EnvironmentOverride {
    EnvironmentOverride(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old;
        if (value.empty()) {
            unsetenv(name);
        } else {
            setenv(name, value.c_str(), 1);
        }
    }
    ~EnvironmentOverride() {
        if (saved_) {
            setenv(name_, saved_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    const char* name_;
    std::optional<std::string> saved_;
};

mode_t ModeOf(const fs::path& path) {
    struct stat info {};
    lstat(path.c_str(), &info);
    return info.st_mode & 07777;
}
} // namespace

// The flag and the script live where only this user can write: the runtime
// folder when it is private, else a private folder of the user's own in the
// temporary folder; one planted there by someone else is refused.
TEST_F(TempTree, TheRepairFolderIsOnlyTheUsersOwn) {
    const fs::path runtime = root / "run";
    fs::create_directory(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    const fs::path shared = root / "tmp";
    fs::create_directory(shared);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    const fs::path own = shared / ("tovani-" + std::to_string(geteuid()));
    EnvironmentOverride tmp("TMPDIR", shared.string());
    {
        EnvironmentOverride run("XDG_RUNTIME_DIR", runtime.string());
        EXPECT_EQ(Repair::RepairFolder(), runtime);
        EXPECT_EQ(Repair::FlagFile(), runtime / Repair::kFlagFileName);
        EXPECT_EQ(Repair::ScriptFile(), runtime / "webview2_repair.sh");
        fs::permissions(runtime, fs::perms::group_read | fs::perms::group_exec, fs::perm_options::add);
        EXPECT_EQ(Repair::RepairFolder(), own) << "a runtime folder others can read is not used";
    }
    EnvironmentOverride run("XDG_RUNTIME_DIR", "");
    EXPECT_EQ(Repair::RepairFolder(), own);
    EXPECT_EQ(ModeOf(own), 0700u);
    fs::remove(own);
    // Someone else's folder, or a link, under the name: no repair folder at all.
    fs::create_directory_symlink(runtime, own);
    EXPECT_EQ(Repair::RepairFolder(), fs::path());
    EXPECT_EQ(Repair::FlagFile(), fs::path());
    EXPECT_EQ(Repair::ScriptFile(), fs::path());
    fs::remove(own);
    fs::create_directory(own);
    ASSERT_EQ(chown(own.c_str(), 65534, 65534), 0);
    EXPECT_EQ(Repair::RepairFolder(), fs::path());
    fs::remove(own);
    fs::create_directory(own);
    ASSERT_EQ(chmod(own.c_str(), 0777), 0);
    EXPECT_EQ(Repair::RepairFolder(), fs::path()) << "one others can write into";
    // No place for the flag: the failure still repairs (and finds no place
    // for the script, so it is reported).
    EXPECT_EQ(Repair::DecideRepair(Repair::FlagFile()), Repair::Decision::StartRepair);
}

TEST_F(TempTree, FilesAreCreatedNewAndNeverThroughALink) {
    const fs::path target = root / "target";
    Touch(target, "theirs");
    const fs::path link = root / "link";
    fs::create_symlink(target, link);
    EXPECT_FALSE(Repair::CreateExclusive(link, "mine"));
    EXPECT_FALSE(Repair::CreateExclusive(target, "mine"));
    EXPECT_EQ(TestSupport::ReadFile(target.string()), "theirs");
    fs::create_symlink(root / "dangling", root / "dangling-link");
    EXPECT_FALSE(Repair::CreateExclusive(root / "dangling-link", "mine"));
    EXPECT_FALSE(fs::exists(root / "dangling"));
    EXPECT_TRUE(Repair::CreateExclusive(root / "new", "mine"));
    EXPECT_EQ(TestSupport::ReadFile((root / "new").string()), "mine");
    EXPECT_EQ(ModeOf(root / "new"), 0600u);
    // A flag that is a link counts as present and goes; its target stays.
    EXPECT_EQ(Repair::DecideRepair(link), Repair::Decision::ReportFailure);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    EXPECT_EQ(TestSupport::ReadFile(target.string()), "theirs");
}

// The shell script for real: it waits for the player, clears only the
// player's data, relaunches the program and deletes itself.
TEST_F(TempTree, ShellScriptClearsDataRelaunchesAndDeletesItself) {
    const fs::path data = root / "Tovani" / "WebView2Data";
    Touch(data / "Default" / "Cookies");
    Touch(root / "Tovani" / "other-settings");
    Touch(root / "unrelated" / "file");
    const fs::path marker = root / "relaunched";
    const fs::path program = root / "fake-player";
    Touch(program, "#!/bin/sh\necho \"args:$#\" > '" + marker.string() + "'\n");
    fs::permissions(program, fs::perms::owner_all);

    // A process standing for the running player: the script waits for it.
    auto sleeper = TestSupport::RunProcess("/bin/sh", {"-c", "sleep 3 >/dev/null 2>&1 & echo $!"});
    const std::uint32_t pid = static_cast<std::uint32_t>(std::stoul(sleeper.out));
    const fs::path script = root / "webview2_repair.sh";
    Touch(script, Repair::ShellRepairScript(pid, program.string(), data.string()));

    const auto started = std::chrono::steady_clock::now();
    const auto run = TestSupport::RunProcess("/bin/sh", {script.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    // Three seconds of waiting for the player, then its own two pauses.
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(6000)) << "did not wait for the player";
    for (int i = 0; i < 50 && !fs::exists(marker); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(TestSupport::ReadFile(marker.string()), "args:0\n") << "relaunched with no arguments";
    EXPECT_FALSE(fs::exists(data));
    EXPECT_TRUE(fs::exists(root / "Tovani" / "other-settings"));
    EXPECT_TRUE(fs::exists(root / "unrelated" / "file"));
    EXPECT_FALSE(fs::exists(script)) << "the script deletes itself";
}

TEST_F(TempTree, ShellScriptQuotesHostilePaths) {
    const fs::path data = root / "it's $(touch pwned) data";
    Touch(data / "x");
    const std::string text = Repair::ShellRepairScript(999999, "/nonexistent/player", data.string());
    const fs::path script = root / "s.sh";
    Touch(script, text);
    TestSupport::RunProcess("/bin/sh", {script.string()});
    EXPECT_FALSE(fs::exists(data));
    EXPECT_FALSE(fs::exists("pwned"));
    EXPECT_FALSE(fs::exists(root / "pwned"));
}
#endif
