// The platform-independent half of the transport: headers, pre-flight
// bookkeeping, URL splitting and the shared client. Request and the session
// live in the platform backends.
#include "service/http_client.h"

#include <stdexcept>

#include "common/masking.h"
#include "service/device_identity.h"

void HttpClient::SetHeader(const WString& name, const WString& value) {
    std::lock_guard<std::mutex> guard(lock_);
    defaultHeaders_[name] = value;
}

HttpResponse HttpClient::Get(const WString& url) {
    return Request(u"GET", url, std::string(), WString());
}

std::map<WString, WString> HttpClient::HeadersFor(const WString& host) {
    std::map<WString, WString> headers;
    {
        std::lock_guard<std::mutex> guard(lock_);
        headers = defaultHeaders_;
    }
    if (IsPlatformHost(host)) {
        const WString identity = GetDeviceIdentity();
        const WString description = GetDeviceDescription();
        if (!identity.empty()) headers[Utf8ToWide(UnmaskConstant(Config::kIdentityHeader))] = identity;
        if (!description.empty()) headers[Utf8ToWide(UnmaskConstant(Config::kDescriptionHeader))] = description;
    }
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

bool IsPlatformHost(const WString& host) {
    const WString lower = ToLowerCopy(host);
    for (std::size_t i = 0; i < Config::kPlatformHostFragmentsCount; ++i) {
        const WString fragment = Utf8ToWide(UnmaskConstant(Config::kPlatformHostFragments[i]));
        if (!fragment.empty() && Contains(lower, fragment)) return true;
    }
    return false;
}

bool ParseHttpUrl(const WString& url, ParsedUrl& out) {
    const std::size_t schemeEnd = url.find(u"://");
    if (schemeEnd == WString::npos) return false;
    const WString scheme = ToLowerCopy(url.substr(0, schemeEnd));
    if (scheme == u"https") {
        out.secure = true;
        out.port = 443;
    } else if (scheme == u"http") {
        out.secure = false;
        out.port = 80;
    } else {
        return false;
    }
    const std::size_t authorityStart = schemeEnd + 3;
    std::size_t authorityEnd = url.find_first_of(u"/?#", authorityStart);
    if (authorityEnd == WString::npos) authorityEnd = url.size();
    WString authority = url.substr(authorityStart, authorityEnd - authorityStart);
    const std::size_t at = authority.rfind(u'@');
    if (at != WString::npos) authority = authority.substr(at + 1);

    WString host = authority;
    std::size_t portStart = WString::npos;
    if (!authority.empty() && authority[0] == u'[') {
        const std::size_t close = authority.find(u']');
        if (close == WString::npos) return false;
        host = authority.substr(0, close + 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != u':') return false;
            portStart = close + 2;
        }
    } else if (const std::size_t colon = authority.find(u':'); colon != WString::npos) {
        host = authority.substr(0, colon);
        portStart = colon + 1;
    }
    if (portStart != WString::npos && portStart < authority.size()) {
        unsigned long port = 0;
        for (std::size_t i = portStart; i < authority.size(); ++i) {
            const char16_t c = authority[i];
            if (c < u'0' || c > u'9') return false;
            port = port * 10 + (c - u'0');
            if (port > 65535) return false;
        }
        if (port == 0) return false;
        out.port = static_cast<std::uint16_t>(port);
    }
    if (host.empty() || host.size() > 255) return false;
    WString path = url.substr(authorityEnd);
    const std::size_t hash = path.find(u'#');
    if (hash != WString::npos) path.resize(hash);
    if (path.empty() || path[0] != u'/') path.insert(path.begin(), u'/');
    if (path.size() > 2047) return false;
    for (char16_t c : host) {
        if (c <= u' ' || c == u'/' || c == u'\\') return false;
    }
    out.host = host;
    out.path = path;
    return true;
}

std::string PreflightPinFailureText(const WString& host) {
    return "Pre-flight SSL Pin validation FAILED for " + WideToUtf8(host) + ". MITM Attack Prevented!";
}

std::string PinFailureText(const WString& host) {
    return "SSL Pin validation FAILED for " + WideToUtf8(host);
}
