// The start-up sequence with a scripted shell: which windows and prompts
// appear, in which order, and the exit codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "app/messages.h"
#include "app/startup.h"
#include "common/base64.h"
#include "links/player_content.h"
#include "service/http_client.h"
#include "tests/support/test_support.h"

namespace {

struct LinkDiagnostic : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class ScriptedShell : public StartupShell {
public:
    int osClass = 10;
    bool runtimeOk = true;
    bool initScreenOk = true;
    bool playerOk = true;
    MessageAnswer answer = MessageAnswer::Ok;
    std::vector<std::string> events;
    std::vector<WString> opened;
    WString lastMessage;
    bool lastRightToLeft = false;

    void ShowSplash() override { events.push_back("splash"); }
    int OperatingSystemClass() override { return osClass; }
    bool EnsureBrowserRuntime() override {
        events.push_back("runtime");
        return runtimeOk;
    }
    void RegisterUrlScheme() override { events.push_back("register"); }
    MessageAnswer ShowMessage(const WString& text, const WString& caption, MessageIcon, MessageButtons,
                              bool rightToLeft) override {
        events.push_back("message:" + WideToUtf8(caption));
        lastMessage = text;
        lastRightToLeft = rightToLeft;
        return answer;
    }
    void OpenExternal(const WString& url) override { opened.push_back(url); }
    bool CreateInitScreen() override {
        events.push_back("init");
        return initScreenOk;
    }
    void CreatePlayerFrame() override { events.push_back("frame"); }
    bool CreatePlayerWindow() override {
        events.push_back("player");
        return playerOk;
    }
    [[noreturn]] void ShowLinkDiagnostic(const std::string& reason) override { throw LinkDiagnostic(reason); }
    int RunMessageLoop() override {
        events.push_back("loop");
        return 0;
    }
    void Shutdown() override { events.push_back("shutdown"); }
};

int Start(ScriptedShell& shell, const std::vector<WString>& args, const WString& tail = u"") {
    PlayerContent = PlayerContentRecord{};
    return RunStartup(shell, args, tail);
}

std::vector<std::string> Expect(std::initializer_list<const char*> items) { return {items.begin(), items.end()}; }

} // namespace

TEST(Startup, WithoutALinkShowsTheInitScreen) {
    ScriptedShell shell;
    EXPECT_EQ(Start(shell, {u"tovani"}), 0);
    EXPECT_EQ(shell.events, Expect({"splash", "runtime", "register", "init", "loop", "shutdown"}));

    ScriptedShell fileArgument;
    EXPECT_EQ(Start(fileArgument, {u"tovani", u"/home/user/notes.txt"}), 0);
    EXPECT_EQ(fileArgument.events[3], "init");
}

TEST(Startup, RefusalsExitWithOne) {
    ScriptedShell oldOs;
    oldOs.osClass = 8;
    EXPECT_EQ(Start(oldOs, {u"tovani"}), 1);
    EXPECT_EQ(oldOs.events, Expect({"splash", "message:Unsupported OS"}));

    ScriptedShell noRuntime;
    noRuntime.runtimeOk = false;
    EXPECT_EQ(Start(noRuntime, {u"tovani"}), 1);
    EXPECT_EQ(noRuntime.events, Expect({"splash", "runtime"}));

    ScriptedShell noWindow;
    noWindow.initScreenOk = false;
    EXPECT_EQ(Start(noWindow, {u"tovani"}), 1);
    EXPECT_EQ(noWindow.events.back(), "message:Tovani - Startup Error");
    EXPECT_EQ(noWindow.lastMessage, Messages::StartupWindowFailed());
}

