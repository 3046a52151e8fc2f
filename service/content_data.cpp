#include "service/content_data.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>

#include "common/bounded_json.h"
#include "common/masking.h"
#include "service/device_identity.h"
#include "service/http_client.h"

namespace {

using nlohmann::json;

bool Present(const json& object, const std::string& key) {
    return object.is_object() && object.contains(key) && !object[key].is_null();
}

// A present text member must be a string: get<> throws the library's type error otherwise.
void ReadText(const json& object, const std::string& key, std::string& out) {
    if (Present(object, key)) out = object[key].get<std::string>();
}

std::int32_t ReadVariant(const json& value) {
    if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
    if (value.is_number_integer()) return static_cast<std::int32_t>(value.get<std::int64_t>());
    if (value.is_number_float()) {
        const double d = std::trunc(value.get<double>());
        // Out-of-range values have no 32-bit meaning; clamp rather than invoke undefined behaviour.
        if (!(d >= std::numeric_limits<std::int32_t>::min())) return std::numeric_limits<std::int32_t>::min();
        if (d > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
        return static_cast<std::int32_t>(d);
    }
    return value.get<std::int32_t>(); // throws type error 302 for strings, arrays, objects
}

} // namespace

bool ParseContentData(const std::string& body, ContentData& out) {
    try {
        const json document = ParseBoundedJson(body);
        if (document.is_discarded()) return false;
        const std::string dataKey = UnmaskConstant(Config::kKeyData);
        const json& working = (document.is_object() && document.contains(dataKey) && document[dataKey].is_object())
                                  ? document[dataKey]
                                  : document;
        ContentData result;
        ReadText(working, UnmaskConstant(Config::kKeyKind), result.kind);
        ReadText(working, UnmaskConstant(Config::kKeyAddress), result.address);
        ReadText(working, UnmaskConstant(Config::kKeyEmbedSource), result.embedSource);
        ReadText(document, UnmaskConstant(Config::kKeyWatermark), result.watermark);
        const std::string variantKey = UnmaskConstant(Config::kKeyScriptVariant);
        if (Present(working, variantKey)) result.scriptVariant = ReadVariant(working[variantKey]);
        result.succeeded = true;
        out = result;
        return true;
    } catch (...) {
        return false;
    }
}

std::string ServiceMessage(const std::string& body) {
    try {
        const json document = ParseBoundedJson(body);
        if (!document.is_discarded() && document.is_object() && document.contains("message") &&
            document["message"].is_string()) {
            return document["message"].get<std::string>();
        }
    } catch (...) {
    }
    return std::string();
}

ContentData GetContentData(const WString& serviceBase, const std::string& contentLinkId,
                           const std::string& passThroughValue, std::string& serverMessage) {
    ContentData result;
    try {
        HttpClient& client = SharedClient();
        const WString url = serviceBase + Utf8ToWide(UnmaskConstant(Config::kContentDataPath));
        const std::string body = UnmaskConstant(Config::kFormLabelPass) + passThroughValue +
                                 UnmaskConstant(Config::kFormLabelId) + contentLinkId;

        client.SetHeader(Utf8ToWide(UnmaskConstant(Config::kIdentityHeader)), GetDeviceIdentity());
        client.SetHeader(Utf8ToWide(UnmaskConstant(Config::kDescriptionHeader)), GetDeviceDescription());
        client.SetHeader(Utf8ToWide(UnmaskConstant(Config::kClientHeader)),
                         Utf8ToWide(UnmaskConstant(Config::kClientValue)));

        const HttpResponse response = client.Request(u"PUT", url, body, u"application/x-www-form-urlencoded");
        if (!response.ok) {
            serverMessage = ServiceMessage(response.body);
            if (serverMessage.empty() && !response.error.empty()) serverMessage = response.error;
            return result;
        }
        ParseContentData(response.body, result);
        return result;
    } catch (...) {
        result.succeeded = false;
        return result;
    }
}
