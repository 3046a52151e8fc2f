#include "app/scheme_registration.h"

#include <sstream>
#include <vector>

#include "common/app_constants.h"

bool IsBareExecPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return false;
    for (const char c : path) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
                          c == '.' || c == '_' || c == '-' || c == '+';
        if (!safe) return false;
    }
    return true;
}

bool IsRegistrablePathText(const std::string& path) {
    if (path.empty() || path[0] != '/') return false;
    const WString wide = Utf8ToWide(path);
    if (WideToUtf8(wide) != path) return false; // not UTF-8, which an entry must be
    for (const char16_t c : wide) {
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return false;
    }
    return true;
}

std::string SchemeDesktopFileName() {
    return WideToUtf8(ToLowerCopy(ApplicationConstants.productName)) + "-" + WideToUtf8(ApplicationConstants.schemeWord) +
           ".desktop";
}

namespace {

constexpr char kExecKey[] = "\nExec=";
constexpr char kExecTail[] = " %u";

// Exec= quoting of the desktop entry format: a quoted argument escapes
// '"', '`', '$' and '\', the value itself escapes '\' once more (that rule
// applies first when the entry is read), and a literal '%' is doubled. A
// path that needs none stays bare: xdg-open's generic mode (no desktop
// environment, the way browsers hand links over on plain window managers)
// takes the first word literally and cannot run a quoted one.
std::string QuoteExecArgument(const std::string& path) {
    if (IsBareExecPath(path)) return path;
    std::string out = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$') {
            out += "\\\\";
            out.push_back(c);
        } else if (c == '\\') {
            out += "\\\\\\\\";
        } else if (c == '%') {
            out += "%%";
        } else {
            out.push_back(c);
        }
    }
    out += "\"";
    return out;
}

// The reverse of QuoteExecArgument, strictly: nothing for a value it would
// not have written.
std::optional<std::string> UnquoteExecArgument(const std::string& value) {
    if (IsBareExecPath(value)) return value;
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') return std::nullopt;
    std::string out;
    for (std::size_t i = 1; i + 1 < value.size(); ++i) {
        const char c = value[i];
        if (c == '\\') {
            if (value.compare(i, 4, "\\\\\\\\") == 0) {
                out.push_back('\\');
                i += 3;
            } else if (i + 2 < value.size() - 1 && value[i + 1] == '\\' &&
                       (value[i + 2] == '"' || value[i + 2] == '`' || value[i + 2] == '$')) {
                out.push_back(value[i + 2]);
                i += 2;
            } else {
                return std::nullopt;
            }
        } else if (c == '%') {
            if (value[i + 1] != '%') return std::nullopt;
            out.push_back('%');
            ++i;
        } else if (c == '"' || c == '`' || c == '$') {
            return std::nullopt;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string SchemeMimeType() {
    return "x-scheme-handler/" + WideToUtf8(ApplicationConstants.schemeWord);
}

std::vector<std::string> Lines(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> lines;
    std::string current;
    while (std::getline(in, current)) {
        // A file saved with CRLF line ends has the same lines.
        if (!current.empty() && current.back() == '\r') current.pop_back();
        lines.push_back(current);
    }
    return lines;
}

// The lines again, with the line end the file had.
std::string JoinLines(const std::vector<std::string>& lines, const std::string& original) {
    const std::string end = original.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    std::string text;
    for (const std::string& l : lines) text += l + end;
    return text;
}

// The lines of a mimeapps.list, with every line of [Default Applications]
// for which drop is true left out.
template <typename Drop>
std::vector<std::string> DefaultsWithout(const std::string& mimeappsList, Drop drop) {
    std::vector<std::string> out;
    std::string group;
    for (const std::string& l : Lines(mimeappsList)) {
        if (!l.empty() && l[0] == '[') group = l;
        else if (group == "[Default Applications]" && drop(l)) continue;
        out.push_back(l);
    }
    return out;
}

} // namespace

std::string SchemeDesktopEntry(const std::string& executablePath) {
    if (!IsRegistrablePathText(executablePath)) return std::string();
    std::string entry;
    entry += "[Desktop Entry]\n";
    entry += "Type=Application\n";
    entry += "Name=" + WideToUtf8(ApplicationConstants.productName) + "\n";
    entry += "GenericName=Kelbro Desktop Player\n";
    entry += std::string(kExecKey + 1) + QuoteExecArgument(executablePath) + kExecTail + "\n";
    entry += "Icon=" + WideToUtf8(ToLowerCopy(ApplicationConstants.productName)) + "\n";
    entry += "Terminal=false\n";
    entry += "NoDisplay=true\n";
    entry += "MimeType=" + SchemeMimeType() + ";\n";
    return entry;
}

std::optional<std::string> SchemeEntryProgram(const std::string& entry) {
    const std::size_t start = entry.find(kExecKey);
    if (start == std::string::npos) return std::nullopt;
    const std::size_t from = start + sizeof kExecKey - 1;
    const std::size_t end = entry.find('\n', from);
    std::string value = entry.substr(from, end == std::string::npos ? std::string::npos : end - from);
    const std::string tail = kExecTail;
    if (value.size() <= tail.size() || value.compare(value.size() - tail.size(), tail.size(), tail) != 0) {
        return std::nullopt;
    }
    value.resize(value.size() - tail.size());
    std::optional<std::string> program = UnquoteExecArgument(value);
    if (!program || SchemeDesktopEntry(*program) != entry) return std::nullopt;
    return program;
}

std::string WithDefaultSchemeHandler(const std::string& mimeappsList, const std::string& desktopFile) {
    const std::string key = SchemeMimeType() + "=";
    // Drop our key from [Default Applications], then put it back first thing in that group.
    std::vector<std::string> out;
    bool placed = false;
    for (const std::string& l : DefaultsWithout(mimeappsList, [&](const std::string& l) { return l.rfind(key, 0) == 0; })) {
        out.push_back(l);
        if (l == "[Default Applications]" && !placed) {
            out.push_back(key + desktopFile);
            placed = true;
        }
    }
    if (!placed) {
        if (!out.empty() && !out.back().empty()) out.push_back("");
        out.push_back("[Default Applications]");
        out.push_back(key + desktopFile);
    }
    return JoinLines(out, mimeappsList);
}

std::string WithoutDefaultSchemeHandler(const std::string& mimeappsList, const std::string& desktopFile) {
    const std::string line = SchemeMimeType() + "=" + desktopFile;
    return JoinLines(
        DefaultsWithout(mimeappsList, [&](const std::string& l) { return l == line || l == line + ";"; }),
        mimeappsList);
}
