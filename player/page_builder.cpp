#include "player/page_builder.h"

#include "player/page_scripts.h"

namespace {

constexpr char16_t kWatermarkStyle[] =
    u"position:fixed;top:0;left:0;width:100%;height:100%;pointer-events:none;z-index:9999;opacity:0.15;"
    u"display:flex;align-items:center;justify-content:center;font-size:3vw;color:red;transform:rotate(-30deg);"
    u"font-family:Arial,sans-serif;font-weight:bold;";

} // namespace

WString EscapeForHtml(const WString& text) {
    WString out;
    out.reserve(text.size());
    for (char16_t c : text) {
        switch (c) {
        case u'"': out += u"&quot;"; break;
        case u'&': out += u"&amp;"; break;
        case u'\'': out += u"&#39;"; break;
        case u'<': out += u"&lt;"; break;
        case u'>': out += u"&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

WString EscapeForScriptString(const WString& text) {
    WString out;
    out.reserve(text.size());
    for (char16_t c : text) {
        switch (c) {
        case u'\n': out += u"\\n"; break;
        case u'\r': out += u"\\r"; break;
        case u'"': out += u"\\\""; break;
        case u'\'': out += u"\\'"; break;
        case u'<': out += u"\\x3C"; break;
        case u'>': out += u"\\x3E"; break;
        case u'\\': out += u"\\\\"; break;
        default: out += c;
        }
    }
    return out;
}

WString BuildPlayerPage(const PlayerContentRecord& content) {
    WString page;
    page += u"<!DOCTYPE html><html><head>";
    page += u"<meta charset='utf-8'>";
    page += u"<title>";
    page += content.appTitle;
    page += u"</title>";
    page += u"<style>";
    page += u"*{margin:0;padding:0;}";
    page += u"html,body{width:100%;height:100%;overflow:hidden;}";
    page += u"iframe{width:100%;height:100%;border:none;}";
    page += u"</style></head><body>";
    page += u"<iframe src='";
    // Escaped like the watermark: a quote in the address must not end the attribute.
    page += EscapeForHtml(content.url);
    page += u"' allowfullscreen ";
    page += u"allow='accelerometer;autoplay;clipboard-write;encrypted-media;gyroscope;picture-in-picture'>";
    page += u"</iframe>";
    page += u"<div style='";
    page += kWatermarkStyle;
    // Screen readers would read the watermark out over the content.
    page += u"' aria-hidden='true'>";
    page += EscapeForHtml(content.watermarkText);
    page += u"</div>";
    page += u"<script>";
    page += u"window.chrome.webview.postMessage('pageLoaded');";
    page += u"</script></body></html>";
    return page;
}

WString PageScriptWrapper(const WString& pageScript) {
    return u"(function(){function run(){" + pageScript +
           u"}if(document.readyState==='loading'){document.addEventListener('DOMContentLoaded',run);}else{run();}})();";
}

PlayerLoadPlan PlanPlayerLoad(const PlayerContentRecord& content) {
    PlayerLoadPlan plan;
    plan.documentScripts = {LoaderScript(), PrintRedirectScript()};
    if (content.contentType == u"url_direct") {
        if (!content.pageScript.empty()) plan.documentScripts.push_back(PageScriptWrapper(content.pageScript));
        plan.target = content.url;
    } else if (IsPdfContent(content)) {
        plan.documentScripts.push_back(WatermarkScript(content.watermarkText));
        plan.documentScripts.push_back(PrintButtonScript());
        plan.target = content.url;
    } else {
        plan.load = PlayerLoadPlan::Load::NavigateToString;
        plan.target = BuildPlayerPage(content);
    }
    return plan;
}

bool IsPdfContent(const PlayerContentRecord& content) {
    return content.contentType == u"pdf" || content.contentType == u"pdf_url";
}
