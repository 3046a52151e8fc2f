// tovani.exe ending in the diagnostic dialog, end to end under Wine against
// the development service: rejected links, and platform hosts whose chains
// fail the pins. Each run checks the exit code, the code the program
// left on the clipboard (decoded by tovani-tool where it is an encoded
// record) and how the dialog was shown: the system's mshta with its command
// line, seen as the program starts it (the run follows the program's
// children as a debugger does), or the message box that replaces a dialog
// that cannot start. Files planted beside the program under the names
// mshta.exe and cmd.exe never run.
#include <gtest/gtest.h>

#include <windows.h>

#include <nlohmann/json.hpp>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "common/base64.h"
#include "common/system_program_win.h"
#include "common/text.h"
#include "diagnostics/diagnostic_dialog_win.h"
#include "links/envelope.h"
#include "service/device_identity.h"
#include "tests/player_win/program_run.h"
#include "tests/service/service_test_env.h"
#include "tests/support/standin_runtime_win.h"
#include "tests/support/test_support.h"
#include "tests/support/clipboard_win.h"

namespace {

using namespace ProgramRunning;
using TestSupport::StandInSession;
namespace fs = std::filesystem;

const char kLinkTitle[] = "Link Error - خطأ في الرابط";
const char kLinkText[] = "Failed to process the content link.\n"
                         "If the problem persists, send the diagnostic code below to support.";
const char kLinkArabic[] = "فشل في معالجة رابط المحتوى.\n"
                           "إذا استمرت المشكلة، يرجى إرسال الكود التشخيصي أدناه للدعم الفني.";
const char kPinTitle[] = "Network Connection Intercepted - اتصال غير آمن";
const char kPinText[] = "A security program is blocking the secure connection.\n"
                        "Please disable 'HTTPS Scanning' or 'Web Shield' in your antivirus settings and try again.";
const char kPinArabic[] = "برنامج حماية يمنع الاتصال الآمن.\n"
                          "يرجى تعطيل خاصية 'فحص HTTPS' أو 'حماية الويب' في إعدادات مكافح الفيروسات وحاول مرة أخرى.";

using TestSupport::ClipboardText;

void EmptyTheClipboard() {
    if (!OpenClipboard(nullptr)) return;
    EmptyClipboard();
    CloseClipboard();
}

void SetEnv(const wchar_t* name, const std::string& value) {
    const WString wide = Utf8ToWide(value);
    SetEnvironmentVariableW(name, value.empty() ? nullptr : reinterpret_cast<const wchar_t*>(wide.c_str()));
}

std::string U8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// One sealed part with one character of its ciphertext changed, its tag kept.
std::string DamagedPart(const std::string& plaintext) {
    nlohmann::json envelope = nlohmann::json::parse(Base64Decode(SealEnvelope(plaintext, TestSupport::ProfileKey())));
    std::string value = envelope["value"];
    value[0] = value[0] == 'A' ? 'B' : 'A';
    envelope["value"] = value;
    return Base64Encode(envelope.dump());
}

// One part sealed without its tag.
std::string UntaggedPart(const std::string& plaintext) {
    return SealEnvelope(plaintext, TestSupport::ProfileKey(), false);
}

WString Link(const std::vector<std::string>& parts) {
    std::string link = "corvantiluxen:";
    for (std::size_t i = 0; i < parts.size(); ++i) link += (i ? ":" : "") + parts[i];
    return Utf8ToWide(link);
}

// How the program may show the dialog in a run.
enum class Dialog {
    Started,    // the system's mshta (Wine's own, which ends at once)
    Unstartable // the system's mshta.exe cannot be started
};

struct DialogRun {
    ProgramRun run;
    std::string clipboard;
    std::string dialogImage; // what the program started for the dialog, if anything
    std::string commandLine; // with this command line
    std::string plantedRan;  // what a file planted beside the program recorded, if it ran
    std::string boxText;     // the message box shown instead, if any
    bool playerFrameSeen = false;
    std::vector<std::string> journal;
};

// The prefix's own C:\windows\system32\mshta.exe put aside, with a folder in
// its place, which no one can start (Wine starts its built-in program for
// a missing file); back afterwards, also after a run that died midway.
class UnstartableSystemMshta {
public:
    UnstartableSystemMshta() : system_(Wide(WideToUtf8(SystemProgramPath(u"mshta.exe")))), saved_(system_ + L".wine-own") {
        Restore();
        ok_ = MoveFileW(system_.c_str(), saved_.c_str()) && CreateDirectoryW(system_.c_str(), nullptr);
    }
    ~UnstartableSystemMshta() { Restore(); }
    bool ok() const { return ok_; }

private:
    void Restore() {
        if (GetFileAttributesW(saved_.c_str()) == INVALID_FILE_ATTRIBUTES) return;
        RemoveDirectoryW(system_.c_str());
        MoveFileExW(saved_.c_str(), system_.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    std::wstring system_;
    std::wstring saved_;
    bool ok_ = false;
};

class DialogPaths : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(TestSupport::InstallStandInRuntime(), "");
        folder_ = fs::temp_directory_path() / ("tovani-dialog-" + std::to_string(GetCurrentProcessId()));
        std::error_code ec;
        fs::remove_all(folder_, ec);
        fs::create_directories(folder_, ec);
        ASSERT_TRUE(fs::copy_file(fs::path(ProgramPath()), folder_ / L"tovani.exe", ec)) << ec.message();
        // Planted where the program lies (a Downloads folder, say): they
        // record their start as the real recorder would, and must never start.
        for (const wchar_t* name : {L"mshta.exe", L"cmd.exe"}) {
            ASSERT_TRUE(fs::copy_file(fs::u8path(TestSupport::Env("TOVANI_BIN") + "/standin/dialog-recorder.exe"),
                                      folder_ / name, ec))
                << ec.message();
        }
        record_ = folder_ / L"dialog-command-line.txt";
        SetEnv(L"TOVANI_TEST_DIALOG_RECORD", U8(record_));
    }
    void TearDown() override {
        SetEnv(L"TOVANI_TEST_DIALOG_RECORD", "");
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }

