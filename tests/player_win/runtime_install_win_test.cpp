// tovani.exe on a machine without a browser runtime: the prompt, the stand-in
// installer downloaded from the development service into the temporary
// folder, run and waited for, the second probe, and each failure's message
// and exit code. The download itself: redirects, the user's proxy, a slow
// line, a silent one, a large body, a cancel, and the installer's signature.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "common/text.h"
#include "tests/player_win/program_run.h"
#include "tests/service/service_test_env.h"
#include "tests/support/standin_runtime_win.h"
#include "tests/support/test_support.h"

using namespace ProgramRunning;
using TestSupport::StandInSession;

namespace {

namespace fs = std::filesystem;

constexpr wchar_t kClientState[] =
    L"SOFTWARE\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
const std::string kPromptCaption = "Kelbro \xE2\x80\x94 Component Required";

fs::path TestState() { return fs::u8path(TestSupport::Env("TOVANI_TEST_STATE")); }
fs::path ServedInstaller() { return TestState() / "runtime-installer.exe"; }
// How the service hands the installer out (see the service's routes).
fs::path ServedMode() { return TestState() / "runtime-installer.mode"; }

fs::path DownloadedInstaller() {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    return fs::path(temp) / L"WebView2Installer.exe";
}

fs::path PerUserRuntimeRoot() {
    wchar_t local[MAX_PATH] = {};
    GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
    return fs::path(local) / L"Microsoft" / L"EdgeWebView";
}

// Takes every runtime record away (per machine and per user) and puts the
// test prefix's stand-in back afterwards.
class NoRuntime : public ::testing::Test {
public:
    void SetUp() override {
        RemoveRuntimes();
        SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", nullptr);
    }
    void TearDown() override {
        RemoveRuntimes();
        std::error_code ec;
        fs::remove(ServedInstaller(), ec);
        fs::remove(ServedMode(), ec);
        fs::remove(DownloadedInstaller(), ec);
        SetEnvironmentVariableW(L"TOVANI_STANDIN_INSTALLER", nullptr);
        EXPECT_EQ(TestSupport::InstallStandInRuntime(), "");
    }
    static void RemoveRuntimes() {
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kClientState, KEY_WOW64_32KEY, 0);
        RegDeleteKeyExW(HKEY_CURRENT_USER, kClientState, KEY_WOW64_32KEY, 0);
        std::error_code ec;
        fs::remove_all(PerUserRuntimeRoot(), ec);
    }
    // The stand-in installer as signed (or mis-signed) by the test fixture:
    // "signed", "unsigned", "other-signer", "rogue-signer", "tampered".
    static void ServeInstaller(const char* variant = "signed") {
        std::error_code ec;
        // The C++ library here refuses to overwrite: the old copy goes first.
        fs::remove(ServedInstaller(), ec);
        fs::copy_file(TestState() / "installers" / (std::string(variant) + ".exe"), ServedInstaller(), ec);
        ASSERT_FALSE(ec) << ec.message();
    }
    static void ServeMode(const std::string& mode) { std::ofstream(ServedMode()) << mode << "\n"; }
    GdiplusSession gdiplus;
};

// The boxes a run answered, in order: caption, text.
struct Answered {
    std::vector<std::pair<std::string, std::string>> boxes;
};

// Answers boxes by caption (in any order); stops at the init screen, which
// it closes once its start page has loaded.
std::function<bool()> Answer(Answered& answered, const std::vector<std::pair<std::string, WPARAM>>& answers,
                             StandInSession* session = nullptr) {
    return [&answered, answers, session] {
        for (const auto& [caption, button] : answers) {
            if (HWND box = MessageBoxWindow(caption)) {
                if (!answered.boxes.empty() && answered.boxes.back().first == caption) continue; // being closed
                answered.boxes.emplace_back(caption, MessageBoxText(box));
                PostMessageW(box, WM_COMMAND, button, 0);
                return true;
            }
        }
        HWND screen = VisibleWindow(L"KelbroInitWindow");
        if (screen == nullptr || session == nullptr || !HasPrefix(session->Journal(), "Loaded ")) return true;
        PostMessageW(screen, WM_CLOSE, 0, 0);
        return false;
    };
}

