// The version document: any body gives a decision without a crash; a
// required update is always an update, and whatever link the document names,
// the desktop's opener is only ever handed an https address of URL
// characters with a readable host.
#include "app/startup.h"
#include "common/url_host.h"
#include "fuzz_support.h"
#include "service/version_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    for (const double current : {4.9, 0.0, -1.0}) {
        const VersionCheckResult result = EvaluateVersionDocument(current, body);
        if (!result.hasUpdate) {
            FUZZ_CHECK(!result.isRequired && result.link.empty(), "a decision without an update");
            continue;
        }
        const WString opened = UpdateLinkToOpen(result.link);
        FUZZ_CHECK(StartsWith(ToLowerCopy(opened), u"https://"), "opens " + FuzzShow(opened));
        for (const char16_t c : opened) FUZZ_CHECK(c > 0x20 && c < 0x7F, "opens " + FuzzShow(opened));
        FUZZ_CHECK(IsWebAddress(opened), "no host in " + FuzzShow(opened));
        FUZZ_CHECK(opened == result.link || opened == DefaultUpdateLink(), "opens a third address");
    }
    return 0;
}
