// The platform-independent half of the transport: headers, pre-flight
// bookkeeping, URL splitting and the shared client. Request and the session
// live in the platform backends.
#include "service/http_client.h"

#include <iterator>
#include <stdexcept>
#include <vector>

#include "common/masking.h"
#include "common/url_host.h"
#include "service/device_identity.h"

void HttpClient::SetHeader(const WString& name, const WString& value) {
    std::lock_guard<std::mutex> guard(lock_);
    defaultHeaders_[name] = value;
}

HttpResponse HttpClient::Get(const WString& url) {
    return Request(u"GET", url, std::string(), WString());
}

namespace {

// Every name the machine's identity travels under: the transport's own two
// and the browser's, so that none of them leaves by way of the defaults.
bool IsIdentityHeaderName(const WString& name) {
    const WString lower = ToLowerCopy(name);
    std::vector<std::string> names = {UnmaskConstant(Config::kIdentityHeader), UnmaskConstant(Config::kDescriptionHeader)};
    for (std::string& browserName : UnmaskList(Config::kBrowserIdentityHeaders, Config::kBrowserIdentityHeadersCount))
        names.push_back(std::move(browserName));
    for (const std::string& identityName : names) {
        if (lower == ToLowerCopy(Utf8ToWide(identityName))) return true;
    }
    return false;
}

} // namespace

std::map<WString, WString> HttpClient::HeadersFor(bool pinChecked, const WString& host, std::uint16_t port) {
    std::map<WString, WString> headers;
    {
        std::lock_guard<std::mutex> guard(lock_);
        headers = defaultHeaders_;
    }
    if (!(pinChecked && IsPlatformHost(host, port))) {
        // Whoever put them among the defaults, the machine's identity goes to
        // the platform alone, and only over a connection its pins vouched
        // for: ordinary validation would hand it to any interceptor whose
        // authority the system trusts.
        for (auto it = headers.begin(); it != headers.end();) {
            it = IsIdentityHeaderName(it->first) ? headers.erase(it) : std::next(it);
        }
        return headers;
    }
    const WString identity = GetDeviceIdentity();
    const WString description = GetDeviceDescription();
    if (!identity.empty()) headers[Utf8ToWide(UnmaskConstant(Config::kIdentityHeader))] = identity;
    if (!description.empty()) headers[Utf8ToWide(UnmaskConstant(Config::kDescriptionHeader))] = description;
    return headers;
}

bool HttpClient::PreflightDone(const WString& host, std::uint16_t port, const PinEntry* pins) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (preflightVerifiedHosts_.count(host) != 0) return true;
    }
    // A pinning client of this process already checked this host against
    // the same pins on a connection that is kept: the pre-flight would only
    // repeat that.
    if (pins == nullptr || !PinVerifiedHost(host, port, *pins)) return false;
    MarkPreflightDone(host);
    return true;
}

void HttpClient::MarkPreflightDone(const WString& host) {
    std::lock_guard<std::mutex> guard(lock_);
    preflightVerifiedHosts_.insert(host);
}

namespace {

struct ServiceState {
    std::mutex lock;
    std::optional<std::chrono::steady_clock::time_point> waitBound;
    std::map<std::string, bool> unreachableByError; // the latest reading of each text
    std::set<std::pair<WString, std::string>> pinVerifiedHosts;
};

ServiceState& State() {
    static ServiceState* state = new ServiceState();
    return *state;
}

} // namespace

void BoundServiceWait(std::chrono::steady_clock::time_point until) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().waitBound = until;
}

void ClearServiceWaitBound() {
    std::lock_guard<std::mutex> guard(State().lock);
    State().waitBound.reset();
}

unsigned long ServiceWaitLeftMs(unsigned long cap) {
    std::lock_guard<std::mutex> guard(State().lock);
    if (!State().waitBound) return cap;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*State().waitBound -
                                                                            std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return 0;
    return static_cast<unsigned long>(left) < cap ? static_cast<unsigned long>(left) : cap;
}

