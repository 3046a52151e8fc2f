#include "tests/support/standin_runtime_win.h"

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/text.h"
#include "tests/support/test_support.h"

namespace TestSupport {

namespace {

namespace fs = std::filesystem;

std::wstring W(const std::string& utf8) {
    const WString wide = Utf8ToWide(utf8);
    return std::wstring(wide.begin(), wide.end());
}

std::string FromW(const std::wstring& wide) { return WideToUtf8(WString(wide.begin(), wide.end())); }

std::string PathText(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

void SetEnv(const wchar_t* name, const std::string& value) { SetEnvironmentVariableW(name, W(value).c_str()); }

} // namespace

std::string StandInRuntimeFolder() {
    wchar_t base[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"ProgramFiles(x86)", base, MAX_PATH) == 0) wcscpy(base, L"C:\\Program Files (x86)");
    return FromW(base) + "\\Microsoft\\EdgeWebView\\Application\\" + kStandInVersion;
}

std::string InstallStandInRuntime() {
    const fs::path folder = fs::u8path(StandInRuntimeFolder());
    // The library, and the browser program above it where the runtime keeps its own.
    const std::pair<const char*, fs::path> files[] = {
        {"/standin/EmbeddedBrowserWebView.dll", folder / "EBWebView" / "x64" / "EmbeddedBrowserWebView.dll"},
        {"/standin/sleeper.exe", folder / "msedgewebview2.exe"}};
    std::error_code ec;
    for (const auto& [built, target] : files) {
        const fs::path source = fs::u8path(Env("TOVANI_BIN") + built);
        if (!fs::exists(source, ec)) return "stand-in not built: " + PathText(source);
        fs::create_directories(target.parent_path(), ec);
        // A copy in use by another test stays as long as it is the same file.
        if (ReadFile(PathText(source)) == ReadFile(PathText(target))) continue;
        const fs::path fresh = target.parent_path() / ("fresh-" + std::to_string(GetCurrentProcessId()) + ".tmp");
        fs::copy_file(source, fresh, fs::copy_options::overwrite_existing, ec);
        if (ec) return "cannot copy the stand-in: " + ec.message();
        // A running program's file cannot be replaced, but it can be moved aside.
        const fs::path aside = target.parent_path() / ("old-" + std::to_string(GetCurrentProcessId()) + "-" +
                                                       std::to_string(GetTickCount()) + ".tmp");
        if (!MoveFileExW(fresh.wstring().c_str(), target.wstring().c_str(), MOVEFILE_REPLACE_EXISTING) &&
            !(MoveFileExW(target.wstring().c_str(), aside.wstring().c_str(), 0) &&
              MoveFileExW(fresh.wstring().c_str(), target.wstring().c_str(), MOVEFILE_REPLACE_EXISTING))) {
            fs::remove(fresh, ec);
            return "cannot install the stand-in (in use?): " + std::to_string(GetLastError());
        }
    }
    HKEY key = nullptr;
    const std::wstring path = L"SOFTWARE\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return "cannot create the runtime's registry key";
    }
    const std::wstring value = folder.wstring();
    const LSTATUS status = RegSetValueExW(key, L"EBWebView", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::string() : "cannot write the runtime's location";
}

StandInSession::StandInSession(const std::string& name, const std::string& script) {
    static int counter = 0;
    const fs::path dir = fs::temp_directory_path() / ("tovani-standin-" + std::to_string(GetCurrentProcessId()) + "-" +
                                                      std::to_string(++counter) + "-" + name);
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir, ec);
    folder = PathText(dir);
    journalPath = PathText(dir / "journal.txt");
    scriptPath = PathText(dir / "script.txt");
    SetScript(script);
    SetEnv(L"TOVANI_STANDIN_JOURNAL", journalPath);
    SetEnv(L"TOVANI_STANDIN_SCRIPT", scriptPath);
}

StandInSession::~StandInSession() {
    SetEnvironmentVariableW(L"TOVANI_STANDIN_JOURNAL", nullptr);
    SetEnvironmentVariableW(L"TOVANI_STANDIN_SCRIPT", nullptr);
    std::error_code ec;
    fs::remove_all(fs::u8path(folder), ec);
}

void StandInSession::SetScript(const std::string& script) const {
    std::ofstream out(fs::u8path(scriptPath), std::ios::binary | std::ios::trunc);
    out << script;
}

std::vector<std::string> StandInSession::Journal() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(journalPath));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string StandInDigest(const std::string& utf8) {
    unsigned long long h = 1469598103934665603ull;
    for (unsigned char c : utf8) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%016llx", h);
    return buffer;
}

} // namespace TestSupport
