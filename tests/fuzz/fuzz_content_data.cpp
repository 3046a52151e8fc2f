// A content-data answer from the service, as a body: read into ContentData,
// turned into the player's content and its load plan. Any member of any type
// is refused or read without a crash; what the player then shows is a web
// address, and a built page keeps the answer's texts inside their places.
#include "common/url_host.h"
#include "links/scheme_link.h"
#include "page_checks.h"
#include "service/content_data.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    ContentData answer;
    const bool read = ParseContentData(body, answer);
    if (!read) {
        FUZZ_CHECK(!answer.succeeded && answer.address.empty(), "a refused answer left fields behind");
        return 0;
    }
    FUZZ_CHECK(answer.succeeded, "a read answer is a success");

    const ContentPlan plan = PlanContent(answer);
    if (!plan.shown) return 0;
    FUZZ_CHECK(IsWebAddress(plan.url), "shows a non-web address: " + FuzzShow(plan.url));
    if (!plan.pageScriptUrl.empty()) {
        FUZZ_CHECK(plan.contentType == u"url_direct", "a YouTube content is opened directly");
        FUZZ_CHECK(IsWebAddress(plan.pageScriptUrl), "page script from " + FuzzShow(plan.pageScriptUrl));
    }

    PlayerContentRecord content;
    content.url = plan.url;
    content.contentType = plan.contentType;
    content.watermarkText = plan.watermarkText;
    const PlayerLoadPlan load = PlanPlayerLoad(content);
    if (load.load == PlayerLoadPlan::Load::NavigateToString) {
        pagecheck::CheckPlayerPage(content);
    } else if (content.contentType == u"pdf" || content.contentType == u"pdf_url") {
        pagecheck::CheckWatermarkScript(content.watermarkText);
    }
    return 0;
}
