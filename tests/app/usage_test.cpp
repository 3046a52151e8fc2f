// `tovani --help` and `tovani --version` as a user or a script runs them: the
// text on standard output and status 0 at once, and nothing else of the
// start-up (no display needed, no window, no files for the user, no scheme
// registration).
#include <gtest/gtest.h>

#include <filesystem>

#include "app/usage.h"
#include "tests/support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

TEST(PlayerCommandLine, OnlyHelpAndVersionAreAnswered) {
    EXPECT_EQ(InformationRequest({u"tovani", u"--version"}), "Tovani 4.9.0\n");
    EXPECT_EQ(InformationRequest({u"tovani", u"-h"}), InformationRequest({u"tovani", u"--help"}));
    for (const std::vector<WString>& start : {std::vector<WString>{u"tovani"}, {u"tovani", u"corvantiluxen:a:b:c"},
                                              {u"tovani", u"--HELP"}, {u"tovani", u"/path/to/file"}, {}}) {
        EXPECT_EQ(InformationRequest(start), std::nullopt);
    }
}

TEST(PlayerCommandLine, HelpAndVersionPrintAndEndAtOnce) {
#ifdef _WIN32
    const std::string player = TestSupport::Env("TOVANI_BIN") + "/tovani.exe";
    const wchar_t* const key = L"Software\\Classes\\corvantiluxen";
    RegDeleteTreeW(HKEY_CURRENT_USER, key);
    const auto run = [&](const std::string& option) { return TestSupport::RunProcess(player, {option}); };
#else
    const std::string player = TestSupport::Env("TOVANI_BIN") + "/tovani";
    // The sanitizer build has no Qt and so no player; the Linux build runs this.
    if (!fs::exists(player)) GTEST_SKIP() << "no player in this build";
    const fs::path home = fs::path(TestSupport::Env("TOVANI_BIN")) / ("usage-home-" + std::to_string(::getpid()));
    fs::remove_all(home);
    fs::create_directories(home);
    const std::string savedHome = TestSupport::Env("HOME");
    const std::string savedDisplay = TestSupport::Env("DISPLAY");
    setenv("HOME", home.c_str(), 1);
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
        unsetenv(name);
    }
    // A start that hangs shows as status 124.
    const auto run = [&](const std::string& option) {
        return TestSupport::RunProcess("/usr/bin/timeout", {"20", player, option});
    };
#endif
    for (const std::string option : {"--help", "-h"}) {
        const auto help = run(option);
        EXPECT_EQ(help.status, 0) << option << ": " << help.err;
        EXPECT_EQ(help.out.rfind("usage: tovani [LINK]\n", 0), 0u) << option << ": " << help.out;
        EXPECT_NE(help.out.find("--version"), std::string::npos) << help.out;
    }
    const auto version = run("--version");
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.out, "Tovani 4.9.0\n");
#ifdef _WIN32
    HKEY opened = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &opened), ERROR_SUCCESS) << "the scheme was registered";
    if (opened != nullptr) RegCloseKey(opened);
#else
    EXPECT_EQ(version.err, "");
    std::string written;
    for (const auto& item : fs::recursive_directory_iterator(home)) written += item.path().string() + "\n";
    EXPECT_EQ(written, "") << "the start-up ran";
    setenv("HOME", savedHome.c_str(), 1);
    if (!savedDisplay.empty()) setenv("DISPLAY", savedDisplay.c_str(), 1);
    fs::remove_all(home);
#endif
}
