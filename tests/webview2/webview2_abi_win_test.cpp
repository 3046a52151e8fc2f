// The program's own WebView2 declarations, as the compiler laid them out,
// against the published interface facts (tests/webview2/webview2-abi.md, a
// copy of the cross-checked table): every declared IID, and the vtable slot
// of every declared method, measured from the compiled declarations. The
// list of what is declared comes from the header itself at build time.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "webview2/webview2_win.h"

namespace {

// The Itanium C++ ABI, which GCC follows on MinGW as well: a pointer to a
// virtual member function holds one plus the method's byte offset in the
// vtable, and the this-adjustment (zero under single inheritance).
template <typename Method>
int SlotOf(Method method) {
    static_assert(sizeof(Method) == 2 * sizeof(std::uintptr_t));
    std::uintptr_t words[2];
    std::memcpy(words, &method, sizeof words);
    if ((words[0] & 1) == 0 || words[1] != 0) return -1;
    return static_cast<int>((words[0] - 1) / sizeof(void*));
}

std::string GuidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                  g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

struct DeclaredIid {
    const char* name;
    GUID iid;
};
struct DeclaredMethod {
    const char* interfaceName;
    const char* method;
    int slot;
};

#define TOVANI_ABI_IID(I) {#I, WebView2::IidOf<WebView2::I>},
#define TOVANI_ABI_METHOD(I, M)
const DeclaredIid kDeclaredIids[] = {
#include "webview2_declared.inc"
};
#undef TOVANI_ABI_IID
#undef TOVANI_ABI_METHOD
#define TOVANI_ABI_IID(I)
#define TOVANI_ABI_METHOD(I, M) {#I, #M, SlotOf(&WebView2::I::M)},
const DeclaredMethod kDeclaredMethods[] = {
#include "webview2_declared.inc"
};
#undef TOVANI_ABI_IID
#undef TOVANI_ABI_METHOD

// One interface of the facts table: its IID and its own methods by slot.
struct PublishedInterface {
    std::string iid;
    std::map<std::string, int> slots;
};

std::string Trim(std::string text) {
    const char* space = " \t\r*`";
    const std::size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

std::vector<std::string> Split(const std::string& text, char at) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, at)) parts.push_back(Trim(part));
    return parts;
}

// The name after a getter's or setter's prefix ("get_X" -> "X").
std::string Stem(const std::string& name) {
    const std::size_t underscore = name.find('_');
    return underscore == std::string::npos ? name : name.substr(underscore + 1);
}

// "### NAME: IID GUID ..." opens an interface; its table rows give
// "slot | method", also paired as "3 / 4 | get_X / put_X", "get_/put_X" or
// "get_X / put_…". Any other heading ends the interface.
std::map<std::string, PublishedInterface> ParseFacts(const std::string& text, std::vector<std::string>& problems) {
    std::map<std::string, PublishedInterface> found;
    PublishedInterface* current = nullptr;
    std::stringstream in(text);
    std::string line;
    const std::string ellipsis = "\xE2\x80\xA6";
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("#", 0) == 0) {
            current = nullptr;
            const std::size_t colon = line.find(": IID ");
            if (line.rfind("### ", 0) == 0 && colon != std::string::npos) {
                const std::string name = Trim(line.substr(4, colon - 4));
                current = &found[name];
                current->iid = line.substr(colon + 6, 36);
            }
            continue;
        }
        if (current == nullptr || line.rfind("|", 0) != 0) continue;
        const std::vector<std::string> cells = Split(line.substr(1), '|');
        if (cells.size() < 2 || cells[0] == "slot" || cells[0].rfind("---", 0) == 0) continue;
        const std::vector<std::string> slotTexts = Split(cells[0], '/');
        std::vector<std::string> names = Split(cells[1], '/');
        if (names.size() != slotTexts.size()) {
            problems.push_back("cannot read: " + line);
            continue;
        }
        if (names.size() == 2) {
            if (names[0] == "get_") names[0] += Stem(names[1]);
            const std::size_t dots = names[1].find(ellipsis);
            if (dots != std::string::npos) names[1] = names[1].substr(0, dots) + Stem(names[0]);
        }
        for (std::size_t i = 0; i < names.size(); ++i) {
            char* end = nullptr;
            const long slot = std::strtol(slotTexts[i].c_str(), &end, 10);
            if (end == slotTexts[i].c_str() || *end != '\0') {
                problems.push_back("no slot number: " + line);
                continue;
            }
            current->slots[names[i]] = static_cast<int>(slot);
        }
    }
    return found;
}

} // namespace

TEST(WebView2Declarations, EveryIidAndEverySlotIsThePublishedOne) {
    const std::string text = TestSupport::ReadFile(TestSupport::Env("TOVANI_SOURCE_DIR") + "/tests/webview2/webview2-abi.md");
    ASSERT_FALSE(text.empty());
    std::vector<std::string> problems;
    const std::map<std::string, PublishedInterface> published = ParseFacts(text, problems);
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
    // The table was read: the interfaces, with their methods.
    ASSERT_GE(published.size(), 60u);
    ASSERT_EQ(published.at("ICoreWebView2").slots.size(), 58u);
    ASSERT_GE(std::size(kDeclaredIids), 60u);
    ASSERT_GE(std::size(kDeclaredMethods), 300u);

    for (const DeclaredIid& declared : kDeclaredIids) {
        const auto entry = published.find(declared.name);
        ASSERT_NE(entry, published.end()) << declared.name << " is not in the published facts";
        EXPECT_EQ(GuidText(declared.iid), entry->second.iid) << declared.name;
    }

    std::map<std::string, std::set<std::string>> declaredNames;
    for (const DeclaredMethod& declared : kDeclaredMethods) {
        declaredNames[declared.interfaceName].insert(declared.method);
        const auto entry = published.find(declared.interfaceName);
        ASSERT_NE(entry, published.end()) << declared.interfaceName << " is not in the published facts";
        const auto slot = entry->second.slots.find(declared.method);
        ASSERT_NE(slot, entry->second.slots.end()) << declared.interfaceName << "::" << declared.method
                                                   << " is not a published method of it";
        EXPECT_EQ(declared.slot, slot->second) << declared.interfaceName << "::" << declared.method;
    }
    // And nothing published of a declared interface is left out, so no slot
    // after a missing one can have moved.
    for (const auto& [name, methods] : declaredNames) {
        for (const auto& [method, slot] : published.at(name).slots)
            EXPECT_EQ(methods.count(method), 1u) << name << "::" << method << " (slot " << slot << ") is not declared";
    }
    // Every declared interface has its IID declared too.
    std::set<std::string> withIid;
    for (const DeclaredIid& declared : kDeclaredIids) withIid.insert(declared.name);
    for (const auto& [name, methods] : declaredNames) EXPECT_EQ(withIid.count(name), 1u) << name << " has no IID";
}
