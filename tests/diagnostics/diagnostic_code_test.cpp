#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "common/base64.h"
#include "diagnostics/diagnostic_code.h"
#include "diagnostics/diagnostic_dialog.h"
#include "service/device_identity.h"

namespace {
std::string Record(const std::string& code) {
    std::string bytes = Base64Decode(code);
    const char* key = "KXTRACE-PLOVEND!";
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(bytes[i] ^ key[i % 16]);
    return bytes;
}
} // namespace

TEST(DiagnosticCode, RecordLayoutUnderTheFixedKey) {
    const std::string code = ErrorDiagnosticCode("exception_x");
    const std::string record = Record(code);
    EXPECT_EQ(record.rfind("ERRDIAG|v1|ts=", 0), 0u) << record;
    const std::string tail = "|mk=" + WideToUtf8(GetDeviceIdentity()) + "|reason=exception_x|END";
    ASSERT_GE(record.size(), tail.size());
    EXPECT_EQ(record.substr(record.size() - tail.size()), tail);
    EXPECT_EQ(code.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
    // Known records, computed outside the program.
    EXPECT_EQ(EncodeDiagnosticRecord("ERRDIAG|v1|ts=1|mk=|reason=|END"), "DgoGFggCAlEmfTMiNnN1XSYzaS4zJiRePyJyKgAAAA==");
    const DiagnosticRecord known =
        DecodeDiagnosticCode("DgoGFggCAlEmfTMiNnN1FntoZGJxc3UdLCEkaxwZDks3KjEzMiwrEDEwLSoAAAA=");
    ASSERT_TRUE(known.valid);
    EXPECT_EQ(known.ts, 1700000000);
    EXPECT_EQ(known.mk, "YWJj");
    EXPECT_EQ(known.reason, "a|b");
}

TEST(DiagnosticCode, ReadsBackWhatItWrote) {
    for (const std::string reason : {"", "server:x|y", "SSL_127.0.0.1", "exception_MAC verification failed \xE2\x80\x94"}) {
        const DiagnosticRecord r = DecodeDiagnosticCode(ErrorDiagnosticCode(reason));
        ASSERT_TRUE(r.valid) << reason;
        EXPECT_EQ(r.reason, reason);
        EXPECT_EQ(r.mk, WideToUtf8(GetDeviceIdentity()));
        const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch()).count();
        EXPECT_LE(std::abs(now - r.ts), 5);
    }
    EXPECT_FALSE(DecodeDiagnosticCode("").valid);
    EXPECT_FALSE(DecodeDiagnosticCode("bm90IGEgY29kZQ==").valid);
    EXPECT_FALSE(DecodeDiagnosticCode(EncodeDiagnosticRecord("ERRDIAG|v1|ts=x|mk=|reason=|END")).valid);
}

TEST(DiagnosticCode, CodesOfDifferentSecondsDiffer) {
    const std::string a = ErrorDiagnosticCode("r");
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_NE(ErrorDiagnosticCode("r"), a);
}

TEST(DiagnosticDialog, FallbackTextCarriesBothLanguagesAndTheCode) {
    EXPECT_EQ(DiagnosticFallbackText(u"Failed.", u"\u0641\u0634\u0644", "QUJD"),
              u"Failed.\n\n\u0641\u0634\u0644\n\nDiagnostic Code:\nQUJD");
}
