#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

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
    Repair::StaleDataSweep(data);
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
}

#ifndef _WIN32
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