TEST(Startup, DirectLinkOpensThePlayer) {
    ScriptedShell shell;
    const WString link = TestSupport::SealLink("p", "https://127.0.0.1:47443/media/page.html", "https://127.0.0.1:47443");
    EXPECT_EQ(Start(shell, {u"tovani", link}), 0);
    EXPECT_EQ(shell.events, Expect({"splash", "runtime", "register", "frame", "player", "loop", "shutdown"}));
    EXPECT_EQ(PlayerContent.url, u"https://127.0.0.1:47443/media/page.html");

    // The scheme word in capitals still counts, and the raw tail is the fallback.
    ScriptedShell upper;
    WString upperLink = link;
    for (std::size_t i = 0; i < 13; ++i) upperLink[i] = static_cast<char16_t>(upperLink[i] - 32);
    EXPECT_EQ(Start(upper, {u"tovani", upperLink}), 0);
    EXPECT_EQ(upper.events[3], "frame");
    ScriptedShell tail;
    EXPECT_EQ(Start(tail, {u"tovani", u""}, u"\"\" " + link), 0);
    EXPECT_EQ(tail.events[3], "frame");

    ScriptedShell failing;
    failing.playerOk = false;
    EXPECT_EQ(Start(failing, {u"tovani", link}), 1);
}

TEST(Startup, ServiceMessagesAreShownRightToLeft) {
    ScriptedShell shell;
    const WString link = TestSupport::SealLink("p", "error-message", "https://127.0.0.1:47443");
    EXPECT_EQ(Start(shell, {u"tovani", link}), 1);
    EXPECT_EQ(shell.events.back(), "message:" + WideToUtf8(Messages::ServerErrorCaption()));
    EXPECT_TRUE(shell.lastRightToLeft);
    EXPECT_EQ(WideToUtf8(shell.lastMessage), "\xD8\xA7\xD9\x84\xD9\x85\xD8\xAD\xD8\xAA\xD9\x88\xD9\x89 \xD8\xBA\xD9\x8A\xD8\xB1 "
                                             "\xD9\x85\xD8\xAA\xD8\xA7\xD8\xAD \xD8\xAD\xD8\xA7\xD9\x84\xD9\x8A\xD8\xA7\xD9\x8B");
}

TEST(Startup, AServiceMessageIsShownAsBoundedText) {
    // Far taller than a screen, and still short enough for the canned answer's address.
    std::string lines;
    for (int i = 0; i < 450; ++i) lines += "l\n";
    const std::string body =
        nlohmann::json{{"message", "<a href=\"file:///etc/passwd\">Click here to retry</a>\x1b[2J\r\n" + lines}}.dump();
    std::string encoded = Base64Encode(body);
    for (char& c : encoded) c = c == '+' ? '-' : c == '/' ? '_' : c;
    while (!encoded.empty() && encoded.back() == '=') encoded.pop_back();
    ScriptedShell shell;
    const WString link = TestSupport::SealLink("p", "content-9", "https://127.0.0.1:47443/canned/500/" + encoded);
    EXPECT_EQ(Start(shell, {u"tovani", link}), 1);
    EXPECT_EQ(shell.events.back(), "message:" + WideToUtf8(Messages::ServerErrorCaption()));
    EXPECT_TRUE(StartsWith(shell.lastMessage, u"<a href=\"file:///etc/passwd\">Click here to retry</a>[2J\nl\nl\n"))
        << WideToUtf8(shell.lastMessage.substr(0, 80));
    EXPECT_EQ(std::count(shell.lastMessage.begin(), shell.lastMessage.end(), u'\n'), 19);
    EXPECT_TRUE(EndsWith(shell.lastMessage, u"\u2026"));
}

TEST(Startup, OtherLinkFailuresEndInTheDiagnostic) {
    ScriptedShell shell;
    try {
        Start(shell, {u"tovani", u"corvantiluxen:a:b"});
        FAIL() << "no diagnostic";
    } catch (const LinkDiagnostic& d) {
        EXPECT_STREQ(d.what(), "split_failed_parts_2");
    }
}

