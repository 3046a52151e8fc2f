// A stand-in for the WebView2 runtime's browser library, for the tests of
// the Windows player. It exports the runtime's internal environment entry
// point and implements the interfaces the player uses with its own vtables,
// filled slot by slot from the published slot numbers; it shares no
// declaration with the player, so a slip in either side shows up as a call
// that lands in the wrong slot ("UNEXPECTED" in the journal).
//
// TOVANI_STANDIN_JOURNAL  file that receives one UTF-8 line per call
// TOVANI_STANDIN_SCRIPT   file that scripts the page (see ReadScript)
//
// Everything runs on the thread that created the environment, through a
// message-only window of its own: completions and events arrive only while
// that thread pumps messages, as with the real runtime.
#include <windows.h>
#include <objidl.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "standin_browser_shared.h"

namespace {

// ---- text and journal ---------------------------------------------------------

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& text) {
    if (text.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

std::wstring Str(LPCWSTR text) { return text ? std::wstring(text) : std::wstring(); }

std::wstring EnvValue(const wchar_t* name) {
    wchar_t buffer[2048];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 2048);
    return n > 0 && n < 2048 ? std::wstring(buffer, n) : std::wstring();
}

// Line breaks inside a value would split a journal line.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n') c = '|';
        if (c == '\r') c = ' ';
    }
    return text;
}

void Journal(const std::string& line) {
    // Read every time: one process may run several sessions, each with its own journal.
    const std::wstring path = EnvValue(L"TOVANI_STANDIN_JOURNAL");
    if (path.empty()) return;
    if (FILE* f = _wfopen(path.c_str(), L"ab")) {
        const std::string text = OneLine(line) + "\n";
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    }
}

std::string Hex(std::uint64_t value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%016llx", static_cast<unsigned long long>(value));
    return buffer;
}

// The address the runtime reports for a page given as text.
std::wstring DataAddress(const std::string& html) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out = "data:text/html;charset=utf-8;base64,";
    std::size_t i = 0;
    for (; i + 2 < html.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(html[i]) << 16) | (static_cast<unsigned char>(html[i + 1]) << 8) |
                           static_cast<unsigned char>(html[i + 2]);
        out += {alphabet[v >> 18], alphabet[(v >> 12) & 63], alphabet[(v >> 6) & 63], alphabet[v & 63]};
    }
    if (i < html.size()) {
        unsigned v = static_cast<unsigned char>(html[i]) << 16;
        if (i + 1 < html.size()) v |= static_cast<unsigned char>(html[i + 1]) << 8;
        out += alphabet[v >> 18];
        out += alphabet[(v >> 12) & 63];
        out += i + 1 < html.size() ? alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return std::wstring(out.begin(), out.end());
}

// FNV-1a over the UTF-8 bytes: the journal names scripts by this digest.
std::uint64_t Digest(const std::string& bytes) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

LPWSTR CoText(const std::wstring& text) {
    auto* out = static_cast<wchar_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    if (out == nullptr) return nullptr;
    std::wmemcpy(out, text.c_str(), text.size() + 1);
    return out;
}

// ---- the stand-in's own IIDs ----------------------------------------------------

struct NamedIid {
    const char* name;
    GUID iid;
};

// Written down from the published ABI independently of the player's header.
const NamedIid kIids[] = {
    {"IUnknown", {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}},
    {"ICoreWebView2Environment", {0xb96d755e, 0x0319, 0x4e92, {0xa2, 0x96, 0x23, 0x43, 0x6f, 0x46, 0xa1, 0xfc}}},
    {"ICoreWebView2Environment2", {0x41f3632b, 0x5ef4, 0x404f, {0xad, 0x82, 0x2d, 0x60, 0x6c, 0x5a, 0x9a, 0x21}}},
    {"ICoreWebView2Environment3", {0x80a22ae3, 0xbe7c, 0x4ce2, {0xaf, 0xe1, 0x5a, 0x50, 0x05, 0x6c, 0xde, 0xeb}}},
    {"ICoreWebView2Environment4", {0x20944379, 0x6dcf, 0x41d6, {0xa0, 0xa0, 0xab, 0xc0, 0xfc, 0x50, 0xde, 0x0d}}},
    {"ICoreWebView2Environment5", {0x319e423d, 0xe0d7, 0x4b8d, {0x92, 0x54, 0xae, 0x94, 0x75, 0xde, 0x9b, 0x17}}},
    {"ICoreWebView2Environment6", {0xe59ee362, 0xacbd, 0x4857, {0x9a, 0x8e, 0xd3, 0x64, 0x4d, 0x94, 0x59, 0xa9}}},
    {"ICoreWebView2Controller", {0x4d00c0d1, 0x9434, 0x4eb6, {0x80, 0x78, 0x86, 0x97, 0xa5, 0x60, 0x33, 0x4f}}},
    {"ICoreWebView2Controller2", {0xc979903e, 0xd4ca, 0x4228, {0x92, 0xeb, 0x47, 0xee, 0x3f, 0xa9, 0x6e, 0xab}}},
    {"ICoreWebView2Controller3", {0xf9614724, 0x5d2b, 0x41dc, {0xae, 0xf7, 0x73, 0xd6, 0x2b, 0x51, 0x54, 0x3b}}},
    {"ICoreWebView2Controller4", {0x97d418d5, 0xa426, 0x4e49, {0xa1, 0x51, 0xe1, 0xa1, 0x0f, 0x32, 0x7d, 0x9e}}},
    {"ICoreWebView2", {0x76eceacb, 0x0462, 0x4d94, {0xac, 0x83, 0x42, 0x3a, 0x67, 0x93, 0x77, 0x5e}}},
    {"ICoreWebView2_2", {0x9e8f0cf8, 0xe670, 0x4b5e, {0xb2, 0xbc, 0x73, 0xe0, 0x61, 0xe3, 0x18, 0x4c}}},
    {"ICoreWebView2_3", {0xa0d6df20, 0x3b92, 0x416d, {0xaa, 0x0c, 0x43, 0x7a, 0x9c, 0x72, 0x78, 0x57}}},
    {"ICoreWebView2_4", {0x20d02d59, 0x6df2, 0x42dc, {0xbd, 0x06, 0xf9, 0x8a, 0x69, 0x4b, 0x13, 0x02}}},
    {"ICoreWebView2_5", {0xbedb11b8, 0xd63c, 0x11eb, {0xb8, 0xbc, 0x02, 0x42, 0xac, 0x13, 0x00, 0x03}}},
    {"ICoreWebView2_6", {0x499aadac, 0xd92c, 0x4589, {0x8a, 0x75, 0x11, 0x1b, 0xfc, 0x16, 0x77, 0x95}}},
    {"ICoreWebView2_7", {0x79c24d83, 0x09a3, 0x45ae, {0x94, 0x18, 0x48, 0x7f, 0x32, 0xa5, 0x87, 0x40}}},
    {"ICoreWebView2_8", {0xe9632730, 0x6e1e, 0x43ab, {0xb7, 0xb8, 0x7b, 0x2c, 0x9e, 0x62, 0xe0, 0x94}}},
    {"ICoreWebView2_9", {0x4d7b2eab, 0x9fdc, 0x468d, {0xb9, 0x98, 0xa9, 0x26, 0x0b, 0x5e, 0xd6, 0x51}}},
    {"ICoreWebView2_10", {0xb1690564, 0x6f5a, 0x4983, {0x8e, 0x48, 0x31, 0xd1, 0x14, 0x3f, 0xec, 0xdb}}},
    {"ICoreWebView2_11", {0x0be78e56, 0xc193, 0x4051, {0xb9, 0x43, 0x23, 0xb4, 0x60, 0xc0, 0x8b, 0xdb}}},
    {"ICoreWebView2_12", {0x35d69927, 0xbcfa, 0x4566, {0x93, 0x49, 0x6b, 0x3e, 0x0d, 0x15, 0x4c, 0xac}}},
    {"ICoreWebView2_13", {0xf75f09a8, 0x667e, 0x4983, {0x88, 0xd6, 0xc8, 0x77, 0x3f, 0x31, 0x5e, 0x84}}},
    {"ICoreWebView2_14", {0x6daa4f10, 0x4a90, 0x4753, {0x88, 0x98, 0x77, 0xc5, 0xdf, 0x53, 0x41, 0x65}}},
    {"ICoreWebView2_15", {0x517b2d1d, 0x7dae, 0x4a66, {0xa4, 0xf4, 0x10, 0x35, 0x2f, 0xfb, 0x95, 0x18}}},
    {"ICoreWebView2_16", {0x0eb34dc9, 0x9f91, 0x41e1, {0x86, 0x39, 0x95, 0xcd, 0x59, 0x43, 0x90, 0x6b}}},
    {"ICoreWebView2_17", {0x702e75d4, 0xfd44, 0x434d, {0x9d, 0x70, 0x1a, 0x68, 0xa6, 0xb1, 0x19, 0x2a}}},
    {"ICoreWebView2_18", {0x7a626017, 0x28be, 0x49b2, {0xb8, 0x65, 0x3b, 0xa2, 0xb3, 0x52, 0x2d, 0x90}}},
    {"ICoreWebView2_19", {0x6921f954, 0x79b0, 0x437f, {0xa9, 0x97, 0xc8, 0x58, 0x11, 0x89, 0x7c, 0x68}}},
    {"ICoreWebView2_20", {0xb4bc1926, 0x7305, 0x11ee, {0xb9, 0x62, 0x02, 0x42, 0xac, 0x12, 0x00, 0x02}}},
    {"ICoreWebView2_21", {0xc4980dea, 0x587b, 0x43b9, {0x81, 0x43, 0x3e, 0xf3, 0xbf, 0x55, 0x2d, 0x95}}},
    {"ICoreWebView2_22", {0xdb75dfc7, 0xa857, 0x4632, {0xa3, 0x98, 0x69, 0x69, 0xdd, 0xe2, 0x6c, 0x0a}}},
    {"ICoreWebView2_23", {0x508f0db5, 0x90c4, 0x5872, {0x90, 0xa7, 0x26, 0x7a, 0x91, 0x37, 0x75, 0x02}}},
    {"ICoreWebView2_24", {0x39a7ad55, 0x4287, 0x5cc1, {0x88, 0xa1, 0xc6, 0xf4, 0x58, 0x59, 0x38, 0x24}}},
    {"ICoreWebView2_25", {0xb5a86092, 0xdf50, 0x5b4f, {0xa1, 0x7b, 0x6c, 0x8f, 0x8b, 0x40, 0xb7, 0x71}}},
    {"ICoreWebView2Settings", {0xe562e4f0, 0xd7fa, 0x43ac, {0x8d, 0x71, 0xc0, 0x51, 0x50, 0x49, 0x9f, 0x00}}},
    {"ICoreWebView2Settings2", {0xee9a0f68, 0xf46c, 0x4e32, {0xac, 0x23, 0xef, 0x8c, 0xac, 0x22, 0x4d, 0x2a}}},
    {"ICoreWebView2Settings3", {0xfdb5ab74, 0xaf33, 0x4854, {0x84, 0xf0, 0x0a, 0x63, 0x1d, 0xeb, 0x5e, 0xba}}},
    {"ICoreWebView2Settings4", {0xcb56846c, 0x4168, 0x4d53, {0xb0, 0x4f, 0x03, 0xb6, 0xd6, 0x79, 0x6f, 0xf2}}},
    {"ICoreWebView2Settings5", {0x183e7052, 0x1d03, 0x43a0, {0xab, 0x99, 0x98, 0xe0, 0x43, 0xb6, 0x6b, 0x39}}},
    {"ICoreWebView2Settings6", {0x11cb3acd, 0x9bc8, 0x43b8, {0x83, 0xbf, 0xf4, 0x07, 0x53, 0x71, 0x4f, 0x87}}},
    {"ICoreWebView2Settings7", {0x488dc902, 0x35ef, 0x42d2, {0xbc, 0x7d, 0x94, 0xb6, 0x5c, 0x4b, 0xc4, 0x9c}}},
    {"ICoreWebView2PrintSettings", {0x377f3721, 0xc74e, 0x48ca, {0x8d, 0xb1, 0xdf, 0x68, 0xe5, 0x1d, 0x60, 0xe2}}},
    {"ICoreWebView2PrintSettings2", {0xca7f0e1f, 0x3484, 0x41d1, {0x8c, 0x1a, 0x65, 0xcd, 0x44, 0xa6, 0x3f, 0x8d}}},
    {"NavigationStartingEventArgs", {0x5b495469, 0xe119, 0x438a, {0x9b, 0x18, 0x76, 0x04, 0xf2, 0x5f, 0x2e, 0x49}}},
    {"NavigationCompletedEventArgs", {0x30d68b7d, 0x20d9, 0x4752, {0xa9, 0xca, 0xec, 0x84, 0x48, 0xfb, 0xb5, 0xc1}}},
    {"WebMessageReceivedEventArgs", {0x0f99a40c, 0xe962, 0x4207, {0x9e, 0x92, 0xe3, 0xd5, 0x42, 0xef, 0xf8, 0x49}}},
    {"PermissionRequestedEventArgs", {0x973ae2ef, 0xff18, 0x4894, {0x8f, 0xb2, 0x3c, 0x75, 0x8f, 0x04, 0x68, 0x10}}},
    {"NewWindowRequestedEventArgs", {0x34acb11c, 0xfc37, 0x4418, {0x91, 0x32, 0xf9, 0xc2, 0x1d, 0x1e, 0xaf, 0xb9}}},
    {"WebResourceRequestedEventArgs", {0x453e667f, 0x12c7, 0x49d4, {0xbe, 0x6d, 0xdd, 0xbe, 0x79, 0x56, 0xf5, 0x7a}}},
    {"WebResourceRequest", {0x97055cd4, 0x512c, 0x4264, {0x8b, 0x5f, 0xe3, 0xf4, 0x46, 0xce, 0xa6, 0xa5}}},
    {"HttpHeadersCollectionIterator", {0x0702fc30, 0xf43b, 0x47bb, {0xab, 0x52, 0xa4, 0x2c, 0xb5, 0x52, 0xad, 0x9f}}},
    {"Deferral", {0xc10e7f7b, 0xb585, 0x46f0, {0xa6, 0x23, 0x8b, 0xef, 0xbf, 0x3e, 0x4e, 0xe0}}},
    {"HttpRequestHeaders", {0xe86cac0e, 0x5523, 0x465c, {0xb5, 0x36, 0x8f, 0xb9, 0xfc, 0x8c, 0x8c, 0x60}}},
    {"WebResourceResponse", {0xaafcc94f, 0xfa27, 0x48fd, {0x97, 0xdf, 0x83, 0x0e, 0xf7, 0x5a, 0xae, 0xc9}}},
    {"DownloadStartingEventArgs", {0xe99bbe21, 0x43e9, 0x4544, {0xa7, 0x32, 0x28, 0x27, 0x64, 0xea, 0xfa, 0x60}}},
    {"ProcessFailedEventArgs", {0x8155a9a4, 0x1474, 0x4a86, {0x8c, 0xae, 0x15, 0x1b, 0x0f, 0xa6, 0xb8, 0xca}}},
    {"SaveAsUIShowingEventArgs", {0x55902952, 0x0e0d, 0x5aaa, {0xa7, 0xd0, 0xe8, 0x33, 0xcd, 0xb3, 0x4f, 0x62}}},
    // The handlers and the options object the player hands over.
    {"ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler",
     {0x4e8a3389, 0xc9d8, 0x4bd2, {0xb6, 0xb5, 0x12, 0x4f, 0xee, 0x6c, 0xc1, 0x4d}}},
    {"ICoreWebView2CreateCoreWebView2ControllerCompletedHandler",
     {0x6c4819f3, 0xc9b7, 0x4260, {0x81, 0x27, 0xc9, 0xf5, 0xbd, 0xe7, 0xf6, 0x8c}}},
    {"ICoreWebView2NavigationStartingEventHandler",
     {0x9adbe429, 0xf36d, 0x432b, {0x9d, 0xdc, 0xf8, 0x88, 0x1f, 0xbd, 0x76, 0xe3}}},
    {"ICoreWebView2NavigationCompletedEventHandler",
     {0xd33a35bf, 0x1c49, 0x4f98, {0x93, 0xab, 0x00, 0x6e, 0x05, 0x33, 0xfe, 0x1c}}},
    {"ICoreWebView2WebMessageReceivedEventHandler",
     {0x57213f19, 0x00e6, 0x49fa, {0x8e, 0x07, 0x89, 0x8e, 0xa0, 0x1e, 0xcb, 0xd2}}},
    {"ICoreWebView2PermissionRequestedEventHandler",
     {0x15e1c6a3, 0xc72a, 0x4df3, {0x91, 0xd7, 0xd0, 0x97, 0xfb, 0xec, 0x6b, 0xfd}}},
    {"ICoreWebView2NewWindowRequestedEventHandler",
     {0xd4c185fe, 0xc81c, 0x4989, {0x97, 0xaf, 0x2d, 0x3f, 0xa7, 0xab, 0x56, 0x51}}},
    {"ICoreWebView2WebResourceRequestedEventHandler",
     {0xab00b74c, 0x15f1, 0x4646, {0x80, 0xe8, 0xe7, 0x63, 0x41, 0xd2, 0x5d, 0x71}}},
    {"ICoreWebView2DownloadStartingEventHandler",
     {0xefedc989, 0xc396, 0x41ca, {0x83, 0xf7, 0x07, 0xf8, 0x45, 0xa5, 0x57, 0x24}}},
    {"ICoreWebView2SaveAsUIShowingEventHandler",
     {0x6baa177e, 0x3a2e, 0x5ccf, {0x9a, 0x13, 0xfa, 0xd6, 0x76, 0xcd, 0x05, 0x22}}},
    {"ICoreWebView2GetCookiesCompletedHandler",
     {0x5a4f5069, 0x5c15, 0x47c3, {0x86, 0x46, 0xf4, 0xde, 0x1c, 0x11, 0x66, 0x70}}},
    {"ICoreWebView2PrintCompletedHandler", {0x8fd80075, 0xed08, 0x42db, {0x85, 0x70, 0xf5, 0xd1, 0x49, 0x77, 0x46, 0x1e}}},
    {"ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler",
     {0xb99369f3, 0x9b11, 0x47b5, {0xbc, 0x6f, 0x8e, 0x78, 0x95, 0xfc, 0xea, 0x17}}},
    {"ICoreWebView2ContainsFullScreenElementChangedEventHandler",
     {0xe45d98b1, 0xafef, 0x45be, {0x8b, 0xaf, 0x6c, 0x77, 0x28, 0x86, 0x7f, 0x73}}},
    {"ICoreWebView2ProcessFailedEventHandler",
     {0x79e0aea4, 0x990b, 0x42d9, {0xaa, 0x1d, 0x0f, 0xcc, 0x2e, 0x5b, 0xc7, 0xf1}}},
    {"ICoreWebView2EnvironmentOptions", {0x2fde08a8, 0x1e9a, 0x4766, {0x8c, 0x05, 0x95, 0xa9, 0xce, 0xb9, 0xd1, 0xc5}}},
};

