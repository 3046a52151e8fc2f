#include "player/browser_rules.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <thread>

#include "common/masking.h"
#include "common/url_host.h"
#include "diagnostics/diagnostic_dialog.h"
#include "links/navigation_rule.h"
#include "links/player_content.h"
#include "service/http_client.h"

static_assert(Config::kHeaderSelectionMarkersCount == 3, "three header-selection markers");
static_assert(Config::kBrowserEndingMarkersCount == 3, "ending markers: 6, 9 and 20 characters");
static_assert(Config::kBrowserIdentityHeadersCount == 4,
              "identity header names: identifier, identifier, description, description");
static_assert(Config::kInitScreenHeaderNamesCount == 2 && Config::kInitScreenHeaderValuesCount == 2,
              "the init screen sets two headers");

namespace {

// Positions in the profile's browserIdentityHeaders list.
constexpr std::size_t kFirstIdentityName = 0;
constexpr std::size_t kSecondIdentityName = 1;
constexpr std::size_t kFirstDescriptionName = 2;
constexpr std::size_t kSecondDescriptionName = 3;

std::shared_mutex gVerifiedLock;
// Host and port: another port of a host is another server.
std::set<std::pair<WString, std::uint16_t>> gBrowserVerifiedHosts;

WString Unmasked(const Config::MaskedConstant& masked) { return Utf8ToWide(UnmaskConstant(masked)); }

WString IdentityName(std::size_t index) { return Unmasked(Config::kBrowserIdentityHeaders[index]); }

// An https request to one of the platform's hosts, on the marker's port
// where it names one. Only the host and port count: a marker's text in the
// path, the query or the fragment selects nothing.
bool IsPlatformRequest(const UrlAuthority& authority) {
    if (authority.scheme != u"https") return false;
    for (std::size_t i = 0; i < Config::kHeaderSelectionMarkersCount; ++i) {
        if (AuthorityMatchesMarker(authority, Unmasked(Config::kHeaderSelectionMarkers[i]))) return true;
    }
    return false;
}

// The video and progress identity goes to names the platform and the product
// own. The other providers' suffixes are shared hosting (storage buckets,
// CDN zones) where anyone can rent a name a page may then ask.
bool IsOwnHost(const WString& host) { return IsPlatformDomainHost(host) || IsOwnVideoDomainHost(host); }

// The video and progress markers, looked for in the path alone.
bool HasVideoMarker(const WString& lowerPath) {
    for (std::size_t i = 0; i < Config::kBrowserEndingMarkersCount; ++i) {
        const WString marker = Unmasked(Config::kBrowserEndingMarkers[i]);
        if (!marker.empty() && EndsWith(lowerPath, marker)) return true;
    }
    const WString contained = Unmasked(Config::kBrowserContainedMarker);
    return !contained.empty() && Contains(lowerPath, contained);
}

void AddIfValue(std::vector<HeaderPair>& headers, std::size_t nameIndex, const WString& value) {
    if (!value.empty()) headers.push_back(HeaderPair{IdentityName(nameIndex), value});
}

void RecordVerified(const WString& host, std::uint16_t port) {
    std::unique_lock<std::shared_mutex> guard(gVerifiedLock);
    gBrowserVerifiedHosts.emplace(host, port);
}

bool IsVerified(const WString& host, std::uint16_t port) {
    std::shared_lock<std::shared_mutex> guard(gVerifiedLock);
    return gBrowserVerifiedHosts.count({host, port}) != 0;
}

} // namespace

HeaderPair ClientHeader() {
    return HeaderPair{Unmasked(Config::kClientHeader), Unmasked(Config::kClientValue)};
}

std::optional<std::vector<HeaderPair>> NavigationHeaders(const WString& url, const WString& identity,
                                                         const WString& description) {
    const std::optional<UrlAuthority> authority = ReadAuthority(url);
    if (!authority || !IsPlatformRequest(*authority)) return std::nullopt;
    std::vector<HeaderPair> headers{ClientHeader()};
    AddIfValue(headers, kFirstIdentityName, identity);
    AddIfValue(headers, kSecondIdentityName, identity);
    AddIfValue(headers, kFirstDescriptionName, description);
    AddIfValue(headers, kSecondDescriptionName, description);
    return headers;
}

std::vector<HeaderPair> ResourceIdentityHeaders(const WString& uri, const WString& identity,
                                                const WString& description) {
    std::vector<HeaderPair> headers;
    const std::optional<UrlAuthority> authority = ReadAuthority(uri);
    if (!authority || authority->scheme != u"https") return headers;
    const bool platform = IsPlatformRequest(*authority);
    if (platform) {
        AddIfValue(headers, kFirstIdentityName, identity);
        AddIfValue(headers, kFirstDescriptionName, description);
    }
    if (HasVideoMarker(ToLowerCopy(UrlPath(uri, *authority))) && (platform || IsOwnHost(authority->host))) {
        AddIfValue(headers, kSecondIdentityName, identity);
        AddIfValue(headers, kSecondDescriptionName, description);
    }
    return headers;
}

std::vector<WString> IdentityHeaderNames() {
    return {IdentityName(kFirstIdentityName), IdentityName(kSecondIdentityName), IdentityName(kFirstDescriptionName),
            IdentityName(kSecondDescriptionName)};
}

std::optional<WString> HttpsHostOf(const WString& uri) {
    const std::optional<UrlAuthority> authority = ReadAuthority(uri);
    if (!authority) {
        // An https request whose host cannot be read has nothing to look up.
        if (StartsWith(ToLowerCopy(uri), u"https://")) return WString();
        return std::nullopt;
    }
    if (authority->scheme != u"https") return std::nullopt;
    WString host = authority->host;
    // "host." is the same server as "host", and must meet the same pins.
    if (host.size() > 1 && host.back() == u'.') host.pop_back();
    return host;
}