// The browser starts before the service is asked; the link's content data
// and its version check then share the start's one kept connection. A
// required update published by the link's service still ends the start
// before any content; a refused content keeps its own message first.
TEST(Startup, TheBrowserStartsFirstAndTheLinksRequestsShareOneConnection) {
    struct EarlyShell : ScriptedShell {
        void StartPlayerBrowserEarly() override { events.push_back("early"); }
        void StartInitBrowserEarly() override { events.push_back("early-init"); }
    };
    EarlyShell noLink;
    EXPECT_EQ(Start(noLink, {u"tovani"}), 0);
    EXPECT_EQ(noLink.events, Expect({"splash", "runtime", "early-init", "register", "init", "loop", "shutdown"}));
    // What the service's platform listener sees of one start (asked over plain HTTP, which counts nowhere).
    const auto counts = [](const char* what) {
        HttpClient plain;
        return plain.Get(WString(u"http://127.0.0.1:47480/control/counts") + (*what ? u"/reset" : u"")).body;
    };
    counts("reset");
    EarlyShell shell;
    EXPECT_EQ(Start(shell, {u"tovani", TestSupport::SealLink("p", "video-1", "https://127.0.0.1:47443/delay/300")}), 0);
    const nlohmann::json seen = nlohmann::json::parse(counts(""), nullptr, false)["https 127.0.0.1:47443"];
    // The four requests and at most one pre-flight (none when an earlier
    // start of this process made it).
    EXPECT_GE(seen.value("requests", -1), 4) << seen.dump();
    EXPECT_LE(seen.value("requests", -1), 5) << seen.dump();
#ifdef _WIN32
    // Wine gives a HEAD answer's connection back to no pool (connections_test.cpp).
    EXPECT_LE(seen.value("handshakes", -1), 2) << seen.dump();
#else
    EXPECT_EQ(seen.value("handshakes", -1), 1) << seen.dump();
#endif
    EXPECT_EQ(shell.events, Expect({"splash", "runtime", "early", "register", "frame", "player", "loop", "shutdown"}));
    EXPECT_EQ(PlayerContent.url, u"https://127.0.0.1:47443/media/sample.mp4");

    EarlyShell required;
    required.answer = MessageAnswer::Cancel;
    EXPECT_EQ(Start(required, {u"tovani", TestSupport::SealLink("p", "video-1", "https://127.0.0.1:47443/delay/300/update-required")}), 0);
    EXPECT_EQ(required.events, Expect({"splash", "runtime", "early", "register", "frame", "message:Tovani - Update Required"}));
    EXPECT_TRUE(required.opened.empty());

    EarlyShell refused;
    EXPECT_EQ(Start(refused, {u"tovani", TestSupport::SealLink("p", "error-message", "https://127.0.0.1:47443/update-required")}), 1);
    EXPECT_EQ(refused.events.back(), "message:" + WideToUtf8(Messages::ServerErrorCaption()));
    EXPECT_EQ(std::count(refused.events.begin(), refused.events.end(), "message:Tovani - Update Required"), 0);
}

