#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "app/scheme_registration.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string kEntryName = "tovani-corvantiluxen.desktop";
const std::string kDefaultLine = "x-scheme-handler/corvantiluxen=" + kEntryName;

void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

// Sets environment variables (an empty value unsets one) for the lifetime of the object.
class ScopedEnvironment {
public:
    explicit ScopedEnvironment(const std::vector<std::pair<std::string, std::string>>& values) {
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name.c_str());
            saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            if (value.empty()) unsetenv(name.c_str());
            else setenv(name.c_str(), value.c_str(), 1);
        }
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_) {
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

} // namespace

TEST(SchemeRegistration, DesktopEntryQuotesThePath) {
    const std::string entry = SchemeDesktopEntry("/opt/my apps/tovani");
    EXPECT_NE(entry.find("Exec=\"/opt/my apps/tovani\" %u\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("MimeType=x-scheme-handler/corvantiluxen;\n"), std::string::npos);
    EXPECT_NE(SchemeDesktopEntry("/a$b").find("Exec=\"/a\\\\$b\" %u"), std::string::npos);
    EXPECT_NE(SchemeDesktopEntry("/a\\b").find("Exec=\"/a\\\\\\\\b\" %u"), std::string::npos);
    // A literal percent sign is doubled, so no field code can be made of it.
    EXPECT_NE(SchemeDesktopEntry("/opt/50%u off/tovani").find("Exec=\"/opt/50%%u off/tovani\" %u\n"), std::string::npos);
    // A plain path stays bare: xdg-open's generic mode runs the first word as it stands.
    EXPECT_NE(SchemeDesktopEntry("/usr/lib/tovani/tovani").find("Exec=/usr/lib/tovani/tovani %u\n"), std::string::npos);
    // No entry at all for a path with a control character or that is not UTF-8.
    for (const std::string bad : {std::string("/opt/a\nExec=/bin/sh %u/tovani"), std::string("/opt/a\rb"), std::string("/a\tb"),
                                  std::string("/a\x7f"), std::string("/a\xc2\x85" "b"), std::string("/a\xff"),
                                  std::string("relative/tovani"), std::string()}) {
        EXPECT_EQ(SchemeDesktopEntry(bad), "") << bad;
    }
    // Read back: the program of an entry of ours, and nothing for any other text.
    for (const std::string path : {"/usr/bin/tovani", "/opt/my apps/tovani", "/w \"e\" $x `y` \\ 5% 'q'/tovani"}) {
        EXPECT_EQ(SchemeEntryProgram(SchemeDesktopEntry(path)), path);
    }
    std::string injected = SchemeDesktopEntry("/opt/a/tovani");
    injected.insert(injected.find("Icon="), "Exec=/bin/planted %u\n");
    EXPECT_EQ(SchemeEntryProgram(injected), std::nullopt);
    EXPECT_EQ(SchemeEntryProgram("[Desktop Entry]\nExec=\"/a\" %u\n"), std::nullopt);
}

// What GIO (the desktop's launcher) runs from the entry we write: the very
// program, whatever its folder's name holds, with the link as its argument.
TEST(SchemeRegistration, TheDesktopsLauncherRunsTheProgramAsWritten) {
    const fs::path root = fs::path(TestSupport::Env("TOVANI_BIN")) / ("gio-entry-" + std::to_string(::getpid()));
    fs::remove_all(root);
    const fs::path record = root / "record";
    for (const std::string folder : {"my apps", "we\"ird $HOME `id` \\ 'q'"}) {
        const fs::path program = root / folder / "tovani";
        WriteText(program, "#!/bin/sh\nprintf '%s\\n%s\\n' \"$0\" \"$1\" > '" + record.string() + "'\n");
        fs::permissions(program, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
        const fs::path entry = root / "applications" / kEntryName;
        WriteText(entry, SchemeDesktopEntry(program.string()));
        fs::remove(record);
        const auto launched = TestSupport::RunProcess("/usr/bin/gio", {"launch", entry.string(), "corvantiluxen:a:b"});
        EXPECT_EQ(launched.status, 0) << folder << ": " << launched.err;
        for (int i = 0; i < 50 && TestSupport::ReadFile(record.string()).empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_EQ(TestSupport::ReadFile(record.string()), program.string() + "\ncorvantiluxen:a:b\n") << folder;
    }
    fs::remove_all(root);
}

TEST(SchemeRegistration, DefaultHandlerMergedIntoMimeapps) {
    EXPECT_EQ(WithDefaultSchemeHandler("", "t.desktop"),
              "[Default Applications]\nx-scheme-handler/corvantiluxen=t.desktop\n");
    const std::string existing = "[Added Associations]\ntext/plain=a.desktop\n\n[Default Applications]\n"
                                 "x-scheme-handler/corvantiluxen=old.desktop\ntext/html=b.desktop\n";
    const std::string merged = WithDefaultSchemeHandler(existing, "t.desktop");
    EXPECT_EQ(merged, "[Added Associations]\ntext/plain=a.desktop\n\n[Default Applications]\n"
                      "x-scheme-handler/corvantiluxen=t.desktop\ntext/html=b.desktop\n");
    EXPECT_EQ(WithDefaultSchemeHandler(merged, "t.desktop"), merged);
    // Only our own default is taken away; another handler the user chose stays.
    EXPECT_EQ(WithoutDefaultSchemeHandler(merged, "t.desktop"),
              "[Added Associations]\ntext/plain=a.desktop\n\n[Default Applications]\ntext/html=b.desktop\n");
    EXPECT_EQ(WithoutDefaultSchemeHandler(merged, "other.desktop"), merged);
}

TEST(SchemeRegistration, WritesTheUsersFiles) {
    if (!NobodyElseCanReplace(fs::read_symlink("/proc/self/exe").string()))
        GTEST_SKIP() << "the build tree lies under a folder others can write: nothing of it may register";
    const fs::path root = fs::temp_directory_path() / ("tovani-xdg-" + std::to_string(::getpid()));
    fs::remove_all(root);
    const ScopedEnvironment environment({{"XDG_DATA_HOME", (root / "data").string()},
                                         {"XDG_CONFIG_HOME", (root / "config").string()},
                                         {"XDG_DATA_DIRS", (root / "system").string()}});
    RegisterUrlScheme();
    RegisterUrlScheme(); // rewritten on every start, and stays one entry
    const fs::path entryPath = root / "data/applications" / kEntryName;
    const std::string entry = TestSupport::ReadFile(entryPath.string());
    EXPECT_NE(entry.find("Exec=" + fs::read_symlink("/proc/self/exe").string() + " %u"), std::string::npos) << entry;
    EXPECT_EQ(fs::status(entryPath).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    const std::string mimeapps = TestSupport::ReadFile((root / "config/mimeapps.list").string());
    EXPECT_EQ(mimeapps, "[Default Applications]\n" + kDefaultLine + "\n");
    // What xdg-open asks for the scheme's handler.
    const auto query = TestSupport::RunProcess("/usr/bin/xdg-mime", {"query", "default", "x-scheme-handler/corvantiluxen"});
    EXPECT_EQ(query.out, kEntryName + "\n") << query.err;

    // A mimeapps.list kept elsewhere (dotfiles) and linked, saved with CRLF
    // line ends, holding the user's other handler: the link stays a link, its
    // file gets our line once and keeps the user's, in one group, with its
    // own line ends. A link to nowhere is left alone.
    const fs::path dotfiles = root / "dotfiles/mimeapps.list";
    fs::create_directories(dotfiles.parent_path());
    fs::remove(root / "config/mimeapps.list");
    std::ofstream(dotfiles, std::ios::binary) << "[Default Applications]\r\ntext/html=firefox.desktop\r\n";
    fs::create_symlink(dotfiles, root / "config/mimeapps.list");
    RegisterUrlScheme();
    EXPECT_TRUE(fs::is_symlink(root / "config/mimeapps.list"));
    EXPECT_EQ(TestSupport::ReadFile(dotfiles.string()),
              "[Default Applications]\r\n" + kDefaultLine + "\r\ntext/html=firefox.desktop\r\n");
    fs::remove(dotfiles);
    RegisterUrlScheme();
    EXPECT_TRUE(fs::is_symlink(root / "config/mimeapps.list"));
    EXPECT_FALSE(fs::exists(dotfiles));
    fs::remove_all(root);
}

// A mimeapps.list the user cannot read (root's, left by a sudo in the
// user's folder), and another user's file a link leads to: the registration
// still writes the user's entry but leaves both files as they were, never
// putting a file of its own in their place.
TEST(SchemeRegistration, AMimeappsListThatCannotBeReadIsLeftWhole) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to make a file its user cannot read";
    if (!NobodyElseCanReplace(fs::read_symlink("/proc/self/exe").string()))
        GTEST_SKIP() << "the build tree lies under a folder others can write: nothing of it may register";
    const uid_t user = 65534;
    const fs::path root = fs::temp_directory_path() / ("tovani-xdg-root-" + std::to_string(::getpid()));
    fs::remove_all(root);
    const std::string handlers = "[Default Applications]\ntext/html=firefox.desktop\n";
    for (const char* folder : {"a/config", "a/data", "b/config", "b/data"}) {
        fs::create_directories(root / folder);
        ASSERT_EQ(chown((root / folder).c_str(), user, user), 0);
        ASSERT_EQ(chown((root / folder).parent_path().c_str(), user, user), 0);
    }
    // a: root's own file, readable by root alone, in the user's folder.
    WriteText(root / "a/config/mimeapps.list", handlers);
    fs::permissions(root / "a/config/mimeapps.list", fs::perms::owner_read | fs::perms::owner_write);
    // b: a link to root's file, which the user may read but is not theirs.
    WriteText(root / "theirs.list", handlers);
    fs::create_symlink(root / "theirs.list", root / "b/config/mimeapps.list");

    for (const char* home : {"a", "b"}) {
        const pid_t child = fork();
        if (child == 0) {
            if (setgid(user) != 0 || setuid(user) != 0) _exit(126);
            setenv("XDG_DATA_HOME", (root / home / "data").c_str(), 1);
            setenv("XDG_CONFIG_HOME", (root / home / "config").c_str(), 1);
            setenv("XDG_DATA_DIRS", (root / "system").c_str(), 1);
            RegisterUrlScheme();
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << home;
        EXPECT_TRUE(fs::exists(root / home / "data/applications" / kEntryName)) << home << ": registration did not run";
    }
    struct stat info {};
    ASSERT_EQ(lstat((root / "a/config/mimeapps.list").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u) << "root's mimeapps.list was replaced";
    EXPECT_EQ(TestSupport::ReadFile((root / "a/config/mimeapps.list").string()), handlers);
    EXPECT_TRUE(fs::is_symlink(root / "b/config/mimeapps.list"));
    EXPECT_EQ(TestSupport::ReadFile((root / "theirs.list").string()), handlers);
    fs::remove_all(root);
}

// The registration as the program's start makes it: copies of the built
// player started with a throwaway home and a system data folder of their own.
// A program that others could replace, or whose folder name would write lines
// of its own into the entry, is never registered; an entry whose program is
// gone is taken away; a handler installed for the system is not shadowed.
TEST(SchemeRegistration, TheProgramRegistersOnlyWhatNobodyElseCanReplace) {
    // The sanitizer build has no Qt and so no player; the Linux build runs this.
    if (!fs::exists(fs::path(TestSupport::Env("TOVANI_BIN")) / "tovani")) GTEST_SKIP() << "no player in this build";
    if (!NobodyElseCanReplace((fs::path(TestSupport::Env("TOVANI_BIN")) / "tovani").string()))
        GTEST_SKIP() << "the build tree lies under a folder others can write: nothing of it may register";
    const fs::path root = fs::path(TestSupport::Env("TOVANI_BIN")) / ("registration-" + std::to_string(::getpid()));
    const fs::path shared = fs::path("/tmp") / ("tovani-registration-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::remove_all(shared);
    // A home whose path needs quotes: the entry then names the program itself, not a plain link to it.
    const fs::path home = root / "home dir";
    const fs::path system = root / "system";
    const fs::path entry = home / ".local/share/applications" / kEntryName;
    const fs::path mimeapps = home / ".config/mimeapps.list";
    fs::create_directories(system);

    const auto install = [](const fs::path& at) {
        fs::create_directories(at.parent_path());
        std::error_code ec;
        fs::create_hard_link(fs::path(TestSupport::Env("TOVANI_BIN")) / "tovani", at, ec);
        if (ec) fs::copy_file(fs::path(TestSupport::Env("TOVANI_BIN")) / "tovani", at);
        return at;
    };
    const auto start = [&](const fs::path& program) {
        const ScopedEnvironment environment({{"HOME", home.string()},
                                             {"XDG_DATA_HOME", ""},
                                             {"XDG_CONFIG_HOME", ""},
                                             {"XDG_CACHE_HOME", ""},
                                             {"XDG_DATA_DIRS", system.string()},
                                             {"DISPLAY", ""}});
        // A damaged link: the start runs up to the link's rejection, which ends it at once without a display.
        const auto run = TestSupport::RunProcess(program.string(), {"corvantiluxen:a:b"});
        EXPECT_NE(run.err.find("Link Error"), std::string::npos) << program << ": " << run.err;
    };
    const auto entryText = [&] { return TestSupport::ReadFile(entry.string()); };

    const fs::path injected = install(root / "line\nExec=/bin/touch planted %u" / "tovani");
    start(injected);
    EXPECT_FALSE(fs::exists(entry)) << entryText();
    EXPECT_EQ(TestSupport::ReadFile(mimeapps.string()).find(kDefaultLine), std::string::npos);

    // Under the shared temporary folder: sticky, but a program there can be
    // planted once its folder is gone.
    const fs::path underTmp = install(shared / "tovani");
    start(underTmp);
    EXPECT_FALSE(fs::exists(entry)) << entryText();

    const fs::path safe = install(root / "safe" / "tovani");
    start(safe);
    EXPECT_EQ(entryText(), SchemeDesktopEntry(safe.string()));
    EXPECT_NE(TestSupport::ReadFile(mimeapps.string()).find(kDefaultLine), std::string::npos);

    // That program is gone: the next start, of a copy that may not register, takes its entry away.
    fs::remove(safe);
    start(underTmp);
    EXPECT_FALSE(fs::exists(entry)) << entryText();
    EXPECT_EQ(TestSupport::ReadFile(mimeapps.string()).find(kDefaultLine), std::string::npos);

    // The package's handler is installed for the system: the user's entry,
    // which would shadow it and outlive it, goes and is not written again.
    install(safe);
    start(safe);
    ASSERT_TRUE(fs::exists(entry));
    WriteText(system / "applications" / kEntryName, SchemeDesktopEntry("/usr/bin/tovani"));
    start(safe);
    EXPECT_FALSE(fs::exists(entry)) << entryText();

    fs::remove_all(root);
    fs::remove_all(shared);
}
