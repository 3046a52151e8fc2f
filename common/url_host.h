#pragma once
// Where an address really leads, read the way the browser reads it. Every
// decision that depends on a host (navigation, pin checks, identity headers,
// the transport's connection, YouTube and Zoom) reads it here, so that no
// rule can be told one host while the connection goes to another.
#include <cstdint>
#include <optional>

#include "common/text.h"

struct UrlAuthority {
    WString scheme;       // lower-cased: http, https, ws, wss or ftp
    WString host;         // lower-cased, escapes decoded, IPv4 in dotted decimal, IPv6 in brackets
    WString writtenHost;  // the host's text as written (case kept)
    std::optional<std::uint16_t> port; // the written port, when there is one
    std::uint16_t effectivePort = 0;   // that port, or the scheme's default
    std::size_t end = 0;  // where the path, query or fragment begins in the address
};

// The authority of an address of a scheme whose hosts the browser reads
// itself: the user info is dropped (up to the last "@"), the authority ends
// at "/", "?", "#" or "\", slashes of either kind after the scheme are
// skipped, the port is split off. Nothing for other schemes, and nothing when
// the browser would refuse the host (an empty one, a forbidden character, a
// bad port, a malformed IPv4 number) or could only read it through IDNA
// (non-ASCII), so that a doubtful host never counts as any particular host.
std::optional<UrlAuthority> ReadAuthority(WStringView url);

// The host of an http or https address, lower-cased; empty for anything else.
WString WebHostOf(WStringView url);
// True for an http or https address with a readable host.
bool IsWebAddress(WStringView url);
// The path of an address read by ReadAuthority: up to its query or fragment.
WStringView UrlPath(WStringView url, const UrlAuthority& authority);

// An IPv4 address in any form the browser accepts, or a bracketed IPv6 one.
bool IsIpAddress(WStringView host);
// The host is the domain or a dot-bounded subdomain of it. IP addresses have
// no subdomains: they match only themselves.
bool HostIsOrIsUnder(WStringView host, WStringView domain);
// A marker names a host, optionally with a port ("api.example.org",
// "127.0.0.1:47443"): the authority's host is that host or under it, and
// when the marker names a port the authority's (effective) port is that one.
bool AuthorityMatchesMarker(const UrlAuthority& authority, WStringView marker);