const GUID* IidNamed(const std::string& name) {
    for (const NamedIid& entry : kIids) {
        if (name == entry.name) return &entry.iid;
    }
    return nullptr;
}

std::string NameOfIid(REFIID iid) {
    for (const NamedIid& entry : kIids) {
        if (IsEqualGUID(iid, entry.iid)) return entry.name;
    }
    return "other";
}

// ---- the page script --------------------------------------------------------------

struct Action {
    std::string verb;
    std::vector<std::string> args; // the rest of the line, split at spaces
    std::string rest;              // the rest of the line, as written
    bool once = false;             // played on the first matching load only
    bool played = false;
};

struct Script {
    HRESULT environmentFailure = S_OK;
    // The first environmentFailures creations of the process fail with this code.
    int environmentFailures = 0;
    HRESULT environmentFailuresCode = S_OK;
    DWORD environmentDelayMs = 0; // how long the environment takes to come up
    HRESULT controllerFailure = S_OK;
    HRESULT printFailure = S_OK;
    int printStatus = 0;
    // Outcomes of the next prints, one per Print call in order; after them
    // every print ends with printFailure and printStatus.
    std::vector<std::pair<HRESULT, int>> nextPrints;
    std::vector<std::string> missing; // interfaces QueryInterface refuses
    // Actions played after a navigation to an address holding the key completes.
    std::vector<std::pair<std::string, Action>> onLoad;
    // Navigations that fail with a web error status.
    std::vector<std::pair<std::string, int>> failures;
    // The address NavigationStarting reports for a page given as text: the
    // runtime gives a data: address; how it is spelled is not documented,
    // so "about:blank" stays playable.
    bool stringPageAsAboutBlank = false;
    // How long a document script takes to be registered.
    DWORD scriptDelayMs = 40;
};

HRESULT ParseHresult(const std::string& text) { return static_cast<HRESULT>(std::stoul(text, nullptr, 0)); }

// One instruction per line:
//   environment-fails HRESULT | environment-delay MS | controller-fails HRESULT
//   environment-fails-times N HRESULT  (the process's first N creations fail, later ones succeed)
//   string-page-address data|about:blank | script-delay MS
//   print-status N | print-fails HRESULT | missing INTERFACE
//   print-next status N | print-next fails HRESULT
//   fail ADDRESS-PART WEB-ERROR-STATUS
//   on ADDRESS-PART message TEXT | json-message JSON | request URL [CONTEXT [HEADER=VALUE]]
//      | permission KIND | new-window URL [user] | download URL | save-as | navigate URL
//      | repeat MS ACTION...  (the action every MS milliseconds, as a page's timer)
//      | fullscreen-element on|off  (an element enters or leaves its own fullscreen)
//      | open-dropdown  (a <select> opens its pop-up where the view was last known to be)
//      | key KEY ACTION...  (the action whenever KEY, a letter or digit, goes down in the view)
//      | process-failed KIND  (0 the browser process exits: the environment's views die;
//        1 the page's renderer exits: "page crashed" until the next load; 2 hangs; 3 a frame's renderer exits)
//   once ADDRESS-PART ...  as "on", played on the first matching load only
Script ReadScript() {
    Script script;
    const std::wstring path = EnvValue(L"TOVANI_STANDIN_SCRIPT");
    if (path.empty()) return script;
    std::string text;
    if (FILE* f = _wfopen(path.c_str(), L"rb")) {
        char buffer[4096];
        std::size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
        fclose(f);
    }
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> words;
        std::size_t at = 0;
        while (at < line.size()) {
            const std::size_t space = line.find(' ', at);
            words.push_back(line.substr(at, space == std::string::npos ? std::string::npos : space - at));
            if (space == std::string::npos) break;
            at = space + 1;
        }
        if (words.empty() || words[0].empty() || words[0][0] == '#') continue;
        try {
            if (words[0] == "environment-fails" && words.size() > 1) script.environmentFailure = ParseHresult(words[1]);
            else if (words[0] == "environment-fails-times" && words.size() > 2) {
                script.environmentFailures = std::stoi(words[1]);
                script.environmentFailuresCode = ParseHresult(words[2]);
            }
            else if (words[0] == "environment-delay" && words.size() > 1)
                script.environmentDelayMs = static_cast<DWORD>(std::stoul(words[1]));
            else if (words[0] == "controller-fails" && words.size() > 1) script.controllerFailure = ParseHresult(words[1]);
            else if (words[0] == "print-fails" && words.size() > 1) script.printFailure = ParseHresult(words[1]);
            else if (words[0] == "print-status" && words.size() > 1) script.printStatus = std::stoi(words[1]);
            else if (words[0] == "print-next" && words.size() > 2 && words[1] == "status")
                script.nextPrints.push_back({S_OK, std::stoi(words[2])});
            else if (words[0] == "print-next" && words.size() > 2 && words[1] == "fails")
                script.nextPrints.push_back({ParseHresult(words[2]), 0});
            else if (words[0] == "missing" && words.size() > 1) script.missing.push_back(words[1]);
            else if (words[0] == "string-page-address" && words.size() > 1)
                script.stringPageAsAboutBlank = words[1] == "about:blank";
            else if (words[0] == "script-delay" && words.size() > 1)
                script.scriptDelayMs = static_cast<DWORD>(std::stoul(words[1]));
            else if (words[0] == "fail" && words.size() > 2) script.failures.push_back({words[1], std::stoi(words[2])});
            else if ((words[0] == "on" || words[0] == "once") && words.size() > 2) {
                Action action;
                action.once = words[0] == "once";
                action.verb = words[2];
                action.args.assign(words.begin() + 3, words.end());
                const std::size_t prefix = words[0].size() + 1 + words[1].size() + 1 + words[2].size();
                action.rest = prefix < line.size() ? line.substr(prefix + 1) : std::string();
                script.onLoad.push_back({words[1], action});
            }
        } catch (...) {
            Journal("SCRIPT cannot read: " + line);
        }
    }
    return script;
}

// ---- objects with slot-numbered tables ----------------------------------------------

using Slot = void*;

struct Object {
    Slot* vtable;
    std::atomic<LONG> references{1};
    const char* kindName;
    std::vector<std::string> answers; // interface names QueryInterface grants
    void (*destroy)(Object*);
};

Script& CurrentScript() {
    static Script script;
    return script;
}

HRESULT STDMETHODCALLTYPE QueryInterfaceSlot(Object* self, REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    const std::string name = NameOfIid(iid);
    for (const std::string& missing : CurrentScript().missing) {
        if (missing == name) {
            Journal(std::string(self->kindName) + ".QueryInterface " + name + " refused");
            return E_NOINTERFACE;
        }
    }
    for (const std::string& answer : self->answers) {
        if (answer == name || name == "IUnknown") {
            ++self->references;
            *out = self;
            return S_OK;
        }
    }
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE AddRefSlot(Object* self) { return ++self->references; }

ULONG STDMETHODCALLTYPE ReleaseSlot(Object* self) {
    const LONG left = --self->references;
    if (left == 0) self->destroy(self);
    return static_cast<ULONG>(left);
}

// A slot the stand-in does not implement: the journal names it, so a call
// that lands in the wrong slot is seen.
template <int Table, int Index>
HRESULT STDMETHODCALLTYPE UnexpectedSlot(Object* self) {
    Journal(std::string("UNEXPECTED ") + self->kindName + " slot " + std::to_string(Index));
    return E_NOTIMPL;
}

template <int Table, std::size_t... I>
std::vector<Slot> MakeTable(std::index_sequence<I...>) {
    std::vector<Slot> table = {reinterpret_cast<Slot>(&UnexpectedSlot<Table, static_cast<int>(I)>)...};
    table[0] = reinterpret_cast<Slot>(&QueryInterfaceSlot);
    table[1] = reinterpret_cast<Slot>(&AddRefSlot);
    table[2] = reinterpret_cast<Slot>(&ReleaseSlot);
    return table;
}

template <typename F>
Slot S(F f) {
    return reinterpret_cast<Slot>(f);
}

// Calls slot `slot` of a COM object of the player's (handlers and options).
template <typename R, typename... A>
R CallSlot(void* object, int slot, A... args) {
    auto fn = reinterpret_cast<R(STDMETHODCALLTYPE*)(void*, A...)>((*static_cast<Slot**>(object))[slot]);
    return fn(object, args...);
}
void AddRefForeign(void* object) { CallSlot<ULONG>(object, 1); }
void ReleaseForeign(void* object) { CallSlot<ULONG>(object, 2); }

// As a runtime may: an object of the player's (a handler, the options) that
// does not answer QueryInterface for its own interface is refused, the call
// that brought it fails, and the journal says so.
bool AnswersItsInterface(void* object, const char* name) {
    const GUID* iid = IidNamed(name);
    void* answered = nullptr;
    if (iid != nullptr && SUCCEEDED(CallSlot<HRESULT>(object, 0, iid, &answered)) && answered != nullptr) {
        ReleaseForeign(answered);
        return true;
    }
    Journal(std::string("REFUSED ") + name + ": the object does not answer QueryInterface for it");
    return false;
}

template <typename T>
T* Create(Slot* table, const char* kind, std::vector<std::string> answers) {
    T* object = new T();
    object->vtable = table;
    object->kindName = kind;
    object->answers = std::move(answers);
    object->destroy = [](Object* o) {
        Journal(std::string(o->kindName) + " released");
        delete static_cast<T*>(o);
    };
    return object;
}

// ---- the message pump of the stand-in -------------------------------------------------

constexpr UINT kRunTask = WM_APP + 17;

// Tasks waiting for their timer, by timer id.
std::map<UINT_PTR, std::function<void()>>& TimedTasks() {
    static std::map<UINT_PTR, std::function<void()>> tasks;
    return tasks;
}

LRESULT CALLBACK TaskWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kRunTask) {
        std::unique_ptr<std::function<void()>> task(reinterpret_cast<std::function<void()>*>(lParam));
        (*task)();
        return 0;
    }
    if (message == WM_TIMER) {
        KillTimer(window, wParam);
        auto found = TimedTasks().find(wParam);
        if (found == TimedTasks().end()) return 0;
        const std::function<void()> task = std::move(found->second);
        TimedTasks().erase(found);
        task();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND TaskWindow() {
    static HWND window = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = TaskWindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"TovaniStandInTasks";
        RegisterClassW(&wc);
        return CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    }();
    return window;
}

