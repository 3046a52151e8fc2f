// Host reading: an address's authority is read or refused; a read host is a
// host the browser would connect to by that name (lower-case ASCII, no
// forbidden character), reads back as itself, and matches itself as a
// marker. A second field is tried as a marker against the first.
#include "common/url_host.h"
#include "fuzz_support.h"

namespace {

bool Forbidden(char16_t c) {
    return c <= 0x20 || c >= 0x7F || WStringView(u"#%/:<>?@\\^|").find(c) != WStringView::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> fields = FuzzFields(data, size, 2);
    const WString url = FuzzText(fields[0]);
    const WString marker = FuzzText(fields[1]);

    const std::optional<UrlAuthority> authority = ReadAuthority(url);
    const WString webHost = WebHostOf(url);
    FUZZ_CHECK(IsWebAddress(url) == !webHost.empty(), FuzzShow(url));
    if (!authority) {
        FUZZ_CHECK(webHost.empty(), "web host without an authority: " + FuzzShow(url));
        return 0;
    }
    const UrlAuthority& a = *authority;
    FUZZ_CHECK(a.scheme == u"http" || a.scheme == u"https" || a.scheme == u"ws" || a.scheme == u"wss" ||
                   a.scheme == u"ftp",
               "scheme " + FuzzShow(a.scheme));
    FUZZ_CHECK(webHost == ((a.scheme == u"http" || a.scheme == u"https") ? a.host : WString()), FuzzShow(url));
    FUZZ_CHECK(!a.host.empty(), "empty host in " + FuzzShow(url));
    FUZZ_CHECK(a.end <= url.size(), "end past the address");
    FUZZ_CHECK(a.end == url.size() || WStringView(u"/\\?#").find(url[a.end]) != WStringView::npos,
               "authority ends inside it: " + FuzzShow(url));
    FUZZ_CHECK(a.effectivePort == (a.port ? *a.port : a.effectivePort), "port");
    const bool bracketed = a.host.front() == u'[';
    for (const char16_t c : a.host) {
        FUZZ_CHECK(!(c >= u'A' && c <= u'Z'), "upper case in " + FuzzShow(a.host));
        if (!bracketed) FUZZ_CHECK(!Forbidden(c), "forbidden character in host " + FuzzShow(a.host));
    }
    if (IsIpAddress(a.host) && !bracketed) {
        // An IPv4 host is always written back in dotted decimal.
        int dots = 0;
        for (const char16_t c : a.host) {
            FUZZ_CHECK(c == u'.' || (c >= u'0' && c <= u'9'), "IPv4 host " + FuzzShow(a.host));
            dots += c == u'.';
        }
        FUZZ_CHECK(dots == 3, "IPv4 host " + FuzzShow(a.host));
    }

    const std::optional<UrlAuthority> again = ReadAuthority(a.scheme + u"://" + a.host + u"/");
    FUZZ_CHECK(again && again->host == a.host, "host does not read back: " + FuzzShow(a.host));
    FUZZ_CHECK(HostIsOrIsUnder(a.host, a.host), FuzzShow(a.host));
    FUZZ_CHECK(AuthorityMatchesMarker(a, a.host), "host is not its own marker: " + FuzzShow(a.host));
    (void)UrlPath(url, a);
    if (AuthorityMatchesMarker(a, marker)) {
        const std::optional<UrlAuthority> named = ReadAuthority(u"http://" + marker + u"/");
        FUZZ_CHECK(named.has_value(), "matched an unreadable marker " + FuzzShow(marker));
        FUZZ_CHECK(HostIsOrIsUnder(a.host, named->host), FuzzShow(marker) + " for " + FuzzShow(a.host));
    }
    return 0;
}
