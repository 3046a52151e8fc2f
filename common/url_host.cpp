#include "common/url_host.h"

#include <vector>

namespace {

constexpr auto npos = WStringView::npos;

bool IsAsciiAlpha(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

std::optional<std::uint16_t> DefaultPort(const WString& scheme) {
    if (scheme == u"http" || scheme == u"ws") return 80;
    if (scheme == u"https" || scheme == u"wss") return 443;
    if (scheme == u"ftp") return 21;
    return std::nullopt;
}

// Characters the browser refuses in a domain host.
bool IsForbiddenInDomain(char16_t c) {
    if (c <= 0x20 || c == 0x7f) return true;
    return WStringView(u"#%/:<>?@[\\]^|").find(c) != npos;
}

std::vector<WStringView> SplitDots(WStringView host) {
    std::vector<WStringView> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = host.find(u'.', start);
        if (dot == npos) {
            parts.push_back(host.substr(start));
            return parts;
        }
        parts.push_back(host.substr(start, dot - start));
        start = dot + 1;
    }
}

// One part of an IPv4 address: decimal, octal after a leading 0, hex after
// 0x. Values past 32 bits are kept just above them, which every caller refuses.
std::optional<std::uint64_t> Ipv4Number(WStringView part) {
    if (part.empty()) return std::nullopt;
    int radix = 10;
    if (part.size() >= 2 && part[0] == u'0' && (part[1] == u'x' || part[1] == u'X')) {
        radix = 16;
        part.remove_prefix(2);
    } else if (part.size() >= 2 && part[0] == u'0') {
        radix = 8;
        part.remove_prefix(1);
    }
    std::uint64_t value = 0;
    for (const char16_t c : part) {
        const int digit = HexValue(c);
        if (digit < 0 || digit >= radix) return std::nullopt;
        value = value * radix + static_cast<std::uint64_t>(digit);
        if (value > 0x1FFFFFFFFull) value = 0x1FFFFFFFFull;
    }
    return value;
}

// The browser takes a host whose last label is a number for an IPv4 address.
bool EndsInANumber(WStringView host) {
    if (host.empty()) return false;
    // One final dot ends the name without a label of its own.
    if (host.back() == u'.') host.remove_suffix(1);
    const std::size_t dot = host.rfind(u'.');
    const WStringView last = dot == npos ? host : host.substr(dot + 1);
    if (!last.empty()) {
        bool digits = true;
        for (const char16_t c : last) digits = digits && IsDigit(c);
        if (digits) return true;
    }
    return Ipv4Number(last).has_value();
}

std::optional<WString> ParseIpv4(WStringView host) {
    std::vector<WStringView> parts = SplitDots(host);
    if (parts.back().empty() && parts.size() > 1) parts.pop_back();
    if (parts.size() > 4) return std::nullopt;
    std::vector<std::uint64_t> numbers;
    for (const WStringView part : parts) {
        const std::optional<std::uint64_t> n = Ipv4Number(part);
        if (!n) return std::nullopt;
        numbers.push_back(*n);
    }
    for (std::size_t i = 0; i + 1 < numbers.size(); ++i) {
        if (numbers[i] > 255) return std::nullopt;
    }
    const std::size_t rest = 5 - numbers.size(); // bytes the last number fills
    if (numbers.back() >= (1ull << (8 * rest))) return std::nullopt;
    std::uint64_t address = numbers.back();
    for (std::size_t i = 0; i + 1 < numbers.size(); ++i) address += numbers[i] << (8 * (3 - i));
    WString dotted;
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (!dotted.empty()) dotted += u'.';
        dotted += WidenAscii(std::to_string((address >> shift) & 0xFF));
    }
    return dotted;
}

std::optional<WString> ReadHost(WStringView written) {
    if (written.empty()) return std::nullopt;
    if (written.front() == u'[') {
        // The brackets stay; inside them only what an IPv6 address is made of.
        if (written.size() < 3 || written.back() != u']') return std::nullopt;
        for (const char16_t c : written.substr(1, written.size() - 2)) {
            if (HexValue(c) < 0 && c != u':' && c != u'.') return std::nullopt;
        }
        return ToLowerCopy(written);
    }
    WString host;
    for (std::size_t i = 0; i < written.size(); ++i) {
        char16_t c = written[i];
        if (c == u'%' && i + 2 < written.size() && HexValue(written[i + 1]) >= 0 && HexValue(written[i + 2]) >= 0) {
            c = static_cast<char16_t>(HexValue(written[i + 1]) * 16 + HexValue(written[i + 2]));
            i += 2;
        }
        // Non-ASCII names reach the network only through IDNA, which is not done here.
        if (c >= 0x80) return std::nullopt;
        host += ToLowerUnit(c);
    }
    for (const char16_t c : host) {
        if (IsForbiddenInDomain(c)) return std::nullopt;
    }
    if (EndsInANumber(host)) return ParseIpv4(host);
    return host;
}

} // namespace

