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

namespace {

// Exec= quoting of the desktop entry format: a quoted argument escapes
// '"', '`', '$' and '\', and the value itself escapes '\' once more. A path
// that needs none stays bare: xdg-open's generic mode (no desktop
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
        } else {
            out.push_back(c);
        }
    }
    out += "\"";
    return out;
}

std::string SchemeMimeType() {
    return "x-scheme-handler/" + WideToUtf8(ApplicationConstants.schemeWord);
}

} // namespace

std::string SchemeDesktopEntry(const std::string& executablePath) {
    std::string entry;
    entry += "[Desktop Entry]\n";
    entry += "Type=Application\n";
    entry += "Name=" + WideToUtf8(ApplicationConstants.productName) + "\n";
    entry += "GenericName=Kelbro Desktop Player\n";
    entry += "Exec=" + QuoteExecArgument(executablePath) + " %u\n";
    entry += "Icon=" + WideToUtf8(ToLowerCopy(ApplicationConstants.productName)) + "\n";
    entry += "Terminal=false\n";
    entry += "NoDisplay=true\n";
    entry += "MimeType=" + SchemeMimeType() + ";\n";
    return entry;
}

std::string WithDefaultSchemeHandler(const std::string& mimeappsList, const std::string& desktopFile) {
    const std::string key = SchemeMimeType();
    const std::string line = key + "=" + desktopFile;
    std::istringstream in(mimeappsList);
    std::vector<std::string> lines;
    std::string current;
    while (std::getline(in, current)) lines.push_back(current);

    // Drop our key from [Default Applications], then put it back first thing in that group.
    std::vector<std::string> out;
    std::string group;
    bool placed = false;
    for (const std::string& l : lines) {
        if (!l.empty() && l[0] == '[') {
            group = l;
            out.push_back(l);
            if (group == "[Default Applications]" && !placed) {
                out.push_back(line);
                placed = true;
            }
            continue;
        }
        if (group == "[Default Applications]" && l.rfind(key + "=", 0) == 0) continue;
        out.push_back(l);
    }
    if (!placed) {
        if (!out.empty() && !out.back().empty()) out.push_back("");
        out.push_back("[Default Applications]");
        out.push_back(line);
    }
    std::string text;
    for (const std::string& l : out) text += l + "\n";
    return text;
}
