// The platform-independent half of the transport: headers, pre-flight
// bookkeeping, URL splitting and the shared client. Request and the session
// live in the platform backends.
#include "service/http_client.h"

#include <stdexcept>

#include "common/masking.h"
#include "links/url_host.h"
#include "service/device_identity.h"

void HttpClient::SetHeader(const WString& name, const WString& value) {
    std::lock_guard<std::mutex> guard(lock_);
    defaultHeaders_[name] = value;
}

HttpResponse HttpClient::Get(const WString& url) {
    return Request(u"GET", url, std::string(), WString());
}

std::map<WString, WString> HttpClient::HeadersFor(bool secure, const WString& host, std::uint16_t port) {
    std::map<WString, WString> headers;
    {
        std::lock_guard<std::mutex> guard(lock_);
        headers = defaultHeaders_;
    }
    const WString identityName = Utf8ToWide(UnmaskConstant(Config::kIdentityHeader));
    const WString descriptionName = Utf8ToWide(UnmaskConstant(Config::kDescriptionHeader));
    if (!(secure && IsPlatformHost(host, port))) {
        // Whoever put them among the defaults, the machine's identity goes to
        // the platform alone, and never in clear text.
        for (auto it = headers.begin(); it != headers.end();) {
            const WString name = ToLowerCopy(it->first);
            if (name == ToLowerCopy(identityName) || name == ToLowerCopy(descriptionName)) {
                it = headers.erase(it);
            } else {
                ++it;
            }
        }
        return headers;
    }
    const WString identity = GetDeviceIdentity();
    const WString description = GetDeviceDescription();
    if (!identity.empty()) headers[identityName] = identity;
    if (!description.empty()) headers[descriptionName] = description;
    return headers;
}

bool HttpClient::PreflightDone(const WString& host) {
    std::lock_guard<std::mutex> guard(lock_);
    return preflightVerifiedHosts_.count(host) != 0;
}

void HttpClient::MarkPreflightDone(const WString& host) {
    std::lock_guard<std::mutex> guard(lock_);
    preflightVerifiedHosts_.insert(host);
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
