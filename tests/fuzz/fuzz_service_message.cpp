// A failure body from the service: its "message" is taken only when it is a
// string, and reaches the user as plain, bounded text without control
// characters.
#include "service/content_data.h"
#include "fuzz_support.h"

namespace {

bool IsControl(char16_t c) {
    return (c < 0x20 && c != u'\n') || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069) || c == 0x2028 || c == 0x2029;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    const std::string message = ServiceMessage(body);
    // Shown as the start-up does, and as a bare body would be if the service sent text.
    for (const std::string& text : {message, body}) {
        const WString shown = DisplayText(Utf8ToWide(text));
        FUZZ_CHECK(shown.size() <= 1001, "too long: " + std::to_string(shown.size()));
        std::size_t lines = 1;
        for (const char16_t c : shown) {
            FUZZ_CHECK(!IsControl(c), "control character " + std::to_string(c) + " in " + FuzzShow(shown));
            if (c == u'\n') ++lines;
        }
        FUZZ_CHECK(lines <= 20, "too many lines: " + std::to_string(lines));
        const WString caption = DisplayText(Utf8ToWide(text), 200, 1);
        FUZZ_CHECK(caption.size() <= 201 && caption.find(u'\n') == WString::npos, "caption " + FuzzShow(caption));
    }
    return 0;
}