std::vector<std::string> Captions(const Answered& answered) {
    std::vector<std::string> captions;
    for (const auto& box : answered.boxes) captions.push_back(box.first);
    return captions;
}

TEST_F(NoRuntime, TheStandInInstallerIsDownloadedRunAndTheInitScreenFollows) {
    ServeInstaller();
    // A file of the installer's name from before is overwritten.
    { std::ofstream(DownloadedInstaller(), std::ios::binary) << "left over"; }
    StandInSession session("install-ok");
    Answered answered;
    const ProgramRun run =
        RunProgram(WString(), Answer(answered, {{kPromptCaption, IDYES}, {"Installing...", IDOK}}, &session));
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(Captions(answered), (std::vector<std::string>{kPromptCaption, "Installing..."}));
    EXPECT_EQ(answered.boxes[0].second,
              "WebView2 Runtime is required to run this application.\n"
              "\xD9\x8A\xD8\xAD\xD8\xAA\xD8\xA7\xD8\xAC \xD9\x87\xD8\xB0\xD8\xA7 \xD8\xA7\xD9\x84\xD8\xAA\xD8\xB7\xD8\xA8\xD9\x8A\xD9\x82 "
              "\xD8\xA5\xD9\x84\xD9\x89 WebView2 Runtime \xD9\x84\xD9\x84\xD8\xAA\xD8\xB4\xD8\xBA\xD9\x8A\xD9\x84.\n\n"
              "Would you like to install it now?");
    EXPECT_EQ(answered.boxes[1].second.rfind("WebView2 Runtime is being downloaded and installed.\n", 0), 0u);
    EXPECT_TRUE(Has(run.log, "Browser runtime: installer ended with 0")) << ::testing::PrintToString(run.log);
    EXPECT_TRUE(Has(run.log, "Step 9: hasSchemeArgs=0"));
    // Installed per user by the stand-in installer, found by the second
    // probe, used by the init screen; the download is gone.
    EXPECT_NE(Narrow(RegistryString(kClientState, L"EBWebView")), "<no key>");
    EXPECT_TRUE(HasPrefix(session.Journal(), "Controller created"));
    EXPECT_FALSE(fs::exists(DownloadedInstaller()));
}

