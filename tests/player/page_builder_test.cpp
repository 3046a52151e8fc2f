#include <gtest/gtest.h>

#include "player/page_builder.h"
#include "player/page_scripts.h"

TEST(Escapes, WatermarkTextIsShownLiterallyInScriptsAndPages) {
    EXPECT_EQ(EscapeForScriptString(u"it's <b>"), u"it\\'s \\x3Cb\\x3E");
    EXPECT_EQ(EscapeForHtml(u"it's <b>"), u"it&#39;s &lt;b&gt;");

    EXPECT_EQ(EscapeForScriptString(u"a\nb\rc\"d\\e"), u"a\\nb\\rc\\\"d\\\\e");
    EXPECT_EQ(EscapeForScriptString(u"</script>"), u"\\x3C/script\\x3E");
    EXPECT_EQ(EscapeForHtml(u"\"Tom & Jerry\""), u"&quot;Tom &amp; Jerry&quot;");
    // "&" is not escaped twice, and everything else passes through.
    EXPECT_EQ(EscapeForHtml(u"&amp;"), u"&amp;amp;");
    const WString arabic = u"مرحبا \t 😀";
    EXPECT_EQ(EscapeForHtml(arabic), arabic);
    EXPECT_EQ(EscapeForScriptString(arabic), arabic);
    EXPECT_EQ(EscapeForHtml(u""), u"");
}

TEST(Escapes, WatermarkScriptCarriesTheEscapedText) {
    const WString script = WatermarkScript(u"it's <b>");
    EXPECT_NE(script.find(u"wm.textContent = 'it\\'s \\x3Cb\\x3E';"), WString::npos);
    // Nothing in the text can end the string or the script early.
    const WString hostile = WatermarkScript(u"'</script>\n");
    EXPECT_EQ(hostile.find(u"</script>"), WString::npos);
    EXPECT_NE(hostile.find(u"wm.textContent = '\\'\\x3C/script\\x3E\\n';"), WString::npos);
}

TEST(PlayerPage, EmbedsTheContentUnderTheWatermark) {
    PlayerContentRecord content;
    content.appTitle = u"Tovani";
    content.url = u"https://127.0.0.1:47443/media/embed.html?a=1&b=2";
    content.watermarkText = u"<Learner & 'co'>";
    const WString expected =
        u"<!DOCTYPE html><html><head><meta charset='utf-8'><title>Tovani</title>"
        u"<style>*{margin:0;padding:0;}html,body{width:100%;height:100%;overflow:hidden;}"
        u"iframe{width:100%;height:100%;border:none;}</style></head><body>"
        u"<iframe src='https://127.0.0.1:47443/media/embed.html?a=1&amp;b=2' allowfullscreen "
        u"allow='accelerometer;autoplay;clipboard-write;encrypted-media;gyroscope;picture-in-picture'></iframe>"
        u"<div style='position:fixed;top:0;left:0;width:100%;height:100%;pointer-events:none;z-index:9999;"
        u"opacity:0.15;display:flex;align-items:center;justify-content:center;font-size:3vw;color:red;"
        u"transform:rotate(-30deg);font-family:Arial,sans-serif;font-weight:bold;' aria-hidden='true'>"
        u"&lt;Learner &amp; &#39;co&#39;&gt;</div>"
        u"<script>window.chrome.webview.postMessage('pageLoaded');</script></body></html>";
    EXPECT_EQ(BuildPlayerPage(content), expected);
}

TEST(PlayerPage, TheContentAddressStaysInsideItsAttribute) {
    const WString addresses[] = {
        u"https://127.0.0.1:47443/media/embed.html",
        u"https://a.test/x?q=' onload='window.chrome.webview.postMessage(1)",
        u"https://a.test/x'><script>window.chrome.webview.postMessage(1)</script>",
        u"https://a.test/\"><img src=x onerror=alert(1)>",
        u"https://a.test/&#39;onload=&#39;x",
    };
    for (const WString& url : addresses) {
        PlayerContentRecord content;
        content.url = url;
        const WString page = BuildPlayerPage(content);
        const std::size_t start = page.find(u"<iframe src='") + 13;
        const std::size_t end = page.find(u'\'', start);
        // The attribute holds the whole address, escaped, and nothing follows it but the frame's own attributes.
        EXPECT_EQ(page.substr(start, end - start), EscapeForHtml(url)) << WideToUtf8(url);
        EXPECT_EQ(page.substr(end, 17), u"' allowfullscreen") << WideToUtf8(url);
        EXPECT_EQ(page.find(u"<script>"), page.rfind(u"<script>")) << "one script element only: " << WideToUtf8(url);
        EXPECT_EQ(page.find(u"<img"), WString::npos);
    }
}

TEST(PlayerPage, PageScriptWrapperWaitsForTheDocument) {
    EXPECT_EQ(PageScriptWrapper(u"go();"),
              u"(function(){function run(){go();}if(document.readyState==='loading'){"
              u"document.addEventListener('DOMContentLoaded',run);}else{run();}})();");
}

TEST(PlayerPage, LoadPlanFollowsTheContentType) {
    PlayerContentRecord content;
    content.url = u"https://vz-1.b-cdn.net/v.mp4";
    content.watermarkText = u"learner@example.com";

    content.contentType = u"url_direct";
    PlayerLoadPlan plan = PlanPlayerLoad(content);
    EXPECT_EQ(plan.documentScripts, (std::vector<WString>{LoaderScript(), PrintRedirectScript()}));
    EXPECT_EQ(plan.load, PlayerLoadPlan::Load::NavigateTo);
    EXPECT_EQ(plan.target, content.url);

    content.pageScript = u"document.title='x';";
    plan = PlanPlayerLoad(content);
    EXPECT_EQ(plan.documentScripts,
              (std::vector<WString>{LoaderScript(), PrintRedirectScript(), PageScriptWrapper(content.pageScript)}));

    for (const WString type : {u"pdf", u"pdf_url"}) {
        content.contentType = type;
        plan = PlanPlayerLoad(content);
        EXPECT_EQ(plan.documentScripts,
                  (std::vector<WString>{LoaderScript(), PrintRedirectScript(), WatermarkScript(content.watermarkText),
                                        PrintButtonScript()}));
        EXPECT_EQ(plan.load, PlayerLoadPlan::Load::NavigateTo);
        EXPECT_EQ(plan.target, content.url);
    }

    // Types compare exactly; anything else gets the built page and no extra script.
    for (const WString type : {u"PDF", u"video", u"", u"url_direct "}) {
        content.contentType = type;
        plan = PlanPlayerLoad(content);
        EXPECT_EQ(plan.documentScripts.size(), 2u);
        EXPECT_EQ(plan.load, PlayerLoadPlan::Load::NavigateToString);
        EXPECT_EQ(plan.target, BuildPlayerPage(content));
    }
}
