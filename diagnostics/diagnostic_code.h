#pragma once
// The code a user sends to support: "ERRDIAG|v1|ts=..|mk=..|reason=..|END"
// XOR-ed with a fixed key and Base64-encoded.
#include <cstdint>
#include <string>

std::string ErrorDiagnosticCode(const std::string& reason);
std::string EncodeDiagnosticRecord(const std::string& record);

struct DiagnosticRecord {
    bool valid = false;
    std::int64_t ts = 0;
    std::string mk;
    std::string reason;
};
// Reads a code back (support staff decode what users send).
DiagnosticRecord DecodeDiagnosticCode(const std::string& code);