TEST(UpdatePrompt, OptionalAndRequiredUpdates) {
    ScriptedShell declined;
    declined.answer = MessageAnswer::No;
    EXPECT_FALSE(RunUpdatePrompt(declined, {true, false, u"https://x/t.exe"}));
    EXPECT_TRUE(declined.opened.empty());
    EXPECT_EQ(declined.events, Expect({"message:Tovani - Update Available"}));

    ScriptedShell accepted;
    accepted.answer = MessageAnswer::Yes;
    EXPECT_TRUE(RunUpdatePrompt(accepted, {true, false, u""}));
    ASSERT_EQ(accepted.opened.size(), 1u);
    EXPECT_EQ(accepted.opened[0], DefaultUpdateLink());
#ifdef _WIN32
    EXPECT_TRUE(EndsWith(DefaultUpdateLink(), u"/desktop/corvantiluxen/Tovani.exe"));
    const WString published = u"https://x/t.exe";
#else
    // The published link is the Windows installer: Linux opens its own page.
    EXPECT_TRUE(EndsWith(DefaultUpdateLink(), u"/desktop/corvantiluxen/linux"));
    const WString published = DefaultUpdateLink();
#endif

    ScriptedShell requiredCancelled;
    requiredCancelled.answer = MessageAnswer::Cancel;
    EXPECT_TRUE(RunUpdatePrompt(requiredCancelled, {true, true, u"https://x/t.exe"}));
    EXPECT_TRUE(requiredCancelled.opened.empty());
    EXPECT_EQ(requiredCancelled.events, Expect({"message:Tovani - Update Required"}));

    ScriptedShell requiredOk;
    requiredOk.answer = MessageAnswer::Ok;
    EXPECT_TRUE(RunUpdatePrompt(requiredOk, {true, true, u"https://x/t.exe"}));
    EXPECT_EQ(requiredOk.opened, std::vector<WString>{published});

    ScriptedShell none;
    EXPECT_FALSE(RunUpdatePrompt(none, {false, true, u"https://x"}));
    EXPECT_TRUE(none.events.empty());
}

// The published link goes to the desktop's opener only when it is an https
// address; anything else opens the default download address instead.
TEST(UpdatePrompt, OnlyHttpsLinksReachTheOpener) {
    const WString refused[] = {
        u"file:///etc/passwd",
        u"/usr/bin/xterm",
        u"/tmp/evil.desktop",
        u"evil.desktop",
        u"smb://host/share/x.desktop",
        u"javascript:alert(1)",
        u"--help",
        u"-x",
        u"http://downloads.example.org/Tovani.exe",
        u"https:downloads.example.org/Tovani.exe",
        u"https:/downloads.example.org/Tovani.exe",
        u"https://",
        u"https://u@/x",
        u" https://downloads.example.org/Tovani.exe",
        u"https://downloads.example.org/Tovani.exe --help",
        u"https://downloads.example.org/\"--renderer-cmd-prefix=xterm",
        u"https://downloads.example.org/x\n--help",
        u"https://downloads.example.org/\u00e9.exe",
        u"data:text/html,https://downloads.example.org/",
    };
    for (const WString& link : refused) {
        ScriptedShell shell;
        shell.answer = MessageAnswer::Ok;
        EXPECT_TRUE(RunUpdatePrompt(shell, {true, true, link}));
        EXPECT_EQ(shell.opened, std::vector<WString>{DefaultUpdateLink()}) << WideToUtf8(link);
    }
    for (const WString link : {u"https://downloads.example.org/desktop/Tovani-5.0.exe?channel=stable&x=%20y",
                               u"HTTPS://Downloads.Example.org/Tovani.exe", u"https://127.0.0.1:47443/desktop/x.exe#top"}) {
        ScriptedShell shell;
        shell.answer = MessageAnswer::Yes;
        EXPECT_TRUE(RunUpdatePrompt(shell, {true, false, link}));
        EXPECT_EQ(shell.opened, std::vector<WString>{PublishedUpdateLinkFitsThisSystem() ? link : DefaultUpdateLink()});
    }
    EXPECT_TRUE(IsOpenableUpdateLink(DefaultUpdateLink()));
}

TEST(WindowsVersion, Classes) {
    EXPECT_EQ(ClassifyWindowsVersion(10, 0, 19045), 10);
    EXPECT_EQ(ClassifyWindowsVersion(10, 0, 22000), 11);
    EXPECT_EQ(ClassifyWindowsVersion(6, 1, 7601), 7);
    EXPECT_EQ(ClassifyWindowsVersion(6, 3, 9600), 8);
    EXPECT_EQ(ClassifyWindowsVersion(5, 1, 2600), -1);
    EXPECT_EQ(ClassifyWindowsVersion(0, 0, 0), -1);
}
