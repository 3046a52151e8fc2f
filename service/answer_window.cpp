// Byte ranges as HTTP writes them: "bytes=S-E" asked, "bytes S-E/L" answered.
#include "service/answer_window.h"

#include <string>

namespace {

// Decimal digits only, at most 18 of them.
std::optional<std::uint64_t> Number(WStringView text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::uint64_t value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - u'0');
    }
    return value;
}

WString Text(std::uint64_t value) {
    const std::string digits = std::to_string(value);
    return WString(digits.begin(), digits.end());
}

WString Trim(WStringView text) {
    while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) text.remove_suffix(1);
    return WString(text);
}

} // namespace

std::optional<WString> WindowedRange(const WString& range, std::uint64_t window) {
    const WString text = Trim(range);
    constexpr WStringView kUnit = u"bytes=";
    if (window == 0 || ToLowerCopy(WStringView(text).substr(0, kUnit.size())) != kUnit) return std::nullopt;
    const WStringView bytes = WStringView(text).substr(kUnit.size());
    const std::size_t dash = bytes.find(u'-');
    if (dash == WStringView::npos || bytes.find(u',') != WStringView::npos) return std::nullopt;
    const std::optional<std::uint64_t> start = Number(Trim(bytes.substr(0, dash)));
    if (!start) return std::nullopt;
    const WString endText = Trim(bytes.substr(dash + 1));
    std::uint64_t end = *start + window - 1;
    if (!endText.empty()) {
        const std::optional<std::uint64_t> asked = Number(endText);
        if (!asked || *asked < *start) return std::nullopt;
        if (*asked < end) end = *asked;
    }
    return u"bytes=" + Text(*start) + u"-" + Text(end);
}

std::optional<WString> CutContentRange(int status, const WString& contentRange, const WString& contentLength,
                                       std::uint64_t kept) {
    if (kept == 0) return std::nullopt;
    if (status == 200) {
        const std::optional<std::uint64_t> length = Number(Trim(contentLength));
        if (!length || *length < kept) return std::nullopt;
        return u"bytes 0-" + Text(kept - 1) + u"/" + Text(*length);
    }
    if (status != 206) return std::nullopt;
    const WString text = Trim(contentRange);
    constexpr WStringView kUnit = u"bytes ";
    if (ToLowerCopy(WStringView(text).substr(0, kUnit.size())) != kUnit) return std::nullopt;
    const WStringView bytes = WStringView(text).substr(kUnit.size());
    const std::size_t dash = bytes.find(u'-');
    const std::size_t slash = bytes.find(u'/');
    if (dash == WStringView::npos || slash == WStringView::npos || slash < dash) return std::nullopt;
    const std::optional<std::uint64_t> start = Number(Trim(bytes.substr(0, dash)));
    const std::optional<std::uint64_t> end = Number(Trim(bytes.substr(dash + 1, slash - dash - 1)));
    const WString total = Trim(bytes.substr(slash + 1));
    if (!start || !end || *end < *start || *end - *start + 1 < kept || (total != u"*" && !Number(total)))
        return std::nullopt;
    return u"bytes " + Text(*start) + u"-" + Text(*start + kept - 1) + u"/" + total;
}

namespace {

// Calls visit(lower-case name, trimmed value, line) for each "Name: value"
// line of a CRLF-joined block; lines without a colon get an empty name.
template <typename Visit>
void ForEachHeaderLine(const WString& headers, Visit&& visit) {
    std::size_t at = 0;
    while (at < headers.size()) {
        std::size_t end = headers.find(u"\r\n", at);
        if (end == WString::npos) end = headers.size();
        const WStringView line = WStringView(headers).substr(at, end - at);
        at = end + 2;
        const std::size_t colon = line.find(u':');
        if (colon == WStringView::npos) visit(WString(), WString(), line);
        else visit(ToLowerCopy(Trim(line.substr(0, colon))), Trim(line.substr(colon + 1)), line);
    }
}

} // namespace

std::vector<WString> HeaderValues(const WString& headers, const WString& name) {
    const WString wanted = ToLowerCopy(name);
    std::vector<WString> values;
    ForEachHeaderLine(headers, [&](const WString& lowerName, const WString& value, WStringView) {
        if (lowerName == wanted) values.push_back(value);
    });
    return values;
}

WString HeaderValue(const WString& headers, const WString& name) {
    const std::vector<WString> values = HeaderValues(headers, name);
    return values.empty() ? WString() : values.front();
}

WString WithHeader(const WString& headers, const WString& name, const WString& value) {
    const WString wanted = ToLowerCopy(name);
    WString lines;
    ForEachHeaderLine(headers, [&](const WString& lowerName, const WString&, WStringView line) {
        if (!line.empty() && lowerName != wanted) lines += WString(line) + u"\r\n";
    });
    return lines + name + u": " + value;
}