std::optional<UrlAuthority> ReadAuthority(WStringView url) {
    if (url.empty() || !IsAsciiAlpha(url[0])) return std::nullopt;
    std::size_t at = 1;
    while (at < url.size() && (IsAsciiAlpha(url[at]) || IsDigit(url[at]) || url[at] == u'+' || url[at] == u'-' ||
                               url[at] == u'.'))
        ++at;
    if (at >= url.size() || url[at] != u':') return std::nullopt;
    UrlAuthority result;
    result.scheme = ToLowerCopy(url.substr(0, at));
    const std::optional<std::uint16_t> defaultPort = DefaultPort(result.scheme);
    if (!defaultPort) return std::nullopt;

    // Any run of slashes, either way round, leads to the authority.
    std::size_t start = at + 1;
    while (start < url.size() && (url[start] == u'/' || url[start] == u'\\')) ++start;
    std::size_t end = url.find_first_of(u"/\\?#", start);
    if (end == npos) end = url.size();
    WStringView authority = url.substr(start, end - start);
    if (const std::size_t userInfo = authority.rfind(u'@'); userInfo != npos) authority.remove_prefix(userInfo + 1);

    WStringView written = authority;
    WStringView portText;
    bool hasPortSeparator = false;
    if (!authority.empty() && authority.front() == u'[') {
        const std::size_t close = authority.find(u']');
        if (close == npos) return std::nullopt;
        written = authority.substr(0, close + 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != u':') return std::nullopt;
            hasPortSeparator = true;
            portText = authority.substr(close + 2);
        }
    } else if (const std::size_t colon = authority.find(u':'); colon != npos) {
        written = authority.substr(0, colon);
        hasPortSeparator = true;
        portText = authority.substr(colon + 1);
    }
    if (hasPortSeparator && !portText.empty()) {
        std::uint32_t port = 0;
        for (const char16_t c : portText) {
            if (!IsDigit(c)) return std::nullopt;
            port = port * 10 + static_cast<std::uint32_t>(c - u'0');
            if (port > 65535) return std::nullopt;
        }
        result.port = static_cast<std::uint16_t>(port);
    }
    const std::optional<WString> host = ReadHost(written);
    if (!host) return std::nullopt;
    result.host = *host;
    result.writtenHost = WString(written);
    result.effectivePort = result.port ? *result.port : *defaultPort;
    result.end = end;
    return result;
}

WString WebHostOf(WStringView url) {
    const std::optional<UrlAuthority> authority = ReadAuthority(url);
    if (!authority || (authority->scheme != u"http" && authority->scheme != u"https")) return WString();
    return authority->host;
}

bool IsWebAddress(WStringView url) { return !WebHostOf(url).empty(); }

WStringView UrlPath(WStringView url, const UrlAuthority& authority) {
    if (authority.end >= url.size()) return WStringView();
    const WStringView rest = url.substr(authority.end);
    return rest.substr(0, rest.find_first_of(u"?#"));
}

bool IsIpAddress(WStringView host) {
    if (host.empty()) return false;
    return host.front() == u'[' || EndsInANumber(host);
}

bool HostIsOrIsUnder(WStringView host, WStringView domain) {
    if (host.empty() || domain.empty()) return false;
    if (host == domain) return true;
    if (IsIpAddress(host) || IsIpAddress(domain)) return false;
    return host.size() > domain.size() + 1 && EndsWith(host, domain) && host[host.size() - domain.size() - 1] == u'.';
}

bool AuthorityMatchesMarker(const UrlAuthority& authority, WStringView marker) {
    if (marker.empty()) return false;
    // The marker is read as the authority of an address of its own.
    const std::optional<UrlAuthority> named = ReadAuthority(u"http://" + WString(marker) + u"/");
    if (!named || named->end != 7 + marker.size()) return false;
    if (!HostIsOrIsUnder(authority.host, named->host)) return false;
    return !named->port || *named->port == authority.effectivePort;
}
