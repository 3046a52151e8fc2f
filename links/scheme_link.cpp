#include "links/scheme_link.h"

#include <exception>
#include <string>

#include "common/app_constants.h"
#include "common/masking.h"
#include "common/url_host.h"
#include "links/envelope.h"
#include "links/navigation_rule.h"
#include "links/player_content.h"
#include "links/url_classify.h"
#include "service/content_data.h"
#include "service/http_client.h"

namespace {

// Trace lines have no reader in production builds; the sink keeps the call
// sites documenting the parse without producing output.
void Trace(const std::string&) {}

WString SchemePrefix() {
    return ToLowerCopy(ApplicationConstants.schemeWord) + u":";
}

WString NormalisePayload(const WString& link) {
    WString text = UrlDecode(link);
    // Browsers and shells turn the base64 "+" into a space.
    for (auto& c : text) {
        if (c == u' ') c = u'+';
    }
    const WString prefix = SchemePrefix();
    const std::size_t p = ToLowerCopy(text).find(prefix);
    if (p != WString::npos) text = text.substr(p + prefix.size());

    auto isSlash = [](char16_t c) { return c == u'/' || c == u'\\'; };
    while (!text.empty() && isSlash(text.back())) text.pop_back();
    std::size_t lead = 0;
    while (lead < text.size() && isSlash(text[lead])) ++lead;
    return text.substr(lead);
}

// Splits like repeated getline: no field for an empty text, none after a
// final separator.
std::vector<WString> SplitFields(const WString& text) {
    std::vector<WString> fields;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t colon = text.find(u':', start);
        if (colon == WString::npos) {
            fields.push_back(text.substr(start));
            break;
        }
        fields.push_back(text.substr(start, colon - start));
        start = colon + 1;
    }
    return fields;
}

struct WipedKey {
    std::string bytes;
    ~WipedKey() { SecureWipe(bytes); }
};

// The service a link names gets the link's parts, the device's identity and
// the version check whose answer can send the learner to a download: only the
// platform's own service, over https, in the form the transport reads.
bool IsPlatformServiceBase(const WString& base) {
    ParsedUrl parsed;
    if (!ParseHttpUrl(base, parsed) || !parsed.secure) return false;
    const std::optional<UrlAuthority> authority = ReadAuthority(base);
    return authority && authority->scheme == u"https" && IsPlatformDomainHost(authority->host);
}

// A direct content address skips the service that would otherwise name the
// content, so whoever holds the envelope key chooses it: only the platform's
// own domains are trusted that far, never the providers' shared hosting
// (storage buckets, CDN zones) where anyone can rent a name. It is also
// judged as the player judges every later navigation, as a target reached
// from the link's service: there is no content yet that it could be allowed as.
bool IsShowableDirectAddress(const WString& address, const WString& domain) {
    if (!IsPlatformDomainHost(HostOf(address))) return false;
    PlayerContentRecord before;
    before.domain = domain;
    before.contentType = u"url_direct";
    return NavigationAllowed(address, before);
}

// False when the service named something the player must not show.
bool FillFromContentData(const ContentData& data) {
    const ContentPlan plan = PlanContent(data);
    PlayerContent.contentType = plan.contentType;
    PlayerContent.watermarkText = plan.watermarkText;
    PlayerContent.url = plan.url;
    if (plan.pageScriptUrl.empty()) return plan.shown;

    // A client of its own (none of the service's default headers), but a
    // pinning one: the script runs in the content's pages, and a platform
    // host serving it gets the machine's identity only over a connection its
    // pins vouched for. A failed download only means the page runs without it.
    HttpClient client;
    const HttpResponse response = client.Get(plan.pageScriptUrl);
    if (response.ok) PlayerContent.pageScript = Utf8ToWide(response.body);
    return true;
}

} // namespace

