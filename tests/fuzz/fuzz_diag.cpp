// Codes given to "diag decode": any text is refused or read without a crash,
// the tool's JSON answer can always be written, and a read record written
// back as a code reads the same again.
#include <nlohmann/json.hpp>

#include "diagnostics/diagnostic_code.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string code(reinterpret_cast<const char*>(data), size);
    const DiagnosticRecord record = DecodeDiagnosticCode(code);
    if (!record.valid) return 0;
    const nlohmann::json answer = {{"ts", record.ts}, {"mk", record.mk}, {"reason", record.reason}};
    (void)answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);

    FUZZ_CHECK(record.mk.find("|reason=") == std::string::npos, "mk holds the reason marker: " + record.mk);
    const std::string again = EncodeDiagnosticRecord("ERRDIAG|v1|ts=" + std::to_string(record.ts) +
                                                     "|mk=" + record.mk + "|reason=" + record.reason + "|END");
    const DiagnosticRecord reread = DecodeDiagnosticCode(again);
    FUZZ_CHECK(reread.valid && reread.ts == record.ts && reread.mk == record.mk && reread.reason == record.reason,
               "record changed on the way back: " + record.mk.substr(0, 80) + " | " + record.reason.substr(0, 80));
    return 0;
}
