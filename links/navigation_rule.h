#pragma once
// Which addresses the player may show: the content itself, its own site and
// the platform's, and a fixed list of media and document providers. Every
// top-level navigation of the player is judged here, and so is a link's
// direct content address before anything is loaded.
#include <vector>

#include "common/text.h"
#include "links/player_content.h"

// s cut before its first "?" or "#".
WString StripQueryAndFragment(const WString& s);
// The lower-cased host of an http or https address ("blob:" prefix ignored),
// read as the browser reads it; empty for every other address.
WString HostOf(const WString& u);
// Same host, one a dot-bounded subdomain of the other, or equal last two
// labels; IP addresses only when they are equal.
bool SameSite(const WString& a, const WString& b);

// The 39 provider suffixes, built once on first use (safe from any thread),
// in the profile's fixed order of kinds.
const std::vector<WString>& AllowedDomainSuffixes();
// Hosts of the kinds the list holds at fixed places: the platform's own
// domains (entries 1-3) and the product's own video domain (entry 9), each
// with its dot-bounded subdomains. The other entries are shared hosting and
// CDNs that anyone can rent a name under.
bool IsPlatformDomainHost(const WString& host);
bool IsOwnVideoDomainHost(const WString& host);

bool NavigationAllowed(const WString& uri, const PlayerContentRecord& content);
