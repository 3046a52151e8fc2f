// Set-Cookie read as a browser stores it: the name-value pair, then the
// attributes a cookie store keeps, later ones winning, unknown ones ignored.
#include "player/response_cookies.h"

#include <array>
#include <cstdint>

#include "common/url_host.h"
#include "service/answer_window.h"

namespace {

constexpr std::size_t kMaxCookieBytes = 4096;

WString Trimmed(WStringView text) {
    const auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    std::size_t start = 0;
    std::size_t end = text.size();
    while (start < end && blank(text[start])) ++start;
    while (end > start && blank(text[end - 1])) --end;
    return WString(text.substr(start, end - start));
}

// The directory of the request's path, as a cookie without Path gets it.
WString DefaultPath(const WString& requestPath) {
    WString path = requestPath.substr(0, requestPath.find_first_of(u"?#"));
    if (path.empty() || path[0] != u'/') return u"/";
    const std::size_t last = path.rfind(u'/');
    return last == 0 ? WString(u"/") : path.substr(0, last);
}

bool AllDigits(WStringView text) {
    if (text.empty()) return false;
    for (char16_t c : text)
        if (c < u'0' || c > u'9') return false;
    return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// An Expires date read by the cookie date rules: a time, a day of the
// month, a month name and a year among its tokens, in any order.
std::optional<double> ReadCookieDate(const WString& text) {
    static constexpr std::array<const char16_t*, 12> kMonths = {u"jan", u"feb", u"mar", u"apr", u"may", u"jun",
                                                               u"jul", u"aug", u"sep", u"oct", u"nov", u"dec"};
    int hour = -1, minute = -1, second = -1, day = -1, month = -1, year = -1;
    const auto delimiter = [](char16_t c) {
        return c == 0x09 || (c >= 0x20 && c <= 0x2F) || (c >= 0x3B && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
               (c >= 0x7B && c <= 0x7E);
    };
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && delimiter(text[at])) ++at;
        std::size_t end = at;
        while (end < text.size() && !delimiter(text[end])) ++end;
        const WString token = ToLowerCopy(WStringView(text).substr(at, end - at));
        at = end;
        if (token.empty()) continue;
        if (hour < 0 && token.size() >= 5 && token.size() <= 8 && token.find(u':') != WString::npos) {
            const std::size_t a = token.find(u':');
            const std::size_t b = token.find(u':', a + 1);
            if (b != WString::npos && AllDigits(WStringView(token).substr(0, a)) &&
                AllDigits(WStringView(token).substr(a + 1, b - a - 1)) && AllDigits(WStringView(token).substr(b + 1))) {
                hour = std::stoi(std::string(token.begin(), token.begin() + static_cast<std::ptrdiff_t>(a)));
                minute = std::stoi(std::string(token.begin() + static_cast<std::ptrdiff_t>(a + 1),
                                               token.begin() + static_cast<std::ptrdiff_t>(b)));
                second = std::stoi(std::string(token.begin() + static_cast<std::ptrdiff_t>(b + 1), token.end()));
                continue;
            }
        }
        if (day < 0 && token.size() <= 2 && AllDigits(token)) {
            day = std::stoi(std::string(token.begin(), token.end()));
            continue;
        }
        if (month < 0 && token.size() >= 3) {
            for (std::size_t m = 0; m < kMonths.size(); ++m)
                if (token.compare(0, 3, kMonths[m]) == 0) month = static_cast<int>(m) + 1;
            if (month > 0) continue;
        }
        if (year < 0 && token.size() >= 2 && token.size() <= 4 && AllDigits(token)) {
            year = std::stoi(std::string(token.begin(), token.end()));
            if (year >= 70 && year <= 99) year += 1900;
            else if (year >= 0 && year <= 69) year += 2000;
        }
    }
    if (hour < 0 || day < 1 || day > 31 || month < 1 || year < 1601 || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    const std::int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    return static_cast<double>(days * 86400 + hour * 3600 + minute * 60 + second);
}

} // namespace

std::optional<ResponseCookie> ReadSetCookie(const WString& line, const WString& requestHost, const WString& requestPath,
                                            double now) {
    if (line.size() > kMaxCookieBytes || line.find_first_of(WStringView(u"\r\n\0", 3)) != WString::npos)
        return std::nullopt;
    const std::size_t pairEnd = std::min(line.find(u';'), line.size());
    const WString pair = line.substr(0, pairEnd);
    const std::size_t equals = pair.find(u'=');
    if (equals == WString::npos) return std::nullopt;
    ResponseCookie cookie;
    cookie.name = Trimmed(WStringView(pair).substr(0, equals));
    cookie.value = Trimmed(WStringView(pair).substr(equals + 1));
    if (cookie.name.empty()) return std::nullopt;
    const WString host = ToLowerCopy(requestHost);
    std::optional<WString> domain;
    std::optional<WString> path;
    std::optional<double> maxAgeExpiry;
    std::optional<double> dateExpiry;
    std::size_t at = pairEnd;
    while (at < line.size()) {
        const std::size_t end = std::min(line.find(u';', at + 1), line.size());
        const WString attribute = line.substr(at + 1, end - at - 1);
        at = end;
        const std::size_t eq = attribute.find(u'=');
        const WString name = ToLowerCopy(Trimmed(WStringView(attribute).substr(0, eq)));
        const WString value = eq == WString::npos ? WString() : Trimmed(WStringView(attribute).substr(eq + 1));
        if (name == u"domain") {
            WString d = ToLowerCopy(value);
            if (!d.empty() && d[0] == u'.') d.erase(0, 1);
            domain = d.empty() ? std::optional<WString>() : std::optional<WString>(d);
        } else if (name == u"path") {
            path = !value.empty() && value[0] == u'/' ? std::optional<WString>(value) : std::nullopt;
        } else if (name == u"max-age") {
            const bool negative = !value.empty() && value[0] == u'-';
            const WStringView digits = WStringView(value).substr(negative ? 1 : 0);
            if (!AllDigits(digits)) continue;
            double seconds = 0;
            for (char16_t c : digits) seconds = seconds * 10 + (c - u'0');
            maxAgeExpiry = negative || seconds == 0 ? 1.0 : now + seconds;
        } else if (name == u"expires") {
            if (const std::optional<double> date = ReadCookieDate(value)) dateExpiry = *date < 1.0 ? 1.0 : *date;
        } else if (name == u"secure") {
            cookie.secure = true;
        } else if (name == u"httponly") {
            cookie.httpOnly = true;
        } else if (name == u"samesite") {
            const WString kind = ToLowerCopy(value);
            if (kind == u"none") cookie.sameSite = ResponseCookie::SameSite::None;
            else if (kind == u"strict") cookie.sameSite = ResponseCookie::SameSite::Strict;
            else cookie.sameSite = ResponseCookie::SameSite::Lax;
        }
    }
    // A domain cookie only for the host's own domain, never a sibling's or a
    // stranger's; an address names itself alone.
    if (domain && !HostIsOrIsUnder(host, *domain)) return std::nullopt;
    cookie.domain = domain && !IsIpAddress(host) ? u"." + *domain : host;
    cookie.path = path.value_or(DefaultPath(requestPath));
    cookie.expires = maxAgeExpiry ? maxAgeExpiry : dateExpiry;
    if (cookie.name.rfind(u"__Secure-", 0) == 0 && !cookie.secure) return std::nullopt;
    if (cookie.name.rfind(u"__Host-", 0) == 0 && (!cookie.secure || domain || cookie.path != u"/")) return std::nullopt;
    if (cookie.sameSite == ResponseCookie::SameSite::None && !cookie.secure) return std::nullopt;
    return cookie;
}

std::vector<WString> SetCookieValues(const WString& headers) { return HeaderValues(headers, u"Set-Cookie"); }

WString CookieHeader(const std::vector<std::pair<WString, WString>>& cookies) {
    WString header;
    for (const auto& [name, value] : cookies) {
        if (!header.empty()) header += u"; ";
        header += name + u"=" + value;
    }
    return header;
}
