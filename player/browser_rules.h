#pragma once
// The program's rules for the traffic of its embedded browsers, shared by the
// Windows and the Linux browser hosts: which headers each request carries,
// the pin check of every HTTPS host a page contacts, the notice shown when
// one fails, the YouTube Referer, and the fixed addresses and switches.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/text.h"
#include "player/webview_host.h"
#include "service/pins.h"

struct HeaderPair {
    WString name;
    WString value;
    bool operator==(const HeaderPair&) const = default;
};

// The fixed client header every browser request carries.
HeaderPair ClientHeader();

// NavigateTo: nothing when the address gets a plain navigation; otherwise
// (an https address on a platform host, and its port where the marker names
// one) the headers of the navigation request, in order: the client header,
// the device identifier under both identifier names, the description under
// both description names (an empty value is left out).
std::optional<std::vector<HeaderPair>> NavigationHeaders(const WString& url, const WString& identity,
                                                         const WString& description);

// The identity headers of one resource request (besides the client header,
// which every request gets), only ever over https: the first pair for the
// platform's hosts, the second pair for video and progress paths (the four
// URL markers, in the path alone) on the platform's hosts, its own domains or
// the product's own video domain; never on another provider's host.
std::vector<HeaderPair> ResourceIdentityHeaders(const WString& uri, const WString& identity,
                                                const WString& description);

// The four names those headers go under.
std::vector<WString> IdentityHeaderNames();

// The host to pin-check for a request: present only for https addresses,
// read as the browser reads it (user info and port dropped, lower-cased,
// without a final root dot); empty when an https address has no readable host.
std::optional<WString> HttpsHostOf(const WString& uri);

// What the browser host's own look at a pinned host found.
struct ProbeResult {
    enum class Outcome {
        CannotOpen,      // no session, connection or request could be opened
        ExchangeFailed,  // sending or receiving failed
        Responded,       // a response arrived; chain holds the connection's certificates
        // Every connection to the host is checked as it is made (the Linux
        // browser relay, the Windows player's own fetch): the request itself
        // needs no look.
        CheckedOnItsConnection,
    };
    Outcome outcome = Outcome::CannotOpen;
    ServerChain chain;
};
using HostProbe = std::function<ProbeResult(const WString& host)>;

// The port of an https address that names none.
inline constexpr int kBrowserProbePort = 443;

// A host name alone, nothing that would change an address's meaning (no
// user info, path, query, fragment or white space), at most 255 units.
bool IsBareHostName(const WString& host);

// Whether the browser may talk to a host. Hosts that passed are kept, by
// host and port, for the life of the process (shared by every browser host);
// unpinned hosts pass without a probe; a pinned host whose chain could not be
// looked at (no handshake, no probe) is refused without a notice, and one
// whose chain misses its pins is refused as an interception; neither is
// kept, so the next request looks again. The caller answers a mismatch
// itself (see ReportBlockedHostLater); this function never shows a dialog.
// A server (host and port; 443 unless given) the service client of this
// process already verified against the same pins needs no probe of its own.
enum class HostCheck { Passed, Unchecked, Mismatch };
HostCheck CheckBrowserHost(const WString& host, const HostProbe& probe,
                           std::optional<std::uint16_t> port = std::nullopt);

// The answer to a request whose host failed the check.
inline constexpr int kBlockedStatus = 403;
inline constexpr char16_t kBlockedReason[] = u"Blocked";
inline constexpr char16_t kBlockedHeaders[] = u"Content-Type: text/plain";

// "MITM_PIN_" and the host's UTF-8, cut to its first 100 bytes.
std::string BrowserPinFailureCode(const WString& host);

namespace BlockedHostNotice {
inline constexpr char16_t kCaption[] = u"Network Connection Intercepted - اتصال غير آمن";
inline constexpr char16_t kEnglish[] =
    u"A security program is blocking the secure connection.\nPlease disable 'HTTPS Scanning' or 'Web Shield' in "
    u"your antivirus settings and try again.";
inline constexpr char16_t kArabic[] =
    u"برنامج حماية يمنع الاتصال الآمن.\nيرجى تعطيل خاصية 'فحص HTTPS' أو 'حماية الويب' في إعدادات مكافح الفيروسات "
    u"وحاول مرة أخرى.";
} // namespace BlockedHostNotice

// Shows the diagnostic dialog for a blocked host 500 ms from now, on a
// detached thread, so the blocked request is answered at once and the page
// goes on meanwhile. The dialog ends the process; later calls show nothing.
void ReportBlockedHostLater(const WString& host);

// The resource-request rule as a whole, on one request: the client header,
// the host check, then the identity headers. A blocked request gets no
// further headers; the caller then answers it with kBlockedStatus, does not
// forward the request, and when blockedHost is set (the chain missed its
// pins) calls ReportBlockedHostLater(blockedHost).
struct ResourceRuleResult {
    bool blocked = false;
    WString blockedHost;
};
ResourceRuleResult ApplyBrowserResourceRules(const WString& uri, WebView::ResourceRequest& request,
                                             const HostProbe& probe, const WString& identity,
                                             const WString& description);

// The Referer for YouTube requests: the link's domain without one trailing
// "/", for addresses on YouTube's main or short-link domain; nothing otherwise.
std::optional<WString> RefererFor(const WString& uri, const WString& domain);
// The player's resource-request callback: sets that Referer (domain from PlayerContent).
void YouTubeRefererRule(const WString& uri, WebView::ResourceRequest& request);

// A page's request for a new window opens in the same view only for web
// addresses: the host's own navigation would carry any other address past
// the browser's block on pages opening data: or file: addresses.
bool OpensInTheSameView(const WString& url);
// A new-window request is followed (in the same view) only when the user
// caused it (a click, a key) and it names a web address: a script, or a
// frame of another site, never takes the view over on its own. The
// navigation the host then starts meets the owner's navigation policy like
// every other top-level navigation.
bool FollowsNewWindowRequest(const WString& url, bool userInitiated);

// The kinds of permission a page can ask for, as far as the answer differs.
enum class BrowserPermission { Microphone, Camera, Notifications, Other };
// Microphone, camera and notifications are granted; every other kind
// (geolocation among them) is left to the browser's default, which asks
// nobody and grants nothing.
bool GrantsPermission(BrowserPermission kind);

// The additional browser command-line switches.
WString BrowserSwitches();
// The init screen's first page, and where its "Home" button goes.
WString StartPageUrl();
WString HomePageUrl();
// The two headers the init screen sets on every request of its browser.
std::vector<HeaderPair> InitScreenRequestHeaders();