bool IsBareHostName(const WString& host) {
    if (host.empty() || host.size() > 255) return false;
    for (const char16_t c : host) {
        if (c <= u' ' || c == u'/' || c == u'\\' || c == u'?' || c == u'#' || c == u'@') return false;
    }
    return true;
}

HostCheck CheckBrowserHost(const WString& host, const HostProbe& probe, std::optional<std::uint16_t> port) {
    const std::uint16_t server = port.value_or(static_cast<std::uint16_t>(kBrowserProbePort));
    if (IsVerified(host, server)) return HostCheck::Passed;

    const std::optional<PinEntry> entry = FindPinEntry(host);
    if (!entry || entry->pins.empty()) {
        RecordVerified(host, server);
        return HostCheck::Passed;
    }
    // The service client of this process already checked this server's
    // chain (the same host and port) against the same pins, in a handshake of
    // its own. Another port is another server, probed as ever.
    if (PinVerifiedHost(host, server, *entry)) return HostCheck::Passed;

    ProbeResult result;
    try {
        if (probe) result = probe(host);
    } catch (...) {
        // A probe that could not run is a host that could not be reached.
        result = ProbeResult{};
    }
    // Nothing is recorded: the next connection is checked again, as it is made.
    if (result.outcome == ProbeResult::Outcome::CheckedOnItsConnection) return HostCheck::Passed;
    // No look at the server's chain is no pass: whoever kept the probe from
    // its handshake (refused, cut, too slow) must not get the browser's
    // request unchecked, now or later. Nothing is recorded; the next request
    // looks again.
    if (result.outcome != ProbeResult::Outcome::Responded) return HostCheck::Unchecked;
    // A mismatch on the platform's own domain ends in the pin dialog right here,
    // as for every other caller of the pin check.
    if (!ValidateServerPins(result.chain, host)) return HostCheck::Mismatch;
    RecordVerified(host, server);
    return HostCheck::Passed;
}

std::string BrowserPinFailureCode(const WString& host) {
    std::string hostUtf8 = WideToUtf8(host);
    if (hostUtf8.size() > 100) hostUtf8.resize(100);
    return "MITM_PIN_" + hostUtf8;
}

void ReportBlockedHostLater(const WString& host) {
    // The dialog ends the process, so one notice is all a process shows: a
    // page that keeps asking a blocked host within the half second must not
    // open a dialog per request.
    static std::atomic<bool> reported{false};
    if (reported.exchange(true)) return;
    const std::string code = BrowserPinFailureCode(host);
    std::thread([code] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        DiagnosticDialog(BlockedHostNotice::kCaption, BlockedHostNotice::kEnglish, BlockedHostNotice::kArabic, code);
    }).detach();
}

ResourceRuleResult ApplyBrowserResourceRules(const WString& uri, WebView::ResourceRequest& request,
                                             const HostProbe& probe, const WString& identity,
                                             const WString& description) {
    const HeaderPair client = ClientHeader();
    request.SetHeader(client.name, client.value);
    ResourceRuleResult result;
    if (uri.empty()) return result;
    const std::optional<UrlAuthority> authority = ReadAuthority(uri);
    const std::optional<std::uint16_t> port =
        authority ? std::optional<std::uint16_t>(authority->effectivePort) : std::nullopt;
    if (const std::optional<WString> host = HttpsHostOf(uri)) {
        const HostCheck check = CheckBrowserHost(*host, probe, port);
        if (check != HostCheck::Passed) {
            result.blocked = true;
            // Only a chain seen missing its pins is an interception to report.
            if (check == HostCheck::Mismatch) result.blockedHost = *host;
            return result;
        }
    }
    for (const HeaderPair& header : ResourceIdentityHeaders(uri, identity, description))
        request.SetHeader(header.name, header.value);
    return result;
}

std::optional<WString> RefererFor(const WString& uri, const WString& domain) {
    const WString lower = ToLowerCopy(uri);
    if (!Contains(lower, u"youtube.com") && !Contains(lower, u"youtu.be")) return std::nullopt;
    WString referer = domain;
    if (!referer.empty() && referer.back() == u'/') referer.pop_back();
    if (referer.empty()) return std::nullopt;
    return referer;
}

void YouTubeRefererRule(const WString& uri, WebView::ResourceRequest& request) {
    if (const std::optional<WString> referer = RefererFor(uri, PlayerContent.domain))
        request.SetHeader(u"Referer", *referer);
}

bool OpensInTheSameView(const WString& url) { return IsWebAddress(url); }

bool FollowsNewWindowRequest(const WString& url, bool userInitiated) {
    return userInitiated && OpensInTheSameView(url);
}

WString BrowserSwitches() { return Unmasked(Config::kBrowserSwitches); }

WString StartPageUrl() { return Unmasked(Config::kStartPageUrl); }

WString HomePageUrl() { return Unmasked(Config::kHomePageUrl); }

std::vector<HeaderPair> InitScreenRequestHeaders() {
    std::vector<HeaderPair> headers;
    for (std::size_t i = 0; i < Config::kInitScreenHeaderNamesCount; ++i)
        headers.push_back(HeaderPair{Unmasked(Config::kInitScreenHeaderNames[i]), Unmasked(Config::kInitScreenHeaderValues[i])});
    return headers;
}

bool GrantsPermission(BrowserPermission kind) {
    switch (kind) {
    case BrowserPermission::Microphone:
    case BrowserPermission::Camera:
    case BrowserPermission::Notifications: return true;
    case BrowserPermission::Other: break;
    }
    return false;
}