void Later(std::function<void()> task) {
    PostMessageW(TaskWindow(), kRunTask, 0, reinterpret_cast<LPARAM>(new std::function<void()>(std::move(task))));
}

// Callbacks run one after the other, never re-entrantly, as with the
// runtime: an event or a completion that comes due while one of the player's
// handlers still runs (a modal dialog in it pumps messages) waits until that
// handler has returned.
int gHandlersRunning = 0;
std::vector<std::function<void()>> gHeldCallbacks;

void LaterCallback(std::function<void()> task) {
    Later([task = std::move(task)]() mutable {
        if (gHandlersRunning > 0) {
            gHeldCallbacks.push_back(std::move(task));
            return;
        }
        task();
    });
}

// Runs one of the player's handlers; what came due meanwhile follows it.
template <typename F>
void InHandler(F&& call) {
    ++gHandlersRunning;
    call();
    if (--gHandlersRunning > 0) return;
    std::vector<std::function<void()>> held;
    held.swap(gHeldCallbacks);
    for (auto& task : held) LaterCallback(std::move(task));
}

// As Later, after a wait during which the caller's thread goes on pumping.
void LaterAfter(DWORD delayMs, std::function<void()> task) {
    if (delayMs == 0) return LaterCallback(std::move(task));
    static UINT_PTR lastId = 0;
    const UINT_PTR id = ++lastId;
    // When it comes due it waits, as every callback does, for a handler still running.
    TimedTasks()[id] = [task = std::move(task)]() mutable { LaterCallback(std::move(task)); };
    SetTimer(TaskWindow(), id, delayMs, nullptr);
}

// ---- headers, requests, responses ---------------------------------------------------------

struct Headers : Object {
    std::vector<std::pair<std::wstring, std::wstring>> items;
};

std::string HeaderText(const Headers* headers) {
    std::string text;
    for (const auto& [name, value] : headers->items) text += (text.empty() ? "" : "; ") + Utf8(name) + "=" + Utf8(value);
    return text;
}

HRESULT STDMETHODCALLTYPE HeadersGet(Headers* self, LPCWSTR name, LPWSTR* value) {
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    for (const auto& [n, v] : self->items) {
        if (_wcsicmp(n.c_str(), Str(name).c_str()) == 0) {
            *value = CoText(v);
            return S_OK;
        }
    }
    return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
}
HRESULT STDMETHODCALLTYPE HeadersContains(Headers* self, LPCWSTR name, BOOL* contains) {
    if (contains == nullptr) return E_POINTER;
    *contains = FALSE;
    for (const auto& item : self->items) {
        if (_wcsicmp(item.first.c_str(), Str(name).c_str()) == 0) *contains = TRUE;
    }
    return S_OK;
}
HRESULT STDMETHODCALLTYPE HeadersSet(Headers* self, LPCWSTR name, LPCWSTR value) {
    if (name == nullptr || value == nullptr || *name == 0) return E_INVALIDARG;
    for (auto& item : self->items) {
        if (_wcsicmp(item.first.c_str(), name) == 0) {
            item.second = value;
            return S_OK;
        }
    }
    self->items.push_back({name, value});
    return S_OK;
}
HRESULT STDMETHODCALLTYPE HeadersRemove(Headers* self, LPCWSTR name) {
    for (auto it = self->items.begin(); it != self->items.end(); ++it) {
        if (_wcsicmp(it->first.c_str(), Str(name).c_str()) == 0) {
            self->items.erase(it);
            return S_OK;
        }
    }
    return S_OK;
}

// A snapshot of the headers as they stood when the iterator was asked for.
struct HeaderIterator : Object {
    std::vector<std::pair<std::wstring, std::wstring>> items;
    std::size_t at = 0;
};
HRESULT STDMETHODCALLTYPE IteratorCurrent(HeaderIterator* self, LPWSTR* name, LPWSTR* value) {
    if (name == nullptr || value == nullptr) return E_POINTER;
    *name = *value = nullptr;
    if (self->at >= self->items.size()) return static_cast<HRESULT>(0x8000000BL); // E_BOUNDS
    *name = CoText(self->items[self->at].first);
    *value = CoText(self->items[self->at].second);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE IteratorHasCurrent(HeaderIterator* self, BOOL* has) {
    if (has == nullptr) return E_POINTER;
    *has = self->at < self->items.size();
    return S_OK;
}
HRESULT STDMETHODCALLTYPE IteratorMoveNext(HeaderIterator* self, BOOL* hasNext) {
    if (hasNext == nullptr) return E_POINTER;
    if (self->at < self->items.size()) ++self->at;
    *hasNext = self->at < self->items.size();
    return S_OK;
}
Slot* IteratorTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<40>(std::make_index_sequence<6>());
        t[3] = S(&IteratorCurrent);
        t[4] = S(&IteratorHasCurrent);
        t[5] = S(&IteratorMoveNext);
        return t;
    }();
    return t.data();
}
HRESULT STDMETHODCALLTYPE HeadersGetIterator(Headers* self, HeaderIterator** out) {
    if (out == nullptr) return E_POINTER;
    auto* iterator = Create<HeaderIterator>(IteratorTable(), "HttpHeadersCollectionIterator",
                                            {"HttpHeadersCollectionIterator"});
    iterator->items = self->items;
    *out = iterator;
    return S_OK;
}

Slot* HeadersTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<1>(std::make_index_sequence<9>());
        t[3] = S(&HeadersGet);
        t[5] = S(&HeadersContains);
        t[6] = S(&HeadersSet);
        t[7] = S(&HeadersRemove);
        t[8] = S(&HeadersGetIterator);
        return t;
    }();
    return t.data();
}

Headers* NewHeaders() { return Create<Headers>(HeadersTable(), "HttpRequestHeaders", {"HttpRequestHeaders"}); }

// "Name: value" lines as CreateWebResourceRequest takes them.
void AddHeaderLines(Headers* headers, const std::wstring& text) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = text.substr(start, end - start);
        const std::size_t colon = line.find(L':');
        if (colon != std::wstring::npos) {
            std::wstring value = line.substr(colon + 1);
            while (!value.empty() && value.front() == L' ') value.erase(0, 1);
            HeadersSet(headers, line.substr(0, colon).c_str(), value.c_str());
        }
        start = end + 2;
    }
}

struct Request : Object {
    std::wstring uri;
    std::wstring method = L"GET";
    Headers* headers = nullptr;
    ~Request() {
        if (headers) ReleaseSlot(headers);
    }
};

HRESULT STDMETHODCALLTYPE RequestGetUri(Request* self, LPWSTR* uri) {
    if (uri == nullptr) return E_POINTER;
    *uri = CoText(self->uri);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE RequestPutUri(Request* self, LPCWSTR uri) {
    self->uri = Str(uri);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE RequestGetMethod(Request* self, LPWSTR* method) {
    if (method == nullptr) return E_POINTER;
    *method = CoText(self->method);
    return S_OK;
}
// The stand-in's requests carry no body.
HRESULT STDMETHODCALLTYPE RequestGetContent(Request*, IStream** content) {
    if (content == nullptr) return E_POINTER;
    *content = nullptr;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE RequestGetHeaders(Request* self, Headers** headers) {
    if (headers == nullptr) return E_POINTER;
    AddRefSlot(self->headers);
    *headers = self->headers;
    return S_OK;
}

Slot* RequestTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<2>(std::make_index_sequence<10>());
        t[3] = S(&RequestGetUri);
        t[4] = S(&RequestPutUri);
        t[5] = S(&RequestGetMethod);
        t[7] = S(&RequestGetContent);
        t[9] = S(&RequestGetHeaders);
        return t;
    }();
    return t.data();
}

Request* NewRequest(const std::wstring& uri, const std::wstring& method) {
    Request* request = Create<Request>(RequestTable(), "WebResourceRequest", {"WebResourceRequest"});
    request->uri = uri;
    request->method = method;
    request->headers = NewHeaders();
    return request;
}

struct Response : Object {
    int status = 200;
    std::wstring reason;
    std::wstring headers;
    bool hasContent = false;
    IStream* content = nullptr; // held until the response is used, then read from where it stands
    std::string body;           // what was read
    ~Response() {
        if (content) content->Release();
    }
};

HRESULT STDMETHODCALLTYPE ResponseGetStatus(Response* self, int* status) {
    if (status == nullptr) return E_POINTER;
    *status = self->status;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ResponseGetReason(Response* self, LPWSTR* reason) {
    if (reason == nullptr) return E_POINTER;
    *reason = CoText(self->reason);
    return S_OK;
}

Slot* ResponseTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<3>(std::make_index_sequence<10>());
        t[6] = S(&ResponseGetStatus);
        t[8] = S(&ResponseGetReason);
        return t;
    }();
    return t.data();
}

// ---- event arguments ----------------------------------------------------------------------

struct NavigationStartingArgs : Object {
    std::wstring uri;
    BOOL cancel = FALSE;
};
HRESULT STDMETHODCALLTYPE NavStartingGetUri(NavigationStartingArgs* self, LPWSTR* uri) {
    if (uri == nullptr) return E_POINTER;
    *uri = CoText(self->uri);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE NavStartingGetCancel(NavigationStartingArgs* self, BOOL* cancel) {
    if (cancel == nullptr) return E_POINTER;
    *cancel = self->cancel;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE NavStartingPutCancel(NavigationStartingArgs* self, BOOL cancel) {
    self->cancel = cancel;
    return S_OK;
}
Slot* NavStartingTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<4>(std::make_index_sequence<10>());
        t[3] = S(&NavStartingGetUri);
        t[7] = S(&NavStartingGetCancel);
        t[8] = S(&NavStartingPutCancel);
        return t;
    }();
    return t.data();
}

struct NavigationCompletedArgs : Object {
    BOOL success = TRUE;
    int status = 0;
};
HRESULT STDMETHODCALLTYPE NavCompletedGetSuccess(NavigationCompletedArgs* self, BOOL* success) {
    if (success == nullptr) return E_POINTER;
    *success = self->success;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE NavCompletedGetStatus(NavigationCompletedArgs* self, int* status) {
    if (status == nullptr) return E_POINTER;
    *status = self->status;
    return S_OK;
}
Slot* NavCompletedTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<5>(std::make_index_sequence<6>());
        t[3] = S(&NavCompletedGetSuccess);
        t[4] = S(&NavCompletedGetStatus);
        return t;
    }();
    return t.data();
}

struct MessageArgs : Object {
    std::wstring json;
    bool isString = true;
    std::wstring text;
};
HRESULT STDMETHODCALLTYPE MessageGetJson(MessageArgs* self, LPWSTR* json) {
    if (json == nullptr) return E_POINTER;
    *json = CoText(self->json);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE MessageTryGetString(MessageArgs* self, LPWSTR* text) {
    if (text == nullptr) return E_POINTER;
    *text = nullptr;
    if (!self->isString) return E_INVALIDARG;
    *text = CoText(self->text);
    return S_OK;
}
Slot* MessageTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<6>(std::make_index_sequence<6>());
        t[4] = S(&MessageGetJson);
        t[5] = S(&MessageTryGetString);
        return t;
    }();
    return t.data();
}