    DialogRun Run(const WString& link, Dialog dialog, const std::string& boxCaption) {
        std::error_code ec;
        fs::remove(record_, ec);
        std::optional<UnstartableSystemMshta> unstartable;
        if (dialog == Dialog::Unstartable) {
            unstartable.emplace();
            EXPECT_TRUE(unstartable->ok()) << "the system's mshta.exe cannot be put aside";
        }
        EmptyTheClipboard();
        EXPECT_EQ(ClipboardText(), "") << "the clipboard cannot be emptied";
        StandInSession session("dialog");
        DialogRun out;
        const std::wstring caption = Wide(boxCaption);
        out.run = RunProgram(
            link,
            [&] {
                if (VisibleWindow(L"TovaniWindow") != nullptr) out.playerFrameSeen = true;
                HWND box = VisibleWindow(L"#32770", caption.c_str());
                if (box == nullptr) return true;
                out.boxText = MessageBoxText(box);
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                return false;
            },
            60000, (folder_ / L"tovani.exe").wstring(), true);
        out.clipboard = ClipboardText();
        for (const ChildProcess& child : out.run.children) {
            out.dialogImage += child.image;
            out.commandLine += child.commandLine;
        }
        // Anything planted that wrongly ran has had time to write.
        Sleep(500);
        out.plantedRan = TestSupport::ReadFile(U8(record_));
        out.journal = session.Journal();
        return out;
    }