void NoteFailure(const std::string& error, bool unreachable) {
    if (error.empty()) return;
    std::lock_guard<std::mutex> guard(State().lock);
    State().unreachableByError[error] = unreachable;
}

bool WasUnreachable(const std::string& error) {
    std::lock_guard<std::mutex> guard(State().lock);
    const auto found = State().unreachableByError.find(error);
    return found != State().unreachableByError.end() && found->second;
}

std::string PinsKey(const PinEntry& pins) {
    std::string key = "pins";
    for (const std::string& pin : pins.pins) key += ' ' + pin;
    return key;
}

void NotePinVerifiedHost(const WString& host, std::uint16_t port, const PinEntry& pins) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().pinVerifiedHosts.emplace(host, std::to_string(port) + ' ' + PinsKey(pins));
}

bool PinVerifiedHost(const WString& host, std::uint16_t port, const PinEntry& pins) {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().pinVerifiedHosts.count({host, std::to_string(port) + ' ' + PinsKey(pins)}) != 0;
}

HttpClient& SharedClient() {
    // A function-local static retries construction after a throw, which is
    // the one-time initialisation the callers rely on.
    static HttpClient client;
    return client;
}

bool IsPlatformHost(const WString& host, std::uint16_t port) {
    // The same reading of the host as everywhere else, so that a name that
    // merely contains a platform host's letters is not one.
    if (host.find_first_of(u"/\\?#@") != WString::npos) return false;
    const std::optional<UrlAuthority> authority =
        ReadAuthority(u"https://" + host + u":" + WidenAscii(std::to_string(port)) + u"/");
    if (!authority) return false;
    for (std::size_t i = 0; i < Config::kPlatformHostFragmentsCount; ++i) {
        const WString fragment = Utf8ToWide(UnmaskConstant(Config::kPlatformHostFragments[i]));
        if (AuthorityMatchesMarker(*authority, fragment)) return true;
    }
    return false;
}

bool ParseHttpUrl(const WString& url, ParsedUrl& out) {
    // Only the plain "scheme://authority" form; the browser's looser forms
    // (other slashes, none at all) are refused rather than guessed at.
    const std::size_t schemeEnd = url.find(u"://");
    if (schemeEnd == WString::npos || schemeEnd + 3 >= url.size() || url[schemeEnd + 3] == u'/' ||
        url[schemeEnd + 3] == u'\\')
        return false;
    const std::optional<UrlAuthority> authority = ReadAuthority(url);
    if (!authority || (authority->scheme != u"https" && authority->scheme != u"http")) return false;
    if (authority->port && *authority->port == 0) return false;
    // The host as written (case kept: pre-flights are per written name), but
    // an IPv4 address in the dotted form the connection uses, and nothing
    // the connection would have to decode first.
    WString host = IsIpAddress(authority->host) ? authority->host : authority->writtenHost;
    if (host.find(u'%') != WString::npos || host.empty() || host.size() > 255) return false;
    WString path = url.substr(authority->end);
    const std::size_t hash = path.find(u'#');
    if (hash != WString::npos) path.resize(hash);
    if (path.empty() || path[0] != u'/') path.insert(path.begin(), u'/');
    if (path.size() > 2047) return false;
    out.secure = authority->scheme == u"https";
    out.host = host;
    out.port = authority->effectivePort;
    out.path = path;
    return true;
}

std::string PreflightPinFailureText(const WString& host) {
    return "Pre-flight SSL Pin validation FAILED for " + WideToUtf8(host) + ". MITM Attack Prevented!";
}

std::string PinFailureText(const WString& host) {
    return "SSL Pin validation FAILED for " + WideToUtf8(host);
}

std::string OutOfTimeText() { return "WinHttpSendRequest failed: " + std::to_string(kTimeoutError); }