struct PermissionArgs : Object {
    std::wstring uri;
    int kind = 0;
    int state = 0;
};
HRESULT STDMETHODCALLTYPE PermissionGetKind(PermissionArgs* self, int* kind) {
    if (kind == nullptr) return E_POINTER;
    *kind = self->kind;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE PermissionGetState(PermissionArgs* self, int* state) {
    if (state == nullptr) return E_POINTER;
    *state = self->state;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE PermissionPutState(PermissionArgs* self, int state) {
    self->state = state;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE PermissionGetUri(PermissionArgs* self, LPWSTR* uri) {
    if (uri == nullptr) return E_POINTER;
    *uri = CoText(self->uri);
    return S_OK;
}
Slot* PermissionTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<7>(std::make_index_sequence<9>());
        t[3] = S(&PermissionGetUri);
        t[4] = S(&PermissionGetKind);
        t[6] = S(&PermissionGetState);
        t[7] = S(&PermissionPutState);
        return t;
    }();
    return t.data();
}

struct NewWindowArgs : Object {
    std::wstring uri;
    BOOL handled = FALSE;
    BOOL userInitiated = FALSE;
};
HRESULT STDMETHODCALLTYPE NewWindowGetUserInitiated(NewWindowArgs* self, BOOL* value) {
    if (value == nullptr) return E_POINTER;
    *value = self->userInitiated;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE NewWindowGetUri(NewWindowArgs* self, LPWSTR* uri) {
    if (uri == nullptr) return E_POINTER;
    *uri = CoText(self->uri);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE NewWindowPutHandled(NewWindowArgs* self, BOOL handled) {
    self->handled = handled;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE NewWindowGetHandled(NewWindowArgs* self, BOOL* handled) {
    if (handled == nullptr) return E_POINTER;
    *handled = self->handled;
    return S_OK;
}
Slot* NewWindowTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<8>(std::make_index_sequence<11>());
        t[3] = S(&NewWindowGetUri);
        t[6] = S(&NewWindowPutHandled);
        t[7] = S(&NewWindowGetHandled);
        t[8] = S(&NewWindowGetUserInitiated);
        return t;
    }();
    return t.data();
}

struct ResourceArgs : Object {
    Request* request = nullptr;
    void* response = nullptr; // the player's choice, held
    int context = 0;
    DWORD thread = GetCurrentThreadId(); // the view's thread, where the event was raised
    bool deferred = false;         // the handler took the deferral
    bool completed = false;        // and completed it
    std::function<void()> resume;  // what the request does once completed
    ~ResourceArgs() {
        if (request) ReleaseSlot(request);
        if (response) ReleaseForeign(response);
    }
};
HRESULT STDMETHODCALLTYPE ResourceGetRequest(ResourceArgs* self, Request** request) {
    if (request == nullptr) return E_POINTER;
    AddRefSlot(self->request);
    *request = self->request;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ResourcePutResponse(ResourceArgs* self, void* response) {
    if (GetCurrentThreadId() != self->thread) {
        Journal("ERROR put_Response off the view's thread for " + Utf8(self->request->uri));
        return RPC_E_WRONG_THREAD;
    }
    if (response) AddRefForeign(response);
    if (self->response) ReleaseForeign(self->response);
    self->response = response;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ResourceGetContext(ResourceArgs* self, int* context) {
    if (context == nullptr) return E_POINTER;
    *context = self->context;
    return S_OK;
}
// The deferral of one request's event: the request waits, as long as it
// takes, until Complete; the response set by then is its answer.
struct Deferral : Object {
    ResourceArgs* args = nullptr;
    ~Deferral() {
        if (args) ReleaseSlot(args);
    }
};
HRESULT STDMETHODCALLTYPE DeferralComplete(Deferral* self) {
    ResourceArgs* args = self->args;
    if (GetCurrentThreadId() != args->thread) {
        Journal("ERROR Deferral completed off the view's thread for " + Utf8(args->request->uri));
        return RPC_E_WRONG_THREAD;
    }
    if (args->completed) {
        Journal("ERROR Deferral completed twice for " + Utf8(args->request->uri));
        return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
    }
    args->completed = true;
    // The request goes on from the message loop, never inside the call.
    AddRefSlot(args);
    LaterCallback([args] {
        if (args->resume) {
            const std::function<void()> resume = std::move(args->resume);
            args->resume = nullptr;
            resume();
        }
        ReleaseSlot(args);
    });
    return S_OK;
}
Slot* DeferralTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<41>(std::make_index_sequence<4>());
        t[3] = S(&DeferralComplete);
        return t;
    }();
    return t.data();
}
HRESULT STDMETHODCALLTYPE ResourceGetDeferral(ResourceArgs* self, Deferral** out) {
    if (out == nullptr) return E_POINTER;
    if (self->deferred) {
        *out = nullptr;
        return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
    }
    self->deferred = true;
    auto* deferral = Create<Deferral>(DeferralTable(), "Deferral", {"Deferral"});
    AddRefSlot(self);
    deferral->args = self;
    *out = deferral;
    return S_OK;
}
Slot* ResourceTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<9>(std::make_index_sequence<8>());
        t[3] = S(&ResourceGetRequest);
        t[6] = S(&ResourceGetDeferral);
        t[5] = S(&ResourcePutResponse);
        t[7] = S(&ResourceGetContext);
        return t;
    }();
    return t.data();
}

struct DownloadArgs : Object {
    BOOL cancel = FALSE;
    BOOL handled = FALSE;
};
HRESULT STDMETHODCALLTYPE DownloadPutCancel(DownloadArgs* self, BOOL cancel) {
    self->cancel = cancel;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE DownloadPutHandled(DownloadArgs* self, BOOL handled) {
    self->handled = handled;
    return S_OK;
}
Slot* DownloadTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<10>(std::make_index_sequence<11>());
        t[5] = S(&DownloadPutCancel);
        t[9] = S(&DownloadPutHandled);
        return t;
    }();
    return t.data();
}

struct SaveAsArgs : Object {
    BOOL suppress = FALSE;
    BOOL cancel = FALSE;
};
HRESULT STDMETHODCALLTYPE SaveAsPutCancel(SaveAsArgs* self, BOOL cancel) {
    self->cancel = cancel;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE SaveAsPutSuppress(SaveAsArgs* self, BOOL suppress) {
    self->suppress = suppress;
    return S_OK;
}
Slot* SaveAsTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<11>(std::make_index_sequence<15>());
        t[4] = S(&SaveAsPutCancel);
        t[6] = S(&SaveAsPutSuppress);
        return t;
    }();
    return t.data();
}

// ---- the cookie store ---------------------------------------------------------------------

// One store for the process, as every view of one environment shares one.
struct Cookie : Object {
    std::wstring name, value, domain, path;
    double expires = -1; // a session cookie
    BOOL httpOnly = FALSE, secure = FALSE;
    std::int32_t sameSite = 1;
};
HRESULT STDMETHODCALLTYPE CookieGetName(Cookie* self, LPWSTR* out) { return out ? (*out = CoText(self->name), S_OK) : E_POINTER; }
HRESULT STDMETHODCALLTYPE CookieGetValue(Cookie* self, LPWSTR* out) { return out ? (*out = CoText(self->value), S_OK) : E_POINTER; }
HRESULT STDMETHODCALLTYPE CookiePutExpires(Cookie* self, double expires) {
    self->expires = expires;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE CookiePutHttpOnly(Cookie* self, BOOL value) {
    self->httpOnly = value;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE CookiePutSameSite(Cookie* self, std::int32_t value) {
    if (value < 0 || value > 2) return E_INVALIDARG;
    self->sameSite = value;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE CookiePutSecure(Cookie* self, BOOL value) {
    self->secure = value;
    return S_OK;
}
Slot* CookieTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<42>(std::make_index_sequence<17>());
        t[3] = S(&CookieGetName);
        t[4] = S(&CookieGetValue);
        t[9] = S(&CookiePutExpires);
        t[11] = S(&CookiePutHttpOnly);
        t[13] = S(&CookiePutSameSite);
        t[15] = S(&CookiePutSecure);
        return t;
    }();
    return t.data();
}
std::vector<Cookie*>& CookieStore() {
    static std::vector<Cookie*> store;
    return store;
}
struct CookieList : Object {
    std::vector<Cookie*> items;
    ~CookieList() {
        for (Cookie* cookie : items) ReleaseSlot(cookie);
    }
};
HRESULT STDMETHODCALLTYPE CookieListCount(CookieList* self, UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = static_cast<UINT>(self->items.size());
    return S_OK;
}
HRESULT STDMETHODCALLTYPE CookieListAt(CookieList* self, UINT index, Cookie** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (index >= self->items.size()) return E_INVALIDARG;
    AddRefSlot(self->items[index]);
    *out = self->items[index];
    return S_OK;
}
Slot* CookieListTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<43>(std::make_index_sequence<5>());
        t[3] = S(&CookieListCount);
        t[4] = S(&CookieListAt);
        return t;
    }();
    return t.data();
}
double NowSeconds() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<double>(ticks - 116444736000000000ull) / 1e7;
}
bool Expired(const Cookie* cookie) { return cookie->expires != -1 && cookie->expires <= NowSeconds(); }
// Whether a cookie goes with a request to uri: its host under the cookie's
// domain (a leading dot takes subdomains in), its path under the cookie's
// path, https for a secure one, and not expired.
bool CookieFor(const Cookie* cookie, const std::wstring& uri) {
    const bool https = uri.rfind(L"https://", 0) == 0;
    const std::size_t start = uri.find(L"://");
    if (start == std::wstring::npos || Expired(cookie) || (cookie->secure && !https)) return false;
    const std::size_t hostEnd = std::min(uri.find_first_of(L":/?#", start + 3), uri.size());
    const std::wstring host = uri.substr(start + 3, hostEnd - start - 3);
    std::wstring path = uri.substr(std::min(uri.find(L'/', start + 3), uri.size()));
    path = path.substr(0, path.find_first_of(L"?#"));
    if (path.empty()) path = L"/";
    const std::wstring& domain = cookie->domain;
    const bool hostMatches = domain.rfind(L".", 0) == 0
                                 ? host == domain.substr(1) ||
                                       (host.size() > domain.size() && host.compare(host.size() - domain.size(), domain.size(), domain) == 0)
                                 : host == domain;
    const bool pathMatches = path.rfind(cookie->path, 0) == 0 &&
                             (path.size() == cookie->path.size() || cookie->path.back() == L'/' || path[cookie->path.size()] == L'/');
    return hostMatches && pathMatches;
}
struct CookieManager : Object {};
HRESULT STDMETHODCALLTYPE ManagerCreateCookie(CookieManager*, LPCWSTR name, LPCWSTR value, LPCWSTR domain, LPCWSTR path,
                                              Cookie** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (name == nullptr || *name == 0 || domain == nullptr || *domain == 0) return E_INVALIDARG;
    auto* cookie = Create<Cookie>(CookieTable(), "Cookie", {"Cookie"});
    cookie->name = name;
    cookie->value = Str(value);
    cookie->domain = domain;
    cookie->path = path == nullptr || *path == 0 ? std::wstring(L"/") : std::wstring(path);
    *out = cookie;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ManagerGetCookies(CookieManager*, LPCWSTR uri, void* handler) {
    if (handler == nullptr) return E_POINTER;
    if (!AnswersItsInterface(handler, "ICoreWebView2GetCookiesCompletedHandler")) return E_NOINTERFACE;
    AddRefForeign(handler);
    const std::wstring address = Str(uri);
    // Completed later, from the message loop, as the runtime does.
    LaterCallback([handler, address] {
        auto* list = Create<CookieList>(CookieListTable(), "CookieList", {"CookieList"});
        for (Cookie* cookie : CookieStore()) {
            if (!CookieFor(cookie, address)) continue;
            AddRefSlot(cookie);
            list->items.push_back(cookie);
        }
        Journal("CookieManager.GetCookies " + Utf8(address) + " -> " + std::to_string(list->items.size()));
        InHandler([&] { CallSlot<HRESULT>(handler, 3, S_OK, static_cast<void*>(list)); });
        ReleaseSlot(list);
        ReleaseForeign(handler);
    });
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ManagerAddOrUpdate(CookieManager*, Cookie* cookie) {
    if (cookie == nullptr || cookie->vtable != CookieTable()) return E_INVALIDARG;
    std::vector<Cookie*>& store = CookieStore();
    for (auto it = store.begin(); it != store.end();) {
        Cookie* old = *it;
        if (old->name == cookie->name && old->domain == cookie->domain && old->path == cookie->path) {
            ReleaseSlot(old);
            it = store.erase(it);
        } else {
            ++it;
        }
    }
    Journal("CookieManager.AddOrUpdateCookie " + Utf8(cookie->name) + "=" + Utf8(cookie->value) + " domain=" +
            Utf8(cookie->domain) + " path=" + Utf8(cookie->path) +
            (cookie->expires == -1 ? std::string(" session") : Expired(cookie) ? std::string(" expired") : std::string(" expires")) +
            " httpOnly=" + std::to_string(cookie->httpOnly) + " secure=" + std::to_string(cookie->secure) +
            " sameSite=" + std::to_string(cookie->sameSite));
    if (Expired(cookie)) return S_OK;
    AddRefSlot(cookie);
    store.push_back(cookie);
    return S_OK;
}
Slot* CookieManagerTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<44>(std::make_index_sequence<11>());
        t[3] = S(&ManagerCreateCookie);
        t[5] = S(&ManagerGetCookies);
        t[6] = S(&ManagerAddOrUpdate);
        return t;
    }();
    return t.data();
}
CookieManager* TheCookieManager() {
    static CookieManager* manager = Create<CookieManager>(CookieManagerTable(), "CookieManager", {"CookieManager"});
    return manager;
}

// ---- settings and print settings ----------------------------------------------------------

struct Settings : Object {};

template <int Slot_>
HRESULT STDMETHODCALLTYPE SettingsPutFlag(Settings*, BOOL value) {
    static const std::map<int, const char*> names = {
        {4, "IsScriptEnabled"},       {6, "IsWebMessageEnabled"},           {8, "AreDefaultScriptDialogsEnabled"},
        {10, "IsStatusBarEnabled"},   {12, "AreDevToolsEnabled"},           {14, "AreDefaultContextMenusEnabled"},
        {16, "AreHostObjectsAllowed"}, {18, "IsZoomControlEnabled"},        {20, "IsBuiltInErrorPageEnabled"},
        {24, "AreBrowserAcceleratorKeysEnabled"}, {26, "IsPasswordAutosaveEnabled"},
        {28, "IsGeneralAutofillEnabled"}, {30, "IsPinchZoomEnabled"},       {32, "IsSwipeNavigationEnabled"},
    };
    Journal(std::string("Settings.put_") + names.at(Slot_) + " " + std::to_string(value));
    return S_OK;
}
// The runtime's own user agent, as a player that adds it to its own requests reads it.
constexpr wchar_t kStandInUserAgent[] =
    L"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/149.0.0.0 Safari/537.36 "
    L"Edg/149.0.0.0";
