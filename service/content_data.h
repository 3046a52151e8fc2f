#pragma once
#include <cstdint>
#include <string>

#include "common/text.h"

struct ContentData {
    std::string kind = "video";
    std::string address;
    std::string embedSource;
    std::string watermark;
    std::int32_t scriptVariant = 1;
    bool succeeded = false;
};

// One form PUT to the service named by the link; never throws. serverMessage
// is written only on failure paths (the service's "message", or the
// transport's error text).
ContentData GetContentData(const WString& serviceBase, const std::string& contentLinkId,
                           const std::string& passThroughValue, std::string& serverMessage);

// Reads a successful response body; false when it is not JSON or a field has
// the wrong type.
bool ParseContentData(const std::string& body, ContentData& out);
// The service's own words in a failure body: its string "message", or empty.
std::string ServiceMessage(const std::string& body);