// Every way the installation ends without a runtime: exit code 1 and the
// message of that way; no download is left behind, run or not.
TEST_F(NoRuntime, EachFailureGivesItsMessageAndExitCodeOne) {
    struct Case {
        const char* name;
        bool served;
        const wchar_t* installerMode;
        WPARAM firstAnswer;
        std::vector<std::string> captions;
        std::string lastText;
        bool downloadLeft;
    };
    const std::vector<Case> cases = {
        {"declined", true, nullptr, IDNO, {kPromptCaption}, "", false},
        {"download fails", false, nullptr, IDYES, {kPromptCaption, "Installing...", "Download Error"},
         "Failed to download WebView2 Runtime.\nPlease check your internet connection.", false},
        {"installer fails", true, L"fail", IDYES, {kPromptCaption, "Installing...", "Installation"},
         "WebView2 installation may have failed.\nPlease restart the application.", false},
        {"still missing after install", true, L"old", IDYES, {kPromptCaption, "Installing...", "Installation"},
         "WebView2 installation may have failed.\nPlease restart the application.", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveRuntimes();
        std::error_code ec;
        fs::remove(ServedInstaller(), ec);
        fs::remove(DownloadedInstaller(), ec);
        if (c.served) ServeInstaller();
        SetEnvironmentVariableW(L"TOVANI_STANDIN_INSTALLER", c.installerMode);
        StandInSession session(std::string("install-") + c.name);
        Answered answered;
        const ProgramRun run = RunProgram(WString(), Answer(answered, {{kPromptCaption, c.firstAnswer},
                                                                       {"Installing...", IDOK},
                                                                       {"Download Error", IDOK},
                                                                       {"Installation", IDOK}}));
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_EQ(Captions(answered), c.captions);
        if (!c.lastText.empty() && !answered.boxes.empty()) EXPECT_EQ(answered.boxes.back().second, c.lastText);
        EXPECT_EQ(fs::exists(DownloadedInstaller()), c.downloadLeft);
        EXPECT_FALSE(HasPrefix(session.Journal(), "Controller created"));
        EXPECT_FALSE(Has(run.log, "Step 7: Initializing SSL pinning defaults"));
    }
}

// The user's Internet settings naming a proxy (what the Internet options
// write), taken away again at the end.
class UserProxySetting {
public:
    explicit UserProxySetting(const std::string& proxy) {
        std::string blob;
        const auto dword = [&blob](std::uint32_t value) { blob.append(reinterpret_cast<const char*>(&value), 4); };
        dword(0x46); // the settings' version
        dword(1);    // change counter
        dword(0x3);  // direct, and a proxy
        dword(static_cast<std::uint32_t>(proxy.size()));
        blob += proxy;
        dword(0); // no bypass list
        dword(0); // no configuration script
        blob.append(32, '\0');
        RegCreateKeyExW(HKEY_CURRENT_USER, kConnections, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key_, nullptr);
        DWORD size = 0;
        had_ = RegQueryValueExW(key_, L"DefaultConnectionSettings", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
        if (had_) {
            old_.resize(size);
            RegQueryValueExW(key_, L"DefaultConnectionSettings", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(old_.data()), &size);
        }
        RegSetValueExW(key_, L"DefaultConnectionSettings", 0, REG_BINARY,
                       reinterpret_cast<const BYTE*>(blob.data()), static_cast<DWORD>(blob.size()));
    }
    ~UserProxySetting() {
        if (had_) {
            RegSetValueExW(key_, L"DefaultConnectionSettings", 0, REG_BINARY,
                           reinterpret_cast<const BYTE*>(old_.data()), static_cast<DWORD>(old_.size()));
        } else {
            RegDeleteValueW(key_, L"DefaultConnectionSettings");
        }
        RegCloseKey(key_);
    }

private:
    static constexpr wchar_t kConnections[] =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
    HKEY key_ = nullptr;
    bool had_ = false;
    std::string old_;
};

// A CONNECT proxy of the test's own on loopback: it records each tunnel's
// target and relays the bytes both ways. It has an address of its own: Wine
// takes a proxy on the target's own address for no proxy at all and speaks
// TLS to it directly.
class ConnectProxy {
public:
    ConnectProxy() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = inet_addr(kAddress);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        int length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        listen(listener_, 8);
        acceptor_ = std::thread([this] { Accept(); });
    }
    ~ConnectProxy() {
        closesocket(listener_);
        acceptor_.join();
        for (std::thread& tunnel : tunnels_) tunnel.join();
        WSACleanup();
    }
    std::string Address() const { return std::string(kAddress) + ":" + std::to_string(port_); }
    std::vector<std::string> Targets() {
        std::lock_guard<std::mutex> guard(lock_);
        return targets_;
    }

private:
    void Accept() {
        for (;;) {
            SOCKET client = accept(listener_, nullptr, nullptr);
            if (client == INVALID_SOCKET) return;
            tunnels_.emplace_back([this, client] { Tunnel(client); });
        }
    }
    void Tunnel(SOCKET client) {
        std::string head;
        char byte = 0;
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < 8192 && recv(client, &byte, 1, 0) == 1) {
            head += byte;
        }
        // "CONNECT host:port HTTP/1.1"
        const std::size_t space = head.find(' ');
        const std::size_t end = head.find(' ', space + 1);
        const std::string target = space == std::string::npos || end == std::string::npos
                                       ? std::string()
                                       : head.substr(space + 1, end - space - 1);
        {
            std::lock_guard<std::mutex> guard(lock_);
            targets_.push_back(head.compare(0, 8, "CONNECT ") == 0 ? target : "not a tunnel: " + head.substr(0, 40));
        }
        const std::size_t colon = target.rfind(':');
        SOCKET server = INVALID_SOCKET;
        if (head.compare(0, 8, "CONNECT ") == 0 && colon != std::string::npos) {
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = inet_addr(target.substr(0, colon).c_str());
            address.sin_port = htons(static_cast<u_short>(std::stoi(target.substr(colon + 1))));
            server = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            if (connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                closesocket(server);
                server = INVALID_SOCKET;
            }
        }
        const std::string answer = server != INVALID_SOCKET ? "HTTP/1.1 200 Connection established\r\n\r\n"
                                                            : "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n";
        send(client, answer.data(), static_cast<int>(answer.size()), 0);
        if (server != INVALID_SOCKET) {
            std::vector<char> buffer(64 * 1024);
            for (;;) {
                fd_set readable;
                FD_ZERO(&readable);
                FD_SET(client, &readable);
                FD_SET(server, &readable);
                if (select(0, &readable, nullptr, nullptr, nullptr) <= 0) break;
                const SOCKET from = FD_ISSET(client, &readable) ? client : server;
                const SOCKET to = from == client ? server : client;
                const int got = recv(from, buffer.data(), static_cast<int>(buffer.size()), 0);
                if (got <= 0 || send(to, buffer.data(), got, 0) != got) break;
            }
            closesocket(server);
        }
        closesocket(client);
    }

    static constexpr char kAddress[] = "127.0.0.9";
    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::thread acceptor_;
    std::vector<std::thread> tunnels_;
    std::mutex lock_;
    std::vector<std::string> targets_;
};