HRESULT STDMETHODCALLTYPE SettingsGetUserAgent(Settings*, LPWSTR* agent) {
    if (agent == nullptr) return E_POINTER;
    *agent = CoText(kStandInUserAgent);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE SettingsPutPdfItems(Settings*, std::uint32_t items) {
    Journal("Settings.put_HiddenPdfToolbarItems " + std::to_string(items));
    return S_OK;
}
Slot* SettingsTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<12>(std::make_index_sequence<35>());
        t[4] = S(&SettingsPutFlag<4>);
        t[6] = S(&SettingsPutFlag<6>);
        t[8] = S(&SettingsPutFlag<8>);
        t[10] = S(&SettingsPutFlag<10>);
        t[12] = S(&SettingsPutFlag<12>);
        t[14] = S(&SettingsPutFlag<14>);
        t[16] = S(&SettingsPutFlag<16>);
        t[18] = S(&SettingsPutFlag<18>);
        t[20] = S(&SettingsPutFlag<20>);
        t[21] = S(&SettingsGetUserAgent);
        t[24] = S(&SettingsPutFlag<24>);
        t[26] = S(&SettingsPutFlag<26>);
        t[28] = S(&SettingsPutFlag<28>);
        t[30] = S(&SettingsPutFlag<30>);
        t[32] = S(&SettingsPutFlag<32>);
        t[34] = S(&SettingsPutPdfItems);
        return t;
    }();
    return t.data();
}

struct PrintSettings : Object {
    std::wstring printer;
};
HRESULT STDMETHODCALLTYPE PrintSettingsPutPrinter(PrintSettings* self, LPCWSTR name) {
    self->printer = Str(name);
    Journal("PrintSettings.put_PrinterName " + Utf8(self->printer));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE PrintSettingsGetPrinter(PrintSettings* self, LPWSTR* name) {
    if (name == nullptr) return E_POINTER;
    *name = CoText(self->printer);
    return S_OK;
}
Slot* PrintSettingsTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<13>(std::make_index_sequence<45>());
        t[43] = S(&PrintSettingsGetPrinter);
        t[44] = S(&PrintSettingsPutPrinter);
        return t;
    }();
    return t.data();
}

// ---- the view, the controller, the environment ------------------------------------------------

struct Environment;
struct Controller;

struct Handlers {
    std::vector<void*> list;
    void Add(void* handler, std::int64_t* token) {
        AddRefForeign(handler);
        list.push_back(handler);
        if (token) *token = static_cast<std::int64_t>(list.size());
    }
    ~Handlers() {
        for (void* h : list) ReleaseForeign(h);
    }
};

struct View;
void UntrackView(View* view);

struct View : Object {
    Environment* environment = nullptr; // not held: the environment outlives its views
    HWND window = nullptr;
    std::wstring source;
    std::vector<std::wstring> history;
    int historyIndex = -1;
    Settings* settings = nullptr;
    Handlers navigationStarting, navigationCompleted, webMessage, permission, newWindow, resource, download, saveAs;
    Handlers fullScreenChanged;
    Handlers processFailed;
    bool browserGone = false; // its browser process ended: the view is dead
    bool pageCrashed = false; // its renderer ended: no page until the next load
    bool fullScreenElement = false;
    std::map<UINT, Action> keys; // the page's key bindings
    std::vector<std::pair<std::wstring, int>> filters;
    int scripts = 0;
    int scriptsPending = 0; // added, not yet ready
    std::string stringHtml;  // the page given as text, until it loads
    std::size_t prints = 0;
    bool closed = false;
    ~View() {
        UntrackView(this);
        if (settings) ReleaseSlot(settings);
    }
};

void Paint(View* view);

// Fires every handler of an event: Invoke is slot 3 of each.
template <typename Args>
void Fire(View* view, Handlers& handlers, Args* args) {
    AddRefSlot(view);
    for (void* handler : std::vector<void*>(handlers.list))
        InHandler([&] { CallSlot<HRESULT>(handler, 3, static_cast<void*>(view), args); });
    ReleaseSlot(view);
}

bool FilterCovers(View* view, int context) {
    for (const auto& [pattern, filterContext] : view->filters) {
        if (pattern == L"*" && (filterContext == 0 || filterContext == context)) return true;
    }
    return false;
}

// Reads a response's content whole, as the runtime does: rewound to its
// start, and all of it there by the time the event completes (the runtime
// reads every host's stream on one thread of its own, so a stream that
// waits for its data holds every other answer up).
void ReadContent(Response* response, const std::wstring& uri) {
    if (response->content == nullptr) return;
    const LARGE_INTEGER start{};
    if (FAILED(response->content->Seek(start, STREAM_SEEK_SET, nullptr)))
        Journal("ERROR the content of the answer to " + Utf8(uri) + " cannot be rewound");
    const DWORD began = GetTickCount();
    char buffer[4096];
    ULONG got = 0;
    response->body.clear();
    while (SUCCEEDED(response->content->Read(buffer, sizeof buffer, &got)) && got > 0) response->body.append(buffer, got);
    if (GetTickCount() - began > 2000)
        Journal("ERROR the content of the answer to " + Utf8(uri) + " was not all there when its event completed");
}

// One resource request through the player's handler; the journal line tells
// what the request carried and how it was answered. Then runs with whether
// the player answered and the content of its answer: at once, or, when the
// handler deferred the event, once the deferral is completed and the
// content read (the request's other traffic goes on meanwhile).
void RunResourceRequest(View* view, Request* request, int context,
                        std::function<void(bool answered, const std::string& body)> then = {}) {
    if (!FilterCovers(view, context)) {
        Journal("WebResourceRequested not filtered " + Utf8(request->uri));
        if (then) then(false, {});
        return;
    }
    auto* args = Create<ResourceArgs>(ResourceTable(), "WebResourceRequestedEventArgs", {"WebResourceRequestedEventArgs"});
    AddRefSlot(request);
    args->request = request;
    args->context = context;
    Fire(view, view->resource, args);
    const std::string asked = "WebResourceRequested " + Utf8(request->uri) + " context=" + std::to_string(context) +
                              " headers: " + HeaderText(request->headers);
    const bool deferred = args->deferred;
    auto conclude = [args, asked, deferred, then = std::move(then)]() mutable {
        std::string line = asked;
        if (!args->response) {
            line += " -> sent";
            Journal(line);
            ReleaseSlot(args);
            if (then) then(false, {});
            return;
        }
        int status = 0;
        LPWSTR reason = nullptr;
        CallSlot<HRESULT>(args->response, 6, &status);
        CallSlot<HRESULT>(args->response, 8, &reason);
        line += " -> response " + std::to_string(status) + " " + Utf8(Str(reason));
        if (reason) CoTaskMemFree(reason);
        if (*static_cast<Slot**>(args->response) != ResponseTable()) {
            Journal(line);
            ReleaseSlot(args);
            if (then) then(true, {});
            return;
        }
        auto* response = static_cast<Response*>(args->response);
        ReadContent(response, args->request->uri);
        line += " [" + Utf8(response->headers) + "]" +
                (response->hasContent ? " with content fnv=" + Hex(Digest(response->body)) +
                                            " length=" + std::to_string(response->body.size())
                                      : " no content");
        Journal(line);
        const std::string body = response->body;
        // What a deferred answer brought, for tests to read back.
        if (deferred && response->hasContent)
            Journal("Content of " + Utf8(args->request->uri) + ": " + body.substr(0, 1200));
        ReleaseSlot(args);
        if (then) then(true, body);
    };
    if (!deferred) return conclude();
    if (args->completed) {
        // Completed inside the handler: the resume is queued already.
        args->resume = std::move(conclude);
        return;
    }
    Journal("WebResourceRequested " + Utf8(request->uri) + " deferred");
    args->resume = std::move(conclude);
}

void PlayActions(View* view, const std::wstring& uri);
void NavigateLater(View* view, const std::wstring& uri, Request* request = nullptr);
bool PlayWindowAction(View* view, const Action& action);
bool PlayProcessAction(View* view, const Action& action);

// The frames a loaded document names, requested as a browser does: with the
// document's origin as referrer when it has one (an https or http page),
// none from a page with an opaque origin (data:, about:blank).
void LoadFrames(View* view, const std::wstring& uri, const std::string& document) {
    std::wstring referrer;
    for (const wchar_t* scheme : {L"https://", L"http://"}) {
        if (uri.rfind(scheme, 0) != 0) continue;
        const std::size_t end = uri.find(L'/', wcslen(scheme));
        referrer = end == std::wstring::npos ? uri + L"/" : uri.substr(0, end + 1);
    }
    for (std::size_t at = document.find("<iframe"); at != std::string::npos; at = document.find("<iframe", at + 1)) {
        const std::size_t src = document.find("src=", at);
        if (src == std::string::npos || src + 5 > document.size()) break;
        const char quote = document[src + 4];
        const std::size_t close = document.find(quote, src + 5);
        if (close == std::string::npos) break;
        std::wstring frame = Wide(document.substr(src + 5, close - src - 5));
        // A path alone is the document's origin's, as a browser resolves it.
        if (frame.rfind(L"/", 0) == 0 && frame.rfind(L"//", 0) != 0 && !referrer.empty())
            frame = referrer.substr(0, referrer.size() - 1) + frame;
        Request* request = NewRequest(frame, L"GET");
        if (!referrer.empty()) HeadersSet(request->headers, L"Referer", referrer.c_str());
        Journal("Frame " + Utf8(frame) + " referrer=" + (referrer.empty() ? std::string("(none)") : Utf8(referrer)));
        RunResourceRequest(view, request, 1);
        ReleaseSlot(request);
    }
}

void FinishNavigation(View* view, const std::wstring& uri, const std::string& document,
                      NavigationCompletedArgs* completed, bool historyStep);

// A top-level navigation: starting (may be cancelled), the document's
// request, the page, completion; then the page's scripted behaviour.
void RunNavigation(View* view, std::wstring uri, Request* request, bool historyStep = false) {
    auto* starting = Create<NavigationStartingArgs>(NavStartingTable(), "NavigationStartingEventArgs",
                                                    {"NavigationStartingEventArgs"});
    starting->uri = uri;
    Fire(view, view->navigationStarting, starting);
    const bool cancelled = starting->cancel != FALSE;
    ReleaseSlot(starting);
    auto* completed = Create<NavigationCompletedArgs>(NavCompletedTable(), "NavigationCompletedEventArgs",
                                                      {"NavigationCompletedEventArgs"});
    if (cancelled) {
        Journal("Navigation cancelled " + Utf8(uri));
        completed->success = FALSE;
        completed->status = 14;
        Fire(view, view->navigationCompleted, completed);
        ReleaseSlot(completed);
        if (request) ReleaseSlot(request);
        return;
    }
    // The document: a page given as text, or what its request brought (the
    // host's own answer is the only content the stand-in knows), which may
    // come later when the host deferred it.
    const bool stringPage = uri == L"about:blank" || uri.rfind(L"data:", 0) == 0;
    if (stringPage) {
        const std::string document = view->stringHtml;
        view->stringHtml.clear();
        if (request) ReleaseSlot(request);
        return FinishNavigation(view, uri, document, completed, historyStep);
    }
    if (request == nullptr) request = NewRequest(uri, L"GET");
    AddRefSlot(view);
    RunResourceRequest(view, request, 1, [view, uri, completed, historyStep](bool, const std::string& document) {
        if (view->closed) {
            ReleaseSlot(completed);
        } else {
            FinishNavigation(view, uri, document, completed, historyStep);
        }
        ReleaseSlot(view);
    });
    view->stringHtml.clear();
    ReleaseSlot(request);
}

// The navigation's end, once its document is in.
void FinishNavigation(View* view, const std::wstring& uri, const std::string& document,
                      NavigationCompletedArgs* completed, bool historyStep) {
    for (const auto& [part, status] : CurrentScript().failures) {
        if (uri.find(Wide(part)) != std::wstring::npos) {
            completed->success = FALSE;
            completed->status = status;
        }
    }
    if (completed->success) {
        view->source = uri;
        view->pageCrashed = false;
        if (!historyStep) {
            view->history.resize(static_cast<std::size_t>(view->historyIndex + 1));
            view->history.push_back(uri);
            view->historyIndex = static_cast<int>(view->history.size()) - 1;
        }
        if (view->scriptsPending > 0)
            Journal("ERROR document created without " + std::to_string(view->scriptsPending) + " of its scripts");
        Journal("Loaded " + Utf8(uri));
        Paint(view);
        LoadFrames(view, uri, document);
    } else {
        Journal("Navigation failed " + Utf8(uri) + " status=" + std::to_string(completed->status));
    }
    Fire(view, view->navigationCompleted, completed);
    const bool loaded = completed->success != FALSE;
    ReleaseSlot(completed);
    if (loaded) PlayActions(view, uri);
}

// A script is ready only once its completion has been delivered; a
// navigation issued before that may create its document without it.
void CheckScriptsReady(View* view, const char* call) {
    if (view->scriptsPending > 0)
        Journal(std::string("ERROR ") + call + " before document scripts were ready: " +
                std::to_string(view->scriptsPending) + " pending");
}

void NavigateLater(View* view, const std::wstring& uri, Request* request) {
    AddRefSlot(view);
    LaterCallback([view, uri, request] {
        if (!view->closed) RunNavigation(view, uri, request);
        else if (request) ReleaseSlot(request);
        ReleaseSlot(view);
    });
}

