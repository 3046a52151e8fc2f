#pragma once
#include <string>
#include <vector>

#include "common/text.h"
#include "service/content_data.h"

// Turns a scheme link into PlayerContent. On failure returns false with a
// short machine-readable error text ("server:" + message for the service's own
// words). Fields written before a failure stay written. A link whose service
// base is not the platform's own https service ("domain_not_allowed"), or
// whose direct address is not on the platform's own domains or is refused by
// the navigation policy ("direct_url_not_allowed"), fails before any request.
bool ParseSchemeArgs(const WString& link, std::string& errorText);

// The payload after normalisation (percent-decoding, "+" restored, scheme,
// slashes cut), split at ":" into its fields.
std::vector<WString> SplitLinkPayload(const WString& link);

// The link on a command line: the first argument after the program path, or
// the whole raw tail when that gave nothing and the tail names the scheme.
WString FindSchemeLink(const std::vector<WString>& args, const WString& rawTail);
// A link is present when its lower-cased text holds the scheme word and ":".
bool HasSchemeLink(const WString& link);

// What a content-data answer makes of the player's content, before any
// download: the content type, address and watermark text, and for a YouTube
// source the address of its page script. `shown` is false when the address is
// not one the player may show.
struct ContentPlan {
    WString contentType;
    WString url;
    WString watermarkText;
    WString pageScriptUrl; // empty: no page script to fetch
    bool shown = false;
};
ContentPlan PlanContent(const ContentData& data);