const std::vector<std::pair<std::string, WPARAM>> kInstallAnswers = {
    {kPromptCaption, IDYES}, {"Installing...", IDOK}, {"Download Error", IDOK}, {"Installation", IDOK}};
const std::string kDownloadErrorText = "Failed to download WebView2 Runtime.\nPlease check your internet connection.";

// Each run of these answers every box; onWindow sees the progress window
// whenever it is up.
std::function<bool()> WatchDownload(Answered& answered, StandInSession* session,
                                    const std::function<void(HWND)>& onWindow) {
    auto answer = Answer(answered, kInstallAnswers, session);
    return [answer, onWindow] {
        if (HWND window = VisibleWindow(L"TovaniDownloadWindow", L"Tovani - Downloading")) onWindow(window);
        return answer();
    };
}

void ExpectInstalled(const ProgramRun& run, const Answered& answered, StandInSession& session) {
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(Captions(answered), (std::vector<std::string>{kPromptCaption, "Installing..."}));
    EXPECT_TRUE(Has(run.log, "Browser runtime: installer signature accepted")) << ::testing::PrintToString(run.log);
    EXPECT_TRUE(Has(run.log, "Browser runtime: installer ended with 0"));
    EXPECT_TRUE(HasPrefix(session.Journal(), "Controller created"));
    EXPECT_FALSE(fs::exists(DownloadedInstaller()));
}

// Refused: the download error box, nothing installed or run, no file left.
void ExpectRefused(const ProgramRun& run, const Answered& answered, const std::string& logPrefix) {
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(Captions(answered), (std::vector<std::string>{kPromptCaption, "Installing...", "Download Error"}));
    if (answered.boxes.size() == 3) {
        EXPECT_EQ(answered.boxes[2].second, kDownloadErrorText);
    }
    EXPECT_TRUE(HasPrefix(run.log, logPrefix)) << ::testing::PrintToString(run.log);
    EXPECT_FALSE(HasPrefix(run.log, "Browser runtime: installer ended with"));
    EXPECT_EQ(Narrow(RegistryString(kClientState, L"EBWebView")), "<no key>");
    EXPECT_FALSE(fs::exists(DownloadedInstaller()));
}

// One run per case, served as serve sets it up for the case's name: each
// ends refused, with its log line.
void ExpectEachRefused(const std::vector<std::pair<const char*, std::string>>& cases,
                       const std::function<void(const char*)>& serve) {
    for (const auto& [name, reason] : cases) {
        SCOPED_TRACE(name);
        NoRuntime::RemoveRuntimes();
        serve(name);
        StandInSession session(std::string("install-") + name);
        Answered answered;
        const ProgramRun run = RunProgram(WString(), Answer(answered, kInstallAnswers));
        ASSERT_TRUE(run.ended);
        ExpectRefused(run, answered, reason);
        EXPECT_FALSE(HasPrefix(session.Journal(), "Controller created"));
    }
}

