// The page builder with outside texts: a content address, a watermark text, a
// content type and a page script. Whatever they hold, the built page has the
// builder's elements only, the address reads back whole from the frame's
// source and the watermark from its element and from its script string.
#include "page_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> fields = FuzzFields(data, size, 4);
    PlayerContentRecord content;
    content.url = FuzzText(fields[0]);
    content.watermarkText = FuzzText(fields[1]);
    content.contentType = FuzzText(fields[2]);
    content.pageScript = FuzzText(fields[3]);

    pagecheck::CheckPlayerPage(content);
    pagecheck::CheckWatermarkScript(content.watermarkText);

    const PlayerLoadPlan plan = PlanPlayerLoad(content);
    FUZZ_CHECK(plan.documentScripts.size() >= 2, "loader and print redirect come first");
    if (plan.load == PlayerLoadPlan::Load::NavigateTo) {
        FUZZ_CHECK(plan.target == content.url, "navigates somewhere else: " + FuzzShow(plan.target));
    } else {
        FUZZ_CHECK(plan.target == BuildPlayerPage(content), "loads another page");
    }
    return 0;
}