ContentPlan PlanContent(const ContentData& data) {
    ContentPlan plan;
    const WString address = Utf8ToWide(data.address);
    if (data.kind == "video" || data.kind == "zoom" || data.kind == "zoom_url" || IsZoomUrl(address)) {
        plan.contentType = u"url_direct";
    } else {
        plan.contentType = Utf8ToWide(data.kind);
    }
    plan.watermarkText = Utf8ToWide(data.watermark);

    const WString embedSource = Utf8ToWide(data.embedSource);
    if (!IsYouTubeUrl(embedSource)) {
        plan.url = address;
        // Only web contents: a file, script or data address would run with
        // the player's page bridge, or read the learner's disk.
        plan.shown = IsWebAddress(address);
        return plan;
    }
    plan.url = ToYouTubeEmbedUrl(embedSource);
    plan.contentType = u"url_direct";
    plan.pageScriptUrl = Utf8ToWide(UnmaskConstant(Config::kPageScriptBase)) +
                         WidenAscii(std::to_string(data.scriptVariant));
    plan.shown = true;
    return plan;
}

std::vector<WString> SplitLinkPayload(const WString& link) {
    return SplitFields(NormalisePayload(link));
}

bool ParseSchemeArgs(const WString& link, std::string& errorText) {
    errorText = "unknown_error";
    Trace("ParseSchemeArgs called with payload length: " + std::to_string(link.size()));
    try {
        const std::vector<WString> fields = SplitLinkPayload(link);
        if (fields.size() < 3) {
            errorText = "split_failed_parts_" + std::to_string(fields.size());
            Trace("ParseSchemeArgs failed: less than 3 parts after split");
            return false;
        }

        WipedKey key{UnmaskConstant(Config::kEnvelopeKey)};
        std::string values[3];
        for (int i = 0; i < 3; ++i) values[i] = OpenSealedEnvelope(WideToUtf8(fields[i]), key.bytes);
        if (values[0].empty() || values[1].empty() || values[2].empty()) {
            errorText = "decrypt_failed_empty_strings";
            Trace("ParseSchemeArgs failed: one of the parts decrypted to empty string");
            return false;
        }

        Trace("Decrypted OK. Domain: " + values[2]);
        const WString domain = Utf8ToWide(values[2]);
        // Checked before it is kept: nothing may ever be asked of a service
        // that is not the platform's.
        if (!IsPlatformServiceBase(domain)) {
            errorText = "domain_not_allowed";
            Trace("ParseSchemeArgs failed: the domain is not the platform's service");
            return false;
        }
        PlayerContent.domain = domain;

        const WString linkId = Utf8ToWide(values[1]);
        if (StartsWith(linkId, u"http://") || StartsWith(linkId, u"https://")) {
            if (!IsShowableDirectAddress(linkId, PlayerContent.domain)) {
                errorText = "direct_url_not_allowed";
                Trace("ParseSchemeArgs failed: the direct URL is refused by the navigation policy");
                return false;
            }
            PlayerContent.url = linkId;
            PlayerContent.contentType = u"url_direct";
            PlayerContent.watermarkText.clear();
            Trace("ParseSchemeArgs: contentLinkId is a direct URL. Skipping GetContentData.");
        } else {
            std::string serverMessage;
            const ContentData data = GetContentData(PlayerContent.domain, values[1], values[0], serverMessage);
            if (!data.succeeded) {
                errorText = serverMessage.empty() ? "api_content_data_failed" : "server:" + serverMessage;
                Trace("ParseSchemeArgs failed: GetContentData returned empty value");
                return false;
            }
            if (!FillFromContentData(data)) {
                // Refused like an answer whose fields have the wrong type.
                errorText = "api_content_data_failed";
                Trace("ParseSchemeArgs failed: the content address is not a web address");
                return false;
            }
        }
        Trace("ParseSchemeArgs succeeded");
        return true;
    } catch (const std::exception& e) {
        errorText = std::string("exception_") + e.what();
        Trace(std::string("ParseSchemeArgs exception: ") + e.what());
        return false;
    } catch (...) {
        errorText = "unknown_exception";
        Trace("ParseSchemeArgs unknown exception");
        return false;
    }
}

WString FindSchemeLink(const std::vector<WString>& args, const WString& rawTail) {
    WString link;
    if (args.size() >= 2) link = args[1];
    if (link.empty() && Contains(rawTail, ApplicationConstants.schemeWord + u":")) link = rawTail;
    return link;
}

bool HasSchemeLink(const WString& link) {
    return Contains(ToLowerCopy(link), ToLowerCopy(ApplicationConstants.schemeWord) + u":");
}