void PlayAction(View* view, const Action& action) {
    if (view->closed) return;
    const std::wstring arg = action.args.empty() ? std::wstring() : Wide(action.args[0]);
    if (action.verb == "message" || action.verb == "json-message") {
        auto* args = Create<MessageArgs>(MessageTable(), "WebMessageReceivedEventArgs", {"WebMessageReceivedEventArgs"});
        args->isString = action.verb == "message";
        args->text = Wide(action.rest);
        args->json = args->isString ? L"\"" + args->text + L"\"" : args->text;
        Journal("Page posts " + action.verb + " " + action.rest);
        Fire(view, view->webMessage, args);
        ReleaseSlot(args);
    } else if (action.verb == "request") {
        Request* request = NewRequest(arg, L"GET");
        // A header of the page's own, as NAME=VALUE (a video's Range, say).
        if (action.args.size() > 2 && action.args[2].find('=') != std::string::npos) {
            const std::size_t equals = action.args[2].find('=');
            HeadersSet(request->headers, Wide(action.args[2].substr(0, equals)).c_str(),
                       Wide(action.args[2].substr(equals + 1)).c_str());
        }
        RunResourceRequest(view, request, action.args.size() > 1 ? std::stoi(action.args[1]) : 16);
        ReleaseSlot(request);
    } else if (action.verb == "permission") {
        auto* args = Create<PermissionArgs>(PermissionTable(), "PermissionRequestedEventArgs", {"PermissionRequestedEventArgs"});
        args->uri = view->source;
        args->kind = std::stoi(action.args.at(0));
        Fire(view, view->permission, args);
        Journal("PermissionRequested kind=" + std::to_string(args->kind) + " state=" + std::to_string(args->state));
        ReleaseSlot(args);
    } else if (action.verb == "new-window") {
        auto* args = Create<NewWindowArgs>(NewWindowTable(), "NewWindowRequestedEventArgs", {"NewWindowRequestedEventArgs"});
        args->uri = arg;
        // A click of the user's, or a script's own request (the default).
        args->userInitiated = action.args.size() > 1 && action.args[1] == "user";
        Fire(view, view->newWindow, args);
        Journal("NewWindowRequested " + action.args.at(0) + (args->handled ? " handled" : " -> A NEW WINDOW OPENED"));
        ReleaseSlot(args);
    } else if (action.verb == "download") {
        auto* args = Create<DownloadArgs>(DownloadTable(), "DownloadStartingEventArgs", {"DownloadStartingEventArgs"});
        Fire(view, view->download, args);
        Journal("DownloadStarting " + action.args.at(0) + " cancel=" + std::to_string(args->cancel) +
                " handled=" + std::to_string(args->handled) + (args->cancel ? "" : " -> FILE SAVED"));
        ReleaseSlot(args);
    } else if (action.verb == "save-as") {
        auto* args = Create<SaveAsArgs>(SaveAsTable(), "SaveAsUIShowingEventArgs", {"SaveAsUIShowingEventArgs"});
        Fire(view, view->saveAs, args);
        Journal("SaveAsUIShowing suppress=" + std::to_string(args->suppress) +
                (args->suppress || args->cancel ? "" : " -> SAVE DIALOG SHOWN"));
        ReleaseSlot(args);
    } else if (action.verb == "navigate") {
        RunNavigation(view, arg, nullptr);
    } else if (action.verb == "repeat" && action.args.size() > 1) {
        // A page's timer: the action again and again until the view closes.
        // While one of the player's handlers runs the next turn waits for it.
        const DWORD interval = static_cast<DWORD>(std::stoul(action.args[0]));
        Action inner;
        inner.verb = action.args[1];
        inner.args.assign(action.args.begin() + 2, action.args.end());
        const std::size_t cut = action.rest.find(' ', action.rest.find(' ') + 1);
        inner.rest = cut == std::string::npos ? std::string() : action.rest.substr(cut + 1);
        PlayAction(view, inner);
        if (view->closed) return;
        AddRefSlot(view);
        LaterAfter(interval, [view, action] {
            PlayAction(view, action);
            ReleaseSlot(view);
        });
    } else if (PlayWindowAction(view, action)) {
    } else if (PlayProcessAction(view, action)) {
    } else {
        Journal("SCRIPT unknown action " + action.verb);
    }
}

void PlayActions(View* view, const std::wstring& uri) {
    for (auto& [part, action] : CurrentScript().onLoad) {
        if (uri.find(Wide(part)) == std::wstring::npos || (action.once && action.played)) continue;
        action.played = true;
        AddRefSlot(view);
        Action copy = action;
        LaterCallback([view, copy] {
            PlayAction(view, copy);
            ReleaseSlot(view);
        });
    }
}

// ---- process failures -------------------------------------------------------------------

constexpr HRESULT kDeadView = HRESULT_FROM_WIN32(ERROR_INVALID_STATE);

// The views still open, so that a browser process that ends takes every view
// it served with it.
std::vector<View*>& LiveViews() {
    static std::vector<View*> views;
    return views;
}
void TrackView(View* view) { LiveViews().push_back(view); }
void UntrackView(View* view) {
    auto& views = LiveViews();
    for (auto it = views.begin(); it != views.end(); ++it) {
        if (*it == view) {
            views.erase(it);
            return;
        }
    }
}

void MarkEnvironmentGone(Environment* environment);

// After its browser process ended a view and its controller refuse every
// call, as the runtime's do; the journal names the call.
bool DeadCall(View* view, const char* call) {
    if (view == nullptr || !view->browserGone) return false;
    Journal(std::string("DEAD VIEW call ") + call);
    return true;
}

struct ProcessFailedArgs : Object {
    int kind = 0;
};
HRESULT STDMETHODCALLTYPE ProcessFailedGetKind(ProcessFailedArgs* self, int* kind) {
    if (kind == nullptr) return E_POINTER;
    *kind = self->kind;
    return S_OK;
}
Slot* ProcessFailedTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<17>(std::make_index_sequence<4>());
        t[3] = S(&ProcessFailedGetKind);
        return t;
    }();
    return t.data();
}

void FireProcessFailed(View* view, int kind) {
    auto* args = Create<ProcessFailedArgs>(ProcessFailedTable(), "ProcessFailedEventArgs", {"ProcessFailedEventArgs"});
    args->kind = kind;
    Fire(view, view->processFailed, args);
    ReleaseSlot(args);
}

// A process of the view's failed (kinds as the runtime's: 0 the browser
// process exited, 1 the page's renderer exited, 2 it hangs, 3 a frame's
// renderer exited). The browser's end takes every view of the environment
// with it: their windows vanish and they are dead; a renderer's end leaves the
// view usable with its page gone until the next navigation or reload. The
// event comes from the message loop.
void RaiseProcessFailed(View* view, int kind) {
    AddRefSlot(view);
    LaterCallback([view, kind] {
        if (view->closed || view->browserGone) {
            ReleaseSlot(view);
            return;
        }
        if (kind == 0) {
            Environment* environment = view->environment;
            MarkEnvironmentGone(environment);
            std::vector<View*> gone;
            for (View* other : LiveViews()) {
                if (other->environment == environment && !other->closed && !other->browserGone) gone.push_back(other);
            }
            for (View* other : gone) {
                AddRefSlot(other);
                other->browserGone = true;
                if (other->window) ShowWindow(other->window, SW_HIDE);
            }
            for (View* other : gone) {
                Journal("ProcessFailed kind=0 browser process exited");
                FireProcessFailed(other, 0);
                ReleaseSlot(other);
            }
        } else {
            if (kind == 1) {
                view->pageCrashed = true;
                Paint(view);
            }
            Journal("ProcessFailed kind=" + std::to_string(kind));
            FireProcessFailed(view, kind);
        }
        ReleaseSlot(view);
    });
}

void EndBrowserOf(View* view);

bool PlayProcessAction(View* view, const Action& action) {
    if (action.verb != "process-failed" || action.args.empty()) return false;
    const std::string& word = action.args[0];
    if (word.size() != 1 || word[0] < '0' || word[0] > '3') {
        Journal("SCRIPT process-failed needs a kind 0-3: " + word);
        return true;
    }
    const int kind = word[0] - '0';
    Journal("Page process-failed " + std::to_string(kind));
    if (kind == 0) EndBrowserOf(view);
    RaiseProcessFailed(view, kind);
    return true;
}

// What the view's window shows: the address, or that the page crashed.
std::wstring PageText(const View* view) {
    return view->pageCrashed ? std::wstring(L"Stand-in browser\npage crashed") : L"Stand-in browser\n" + view->source;
}

