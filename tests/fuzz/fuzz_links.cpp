// Feeds arbitrary bytes through everything a link passes before any network
// call: normalisation and splitting, envelope opening with the profile's key,
// the text helpers, the host reading and the URL classifiers.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "common/base64.h"
#include "common/masking.h"
#include "common/text.h"
#include "common/url_host.h"
#include "links/envelope.h"
#include "links/scheme_link.h"
#include "links/url_classify.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string key = UnmaskConstant(Config::kEnvelopeKey);
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const WString text = Utf8ToWide(bytes);

    for (const WString& field : SplitLinkPayload(text)) {
        try {
            (void)OpenSealedEnvelope(WideToUtf8(field), key);
        } catch (const std::exception&) {
        }
    }
    try {
        (void)OpenSealedEnvelope(bytes, key);
    } catch (const std::exception&) {
    }
    (void)Base64Decode(bytes);
    (void)UrlEncode(UrlDecode(text));
    if (const std::optional<UrlAuthority> authority = ReadAuthority(text)) {
        (void)UrlPath(text, *authority);
        (void)AuthorityMatchesMarker(*authority, text.substr(0, 40));
    }
    (void)IsIpAddress(text);
    (void)DisplayText(text);
    (void)IsZoomUrl(text);
    if (IsYouTubeUrl(text)) (void)ToYouTubeEmbedUrl(text);
    (void)HasSchemeLink(text);
    return 0;
}
