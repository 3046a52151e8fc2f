#include "common/text.h"

#include <sstream>
#include <locale>

namespace {

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void AppendUtf16(WString& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

constexpr char32_t kReplacement = 0xFFFD;

} // namespace

std::string WideToUtf8(WStringView text) {
    std::string out(text.size(), '\0');
    std::size_t ascii = 0;
    for (; ascii < text.size() && text[ascii] < 0x80; ++ascii) out[ascii] = static_cast<char>(text[ascii]);
    out.resize(ascii);
    for (std::size_t i = ascii; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        AppendUtf8(out, c);
    }
    return out;
}

WString Utf8ToWide(std::string_view text) {
    WString out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        unsigned char b = s[i];
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        int need = 0;
        char32_t cp = 0;
        unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            cp = b & 0x0F;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F; // no surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            cp = b & 0x07;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            out.push_back(static_cast<char16_t>(kReplacement));
            ++i;
            continue;
        }
        // Consume the longest valid prefix; an ill-formed sequence yields one
        // replacement for its maximal subpart.
        std::size_t j = i + 1;
        bool ok = true;
        for (int k = 0; k < need; ++k, ++j) {
            unsigned char lower = k == 0 ? lo : 0x80;
            unsigned char upper = k == 0 ? hi : 0xBF;
            if (j >= n || s[j] < lower || s[j] > upper) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (s[j] & 0x3F);
        }
        if (ok) {
            AppendUtf16(out, cp);
        } else {
            out.push_back(static_cast<char16_t>(kReplacement));
        }
        i = j;
    }
    return out;
}

char16_t ToLowerUnit(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}

WString ToLowerCopy(WStringView text) {
    WString out(text);
    for (auto& c : out) c = ToLowerUnit(c);
    return out;
}

std::string ToLowerAscii(std::string_view text) {
    std::string out(text);
    for (auto& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    }
    return out;
}

WString UrlEncode(WStringView text) {
    static const char* hex = "0123456789abcdef";
    const std::string bytes = WideToUtf8(text);
    std::string out;
    out.reserve(bytes.size() * 3);
    for (unsigned char c : bytes) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '.' || c == '_' || c == '~') {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return Utf8ToWide(out);
}

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads two characters as "stream >> std::hex >> int" does: leading white
// space and a sign are accepted, and reading stops at the first non-digit.
// Plain two-digit escapes, by far the common case, skip the stream.
bool ReadHexPair(char a, char b, int& value) {
    const int ha = HexValue(a);
    const int hb = HexValue(b);
    if (ha >= 0 && hb >= 0) {
        value = ha * 16 + hb;
        return true;
    }
    std::istringstream in(std::string{a, b});
    // Whatever the program's global locale, digits are read the C way (no
    // grouping characters between them).
    in.imbue(std::locale::classic());
    int v = 0;
    in >> std::hex >> v;
    if (in.fail()) return false;
    value = v;
    return true;
}

} // namespace

WString UrlDecode(WStringView text) {
    // Without an escape or a lone surrogate, decoding gives the text back.
    bool plain = true;
    for (const char16_t c : text) {
        if (c == u'%' || (c >= 0xD800 && c <= 0xDFFF)) {
            plain = false;
            break;
        }
    }
    if (plain) return WString(text);
    const std::string bytes = WideToUtf8(text);
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        int value = 0;
        if (bytes[i] == '%' && i + 2 < bytes.size() && ReadHexPair(bytes[i + 1], bytes[i + 2], value)) {
            out.push_back(static_cast<char>(value));
            i += 2;
        } else {
            out.push_back(bytes[i]);
        }
    }
    return Utf8ToWide(out);
}

WString WidenAscii(std::string_view text) {
    WString out;
    out.reserve(text.size());
    for (unsigned char c : text) out.push_back(c);
    return out;
}

bool StartsWith(WStringView text, WStringView prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(WStringView text, WStringView suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool Contains(WStringView text, WStringView part) {
    return text.find(part) != WStringView::npos;
}

void SecureWipe(std::string& secret) {
    volatile char* p = secret.data();
    for (std::size_t i = 0; i < secret.size(); ++i) p[i] = 0;
    secret.clear();
}

WString DisplayText(WStringView text, std::size_t maxUnits, std::size_t maxLines) {
    WString out;
    std::size_t lines = 1;
    bool cut = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c == u'\r' || c == 0x2028 || c == 0x2029) {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') continue;
            c = u'\n';
        }
        if (c == u'\t') c = u' ';
        const bool control = (c < 0x20 && c != u'\n') || (c >= 0x7f && c <= 0x9f);
        // Embeddings, overrides and isolates can make a text read other than it is.
        const bool bidiControl = (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
        if (control || bidiControl) continue;
        if (c == u'\n' && ++lines > maxLines) {
            cut = true;
            break;
        }
        // A surrogate pair stays whole or goes whole.
        const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        if (out.size() + (pair ? 2 : 1) > maxUnits) {
            cut = true;
            break;
        }
        out.push_back(c);
        if (pair) out.push_back(text[++i]);
    }
    if (cut) {
        while (!out.empty() && (out.back() == u'\n' || out.back() == u' ')) out.pop_back();
        out += u"\u2026";
    }
    return out;
}