    fs::path folder_;
    fs::path record_;
};

std::string Expected(const char* title, const char* text, const char* arabic, const std::string& code) {
    return WideToUtf8(DiagnosticDialogCommandLine(Utf8ToWide(title), Utf8ToWide(text), Utf8ToWide(arabic), code));
}

std::string FallbackText(const char* text, const char* arabic, const std::string& code) {
    return std::string(text) + "\n\n" + arabic + "\n\nDiagnostic Code:\n" + code;
}

// The record a diagnostic code holds, as tovani-tool decodes it.
nlohmann::json DecodedRecord(const std::string& code) {
    const TestSupport::ProcessResult decoded = TestSupport::RunProcess(TestSupport::ToolPath(), {"diag", "decode", code});
    EXPECT_EQ(decoded.status, 0) << "code: " << code << "\n" << decoded.out << decoded.err;
    const nlohmann::json record = nlohmann::json::parse(decoded.out, nullptr, false);
    EXPECT_TRUE(record.is_object()) << decoded.out;
    return record.is_object() ? record : nlohmann::json::object();
}

// Three links the start-up rejects, each dialog shown its own way: the code
// on the clipboard decodes to the rejection's reason, made on this machine
// during the run; the program ends with 0 before any browser starts.
TEST_F(DialogPaths, ARejectedLinkEndsInTheDialogWithItsReasonOnTheClipboard) {
    struct Case {
        const char* what;
        WString link;
        Dialog dialog;
        std::string reason;
    };
    const std::string service = kService;
    const std::vector<Case> cases = {
        {"a tagged part with its ciphertext changed",
         Link({DamagedPart("p"), SealEnvelope("pdf-1", TestSupport::ProfileKey()),
               SealEnvelope(service, TestSupport::ProfileKey())}),
         Dialog::Started, "exception_MAC verification failed \xe2\x80\x94 data may be tampered"},
        // Without its tag a part could be rewritten by anyone: refused alike.
        {"a part without its tag",
         Link({SealEnvelope("p", TestSupport::ProfileKey()), UntaggedPart("pdf-1"),
               SealEnvelope(service, TestSupport::ProfileKey())}),
         Dialog::Started, "exception_MAC verification failed \xe2\x80\x94 data may be tampered"},
        {"a link of two parts",
         Link({SealEnvelope("p", TestSupport::ProfileKey()), SealEnvelope("pdf-1", TestSupport::ProfileKey())}),
         Dialog::Unstartable, "split_failed_parts_2"},
    };
    const std::string identity = WideToUtf8(GetDeviceIdentity());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const long long before = static_cast<long long>(std::time(nullptr));
        const DialogRun r = Run(c.link, c.dialog, kLinkTitle);
        const long long after = static_cast<long long>(std::time(nullptr));
        ASSERT_TRUE(r.run.ended);
        EXPECT_EQ(r.run.exitCode, 0u);
        EXPECT_TRUE(Has(r.run.log, "Step 9: hasSchemeArgs=1")) << ::testing::PrintToString(r.run.log);
        // The browser started early loads nothing.
        EXPECT_FALSE(HasPrefix(r.journal, "WebView.Navigate")) << ::testing::PrintToString(r.journal);

        const nlohmann::json record = DecodedRecord(r.clipboard);
        EXPECT_EQ(record.value("reason", ""), c.reason);
        EXPECT_EQ(record.value("mk", ""), identity);
        const long long ts = record.value("ts", 0LL);
        EXPECT_GE(ts, before);
        EXPECT_LE(ts, after);

        EXPECT_EQ(r.plantedRan, "") << "something planted beside the program ran";
        switch (c.dialog) {
        case Dialog::Started:
            // The system's mshta, exactly once; the program does not fall
            // back to its message box.
            EXPECT_EQ(ToLowerCopy(Utf8ToWide(r.dialogImage)), ToLowerCopy(SystemProgramPath(u"mshta.exe")));
            EXPECT_EQ(r.commandLine, Expected(kLinkTitle, kLinkText, kLinkArabic, r.clipboard));
            EXPECT_EQ(r.boxText, "");
            break;
        case Dialog::Unstartable:
            EXPECT_EQ(r.dialogImage, "");
            EXPECT_EQ(r.boxText, FallbackText(kLinkText, kLinkArabic, r.clipboard));
            // The box stands over the empty player window of the start-up.
            EXPECT_TRUE(r.playerFrameSeen);
            break;
        }
    }
}