std::string FromBase64(const std::string& text) {
    std::string out;
    unsigned value = 0;
    int bits = 0;
    for (char c : text) {
        int digit;
        if (c >= 'A' && c <= 'Z') digit = c - 'A';
        else if (c >= 'a' && c <= 'z') digit = c - 'a' + 26;
        else if (c >= '0' && c <= '9') digit = c - '0' + 52;
        else if (c == '+') digit = 62;
        else if (c == '/') digit = 63;
        else break;
        value = (value << 6) | static_cast<unsigned>(digit);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return out;
}

// Runs the current navigation again: a page given as text from its address.
HRESULT STDMETHODCALLTYPE ViewReload(View* self) {
    if (DeadCall(self, "WebView.Reload")) return kDeadView;
    Journal("WebView.Reload");
    if (self->source.empty()) return S_OK;
    CheckScriptsReady(self, "Reload");
    const std::size_t comma = self->source.find(L"base64,");
    if (self->source.rfind(L"data:", 0) == 0 && comma != std::wstring::npos)
        self->stringHtml = FromBase64(Utf8(self->source.substr(comma + 7)));
    NavigateLater(self, self->source, nullptr);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewGetSettings(View* self, Settings** settings) {
    if (settings == nullptr) return E_POINTER;
    AddRefSlot(self->settings);
    *settings = self->settings;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ViewGetSource(View* self, LPWSTR* uri) {
    if (uri == nullptr) return E_POINTER;
    *uri = CoText(self->source);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ViewNavigate(View* self, LPCWSTR uri) {
    if (DeadCall(self, "WebView.Navigate")) return kDeadView;
    Journal("WebView.Navigate " + Utf8(Str(uri)));
    if (uri == nullptr || *uri == 0) return E_INVALIDARG;
    CheckScriptsReady(self, "Navigate");
    NavigateLater(self, uri);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ViewNavigateToString(View* self, LPCWSTR html) {
    if (DeadCall(self, "WebView.NavigateToString")) return kDeadView;
    const std::string text = Utf8(Str(html));
    Journal("WebView.NavigateToString fnv=" + Hex(Digest(text)) + " length=" + std::to_string(text.size()));
    CheckScriptsReady(self, "NavigateToString");
    self->stringHtml = text;
    NavigateLater(self, CurrentScript().stringPageAsAboutBlank ? std::wstring(L"about:blank") : DataAddress(text));
    return S_OK;
}

#define TOVANI_STANDIN_ADD(Name, member)                                                   \
    HRESULT STDMETHODCALLTYPE ViewAdd##Name(View* self, void* handler, std::int64_t* token) { \
        Journal("WebView.add_" #Name);                                                     \
        if (handler == nullptr) return E_INVALIDARG;                                       \
        if (!AnswersItsInterface(handler, "ICoreWebView2" #Name "EventHandler"))           \
            return E_NOINTERFACE;                                                          \
        self->member.Add(handler, token);                                                  \
        return S_OK;                                                                       \
    }
TOVANI_STANDIN_ADD(NavigationStarting, navigationStarting)
TOVANI_STANDIN_ADD(NavigationCompleted, navigationCompleted)
TOVANI_STANDIN_ADD(PermissionRequested, permission)
TOVANI_STANDIN_ADD(WebMessageReceived, webMessage)
TOVANI_STANDIN_ADD(NewWindowRequested, newWindow)
TOVANI_STANDIN_ADD(WebResourceRequested, resource)
TOVANI_STANDIN_ADD(DownloadStarting, download)
TOVANI_STANDIN_ADD(SaveAsUIShowing, saveAs)
TOVANI_STANDIN_ADD(ContainsFullScreenElementChanged, fullScreenChanged)
TOVANI_STANDIN_ADD(ProcessFailed, processFailed)
#undef TOVANI_STANDIN_ADD

HRESULT STDMETHODCALLTYPE ViewGetContainsFullScreenElement(View* self, BOOL* value) {
    if (value == nullptr) return E_POINTER;
    *value = self->fullScreenElement ? TRUE : FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewAddScript(View* self, LPCWSTR script, void* handler) {
    if (DeadCall(self, "WebView.AddScriptToExecuteOnDocumentCreated")) return kDeadView;
    const std::string text = Utf8(Str(script));
    Journal("WebView.AddScriptToExecuteOnDocumentCreated fnv=" + Hex(Digest(text)) + " length=" +
            std::to_string(text.size()));
    if (handler && !AnswersItsInterface(handler, "ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler"))
        return E_NOINTERFACE;
    const std::wstring id = std::to_wstring(++self->scripts);
    // Registered a while later, from the message loop, with or without a
    // handler to hear it.
    ++self->scriptsPending;
    if (handler) AddRefForeign(handler);
    AddRefSlot(self);
    LaterAfter(CurrentScript().scriptDelayMs, [self, handler, id] {
        LaterCallback([self, handler, id] {
            --self->scriptsPending;
            if (handler) {
                InHandler([&] { CallSlot<HRESULT>(handler, 3, S_OK, id.c_str()); });
                ReleaseForeign(handler);
            }
            ReleaseSlot(self);
        });
    });
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ViewPostJson(View* self, LPCWSTR json) {
    if (DeadCall(self, "WebView.PostWebMessageAsJson")) return kDeadView;
    Journal("WebView.PostWebMessageAsJson " + Utf8(Str(json)));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ViewGetCanGoBack(View* self, BOOL* can) {
    if (can == nullptr) return E_POINTER;
    *can = self->historyIndex > 0;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ViewGoBack(View* self) {
    if (DeadCall(self, "WebView.GoBack")) return kDeadView;
    Journal("WebView.GoBack");
    if (self->historyIndex <= 0) return S_OK;
    --self->historyIndex;
    const std::wstring uri = self->history[static_cast<std::size_t>(self->historyIndex)];
    AddRefSlot(self);
    LaterCallback([self, uri] {
        if (!self->closed) RunNavigation(self, uri, nullptr, true);
        ReleaseSlot(self);
    });
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ViewAddFilter(View* self, LPCWSTR uri, int context) {
    Journal("WebView.AddWebResourceRequestedFilter " + Utf8(Str(uri)) + " " + std::to_string(context));
    self->filters.push_back({Str(uri), context});
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ViewAddFilterWithKinds(View* self, LPCWSTR uri, int context, std::uint32_t kinds) {
    Journal("WebView.AddWebResourceRequestedFilterWithRequestSourceKinds " + Utf8(Str(uri)) + " " +
            std::to_string(context) + " " + Hex(kinds).substr(8));
    self->filters.push_back({Str(uri), context});
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ViewGetCookieManager(View* self, CookieManager** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (DeadCall(self, "WebView.get_CookieManager")) return kDeadView;
    AddRefSlot(TheCookieManager());
    *out = TheCookieManager();
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ViewNavigateWithRequest(View* self, Request* request) {
    if (DeadCall(self, "WebView.NavigateWithWebResourceRequest")) return kDeadView;
    if (request == nullptr || request->vtable != RequestTable()) return E_INVALIDARG;
    Journal("WebView.NavigateWithWebResourceRequest " + Utf8(request->uri) + " " + Utf8(request->method) +
            " headers: " + HeaderText(request->headers));
    CheckScriptsReady(self, "NavigateWithWebResourceRequest");
    AddRefSlot(request);
    NavigateLater(self, request->uri, request);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewPrint(View* self, PrintSettings* settings, void* handler) {
    if (DeadCall(self, "WebView.Print")) return kDeadView;
    const std::wstring printer = settings && settings->vtable == PrintSettingsTable() ? settings->printer : L"(default)";
    Journal("WebView.Print printer=" + Utf8(printer) + " page=" + Utf8(self->source));
    if (handler == nullptr) return E_INVALIDARG;
    if (!AnswersItsInterface(handler, "ICoreWebView2PrintCompletedHandler")) return E_NOINTERFACE;
    AddRefForeign(handler);
    const Script& script = CurrentScript();
    const std::size_t index = self->prints++;
    const bool queued = index < script.nextPrints.size();
    const HRESULT failure = queued ? script.nextPrints[index].first : script.printFailure;
    const int status = queued ? script.nextPrints[index].second : script.printStatus;
    LaterCallback([handler, failure, status] {
        InHandler([&] { CallSlot<HRESULT>(handler, 3, failure, status); });
        ReleaseForeign(handler);
    });
    return S_OK;
}

Slot* ViewTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<14>(std::make_index_sequence<131>());
        t[3] = S(&ViewGetSettings);
        t[4] = S(&ViewGetSource);
        t[5] = S(&ViewNavigate);
        t[6] = S(&ViewNavigateToString);
        t[7] = S(&ViewAddNavigationStarting);
        t[15] = S(&ViewAddNavigationCompleted);
        t[23] = S(&ViewAddPermissionRequested);
        t[25] = S(&ViewAddProcessFailed);
        t[27] = S(&ViewAddScript);
        t[31] = S(&ViewReload);
        t[32] = S(&ViewPostJson);
        t[34] = S(&ViewAddWebMessageReceived);
        t[38] = S(&ViewGetCanGoBack);
        t[40] = S(&ViewGoBack);
        t[44] = S(&ViewAddNewWindowRequested);
        t[52] = S(&ViewAddContainsFullScreenElementChanged);
        t[54] = S(&ViewGetContainsFullScreenElement);
        t[55] = S(&ViewAddWebResourceRequested);
        t[57] = S(&ViewAddFilter);
        t[63] = S(&ViewNavigateWithRequest);
        t[66] = S(&ViewGetCookieManager);
        t[75] = S(&ViewAddDownloadStarting);
        t[113] = S(&ViewPrint);
        t[123] = S(&ViewAddFilterWithKinds);
        t[128] = S(&ViewAddSaveAsUIShowing);
        return t;
    }();
    return t.data();
}

// The view's window: the address it shows, large, on the background colour.
struct Controller : Object {
    Environment* environment = nullptr;
    View* view = nullptr;
    HWND window = nullptr;
    COLORREF background = RGB(255, 255, 255);
    bool visible = true;
    POINT parentOrigin{}; // the parent's client origin on the screen, as last told
    HWND dropdown = nullptr;
    ~Controller() {
        if (view) ReleaseSlot(view);
    }
};

bool ViewWindowMessage(HWND window, UINT message, WPARAM wParam);

LRESULT CALLBACK ViewWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (ViewWindowMessage(window, message, wParam)) return 0;
    if (message == WM_PAINT) {
        auto* controller = reinterpret_cast<Controller*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECT rect;
        GetClientRect(window, &rect);
        const COLORREF background = controller ? controller->background : RGB(255, 255, 255);
        HBRUSH brush = CreateSolidBrush(background);
        FillRect(dc, &rect, brush);
        DeleteObject(brush);
        if (controller && controller->view) {
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, RGB(240, 240, 120));
            HFONT font = CreateFontW(28, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, L"Arial");
            HGDIOBJ old = SelectObject(dc, font);
            const std::wstring text = PageText(controller->view);
            DrawTextW(dc, text.c_str(), -1, &rect, DT_CENTER | DT_VCENTER | DT_WORDBREAK);
            SelectObject(dc, old);
            DeleteObject(font);
        }
        EndPaint(window, &ps);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void Paint(View* view) {
    if (view->window) InvalidateRect(view->window, nullptr, TRUE);
}

HRESULT STDMETHODCALLTYPE ControllerPutBounds(Controller* self, RECT bounds) {
    if (DeadCall(self->view, "Controller.put_Bounds")) return kDeadView;
    Journal("Controller.put_Bounds " + std::to_string(bounds.left) + " " + std::to_string(bounds.top) + " " +
            std::to_string(bounds.right) + " " + std::to_string(bounds.bottom));
    if (self->window)
        MoveWindow(self->window, bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, TRUE);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ControllerClose(Controller* self) {
    Journal("Controller.Close");
    if (self->dropdown && IsWindow(self->dropdown)) DestroyWindow(self->dropdown);
    if (self->view) self->view->closed = true;
    if (self->window) DestroyWindow(self->window);
    self->window = nullptr;
    if (self->view) self->view->window = nullptr;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ControllerGetView(Controller* self, View** view) {
    if (view == nullptr) return E_POINTER;
    *view = nullptr;
    if (self->view == nullptr) return E_UNEXPECTED;
    AddRefSlot(self->view);
    *view = self->view;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ControllerPutBackground(Controller* self, std::uint32_t color) {
    const BYTE a = color & 0xFF, r = (color >> 8) & 0xFF, g = (color >> 16) & 0xFF, b = (color >> 24) & 0xFF;
    Journal("Controller.put_DefaultBackgroundColor A=" + std::to_string(a) + " R=" + std::to_string(r) +
            " G=" + std::to_string(g) + " B=" + std::to_string(b));
    self->background = RGB(r, g, b);
    if (self->window) InvalidateRect(self->window, nullptr, TRUE);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ControllerPutExternalDrop(Controller*, BOOL allow) {
    Journal("Controller.put_AllowExternalDrop " + std::to_string(allow));
    return S_OK;
}

// ---- the view's window among the host's: visibility, position, fullscreen --------------------

POINT ClientOrigin(HWND window) {
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    return origin;
}

HRESULT STDMETHODCALLTYPE ControllerGetIsVisible(Controller* self, BOOL* visible) {
    if (visible == nullptr) return E_POINTER;
    *visible = self->visible ? TRUE : FALSE;
    return S_OK;
}
// A hidden view paints nothing (the runtime throttles it) until shown again.
HRESULT STDMETHODCALLTYPE ControllerPutIsVisible(Controller* self, BOOL visible) {
    if (DeadCall(self->view, "Controller.put_IsVisible")) return kDeadView;
    Journal("Controller.put_IsVisible " + std::to_string(visible ? 1 : 0));
    self->visible = visible != FALSE;
    if (self->window) ShowWindow(self->window, self->visible ? SW_SHOWNA : SW_HIDE);
    if (!self->visible && self->dropdown && IsWindow(self->dropdown)) DestroyWindow(self->dropdown);
    return S_OK;
}
// As the runtime, the stand-in knows where its pop-ups go only from what the
// host tells it: at creation and through this call.
HRESULT STDMETHODCALLTYPE ControllerNotifyParentMoved(Controller* self) {
    if (DeadCall(self->view, "Controller.NotifyParentWindowPositionChanged")) return kDeadView;
    if (self->window) self->parentOrigin = ClientOrigin(GetParent(self->window));
    Journal("Controller.NotifyParentWindowPositionChanged " + std::to_string(self->parentOrigin.x) + " " +
            std::to_string(self->parentOrigin.y));
    return S_OK;
}

Controller* ControllerOfView(View* view) {
    if (view->window == nullptr) return nullptr;
    return reinterpret_cast<Controller*>(GetWindowLongPtrW(view->window, GWLP_USERDATA));
}

// The page's element enters or leaves its own fullscreen: the view's state
// changes and the event follows from the message loop; the journal line is
// written once the handlers have returned.
void SetFullScreenElement(View* view, bool on) {
    AddRefSlot(view);
    LaterCallback([view, on] {
        if (!view->closed && view->fullScreenElement != on) {
            view->fullScreenElement = on;
            Fire(view, view->fullScreenChanged, static_cast<IUnknown*>(nullptr));
            Journal(std::string("ContainsFullScreenElementChanged ") + (on ? "1" : "0"));
        }
        ReleaseSlot(view);
    });
}

// A <select>'s pop-up: a top-level window of the view's own, placed from the
// parent's position as last told, never from where the parent really is.
void OpenDropdown(View* view) {
    Controller* controller = ControllerOfView(view);
    if (controller == nullptr || controller->window == nullptr) return;
    POINT offset{0, 0};
    MapWindowPoints(controller->window, GetParent(controller->window), &offset, 1);
    const int x = controller->parentOrigin.x + offset.x;
    const int y = controller->parentOrigin.y + offset.y;
    if (controller->dropdown && IsWindow(controller->dropdown)) DestroyWindow(controller->dropdown);
    controller->dropdown =
        CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE | WS_EX_TOPMOST, L"STATIC", L"Option 1\nOption 2\nOption 3",
                        WS_POPUP | WS_BORDER, x, y, 160, 60, GetAncestor(controller->window, GA_ROOT), nullptr,
                        GetModuleHandleW(nullptr), nullptr);
    if (controller->dropdown) ShowWindow(controller->dropdown, SW_SHOWNOACTIVATE);
    Journal("Dropdown at " + std::to_string(x) + " " + std::to_string(y));
}

bool PlayWindowAction(View* view, const Action& action) {
    if (action.verb == "fullscreen-element" && !action.args.empty()) {
        Journal("Page fullscreen-element " + action.args[0]);
        SetFullScreenElement(view, action.args[0] == "on");
    } else if (action.verb == "open-dropdown") {
        OpenDropdown(view);
    } else if (action.verb == "key" && action.args.size() > 1 && action.args[0].size() == 1) {
        Action inner;
        inner.verb = action.args[1];
        inner.args.assign(action.args.begin() + 2, action.args.end());
        const std::size_t cut = action.rest.find(' ', action.rest.find(' ') + 1);
        inner.rest = cut == std::string::npos ? std::string() : action.rest.substr(cut + 1);
        char key = action.args[0][0];
        if (key >= 'a' && key <= 'z') key = static_cast<char>(key - 'a' + 'A');
        view->keys[static_cast<UINT>(static_cast<unsigned char>(key))] = inner;
        Journal(std::string("Page binds key ") + key);
    } else {
        return false;
    }
    return true;
}

// The view window's keys (the page's bindings; Esc ends an element's
// fullscreen, as the runtime does) and its painting while hidden.
bool ViewWindowMessage(HWND window, UINT message, WPARAM wParam) {
    auto* controller = reinterpret_cast<Controller*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (controller == nullptr) return false;
    if (message == WM_PAINT && !controller->visible) {
        ValidateRect(window, nullptr);
        return true;
    }
    View* view = controller->view;
    if (message != WM_KEYDOWN || view == nullptr || view->closed) return false;
    if (wParam == VK_ESCAPE && view->fullScreenElement) {
        Journal("Key Esc ends the fullscreen element");
        SetFullScreenElement(view, false);
        return true;
    }
    const auto bound = view->keys.find(static_cast<UINT>(wParam));
    if (bound == view->keys.end()) return false;
    Journal(std::string("Key ") + static_cast<char>(wParam));
    AddRefSlot(view);
    LaterCallback([view, inner = bound->second] {
        PlayAction(view, inner);
        ReleaseSlot(view);
    });
    return true;
}

Slot* ControllerTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<15>(std::make_index_sequence<38>());
        t[3] = S(&ControllerGetIsVisible);
        t[4] = S(&ControllerPutIsVisible);
        t[23] = S(&ControllerNotifyParentMoved);
        t[6] = S(&ControllerPutBounds);
        t[24] = S(&ControllerClose);
        t[25] = S(&ControllerGetView);
        t[27] = S(&ControllerPutBackground);
        t[37] = S(&ControllerPutExternalDrop);
        return t;
    }();
    return t.data();
}

struct BrowserLink;

struct Environment : Object {
    bool browserGone = false; // its browser process ended: no new controllers
    std::shared_ptr<BrowserLink> browser;
};

void MarkEnvironmentGone(Environment* environment) {
    if (environment) environment->browserGone = true;
}

// ---- the browser process a data folder's clients share ------------------------------------------

// As the runtime's: the first client of a data folder starts the browser
// process (its child), later ones, of any program, join it; it lives while
// any client does. A view whose browser process ends hears ProcessFailed.
struct BrowserLink {
    HANDLE process = nullptr;
    DWORD pid = 0;
    bool gone = false;
};

std::map<std::wstring, std::shared_ptr<BrowserLink>>& BrowserLinks() {
    static std::map<std::wstring, std::shared_ptr<BrowserLink>> links;
    return links;
}

// The data folder as the file system compares it, and the name its shared
// block goes by.
std::wstring FolderKey(const std::wstring& folder) {
    wchar_t full[MAX_PATH * 2] = {};
    const DWORD n = GetFullPathNameW(folder.c_str(), MAX_PATH * 2, full, nullptr);
    std::wstring key = n > 0 && n < MAX_PATH * 2 ? std::wstring(full, n) : folder;
    while (key.size() > 3 && (key.back() == L'\\' || key.back() == L'/')) key.pop_back();
    for (wchar_t& c : key) {
        if (c == L'/') c = L'\\';
    }
    CharLowerBuffW(key.data(), static_cast<DWORD>(key.size()));
    return key;
}

ULONGLONG StartTime(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// msedgewebview2.exe in the versioned folder, above EBWebView\x64 where this library lies.
std::wstring BrowserProgram() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&BrowserProgram), &self);
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
    std::wstring folder(path, n);
    for (int up = 0; up < 3; ++up) {
        const std::size_t cut = folder.find_last_of(L'\\');
        if (cut == std::wstring::npos) return {};
        folder.resize(cut);
    }
    return folder + L"\\msedgewebview2.exe";
}

void WatchBrowsers();

// Starts the folder's browser process or joins the one serving it; null
// when none can be started (the runtime's program is missing).
std::shared_ptr<BrowserLink> JoinBrowser(const std::wstring& userDataFolder) {
    const std::wstring key = FolderKey(userDataFolder);
    auto& links = BrowserLinks();
    const auto known = links.find(key);
    if (known != links.end() && !known->second->gone && WaitForSingleObject(known->second->process, 0) == WAIT_TIMEOUT)
        return known->second;
    const std::wstring name = Wide(Hex(Digest(Utf8(key))));
    HANDLE lock = CreateMutexW(nullptr, FALSE, StandInBrowser::LockName(name).c_str());
    if (lock == nullptr) return nullptr;
    if (WaitForSingleObject(lock, 5000) == WAIT_TIMEOUT) {
        CloseHandle(lock);
        return nullptr;
    }
    // Held open for the life of the process, as a client's registration is.
    static std::vector<HANDLE> mappings;
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(StandInBrowser::Shared),
                                        StandInBrowser::MappingName(name).c_str());
    auto* shared = mapping ? static_cast<StandInBrowser::Shared*>(
                                 MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(StandInBrowser::Shared)))
                           : nullptr;
    std::shared_ptr<BrowserLink> link;
    if (shared != nullptr) {
        mappings.push_back(mapping);
        HANDLE running = shared->browserPid == 0
                             ? nullptr
                             : OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE,
                                           shared->browserPid);
        if (running != nullptr &&
            (WaitForSingleObject(running, 0) != WAIT_TIMEOUT || StartTime(running) != shared->browserCreated)) {
            CloseHandle(running);
            running = nullptr;
        }
        if (running == nullptr) {
            // A new browser: the clients of one that ended make new environments.
            *shared = StandInBrowser::Shared{};
            const std::wstring program = BrowserProgram();
            std::wstring command = L"\"" + program + L"\" --embedded-browser-webview=1 --user-data-dir=\"" +
                                   userDataFolder + L"\\EBWebView\" --tovani-standin-clients=" + name;
            STARTUPINFOW startup{};
            startup.cb = sizeof startup;
            PROCESS_INFORMATION started{};
            if (GetFileAttributesW(program.c_str()) != INVALID_FILE_ATTRIBUTES &&
                CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                               nullptr, &startup, &started)) {
                CloseHandle(started.hThread);
                running = started.hProcess;
                shared->browserPid = started.dwProcessId;
                shared->browserCreated = StartTime(running);
            }
        }
        if (running != nullptr) {
            const DWORD self = GetCurrentProcessId();
            const ULONGLONG selfCreated = StartTime(GetCurrentProcess());
            bool registered = false;
            for (const StandInBrowser::Client& client : shared->clients)
                registered = registered || (client.pid == self && client.created == selfCreated);
            for (StandInBrowser::Client& client : shared->clients) {
                if (registered) break;
                if (client.pid == 0) {
                    client = {self, selfCreated};
                    registered = true;
                }
            }
            link = std::make_shared<BrowserLink>();
            link->process = running;
            link->pid = shared->browserPid;
            links[key] = link;
        }
        UnmapViewOfFile(shared);
    } else if (mapping) {
        CloseHandle(mapping);
    }
    ReleaseMutex(lock);
    CloseHandle(lock);
    if (link) WatchBrowsers();
    return link;
}

// Every view whose browser process ended hears it, from the message loop.
void WatchBrowsers() {
    static bool watching = false;
    if (watching) return;
    watching = true;
    LaterAfter(100, [] {
        watching = false;
        bool anyLeft = false;
        for (auto& [key, link] : BrowserLinks()) {
            if (link->gone) continue;
            if (WaitForSingleObject(link->process, 0) == WAIT_TIMEOUT) {
                anyLeft = true;
                continue;
            }
            link->gone = true;
            Journal("Browser process " + std::to_string(link->pid) + " exited");
            for (View* view : std::vector<View*>(LiveViews())) {
                if (view->environment != nullptr && view->environment->browser == link) RaiseProcessFailed(view, 0);
            }
        }
        if (anyLeft) WatchBrowsers();
    });
}

// The scripted end of the browser: its process ends, for every client.
void EndBrowserOf(View* view) {
    if (view->environment == nullptr || !view->environment->browser) return;
    TerminateProcess(view->environment->browser->process, 1);
    WaitForSingleObject(view->environment->browser->process, 2000);
}

HRESULT STDMETHODCALLTYPE EnvCreateController(Environment* self, HWND parent, void* handler) {
    Journal("Environment.CreateCoreWebView2Controller");
    if (self->browserGone) {
        Journal("DEAD ENVIRONMENT call Environment.CreateCoreWebView2Controller");
        return kDeadView;
    }
    if (handler == nullptr) return E_INVALIDARG;
    if (!AnswersItsInterface(handler, "ICoreWebView2CreateCoreWebView2ControllerCompletedHandler")) return E_NOINTERFACE;
    if (!IsWindow(parent)) return HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);
    AddRefForeign(handler);
    AddRefSlot(self);
    LaterCallback([self, parent, handler] {
        const HRESULT failure = CurrentScript().controllerFailure;
        if (FAILED(failure)) {
            Journal("Controller creation fails");
            InHandler([&] { CallSlot<HRESULT>(handler, 3, failure, static_cast<void*>(nullptr)); });
        } else {
            auto* controller = Create<Controller>(ControllerTable(), "Controller",
                                                  {"ICoreWebView2Controller", "ICoreWebView2Controller2",
                                                   "ICoreWebView2Controller3", "ICoreWebView2Controller4"});
            std::vector<std::string> viewAnswers = {"ICoreWebView2"};
            for (int i = 2; i <= 25; ++i) viewAnswers.push_back("ICoreWebView2_" + std::to_string(i));
            View* view = Create<View>(ViewTable(), "WebView", viewAnswers);
            view->environment = self;
            view->settings = Create<Settings>(SettingsTable(), "Settings",
                                              {"ICoreWebView2Settings", "ICoreWebView2Settings2", "ICoreWebView2Settings3",
                                               "ICoreWebView2Settings4", "ICoreWebView2Settings5",
                                               "ICoreWebView2Settings6", "ICoreWebView2Settings7"});
            controller->view = view;
            controller->environment = self;
            static const bool registered = [] {
                WNDCLASSW wc{};
                wc.lpfnWndProc = ViewWindowProc;
                wc.hInstance = GetModuleHandleW(nullptr);
                wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
                wc.lpszClassName = L"TovaniStandInBrowser";
                return RegisterClassW(&wc) != 0;
            }();
            (void)registered;
            controller->window = CreateWindowExW(0, L"TovaniStandInBrowser", L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                                                 parent, nullptr, GetModuleHandleW(nullptr), nullptr);
            SetWindowLongPtrW(controller->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(controller));
            controller->parentOrigin = ClientOrigin(parent);
            view->window = controller->window;
            TrackView(view);
            Journal("Controller created");
            InHandler([&] { CallSlot<HRESULT>(handler, 3, S_OK, static_cast<void*>(controller)); });
            ReleaseSlot(controller);
        }
        ReleaseForeign(handler);
        ReleaseSlot(self);
    });
    return S_OK;
}
HRESULT STDMETHODCALLTYPE EnvCreateResponse(Environment*, IStream* content, int status, LPCWSTR reason,
                                            LPCWSTR headers, Response** out) {
    Journal("Environment.CreateWebResourceResponse " + std::to_string(status) + " " + Utf8(Str(reason)));
    if (out == nullptr) return E_POINTER;
    Response* response = Create<Response>(ResponseTable(), "WebResourceResponse", {"WebResourceResponse"});
    response->status = status;
    response->reason = Str(reason);
    response->headers = Str(headers);
    response->hasContent = content != nullptr;
    // Read only when the response is used, as the runtime does.
    if (content != nullptr) {
        content->AddRef();
        response->content = content;
    }
    *out = response;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE EnvGetVersion(Environment*, LPWSTR* version) {
    if (version == nullptr) return E_POINTER;
    *version = CoText(L"120.0.2210.91");
    return S_OK;
}
HRESULT STDMETHODCALLTYPE EnvCreateRequest(Environment*, LPCWSTR uri, LPCWSTR method, IStream*, LPCWSTR headers,
                                           Request** out) {
    Journal("Environment.CreateWebResourceRequest " + Utf8(Str(uri)) + " " + Utf8(Str(method)) + " [" +
            Utf8(Str(headers)) + "]");
    if (out == nullptr) return E_POINTER;
    Request* request = NewRequest(Str(uri), Str(method));
    AddHeaderLines(request->headers, Str(headers));
    *out = request;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE EnvCreatePrintSettings(Environment*, PrintSettings** out) {
    Journal("Environment.CreatePrintSettings");
    if (out == nullptr) return E_POINTER;
    *out = Create<PrintSettings>(PrintSettingsTable(), "PrintSettings",
                                 {"ICoreWebView2PrintSettings", "ICoreWebView2PrintSettings2"});
    return S_OK;
}
Slot* EnvironmentTable() {
    static std::vector<Slot> t = [] {
        auto t = MakeTable<16>(std::make_index_sequence<15>());
        t[3] = S(&EnvCreateController);
        t[4] = S(&EnvCreateResponse);
        t[5] = S(&EnvGetVersion);
        t[8] = S(&EnvCreateRequest);
        t[14] = S(&EnvCreatePrintSettings);
        return t;
    }();
    return t.data();
}

// Reads one text option through the player's options object (slot numbers
// of the published options interface).
std::string OptionText(IUnknown* options, int slot) {
    if (options == nullptr) return "(none)";
    LPWSTR value = nullptr;
    if (FAILED(CallSlot<HRESULT>(options, slot, &value))) return "(failed)";
    std::string text = Utf8(Str(value));
    if (value) CoTaskMemFree(value);
    return text;
}

// The scripted outcome of one environment creation of this process.
HRESULT ScriptedEnvironmentFailure() {
    static int creations = 0;
    const Script& script = CurrentScript();
    if (++creations <= script.environmentFailures) return script.environmentFailuresCode;
    return script.environmentFailure;
}

// The runtime's default without a folder: beside the program, named for it.
std::wstring DataFolderOf(LPCWSTR userDataFolder) {
    if (userDataFolder != nullptr && *userDataFolder != 0) return userDataFolder;
    wchar_t program[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, program, MAX_PATH);
    return std::wstring(program, n) + L".WebView2";
}

} // namespace

extern "C" __declspec(dllexport) HRESULT STDMETHODCALLTYPE CreateWebViewEnvironmentWithOptionsInternal(
    bool checkRunningInstance, int runtimeKind, LPCWSTR userDataFolder, IUnknown* options, void* handler) {
    CurrentScript() = ReadScript();
    Journal("CreateWebViewEnvironmentWithOptionsInternal first=" + std::to_string(checkRunningInstance) +
            " runtimeKind=" + std::to_string(runtimeKind) + " userDataFolder=" + Utf8(Str(userDataFolder)) +
            " arguments=" + OptionText(options, 3) + " targetVersion=" + OptionText(options, 7));
    if (handler == nullptr) return E_INVALIDARG;
    if (!AnswersItsInterface(handler, "ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler") ||
        (options != nullptr && !AnswersItsInterface(options, "ICoreWebView2EnvironmentOptions")))
        return E_NOINTERFACE;
    AddRefForeign(handler);
    TaskWindow();
    const std::wstring folder = DataFolderOf(userDataFolder);
    LaterAfter(CurrentScript().environmentDelayMs, [handler, folder] {
        HRESULT failure = ScriptedEnvironmentFailure();
        std::shared_ptr<BrowserLink> browser;
        if (FAILED(failure)) {
            Journal("Environment creation fails");
        } else if (!(browser = JoinBrowser(folder))) {
            failure = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
            Journal("Environment creation fails: no browser process");
        }
        if (FAILED(failure)) {
            InHandler([&] { CallSlot<HRESULT>(handler, 3, failure, static_cast<void*>(nullptr)); });
        } else {
            auto* environment = Create<Environment>(
                EnvironmentTable(), "Environment",
                {"ICoreWebView2Environment", "ICoreWebView2Environment2", "ICoreWebView2Environment3",
                 "ICoreWebView2Environment4", "ICoreWebView2Environment5", "ICoreWebView2Environment6"});
            environment->browser = browser;
            Journal("Environment created");
            InHandler([&] { CallSlot<HRESULT>(handler, 3, S_OK, static_cast<void*>(environment)); });
            ReleaseSlot(environment);
        }
        ReleaseForeign(handler);
    });
    return S_OK;
}

extern "C" __declspec(dllexport) HRESULT STDMETHODCALLTYPE DllCanUnloadNow() { return S_FALSE; }
