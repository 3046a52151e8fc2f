#pragma once
// Reads back what the page builder made, by the rules a browser reads it
// with, and checks that every outside text (content address, watermark)
// stayed inside its attribute, element or script string and reads back as
// itself. The readers here are independent of the escapes they check.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "links/player_content.h"
#include "player/page_builder.h"
#include "player/page_scripts.h"

namespace pagecheck {

// The readers are the fuzzer's own instrument, not the code under test: their
// comparisons guide nothing, and tracing them cost most of each run.
#define PAGECHECK_UNTRACED __attribute__((no_sanitize("coverage")))

struct Token {
    enum class Kind { Doctype, Start, End, Text } kind;
    WString name; // tag name, lower-cased; the text for Text
    std::vector<std::pair<WString, WString>> attributes;
};

PAGECHECK_UNTRACED inline bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\f' || c == u'\r'; }
PAGECHECK_UNTRACED inline bool IsAlpha(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
PAGECHECK_UNTRACED inline char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

// Character references: only the forms an escape may produce are read; any
// other "&" in text or attribute values is reported, as it would be read as
// a named reference by a browser (e.g. "&copy").
PAGECHECK_UNTRACED inline bool ReadReference(const WString& page, std::size_t& at, WString& out) {
    static const std::pair<const char16_t*, char16_t> kKnown[] = {
        {u"&amp;", u'&'}, {u"&lt;", u'<'}, {u"&gt;", u'>'}, {u"&quot;", u'"'}, {u"&#39;", u'\''}, {u"&#x27;", u'\''},
    };
    for (const auto& [form, value] : kKnown) {
        const WString text(form);
        if (page.compare(at, text.size(), text) == 0) {
            out += value;
            at += text.size();
            return true;
        }
    }
    return false;
}

// Tokenises a whole built page; nothing on a construct the page builder
// never writes (comments, bare "&", unterminated tags, unquoted values).
PAGECHECK_UNTRACED inline std::optional<std::vector<Token>> Tokenise(const WString& page, std::string& why) {
    std::vector<Token> tokens;
    std::size_t at = 0;
    WString rawEnd; // inside title/style/script/iframe: the end tag that closes it
    auto flushText = [&](WString& text) {
        if (!text.empty()) tokens.push_back({Token::Kind::Text, text, {}});
        text.clear();
    };
    WString text;
    while (at < page.size()) {
        if (!rawEnd.empty()) {
            // Raw text and RCDATA end only at "</name" followed by space, "/" or ">".
            const std::size_t n = rawEnd.size();
            bool closes = false;
            if (page.compare(at, 2, u"</") == 0 && at + 2 + n <= page.size()) {
                closes = true;
                for (std::size_t i = 0; i < n; ++i) closes = closes && Lower(page[at + 2 + i]) == rawEnd[i];
                closes = closes && at + 2 + n < page.size() &&
                         (IsSpace(page[at + 2 + n]) || page[at + 2 + n] == u'/' || page[at + 2 + n] == u'>');
            }
            if (!closes) {
                if (rawEnd == u"title" && page[at] == u'&') {
                    if (!ReadReference(page, at, text)) return why = "bare & in title", std::nullopt;
                    continue;
                }
                text += page[at++];
                continue;
            }
            rawEnd.clear();
        }
        const char16_t c = page[at];
        if (c == u'&') {
            if (!ReadReference(page, at, text)) return why = "bare & in text", std::nullopt;
            continue;
        }
        if (c != u'<') {
            text += c;
            ++at;
            continue;
        }
        flushText(text);
        if (page.compare(at, 9, u"<!DOCTYPE") == 0) {
            const std::size_t close = page.find(u'>', at);
            if (close == WString::npos) return why = "open doctype", std::nullopt;
            tokens.push_back({Token::Kind::Doctype, page.substr(at + 2, close - at - 2), {}});
            at = close + 1;
            continue;
        }
        if (at + 1 >= page.size()) return why = "lone <", std::nullopt;
        Token token{Token::Kind::Start, {}, {}};
        ++at;
        if (page[at] == u'/') {
            token.kind = Token::Kind::End;
            ++at;
        }
        if (at >= page.size() || !IsAlpha(page[at])) return why = "markup that is not a tag", std::nullopt;
        while (at < page.size() && !IsSpace(page[at]) && page[at] != u'/' && page[at] != u'>') {
            token.name += Lower(page[at++]);
        }
        for (;;) {
            while (at < page.size() && (IsSpace(page[at]) || page[at] == u'/')) ++at;
            if (at >= page.size()) return why = "open tag", std::nullopt;
            if (page[at] == u'>') {
                ++at;
                break;
            }
            WString name;
            while (at < page.size() && !IsSpace(page[at]) && page[at] != u'/' && page[at] != u'>' &&
                   page[at] != u'=') {
                name += Lower(page[at++]);
            }
            WString value;
            if (at < page.size() && page[at] == u'=') {
                ++at;
                if (at >= page.size() || (page[at] != u'\'' && page[at] != u'"')) {
                    return why = "unquoted attribute value", std::nullopt;
                }
                const char16_t quote = page[at++];
                for (;;) {
                    if (at >= page.size()) return why = "open attribute value", std::nullopt;
                    if (page[at] == quote) {
                        ++at;
                        break;
                    }
                    if (page[at] == u'&') {
                        if (!ReadReference(page, at, value)) return why = "bare & in attribute", std::nullopt;
                        continue;
                    }
                    value += page[at++];
                }
                // A value must be followed by space, "/" or ">".
                if (at < page.size() && !IsSpace(page[at]) && page[at] != u'/' && page[at] != u'>') {
                    return why = "attribute runs into the next one", std::nullopt;
                }
            }
            for (const auto& attribute : token.attributes) {
                if (attribute.first == name) return why = "attribute given twice", std::nullopt;
            }
            token.attributes.emplace_back(std::move(name), std::move(value));
        }
        if (token.kind == Token::Kind::Start &&
            (token.name == u"title" || token.name == u"style" || token.name == u"script" || token.name == u"iframe")) {
            rawEnd = token.name;
        }
        tokens.push_back(std::move(token));
    }
    flushText(text);
    return tokens;
}

PAGECHECK_UNTRACED inline WString Describe(const std::vector<Token>& tokens) {
    WString out;
    for (const Token& t : tokens) {
        out += t.kind == Token::Kind::Text ? u"#text" : (t.kind == Token::Kind::End ? u"/" + t.name : t.name);
        for (const auto& [name, value] : t.attributes) out += u" " + name + u"=" + value.substr(0, 40);
        out += u"\n";
    }
    return out;
}

// The built page has exactly the builder's elements, the address is the
// whole frame source and the watermark the whole text of its element.
PAGECHECK_UNTRACED inline void CheckPlayerPage(const PlayerContentRecord& content) {
    const WString page = BuildPlayerPage(content);
    std::string why;
    const std::optional<std::vector<Token>> read = Tokenise(page, why);
    FUZZ_CHECK(read.has_value(), why + " in " + FuzzShow(page.substr(page.find(u"<iframe"))));
    const std::vector<Token>& tokens = *read;

    std::vector<std::pair<Token::Kind, WString>> shape;
    for (const Token& t : tokens) {
        const bool named = t.kind == Token::Kind::Start || t.kind == Token::Kind::End;
        shape.emplace_back(t.kind, named ? t.name : WString());
    }
    using K = Token::Kind;
    std::vector<std::pair<K, WString>> expected = {
        {K::Doctype, {}},       {K::Start, u"html"},  {K::Start, u"head"},   {K::Start, u"meta"},
        {K::Start, u"title"},   {K::Text, {}},        {K::End, u"title"},    {K::Start, u"style"},
        {K::Text, {}},          {K::End, u"style"},   {K::End, u"head"},     {K::Start, u"body"},
        {K::Start, u"iframe"},  {K::End, u"iframe"},  {K::Start, u"div"},    {K::Text, {}},
        {K::End, u"div"},       {K::Start, u"script"}, {K::Text, {}},        {K::End, u"script"},
        {K::End, u"body"},      {K::End, u"html"},
    };
    if (content.watermarkText.empty()) expected.erase(expected.begin() + 15);
    FUZZ_CHECK(shape == expected, "page elements:\n" + FuzzShow(Describe(tokens)));

    const Token& frame = tokens[12];
    FUZZ_CHECK(frame.attributes.size() == 3, FuzzShow(Describe({frame})));
    FUZZ_CHECK(frame.attributes[0].first == u"src" && frame.attributes[0].second == content.url,
               "frame source " + FuzzShow(frame.attributes[0].second) + " for " + FuzzShow(content.url));
    FUZZ_CHECK(frame.attributes[1].first == u"allowfullscreen" && frame.attributes[2].first == u"allow",
               FuzzShow(Describe({frame})));
    const Token& mark = tokens[14];
    FUZZ_CHECK(mark.attributes.size() == 2 && mark.attributes[0].first == u"style" &&
                   mark.attributes[1].first == u"aria-hidden" && mark.attributes[1].second == u"true",
               FuzzShow(Describe({mark})));
    if (!content.watermarkText.empty()) {
        FUZZ_CHECK(tokens[15].name == content.watermarkText,
                   "watermark " + FuzzShow(tokens[15].name) + " for " + FuzzShow(content.watermarkText));
    }
    const Token& script = tokens[tokens.size() - 4];
    FUZZ_CHECK(script.name == u"window.chrome.webview.postMessage('pageLoaded');", FuzzShow(script.name));
}

PAGECHECK_UNTRACED inline bool IsLineTerminator(char16_t c) { return c == u'\n' || c == u'\r'; }

PAGECHECK_UNTRACED inline int Hex(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Reads a JavaScript string literal whose opening quote is at `at`; returns
// its value and leaves `at` just past the closing quote.
PAGECHECK_UNTRACED inline std::optional<WString> ReadJsString(const WString& source, std::size_t& at, std::string& why) {
    const char16_t quote = source[at++];
    WString value;
    while (at < source.size()) {
        const char16_t c = source[at++];
        if (c == quote) return value;
        if (IsLineTerminator(c)) return why = "line break inside the string", std::nullopt;
        if (c != u'\\') {
            value += c;
            continue;
        }
        if (at >= source.size()) break;
        const char16_t e = source[at++];
        switch (e) {
        case u'n': value += u'\n'; break;
        case u'r': value += u'\r'; break;
        case u't': value += u'\t'; break;
        case u'b': value += u'\b'; break;
        case u'f': value += u'\f'; break;
        case u'v': value += u'\v'; break;
        case u'x': {
            if (at + 2 > source.size() || Hex(source[at]) < 0 || Hex(source[at + 1]) < 0) {
                return why = "bad \\x escape", std::nullopt;
            }
            value += static_cast<char16_t>(Hex(source[at]) * 16 + Hex(source[at + 1]));
            at += 2;
            break;
        }
        case u'u': {
            if (at + 4 > source.size()) return why = "bad \\u escape", std::nullopt;
            int v = 0;
            for (int i = 0; i < 4; ++i) {
                if (Hex(source[at + i]) < 0) return why = "bad \\u escape", std::nullopt;
                v = v * 16 + Hex(source[at + i]);
            }
            value += static_cast<char16_t>(v);
            at += 4;
            break;
        }
        case u'\r':
            if (at < source.size() && source[at] == u'\n') ++at;
            break;
        case u'\n':
        case 0x2028:
        case 0x2029: break; // line continuation
        default:
            if (e >= u'0' && e <= u'9') return why = "digit escape", std::nullopt;
            value += e;
        }
    }
    return why = "string never closed", std::nullopt;
}

// The watermark script is its fixed text around one string literal that
// reads back as the watermark text, and nothing in it can end a script
// element or open an HTML comment.
PAGECHECK_UNTRACED inline void CheckWatermarkScript(const WString& watermark) {
    static const WString empty = WatermarkScript(WString());
    static const WString opener = u"wm.textContent = '";
    static const std::size_t start = empty.find(opener) + opener.size() - 1;
    static const WString head = empty.substr(0, start);
    static const WString tail = empty.substr(start + 2);
    const WString script = WatermarkScript(watermark);
    FUZZ_CHECK(script.compare(0, head.size(), head) == 0, "script head changed");
    std::size_t at = start;
    std::string why;
    const std::optional<WString> value = ReadJsString(script, at, why);
    FUZZ_CHECK(value.has_value(), why + " for " + FuzzShow(watermark));
    FUZZ_CHECK(*value == watermark, "string reads " + FuzzShow(*value) + " for " + FuzzShow(watermark));
    FUZZ_CHECK(script.size() - at == tail.size() && script.compare(at, WString::npos, tail) == 0,
               "the string ended early for " + FuzzShow(watermark));
    const WString lower = ToLowerCopy(script);
    FUZZ_CHECK(lower.find(u"</script") == WString::npos && lower.find(u"<!--") == WString::npos,
               "script element could end: " + FuzzShow(watermark));
}

} // namespace pagecheck
