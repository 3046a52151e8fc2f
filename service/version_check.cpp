#include "service/version_check.h"

#include <nlohmann/json.hpp>

#include <cmath>

#include "common/bounded_json.h"
#include "common/masking.h"
#include "common/numbers.h"
#include "service/http_client.h"

namespace {

double ReadVersion(const nlohmann::json& value) {
    if (value.is_number()) return value.get<double>();
    if (value.is_string()) return LeadingDecimal(value.get<std::string>()).value_or(0);
    return 0;
}

bool ReadRequired(const nlohmann::json& value) {
    if (value.is_number_integer()) return value.get<std::int64_t>() == 1;
    if (value.is_number_float()) return std::trunc(value.get<double>()) == 1.0;
    if (value.is_string()) return value.get<std::string>() == "1";
    return false;
}

} // namespace

VersionCheckResult EvaluateVersionDocument(double currentVersion, const std::string& body) {
    VersionCheckResult result;
    try {
        const nlohmann::json document = ParseBoundedJson(body);
        if (document.is_discarded() || !document.is_object() || !document.contains("version")) return result;
        result.answered = true;
        if (!(currentVersion < ReadVersion(document["version"]))) return result;
        result.hasUpdate = true;
        if (document.contains("is_required")) result.isRequired = ReadRequired(document["is_required"]);
        if (document.contains("link") && document["link"].is_string()) {
            result.link = Utf8ToWide(document["link"].get<std::string>());
        }
    } catch (...) {
    }
    return result;
}

VersionCheckResult CheckVersion(double currentVersion, const WString& baseUrl) {
    try {
        const WString url = baseUrl.empty() ? Utf8ToWide(UnmaskConstant(Config::kVersionUrl))
                                            : baseUrl + Utf8ToWide(UnmaskConstant(Config::kVersionPath));
        const HttpResponse response = SharedClient().Get(url);
        if (!response.ok) return {};
        return EvaluateVersionDocument(currentVersion, response.body);
    } catch (...) {
        return {};
    }
}