TEST_F(NoRuntime, OnlyTheNamedSignersIntactInstallerRuns) {
    // Unsigned, signed by a trusted signer that is not the runtime's, signed
    // in the runtime signer's name by an authority nobody trusts, by its
    // common name in another organisation, by its whole subject from an
    // issuer of the right root that the profile does not list, and changed
    // after signing: each is deleted unrun.
    const std::vector<std::pair<const char*, std::string>> refused = {
        {"unsigned", "Browser runtime: installer refused: no valid signature (0x800b0100)"},
        {"other-signer",
         "Browser runtime: installer refused: signed by \"CN=Tovani Dev Other Signer, O=Tovani Dev\", not the"},
        {"rogue-signer", "Browser runtime: installer refused: the signer's chain fails"},
        {"lookalike", "Browser runtime: installer refused: signed by \"CN=Tovani Dev Test Code Signing, "
                      "O=Tovani Dev Lookalike\", not the"},
        {"sidestep", "Browser runtime: installer refused: the signer's issuer "},
        {"tampered", "Browser runtime: installer refused: no valid signature (0x80096010)"},
    };
    ExpectEachRefused(refused, [](const char* variant) { ServeInstaller(variant); });
}

TEST_F(NoRuntime, TheInstallerComesThroughRedirectsAndTheUsersProxy) {
    ServeInstaller();
    ServeMode("redirect");
    ConnectProxy proxy;
    std::vector<std::string> targets;
    {
        UserProxySetting setting(proxy.Address());
        StandInSession session("install-redirect-proxy");
        Answered answered;
        const ProgramRun run = RunProgram(WString(), Answer(answered, kInstallAnswers, &session));
        ASSERT_TRUE(run.ended);
        ExpectInstalled(run, answered, session);
        // 127.0.0.1 answers 302 to another host, which answers 307 to a
        // relative address.
        EXPECT_TRUE(HasPrefix(run.log, "Browser runtime: downloaded ")) << ::testing::PrintToString(run.log);
        const auto line = std::find_if(run.log.begin(), run.log.end(), [](const std::string& l) {
            return l.rfind("Browser runtime: downloaded ", 0) == 0;
        });
        if (line != run.log.end()) {
            EXPECT_NE(line->find(" from https://127.0.0.2:47443/runtime/final?from=hop"), std::string::npos) << *line;
        }
        targets = proxy.Targets();
    }
    // Both hosts through the tunnel, nothing else.
    EXPECT_NE(std::find(targets.begin(), targets.end(), "127.0.0.1:47443"), targets.end())
        << ::testing::PrintToString(targets);
    EXPECT_NE(std::find(targets.begin(), targets.end(), "127.0.0.2:47443"), targets.end())
        << ::testing::PrintToString(targets);
    for (const std::string& target : targets) EXPECT_TRUE(target.rfind("127.0.0.", 0) == 0) << target;
}

TEST_F(NoRuntime, RedirectsToPlainHttpAnUntrustedHostOrWithoutEndFail) {
    ServeInstaller();
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"redirect-http", "Browser runtime: download failed: status 302 to a refused address: http://127.0.0.1:47480/"},
        {"redirect-selfsigned", "Browser runtime: download failed: the server of 127.0.0.3 is not trusted"},
        {"redirect-loop", "Browser runtime: download failed: more than 10 redirects"},
    };
    ExpectEachRefused(cases, [](const char* mode) { ServeMode(mode); });
}

// A redirect to the platform's own host, which presents a forged chain: the
// pins hold for every hop, so the program ends in the interception dialog
// (code 0, as that dialog ends it) and the server hears nothing after the
// handshake.
TEST_F(NoRuntime, ARedirectToAPlatformHostFailingItsPinsEndsInTheDialog) {
    ServeInstaller();
    ServeMode("redirect-forged");
    ServiceTest::ResetTraps();
    StandInSession session("install-forged");
    Answered answered;
    const ProgramRun run = RunProgram(WString(), Answer(answered, kInstallAnswers));
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(Captions(answered), (std::vector<std::string>{kPromptCaption, "Installing..."}));
    EXPECT_FALSE(HasPrefix(run.log, "Browser runtime: downloaded")) << ::testing::PrintToString(run.log);
    EXPECT_FALSE(HasPrefix(run.log, "Browser runtime: installer ended with"));
    EXPECT_EQ(Narrow(RegistryString(kClientState, L"EBWebView")), "<no key>");
    const std::vector<ServiceTest::TrapConnection> connections = ServiceTest::TrapConnections("127.0.0.1:47446", 1);
    ASSERT_FALSE(connections.empty()) << "the forged listener was never reached";
    for (const auto& connection : connections) EXPECT_EQ(connection.received, "") << connection.connection;
}

