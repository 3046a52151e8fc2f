#include "diagnostics/diagnostic_code.h"

#include <chrono>

#include "common/base64.h"
#include "service/device_identity.h"

namespace {
constexpr char kKey[] = "KXTRACE-PLOVEND!"; // 16 bytes

std::string XorWithKey(std::string data) {
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(data[i] ^ kKey[i % 16]);
    return data;
}
} // namespace

std::string EncodeDiagnosticRecord(const std::string& record) {
    return Base64Encode(XorWithKey(record));
}

std::string ErrorDiagnosticCode(const std::string& reason) {
    EnsureDeviceInfo();
    const std::string identity = WideToUtf8(GetDeviceIdentity());
    const auto now = std::chrono::system_clock::now();
    const long long ts = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    const std::string record =
        "ERRDIAG|v1|ts=" + std::to_string(ts) + "|mk=" + identity + "|reason=" + reason + "|END";
    return EncodeDiagnosticRecord(record);
}

DiagnosticRecord DecodeDiagnosticCode(const std::string& code) {
    DiagnosticRecord out;
    std::string trimmed;
    for (char c : code) {
        if (c != ' ' && c != '\n' && c != '\r' && c != '\t') trimmed.push_back(c);
    }
    const std::string record = XorWithKey(Base64Decode(trimmed));
    const std::string head = "ERRDIAG|v1|ts=";
    const std::string tail = "|END";
    if (record.size() < head.size() + tail.size() || record.compare(0, head.size(), head) != 0 ||
        record.compare(record.size() - tail.size(), tail.size(), tail) != 0) {
        return out;
    }
    const std::string inner = record.substr(head.size(), record.size() - head.size() - tail.size());
    // ts|mk=...|reason=... ; the reason may itself hold "|", so it runs to the end.
    const std::size_t mkAt = inner.find("|mk=");
    if (mkAt == std::string::npos) return out;
    const std::size_t reasonAt = inner.find("|reason=", mkAt + 4);
    if (reasonAt == std::string::npos) return out;
    try {
        std::size_t used = 0;
        out.ts = std::stoll(inner.substr(0, mkAt), &used);
        if (used != mkAt) return out;
    } catch (...) {
        return out;
    }
    out.mk = inner.substr(mkAt + 4, reasonAt - mkAt - 4);
    out.reason = inner.substr(reasonAt + 8);
    out.valid = true;
    return out;
}
