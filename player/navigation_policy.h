#pragma once
// Which top-level navigations the player lets happen: the content itself,
// its own site and the platform's, and a fixed list of media and document
// providers. Everything else is cancelled silently.
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

// The 39 provider suffixes, built once on first use (safe from any thread).
const std::vector<WString>& AllowedDomainSuffixes();

bool NavigationAllowed(const WString& uri, const PlayerContentRecord& content);
// The player's navigation-starting callback: judges against PlayerContent.
void NavigationPolicy(const WString& uri, bool& cancel);