// Twelve pieces 3 s apart: longer than any whole-transfer limit of the
// service's transport, never silent for long. The progress window shows
// meanwhile.
TEST_F(NoRuntime, ASlowLineFinishesWithTheProgressShown) {
    ServeInstaller();
    ServeMode("slow");
    StandInSession session("install-slow");
    Answered answered;
    std::string screenshot;
    DWORD firstSeen = 0;
    const ProgramRun run = RunProgram(WString(), WatchDownload(answered, &session, [&](HWND) {
                                          if (firstSeen == 0) firstSeen = GetTickCount();
                                          // A few pieces in: the bar and the bytes.
                                          if (screenshot.empty() && GetTickCount() - firstSeen > 10000) {
                                              screenshot = SaveScreenshot("tovani-runtime-download.png");
                                          }
                                      }),
                                      120000);
    ASSERT_TRUE(run.ended);
    ExpectInstalled(run, answered, session);
    EXPECT_NE(firstSeen, 0u);
    EXPECT_FALSE(screenshot.empty());
}

TEST_F(NoRuntime, CancellingTheDownloadEndsItAndDeletesTheFile) {
    ServeInstaller();
    ServeMode("slow");
    StandInSession session("install-cancel");
    Answered answered;
    DWORD firstSeen = 0;
    bool cancelled = false;
    const ProgramRun run = RunProgram(WString(), WatchDownload(answered, &session, [&](HWND window) {
                                          if (firstSeen == 0) firstSeen = GetTickCount();
                                          if (!cancelled && GetTickCount() - firstSeen > 4000) {
                                              PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
                                              cancelled = true;
                                          }
                                      }));
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(cancelled);
    // As when the user declines: no further message.
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(Captions(answered), (std::vector<std::string>{kPromptCaption, "Installing..."}));
    EXPECT_TRUE(Has(run.log, "Browser runtime: download cancelled")) << ::testing::PrintToString(run.log);
    EXPECT_FALSE(HasPrefix(run.log, "Browser runtime: installer ended with"));
    EXPECT_FALSE(fs::exists(DownloadedInstaller()));
    EXPECT_EQ(Narrow(RegistryString(kClientState, L"EBWebView")), "<no key>");
}

// 150 MB, made by the service as it sends them: received whole (the
// transport's cap was 8 MiB), then refused, being no signed program.
TEST_F(NoRuntime, A150MegabyteBodyIsReceivedWhole) {
    ServeMode("large 157286400");
    StandInSession session("install-large");
    Answered answered;
    const ProgramRun run = RunProgram(WString(), Answer(answered, kInstallAnswers), 120000);
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(Has(run.log, "Browser runtime: downloaded 157286400 bytes from "
                             "https://127.0.0.1:47443/runtime/MicrosoftEdgeWebview2Setup.exe"))
        << ::testing::PrintToString(run.log);
    ExpectRefused(run, answered, "Browser runtime: installer refused: no valid signature");
}

// Half the installer, then silence: the download gives up after its
// inactivity limit rather than waiting without end.
TEST_F(NoRuntime, ASilentLineEndsTheDownload) {
    ServeInstaller();
    ServeMode("stall");
    StandInSession session("install-stall");
    Answered answered;
    const DWORD started = GetTickCount();
    const ProgramRun run = RunProgram(WString(), Answer(answered, kInstallAnswers), 120000);
    ASSERT_TRUE(run.ended);
    ExpectRefused(run, answered, "Browser runtime: download failed: no data for 30 s");
    EXPECT_LT(GetTickCount() - started, 44000u);
}

} // namespace
