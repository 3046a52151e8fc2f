// The injected scripts run in node against a small fake DOM
// (script_harness.js): they must parse, and do in a document what the
// player relies on. Skipped where no node is installed (and in the Windows
// build, whose tests run under Wine).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/text.h"
#include "player/page_builder.h"
#include "player/page_scripts.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

std::string FindNode() {
#ifdef _WIN32
    return std::string();
#else
    if (const std::string forced = TestSupport::Env("TOVANI_NODE"); !forced.empty()) return forced;
    for (const char* candidate : {"/usr/bin/node", "/usr/local/bin/node"})
        if (fs::exists(candidate)) return candidate;
    return std::string();
#endif
}

fs::path HarnessPath() {
    const std::string source = TestSupport::Env("TOVANI_SOURCE_DIR");
    if (!source.empty()) return fs::path(source) / "tests" / "player" / "script_harness.js";
    return fs::path(__FILE__).parent_path() / "script_harness.js";
}

class PageScripts : public ::testing::Test {
protected:
    void SetUp() override {
        node_ = FindNode();
        if (node_.empty()) GTEST_SKIP() << "node is not installed";
        dir_ = fs::temp_directory_path() / ("tovani-page-scripts-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        if (!dir_.empty()) fs::remove_all(dir_, ignored);
    }

    std::string Write(const std::string& name, const WString& script) {
        const fs::path file = dir_ / name;
        std::ofstream(file, std::ios::binary) << WideToUtf8(script);
        return file.string();
    }

    ::testing::AssertionResult Node(const std::vector<std::string>& args) {
        const TestSupport::ProcessResult result = TestSupport::RunProcess(node_, args);
        if (result.status == 0) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "node exited with " << result.status << "\n" << result.out << result.err;
    }

    ::testing::AssertionResult Scenario(const std::string& scenario, const WString& script,
                                        const std::string& argument = std::string()) {
        std::vector<std::string> args{HarnessPath().string(), scenario, Write(scenario + ".js", script)};
        if (!argument.empty()) args.push_back(argument);
        return Node(args);
    }

    std::string node_;
    fs::path dir_;
};

} // namespace

TEST_F(PageScripts, EveryScriptParses) {
    const std::pair<const char*, WString> scripts[] = {
        {"loader.js", LoaderScript()},
        {"print-redirect.js", PrintRedirectScript()},
        {"watermark.js", WatermarkScript(u"line\nbreak \\ 'quote' \"double\" </script> \u2028")},
        {"print-button.js", PrintButtonScript()},
        {"navigation-bar.js", NavigationBarScript()},
        {"wrapper.js", PageScriptWrapper(u"var x = 1;")},
    };
    for (const auto& [name, script] : scripts) EXPECT_TRUE(Node({"--check", Write(name, script)})) << name;
}

TEST_F(PageScripts, LoaderCoversThePageUntilLoadOrFiveSeconds) {
    EXPECT_TRUE(Scenario("loader", LoaderScript()));
}

TEST_F(PageScripts, PrintRequestsAndShortcutsReachTheProgram) {
    EXPECT_TRUE(Scenario("printRedirect", PrintRedirectScript()));
}

TEST_F(PageScripts, WatermarkShowsItsTextLiterallyAndComesBack) {
    EXPECT_TRUE(Scenario("watermark", WatermarkScript(u"it's <b>"), "it's <b>"));
    const WString hostile = u"'; window.hacked = 1; '\n\r\\\"</script><!-- مرحبا";
    EXPECT_TRUE(Scenario("watermark", WatermarkScript(hostile), WideToUtf8(hostile)));
}

TEST_F(PageScripts, PrintButtonPostsAndComesBack) {
    EXPECT_TRUE(Scenario("printButton", PrintButtonScript()));
}

TEST_F(PageScripts, NavigationBarButtonsDraggingAndStoredPlace) {
    EXPECT_TRUE(Scenario("navigationBar", NavigationBarScript()));
}

TEST_F(PageScripts, NavigationBarStaysInsideTheWindowAndOutOfFrames) {
    EXPECT_TRUE(Scenario("navigationBarInside", NavigationBarScript()));
}

TEST_F(PageScripts, PageScriptWrapperRunsOnceTheDocumentIsReady) {
    EXPECT_TRUE(Scenario("pageScriptWrapper", PageScriptWrapper(u"window.ran = (window.ran || 0) + 1;")));
}
