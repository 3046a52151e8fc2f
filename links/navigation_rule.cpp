#include "links/navigation_rule.h"

#include "common/masking.h"
#include "common/url_host.h"
#include "links/url_classify.h"

static_assert(Config::kAllowedDomainSuffixesCount == 39,
              "the navigation policy counts on 39 provider suffixes in their fixed order");

namespace {

// Zero-based positions of the list's kinds.
constexpr std::size_t kPlatformFirst = 0; // the platform's own domains: three entries
constexpr std::size_t kPlatformCount = 3;
constexpr std::size_t kFirstCdnA = 3;     // the first video CDN's first two domains
constexpr std::size_t kFirstCdnB = 4;
constexpr std::size_t kSecondCdn = 7;     // the second video CDN
constexpr std::size_t kOwnVideo = 8;      // the product's own video domain

bool ContainsEither(const WString& host, const WString& a, const WString& b) {
    // An empty entry would match every host; a profile must not open the door that way.
    return (!a.empty() && Contains(host, a)) || (!b.empty() && Contains(host, b));
}

// The last two labels, or the whole host when it has fewer than two dots.
WStringView RegistrablePart(WStringView host) {
    const std::size_t last = host.rfind(u'.');
    if (last == WStringView::npos || last == 0) return host;
    const std::size_t secondLast = host.rfind(u'.', last - 1);
    if (secondLast == WStringView::npos) return host;
    return host.substr(secondLast + 1);
}

bool IsDottedSubdomain(const WString& longer, const WString& shorter) {
    return longer.size() > shorter.size() && EndsWith(longer, u"." + shorter);
}

} // namespace

WString StripQueryAndFragment(const WString& s) {
    const std::size_t cut = s.find_first_of(u"?#");
    return cut == WString::npos ? s : s.substr(0, cut);
}

WString HostOf(const WString& u) {
    WStringView rest = u;
    if (rest.size() > 4 && StartsWith(rest, u"blob:")) rest.remove_prefix(5);
    // Only web addresses have a host to judge; a "://" inside a data: or
    // javascript: address names nothing.
    return WebHostOf(rest);
}

bool SameSite(const WString& a, const WString& b) {
    if (a.empty() || b.empty()) return false;
    if (a == b) return true;
    // Addresses are no sites: two numbers that end alike belong to different machines.
    if (IsIpAddress(a) || IsIpAddress(b)) return false;
    if (IsDottedSubdomain(a, b) || IsDottedSubdomain(b, a)) return true;
    return RegistrablePart(a) == RegistrablePart(b);
}

const std::vector<WString>& AllowedDomainSuffixes() {
    // A function-local static is built once even when first used from two threads.
    static const std::vector<WString> suffixes = [] {
        std::vector<WString> list;
        list.reserve(Config::kAllowedDomainSuffixesCount);
        for (const std::string& s : UnmaskList(Config::kAllowedDomainSuffixes, Config::kAllowedDomainSuffixesCount))
            list.push_back(Utf8ToWide(s));
        return list;
    }();
    return suffixes;
}

bool IsPlatformDomainHost(const WString& host) {
    const std::vector<WString>& suffixes = AllowedDomainSuffixes();
    for (std::size_t i = kPlatformFirst; i < kPlatformFirst + kPlatformCount; ++i) {
        if (HostIsOrIsUnder(host, suffixes[i])) return true;
    }
    return false;
}

bool IsOwnVideoDomainHost(const WString& host) { return HostIsOrIsUnder(host, AllowedDomainSuffixes()[kOwnVideo]); }

bool NavigationAllowed(const WString& uri, const PlayerContentRecord& content) {
    if (uri == u"about:blank") return true;

    const WString base = StripQueryAndFragment(content.url);
    const WString target = StripQueryAndFragment(uri);
    if (target == base) return true;

    const WString contentHost = HostOf(content.url);
    const WString targetHost = HostOf(uri);
    const WString linkHost = HostOf(content.domain);

    if (IsZoomUrl(base) && IsZoomUrl(target)) return true;
    if (IsYouTubeUrl(base) && IsYouTubeUrl(target)) return true;

    if (SameSite(linkHost, targetHost) || SameSite(contentHost, targetHost)) return true;

    if (StartsWith(target, base + u"/")) return true;

    const std::vector<WString>& suffixes = AllowedDomainSuffixes();
    for (const WString& suffix : suffixes) {
        if (suffix.empty()) continue;
        if (targetHost == suffix || IsDottedSubdomain(targetHost, suffix)) return true;
    }

    if (content.contentType == u"url_direct") {
        if (ContainsEither(contentHost, suffixes[kFirstCdnA], suffixes[kFirstCdnB]) &&
            ContainsEither(targetHost, suffixes[kFirstCdnA], suffixes[kFirstCdnB]))
            return true;
        if (ContainsEither(contentHost, suffixes[kSecondCdn], suffixes[kOwnVideo]) &&
            ContainsEither(targetHost, suffixes[kSecondCdn], suffixes[kOwnVideo]))
            return true;
    }
    return false;
}
