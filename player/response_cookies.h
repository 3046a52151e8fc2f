#pragma once
// The cookies of an answer the player fetched for its browser itself (the
// Windows player's requests to pinned hosts): the browser never saw the
// answer on the wire, so its Set-Cookie lines are read here as a browser
// stores them, for the browser's own cookie store, and the store's cookies
// go out on the next request.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/text.h"

struct ResponseCookie {
    enum class SameSite { None, Lax, Strict };
    WString name;
    WString value;
    // ".example.com" for a cookie of the domain and its subdomains, the
    // request's host alone for a host-only cookie.
    WString domain;
    WString path;
    std::optional<double> expires; // seconds since 1970 (UTC); none: ends with the session
    bool secure = false;
    bool httpOnly = false;
    SameSite sameSite = SameSite::Lax; // a browser's default when the line names none
};

// One Set-Cookie value from an https answer of requestHost for requestPath,
// at now (seconds since 1970). Nothing for a line a browser would ignore: no
// name, a Domain the host is not under, a __Secure- or __Host- name without
// what its prefix asks for, more than 4096 bytes.
std::optional<ResponseCookie> ReadSetCookie(const WString& line, const WString& requestHost, const WString& requestPath,
                                            double now);

// The Set-Cookie values among "Name: value" header lines joined by CRLF.
std::vector<WString> SetCookieValues(const WString& headers);

// The Cookie header of a request: "name=value" pairs joined by "; ".
WString CookieHeader(const std::vector<std::pair<WString, WString>>& cookies);
