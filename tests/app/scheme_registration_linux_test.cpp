#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include <unistd.h>

#include "app/scheme_registration.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

TEST(SchemeRegistration, DesktopEntryQuotesThePath) {
    const std::string entry = SchemeDesktopEntry("/opt/my apps/tovani");
    EXPECT_NE(entry.find("Exec=\"/opt/my apps/tovani\" %u\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("MimeType=x-scheme-handler/corvantiluxen;\n"), std::string::npos);
    EXPECT_NE(SchemeDesktopEntry("/a$b").find("Exec=\"/a\\\\$b\" %u"), std::string::npos);
    // A plain path stays bare: xdg-open's generic mode runs the first word as it stands.
    EXPECT_NE(SchemeDesktopEntry("/usr/lib/tovani/tovani").find("Exec=/usr/lib/tovani/tovani %u\n"), std::string::npos);
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
}

TEST(SchemeRegistration, WritesTheUsersFiles) {
    const fs::path root = fs::temp_directory_path() / ("tovani-xdg-" + std::to_string(::getpid()));
    fs::remove_all(root);
    setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    RegisterUrlScheme();
    RegisterUrlScheme(); // rewritten on every start, and stays one entry
    const std::string entry = TestSupport::ReadFile((root / "data/applications/tovani-corvantiluxen.desktop").string());
    EXPECT_NE(entry.find("Exec=" + fs::read_symlink("/proc/self/exe").string() + " %u"), std::string::npos) << entry;
    const std::string mimeapps = TestSupport::ReadFile((root / "config/mimeapps.list").string());
    EXPECT_EQ(mimeapps, "[Default Applications]\nx-scheme-handler/corvantiluxen=tovani-corvantiluxen.desktop\n");
    // What xdg-open asks for the scheme's handler.
    const auto query = TestSupport::RunProcess("/usr/bin/xdg-mime", {"query", "default", "x-scheme-handler/corvantiluxen"});
    EXPECT_EQ(query.out, "tovani-corvantiluxen.desktop\n") << query.err;
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(root);
}