// Whoever holds the envelope key (every copy of the program carries it) can
// seal a link naming a service of their own, or a page of their own as its
// direct content: the program ends in the link dialog with its own reason,
// before any request (the self-signed listener, which takes any connection
// and records it, hears nothing) and before its browser, started early,
// loads anything.
TEST_F(DialogPaths, AForgedLinkEndsInTheDialogBeforeAnyRequest) {
    ServiceTest::ResetTraps();
    const struct {
        std::string content, domain, reason;
    } cases[] = {
        {"pdf-1", "https://127.0.0.3:47448", "domain_not_allowed"},
        {std::string(kService) + "/media/page.html", "https://127.0.0.3:47448/canned/200/e30", "domain_not_allowed"},
        {"https://127.0.0.3:47448/page", kService, "direct_url_not_allowed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.domain + " " + c.content);
        const DialogRun r = Run(TestSupport::SealLink("p", c.content, c.domain), Dialog::Started, kLinkTitle);
        ASSERT_TRUE(r.run.ended);
        EXPECT_EQ(r.run.exitCode, 0u);
        // The browser started early loads nothing.
        EXPECT_FALSE(HasPrefix(r.journal, "WebView.Navigate")) << ::testing::PrintToString(r.journal);
        EXPECT_EQ(DecodedRecord(r.clipboard).value("reason", ""), c.reason);
    }
    EXPECT_TRUE(ServiceTest::TrapConnections("127.0.0.3:47448", 0).empty()) << "a forged link reached its service";
}

// A platform host whose chain fails the pins, met by the content request
// (a forged chain: the server receives nothing after the handshake) or by
// the version check against the link's service (a foreign chain): the
// dialog names the interception with the host as its code, and the program
// ends with 0 before any browser starts.
TEST_F(DialogPaths, APlatformHostFailingItsPinsEndsInTheDialog) {
    struct Case {
        const char* what;
        std::string content;
        std::string domain;
        std::string trap; // the listener that records what reached it, if it is one
    };
    for (const Case& c : {Case{"content request, forged chain", "pdf-1", "https://127.0.0.1:47446", "127.0.0.1:47446"},
                          Case{"version check, foreign chain", std::string(kService) + "/media/page.html",
                               "https://127.0.0.1:47444", ""}}) {
        SCOPED_TRACE(c.what);
        ServiceTest::ResetTraps();
        const DialogRun r = Run(TestSupport::SealLink("p", c.content, c.domain), Dialog::Started, kPinTitle);
        ASSERT_TRUE(r.run.ended);
        EXPECT_EQ(r.run.exitCode, 0u);
        // The browser started early loads nothing.
        EXPECT_FALSE(HasPrefix(r.journal, "WebView.Navigate")) << ::testing::PrintToString(r.journal);
        // The pin check's code is the host itself, not an encoded record.
        EXPECT_EQ(r.clipboard, "SSL_127.0.0.1");
        EXPECT_EQ(ToLowerCopy(Utf8ToWide(r.dialogImage)), ToLowerCopy(SystemProgramPath(u"mshta.exe")));
        EXPECT_EQ(r.commandLine, Expected(kPinTitle, kPinText, kPinArabic, "SSL_127.0.0.1"));
        EXPECT_EQ(r.plantedRan, "") << "something planted beside the program ran";
        EXPECT_EQ(r.boxText, "");
        if (c.trap.empty()) continue;
        const std::vector<ServiceTest::TrapConnection> connections = ServiceTest::TrapConnections(c.trap, 1);
        ASSERT_FALSE(connections.empty()) << "the forged listener was never reached";
        bool shaken = false;
        for (const auto& connection : connections) {
            shaken = shaken || connection.handshake;
            EXPECT_EQ(connection.received, "") << "connection " << connection.connection;
        }
        EXPECT_TRUE(shaken);
    }
}

} // namespace
